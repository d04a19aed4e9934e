#include "ShellDialogsUi.h"
#include <shell/OptionsDialogModel.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace shell {

namespace {

// The check boxes with the field each one shows.
struct OptionCheck {
    int id;
    const char* label;
    bool OptionFields::*field;
};
constexpr OptionCheck kOptionChecks[] = {
    {kIdcMsgMonitor, "SW message monitor, port:", &OptionFields::msgMonitor},
    {kIdcSmdrMonitor, "SMDR/UCD monitor, port:", &OptionFields::smdrMonitor},
    {kIdcSmdrSend, "SMDR/UCD external send, port:", &OptionFields::smdrSend},
    {kIdcProtectSend, "Send only to monitors with the access code", &OptionFields::protectSend},
    {kIdcAutoClear, "Clear the log list at", &OptionFields::autoClear},
    {kIdcLinnet, "Linnet Plus messages", &OptionFields::linnet},
    {kIdcDebugPrint, "Debug output", &OptionFields::debugPrint},
    {kIdcDebugSave, "Save debug output", &OptionFields::debugSave},
    {kIdcAutoConnect, "Start the link at start-up", &OptionFields::autoConnect},
    {kIdcServiceMode, "Run as a system service", &OptionFields::serviceMode},
};

// The edits with their length and the field each one shows.
struct OptionEdit {
    int id;
    int maxLength;
    std::string OptionFields::*field;
};
constexpr OptionEdit kOptionEdits[] = {
    {kIdcMsgMonitorPort, 8, &OptionFields::msgMonitorPort},
    {kIdcSmdrMonitorPort, 8, &OptionFields::smdrMonitorPort},
    {kIdcSmdrSendPort, 8, &OptionFields::smdrSendPort},
    {kIdcAccessCode, 10, &OptionFields::accessCode},
    {kIdcAutoClearCount, 8, &OptionFields::autoClearCount},
    {kIdcRecoverCount, 19, &OptionFields::recoverCount},
    {kIdcRecoverPeriod, 19, &OptionFields::recoverPeriod},
};

// The dialog's controls by id, the language list apart.
class OptionControls {
public:
    explicit OptionControls(const DialogText& text);

    QWidget* At(int id) const { return m_byId.at(id); }
    QCheckBox* Check(int id) const { return static_cast<QCheckBox*>(At(id)); }
    QLineEdit* Edit(int id) const { return static_cast<QLineEdit*>(At(id)); }
    QComboBox* Language() const { return m_language; }
    // The control a failed check sends the focus to, if the dialog has it.
    QWidget* Find(int id) const {
        const auto found = m_byId.find(id);
        return found != m_byId.end() ? found->second : nullptr;
    }

