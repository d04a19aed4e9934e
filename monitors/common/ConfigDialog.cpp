#include "ConfigDialog.h"

#include "DialogBuilder.h"
#include "MonitorTexts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace {

template <class W> W* As(QWidget* widget) {
    return qobject_cast<W*>(widget);
}

} // namespace

ConfigDialog::ConfigDialog(MonitorKind kind, const MonitorLanguage& language,
                           const MonitorSettings& current, QWidget* parent)
    : QDialog(parent), m_kind(kind), m_language(language), m_current(current) {
    const MonitorDialogTemplate* t = language.Dialog(kDlgConfig);
    if (t == nullptr)
        return;
    m_controls = DialogBuilder::Build(*this, *t, language);
    if (auto* ok = As<QPushButton>(Control(kIdOk)))
        connect(ok, &QPushButton::clicked, this, &ConfigDialog::accept);
    if (auto* cancel = As<QPushButton>(Control(kIdCancel)))
        connect(cancel, &QPushButton::clicked, this, &ConfigDialog::reject);
    LinkCheck(kIdCfgAutoClear, kIdCfgAutoClearCount);
    LinkCheck(kIdCfgFileSave, kIdCfgFileName);
    if (kind == MonitorKind::Smdr)
        LinkCheck(kIdCfgUcdFileSave, kIdCfgUcdFileName);
    Fill(ConfigInputFrom(current, kind));
}

QWidget* ConfigDialog::Control(int id) const {
    const auto found = m_controls.find(id);
    return found != m_controls.end() ? found->second : nullptr;
}

int ConfigDialog::LanguageComboId() const {
    return m_kind == MonitorKind::Smdr ? kIdCfgSmdrLanguage : kIdCfgSwitchLanguage;
}

void ConfigDialog::LinkCheck(int checkId, int editId) {
    auto* check = As<QCheckBox>(Control(checkId));
    QWidget* edit = Control(editId);
    if (check == nullptr || edit == nullptr)
        return;
    connect(check, &QCheckBox::toggled, edit, &QWidget::setEnabled);
}

void ConfigDialog::Fill(const ConfigInput& in) {
    const auto setText = [&](int id, const std::string& text) {
        if (auto* edit = As<QLineEdit>(Control(id)))
            edit->setText(QString::fromStdString(text));
    };
    const auto setCheck = [&](int checkId, int editId, bool on) {
        if (auto* check = As<QCheckBox>(Control(checkId)))
            check->setChecked(on);
        if (QWidget* edit = Control(editId))
            edit->setEnabled(on);
    };
    setText(kIdCfgAddress, in.address);
    setText(kIdCfgPort, in.port);
    setText(kIdCfgPassCode, in.passCode);
    setText(kIdCfgAutoClearCount, in.autoClearCount);
    setText(kIdCfgFileName, in.fileName);
    setCheck(kIdCfgAutoClear, kIdCfgAutoClearCount, in.autoClear);
    setCheck(kIdCfgFileSave, kIdCfgFileName, in.fileSave);
    if (m_kind == MonitorKind::Smdr) {
        setText(kIdCfgUcdFileName, in.ucdFileName);
        setCheck(kIdCfgUcdFileSave, kIdCfgUcdFileName, in.ucdFileSave);
    }
    if (auto* combo = As<QComboBox>(Control(LanguageComboId()))) {
        const QString name =
            QString::fromStdString(m_language.String(LanguageNameId(in.languagePosition)));
        combo->setCurrentIndex(combo->findText(name));
    }
}

ConfigInput ConfigDialog::Input() const {
    ConfigInput in;
    const auto text = [&](int id) {
        auto* edit = As<QLineEdit>(Control(id));
        return edit != nullptr ? edit->text().toStdString() : std::string();
    };
    const auto checked = [&](int id) {
        auto* check = As<QCheckBox>(Control(id));
        return check != nullptr && check->isChecked();
    };
    in.address = text(kIdCfgAddress);
    in.port = text(kIdCfgPort);
    in.passCode = text(kIdCfgPassCode);
    in.autoClear = checked(kIdCfgAutoClear);
    in.autoClearCount = text(kIdCfgAutoClearCount);
    in.fileSave = checked(kIdCfgFileSave);
    in.fileName = text(kIdCfgFileName);
    if (m_kind == MonitorKind::Smdr) {
        in.ucdFileSave = checked(kIdCfgUcdFileSave);
        in.ucdFileName = text(kIdCfgUcdFileName);
    }
    auto* combo = As<QComboBox>(Control(LanguageComboId()));
    in.languagePosition = combo != nullptr ? combo->currentIndex() : kLangEnglish;
    return in;
}

void ConfigDialog::accept() {
    const ConfigCheck check = ValidateConfig(m_kind, Input(), m_current, m_edited);
    if (!check.Ok()) {
        QMessageBox::warning(this, windowTitle(),
                             QString::fromStdString(m_language.String(check.message)));
        if (QWidget* focus = Control(check.focus))
            focus->setFocus();
        return;
    }
    QDialog::accept();
}
