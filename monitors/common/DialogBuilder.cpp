#include "DialogBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>

namespace {

QRect Place(const MonitorControlTemplate& c, const DialogBuilder::Units& u) {
    return QRect(static_cast<int>(std::lround(c.x * u.x)), static_cast<int>(std::lround(c.y * u.y)),
                 static_cast<int>(std::lround(c.w * u.x)),
                 static_cast<int>(std::lround(c.h * u.y)));
}

Qt::Alignment Alignment(std::uint32_t style) {
    if (style & kStyleCentre)
        return Qt::AlignCenter;
    if (style & kStyleRight)
        return Qt::AlignRight | Qt::AlignVCenter;
    return Qt::AlignLeft | Qt::AlignVCenter;
}

QWidget* Make(QDialog& dialog, const MonitorControlTemplate& c, const DialogBuilder::Units& units,
              const MonitorLanguage& language, const QIcon& programIcon) {
    const QString text = QString::fromUtf8(c.text != nullptr ? c.text : "");
    switch (c.kind) {
    case kCtlButton:
    case kCtlDefaultButton: {
        auto* button = new QPushButton(text, &dialog);
        button->setAutoDefault(false);
        button->setDefault(c.kind == kCtlDefaultButton);
        return button;
    }
    case kCtlGroupBox:
        return new QGroupBox(text, &dialog);
    case kCtlListView: {
        auto* list = new QTreeWidget(&dialog);
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setAllColumnsShowFocus(true);
        list->setIconSize(QSize(16, 16));
        return list;
    }
    case kCtlStatic: {
        auto* label = new QLabel(text, &dialog);
        label->setAlignment(Alignment(c.style));
        if (c.style & kStyleSunken)
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        return label;
    }
    case kCtlEdit: {
        auto* edit = new QLineEdit(&dialog);
        edit->setReadOnly((c.style & kStyleReadOnly) != 0);
        edit->setAlignment(Alignment(c.style));
        if (c.style & kStyleDigits)
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
        if (c.style & kStylePassword)
            edit->setEchoMode(QLineEdit::Password);
        return edit;
    }
    case kCtlCheckBox:
        return new QCheckBox(text, &dialog);
    case kCtlDropList: {
        auto* combo = new QComboBox(&dialog);
        if (!text.isEmpty())
            combo->addItems(text.split('\n'));
        return combo;
    }
    case kCtlPicture:
    case kCtlIcon: {
        auto* label = new QLabel(&dialog);
        const QIcon icon =
            c.kind == kCtlIcon ? programIcon : DialogBuilder::Icon(language, text.toUInt());
        const QRect rect = Place(c, units);
        const QSize size = c.kind == kCtlIcon ? QSize(32, 32) : rect.size();
        label->setPixmap(icon.pixmap(size));
        label->setScaledContents(c.kind == kCtlPicture);
        return label;
    }
    default:
        return new QWidget(&dialog);
    }
}

} // namespace

DialogBuilder::Units DialogBuilder::UnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average over both alphabets, rounded to whole pixels as the templates' system does.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int baseX = std::max(1, (letters / 26 + 1) / 2);
    const int baseY = std::max(1, metrics.height());
    return {baseX / 4.0, baseY / 8.0};
}

QIcon DialogBuilder::Icon(const MonitorLanguage& language, unsigned id) {
    const char* const* xpm = language.Image(id);
    return xpm != nullptr ? QIcon(QPixmap(xpm)) : QIcon();
}

std::map<int, QWidget*> DialogBuilder::Build(QDialog& dialog, const MonitorDialogTemplate& t,
                                             const MonitorLanguage& language,
                                             const QIcon& programIcon) {
    std::map<int, QWidget*> controls;
    dialog.setWindowTitle(QString::fromUtf8(t.caption));
    // The template's font where it exists, else a narrow one of about its width.
    QFont font = dialog.font();
    font.setFamilies({QString::fromUtf8(t.font != nullptr ? t.font : ""), "DejaVu Sans Condensed",
                      "Liberation Sans Narrow", font.family()});
    font.setPointSize(t.pointSize > 0 ? t.pointSize : 8);
    dialog.setFont(font);
    const Units units = UnitsOf(dialog.font());
    dialog.setFixedSize(static_cast<int>(std::lround(t.w * units.x)),
                        static_cast<int>(std::lround(t.h * units.y)));
    Qt::WindowFlags flags =
        Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint;
    if (t.style & kDialogMinimizeBox)
        flags |= Qt::WindowMinimizeButtonHint;
    if (t.style & kDialogTaskBar)
        flags = (flags & ~Qt::Dialog) | Qt::Window;
    dialog.setWindowFlags(flags);
    for (int i = 0; i < t.controlCount; ++i) {
        const MonitorControlTemplate& c = t.controls[i];
        QWidget* widget = Make(dialog, c, units, language, programIcon);
        const QRect rect = Place(c, units);
        // A drop list's height includes its opened list; the closed box is one line.
        widget->setGeometry(
            c.kind == kCtlDropList
                ? QRect(rect.topLeft(), QSize(rect.width(), widget->sizeHint().height()))
                : rect);
        widget->setVisible((c.style & kStyleHidden) == 0);
        widget->setEnabled((c.style & kStyleDisabled) == 0);
        if (c.id >= 0)
            controls[c.id] = widget;
    }
    return controls;
}