    void Fill(const OptionFields& f) const;
    OptionFields Read() const;

private:
    std::map<int, QWidget*> m_byId;
    QComboBox* m_language = nullptr;
};

OptionControls::OptionControls(const DialogText& text) {
    for (const OptionCheck& check : kOptionChecks) {
        auto* box = new QCheckBox(QString::fromUtf8(check.label));
        box->setObjectName(QString::number(check.id));
        m_byId[check.id] = box;
    }
    for (const OptionEdit& edit : kOptionEdits) {
        auto* line = new QLineEdit;
        line->setObjectName(QString::number(edit.id));
        line->setMaxLength(edit.maxLength);
        m_byId[edit.id] = line;
    }
    m_language = new QComboBox;
    m_language->setObjectName(QString::number(kIdcLanguage));
    for (int code = 0; code < 5; ++code)
        m_language->addItem(text(OptionsDialogModel::LanguageTextId(code), "?"));
}

void OptionControls::Fill(const OptionFields& f) const {
    for (const OptionCheck& check : kOptionChecks)
        Check(check.id)->setChecked(f.*check.field);
    for (const OptionEdit& edit : kOptionEdits)
        Edit(edit.id)->setText(QString::fromStdString(f.*edit.field));
    m_language->setCurrentIndex(f.language);
}

OptionFields OptionControls::Read() const {
    OptionFields out;
    for (const OptionCheck& check : kOptionChecks)
        out.*check.field = Check(check.id)->isChecked();
    for (const OptionEdit& edit : kOptionEdits)
        out.*edit.field = Edit(edit.id)->text().toStdString();
    out.language = m_language->currentIndex();
    return out;
}

void LinkOptionRows(QDialog& dialog, const OptionControls& c, OptionsDialogModel& model) {
    // Each box enables the controls of its row.
    const std::pair<int, std::vector<int>> rows[] = {
        {kIdcAutoClear, {kIdcAutoClearCount}},
        {kIdcMsgMonitor, {kIdcMsgMonitorPort}},
        {kIdcSmdrMonitor, {kIdcSmdrMonitorPort}},
        {kIdcSmdrSend, {kIdcSmdrSendPort, kIdcProtectSend}},
        {kIdcDebugPrint, {kIdcDebugSave}},
    };
    for (const auto& [id, enabled] : rows) {
        QCheckBox* box = c.Check(id);
        std::vector<QWidget*> row;
        for (int other : enabled)
            row.push_back(c.At(other));
        const auto apply = [box, row] {
            for (QWidget* w : row)
                w->setEnabled(box->isChecked());
        };
        apply();
        QObject::connect(box, &QCheckBox::clicked, &dialog, apply);
    }
    QCheckBox* linnet = c.Check(kIdcLinnet);
    QObject::connect(linnet, &QCheckBox::clicked, &dialog, [&model, linnet](bool checked) {
        if (checked && !model.ConfirmLinnet())
            linnet->setChecked(false);
    });
}

QGroupBox* MonitorPortsBox(const OptionControls& c) {
    auto* monitors = new QGroupBox(QStringLiteral("Monitor ports"));
    auto* grid = new QGridLayout(monitors);
    const std::pair<int, int> ports[] = {{kIdcMsgMonitor, kIdcMsgMonitorPort},
                                         {kIdcSmdrMonitor, kIdcSmdrMonitorPort},
                                         {kIdcSmdrSend, kIdcSmdrSendPort}};
    int row = 0;
    for (const auto& [check, port] : ports) {
        grid->addWidget(c.At(check), row, 0);
        grid->addWidget(c.At(port), row, 1);
        ++row;
    }
    grid->addWidget(c.At(kIdcProtectSend), 3, 0, 1, 2);
    auto* codeForm = new QFormLayout;
    codeForm->addRow(QStringLiteral("Monitor access code:"), c.At(kIdcAccessCode));
    grid->addLayout(codeForm, 4, 0, 1, 2);
    return monitors;
}

// The monitor ports and recovery at the left, the log list and the program at the right.
void LayOutOptions(QDialog& dialog, const OptionControls& c, QDialogButtonBox* buttons) {
    auto* recovery = new QGroupBox(QStringLiteral("Automatic recovery"));
    auto* recoveryForm = new QFormLayout(recovery);
    recoveryForm->addRow(QStringLiteral("Most restarts (30..9999):"), c.At(kIdcRecoverCount));
    recoveryForm->addRow(QStringLiteral("Period in minutes (1..255):"), c.At(kIdcRecoverPeriod));

    auto* log = new QGroupBox(QStringLiteral("Log list and debug output"));
    auto* logGrid = new QGridLayout(log);
    logGrid->addWidget(c.At(kIdcAutoClear), 0, 0);
    logGrid->addWidget(c.At(kIdcAutoClearCount), 0, 1);
    logGrid->addWidget(c.At(kIdcDebugPrint), 1, 0);
    logGrid->addWidget(c.At(kIdcDebugSave), 1, 1);

    auto* other = new QGroupBox(QStringLiteral("Program"));
    auto* otherForm = new QFormLayout(other);
    otherForm->addRow(c.At(kIdcLinnet));
    otherForm->addRow(c.At(kIdcAutoConnect));
    otherForm->addRow(c.At(kIdcServiceMode));
    otherForm->addRow(QStringLiteral("Language:"), c.Language());

    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(MonitorPortsBox(c));
    left->addWidget(recovery);
    auto* right = new QVBoxLayout;
    right->addWidget(log);
    right->addWidget(other);
    right->addStretch(1);
    columns->addLayout(left);
    columns->addLayout(right);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(columns);
    layout->addWidget(buttons);
}

} // namespace

bool RunOptionValuesDlg(QWidget* parent, OptionsDialogModel& model, const DialogText& text) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Options"));
    const OptionControls controls(text);
    controls.Fill(model.Init());
    controls.At(kIdcRecoverCount)->setEnabled(model.RecoveryEditable());
    controls.At(kIdcRecoverPeriod)->setEnabled(model.RecoveryEditable());
    LinkOptionRows(dialog, controls, model);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        if (const auto failed = model.OnOK(controls.Read())) {
            if (QWidget* focus = controls.Find(failed->focus))
                focus->setFocus();
            return;
        }
        dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    LayOutOptions(dialog, controls, buttons);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace shell
