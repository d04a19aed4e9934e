#pragma once

// A window's makeup as its user meets it, for tests that pin it: the layouts from the window
// down with each control's kind, name, texts and state in its place, and the order Tab walks
// the controls in. Pixel sizes are left out: they follow from the layouts and the font.
//
//   EXPECT_EQ(testsupport::LayoutTree(dialog), kExpected);
//   EXPECT_EQ(testsupport::TabOrder(dialog), (std::vector<std::string>{"OK", "1082"}));
//   testsupport::ExpectMakeup(dialog, kExpected, {"OK", "1082"});   // both at once
//
// Header only, for GoogleTest programs that link Qt's widgets.

#include <QAbstractButton>
#include <QBoxLayout>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QStringList>
#include <QTreeWidget>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testsupport {

namespace widget_tree_detail {

constexpr int kDefaultMaxLength = 32767;

inline QString Quoted(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// Kind, name, texts and the state a user can see.
inline QString Describe(const QWidget* w) {
    QStringList parts{QString::fromLatin1(w->metaObject()->className())};
    if (!w->objectName().isEmpty())
        parts << QLatin1Char('#') + w->objectName();
    if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
        parts << Quoted(group->title());
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        parts << Quoted(button->text());
        if (button->isChecked())
            parts << QStringLiteral("checked");
    } else if (const auto* label = qobject_cast<const QLabel*>(w)) {
        parts << Quoted(label->text());
    } else if (const auto* edit = qobject_cast<const QLineEdit*>(w)) {
        if (!edit->text().isEmpty())
            parts << QLatin1Char('=') + Quoted(edit->text());
        if (!edit->placeholderText().isEmpty())
            parts << QStringLiteral("placeholder ") + Quoted(edit->placeholderText());
        if (edit->isReadOnly())
            parts << QStringLiteral("read-only");
        if (edit->maxLength() != kDefaultMaxLength)
            parts << QStringLiteral("max %1").arg(edit->maxLength());
        if (edit->validator() != nullptr)
            parts << QStringLiteral("validated");
    } else if (const auto* text = qobject_cast<const QPlainTextEdit*>(w)) {
        if (text->isReadOnly())
            parts << QStringLiteral("read-only");
    } else if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        parts << QLatin1Char('[') + items.join(QLatin1Char('|')) + QLatin1Char(']')
              << QStringLiteral("at %1").arg(combo->currentIndex());
    } else if (const auto* tree = qobject_cast<const QTreeWidget*>(w)) {
        QStringList titles;
        for (int c = 0; c < tree->columnCount(); ++c)
            titles << tree->headerItem()->text(c);
        parts << QLatin1Char('[') + titles.join(QLatin1Char('|')) + QLatin1Char(']');
        if (tree->selectionMode() == QAbstractItemView::ExtendedSelection)
            parts << QStringLiteral("multi-select");
    }
    if (w->maximumWidth() != QWIDGETSIZE_MAX)
        parts << QStringLiteral("max-width %1").arg(w->maximumWidth());
    if (!w->isEnabled())
        parts << QStringLiteral("disabled");
    // Hidden on its own account, not only because its window has not been shown yet.
    if (w->parentWidget() != nullptr && !w->isVisibleTo(w->parentWidget()))
        parts << QStringLiteral("hidden");
    return parts.join(QLatin1Char(' '));
}

// Where item `index` of the layout sits.
inline QString Position(QLayout* layout, int index) {
    if (auto* grid = qobject_cast<QGridLayout*>(layout)) {
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(index, &row, &column, &rows, &columns);
        QString at = QStringLiteral("%1,%2").arg(row).arg(column);
        if (rows != 1 || columns != 1)
            at += QStringLiteral(" span %1x%2").arg(rows).arg(columns);
        return at;
    }
    if (auto* form = qobject_cast<QFormLayout*>(layout)) {
        int row = 0;
        QFormLayout::ItemRole role = QFormLayout::FieldRole;
        form->getItemPosition(index, &row, &role);
        const char* const roles[] = {"label", "field", "span"};
        return QStringLiteral("row %1 %2").arg(row).arg(QLatin1String(roles[role]));
    }
    QString at = QString::number(index);
    if (auto* box = qobject_cast<QBoxLayout*>(layout); box != nullptr && box->stretch(index) != 0)
        at += QStringLiteral(" stretch %1").arg(box->stretch(index));
    return at;
}

inline QString LayoutName(const QLayout* layout) {
    QString name = QString::fromLatin1(layout->metaObject()->className());
    if (const auto* grid = qobject_cast<const QGridLayout*>(layout)) {
        for (int r = 0; r < grid->rowCount(); ++r)
            if (grid->rowStretch(r) != 0)
                name += QStringLiteral(" row %1 stretch %2").arg(r).arg(grid->rowStretch(r));
        for (int c = 0; c < grid->columnCount(); ++c)
            if (grid->columnStretch(c) != 0)
                name += QStringLiteral(" column %1 stretch %2").arg(c).arg(grid->columnStretch(c));
    }
    return name;
}

inline void AddWidget(QWidget* w, const QString& indent, QStringList& lines);

inline void AddLayout(QLayout* layout, const QString& indent, QStringList& lines) {
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        const QString at = indent + Position(layout, i) + QLatin1Char(' ');
        if (QWidget* child = item->widget()) {
            lines << at + Describe(child);
            AddWidget(child, indent + QStringLiteral("  "), lines);
        } else if (QLayout* inner = item->layout()) {
            lines << at + LayoutName(inner);
            AddLayout(inner, indent + QStringLiteral("  "), lines);
        } else if (item->spacerItem() != nullptr) {
            lines << at + QStringLiteral("spacer");
        }
    }
}

// The widget's own layout; a main window's parts instead of its private one.
inline void AddWidget(QWidget* w, const QString& indent, QStringList& lines) {
    if (auto* window = qobject_cast<QMainWindow*>(w)) {
        if (QWidget* central = window->centralWidget()) {
            lines << indent + QStringLiteral("central ") + Describe(central);
            AddWidget(central, indent + QStringLiteral("  "), lines);
        }
        if (QStatusBar* bar =
                window->findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly)) {
            lines << indent + QStringLiteral("status ") + Describe(bar);
            // The panels by name only: what they show is the state of the moment.
            for (QWidget* panel :
                 bar->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                if (!panel->objectName().isEmpty())
                    lines << indent + QStringLiteral("  ") +
                                 QString::fromLatin1(panel->metaObject()->className()) +
                                 QStringLiteral(" #") + panel->objectName();
        }
        return;
    }
    // Controls that keep their parts in layouts of their own are described whole.
    if (qobject_cast<QAbstractButton*>(w) != nullptr && w->layout() == nullptr)
        return;
    if (QLayout* layout = w->layout()) {
        lines << indent + LayoutName(layout);
        AddLayout(layout, indent + QStringLiteral("  "), lines);
    }
}

} // namespace widget_tree_detail

// One line per widget, layout and spacer, each indented under the layout that holds it, with its
// place there: "row, column" in grids, "row N label|field|span" in forms, the index in boxes.
inline std::string LayoutTree(QWidget* window) {
    QStringList lines{widget_tree_detail::Describe(window) + QStringLiteral(" ") +
                      widget_tree_detail::Quoted(window->windowTitle())};
    widget_tree_detail::AddWidget(window, QStringLiteral("  "), lines);
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toStdString();
}

// Names (or kind and text) of the widgets Tab can reach, once round the window's focus chain.
inline std::vector<std::string> TabOrder(QWidget* window) {
    std::vector<std::string> order;
    for (QWidget* w = window->nextInFocusChain(); w != nullptr && w != window;
         w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) == 0 || !w->isVisibleTo(window))
            continue;
        if (!w->objectName().isEmpty())
            order.push_back(w->objectName().toStdString());
        else if (const auto* button = qobject_cast<const QAbstractButton*>(w))
            order.push_back(button->text().toStdString());
        else
            order.emplace_back(w->metaObject()->className());
    }
    return order;
}

// The window's layout tree and its Tab order as expected.
inline void ExpectMakeup(QWidget* window, const std::string& tree,
                         const std::vector<std::string>& tabOrder) {
    EXPECT_EQ(LayoutTree(window), tree);
    EXPECT_EQ(TabOrder(window), tabOrder);
}

} // namespace testsupport
