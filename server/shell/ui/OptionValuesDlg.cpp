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

namespace shell {

bool RunOptionValuesDlg(QWidget* parent, OptionsDialogModel& model, const DialogText& text) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Options"));
    std::map<int, QWidget*> controls;
    const auto check = [&](int id, const char* label) {
        auto* box = new QCheckBox(QString::fromUtf8(label));
        box->setObjectName(QString::number(id));
        controls[id] = box;
        return box;
    };
    const auto edit = [&](int id, int maxLength) {
        auto* line = new QLineEdit;
        line->setObjectName(QString::number(id));
        line->setMaxLength(maxLength);
        controls[id] = line;
        return line;
    };

    auto* msgMonitor = check(kIdcMsgMonitor, "SW message monitor, port:");
    auto* msgPort = edit(kIdcMsgMonitorPort, 8);
    auto* smdrMonitor = check(kIdcSmdrMonitor, "SMDR/UCD monitor, port:");
    auto* smdrPort = edit(kIdcSmdrMonitorPort, 8);
    auto* smdrSend = check(kIdcSmdrSend, "SMDR/UCD external send, port:");
    auto* sendPort = edit(kIdcSmdrSendPort, 8);
    auto* protect = check(kIdcProtectSend, "Send only to monitors with the access code");
    auto* accessCode = edit(kIdcAccessCode, 10);
    auto* autoClear = check(kIdcAutoClear, "Clear the log list at");
    auto* autoClearCount = edit(kIdcAutoClearCount, 8);
    auto* recoverCount = edit(kIdcRecoverCount, 19);
    auto* recoverPeriod = edit(kIdcRecoverPeriod, 19);
    auto* linnet = check(kIdcLinnet, "Linnet Plus messages");
    auto* debugPrint = check(kIdcDebugPrint, "Debug output");
    auto* debugSave = check(kIdcDebugSave, "Save debug output");
    auto* autoConnect = check(kIdcAutoConnect, "Start the link at start-up");
    auto* service = check(kIdcServiceMode, "Run as a system service");
    auto* language = new QComboBox;
    language->setObjectName(QString::number(kIdcLanguage));
    for (int code = 0; code < 5; ++code)
        language->addItem(text(OptionsDialogModel::LanguageTextId(code), "?"));

    const OptionFields f = model.Init();
    msgMonitor->setChecked(f.msgMonitor);
    msgPort->setText(QString::fromStdString(f.msgMonitorPort));
    smdrMonitor->setChecked(f.smdrMonitor);
    smdrPort->setText(QString::fromStdString(f.smdrMonitorPort));
    smdrSend->setChecked(f.smdrSend);
    sendPort->setText(QString::fromStdString(f.smdrSendPort));
    protect->setChecked(f.protectSend);
    accessCode->setText(QString::fromStdString(f.accessCode));
    autoClear->setChecked(f.autoClear);
    autoClearCount->setText(QString::fromStdString(f.autoClearCount));
    recoverCount->setText(QString::fromStdString(f.recoverCount));
    recoverPeriod->setText(QString::fromStdString(f.recoverPeriod));
    linnet->setChecked(f.linnet);
    debugPrint->setChecked(f.debugPrint);
    debugSave->setChecked(f.debugSave);
    autoConnect->setChecked(f.autoConnect);
    service->setChecked(f.serviceMode);
    language->setCurrentIndex(f.language);
    recoverCount->setEnabled(model.RecoveryEditable());
    recoverPeriod->setEnabled(model.RecoveryEditable());

    // Each box enables the controls of its row.
    const std::pair<QCheckBox*, std::vector<QWidget*>> rows[] = {{autoClear, {autoClearCount}},
                                                                 {msgMonitor, {msgPort}},
                                                                 {smdrMonitor, {smdrPort}},
                                                                 {smdrSend, {sendPort, protect}},
                                                                 {debugPrint, {debugSave}}};
    for (const auto& [box, enabled] : rows) {
        const auto apply = [box = box, enabled = enabled] {
            for (QWidget* w : enabled)
                w->setEnabled(box->isChecked());
        };
        apply();
        QObject::connect(box, &QCheckBox::clicked, &dialog, apply);
    }
    QObject::connect(linnet, &QCheckBox::clicked, &dialog, [&](bool checked) {
        if (checked && !model.ConfirmLinnet())
            linnet->setChecked(false);
    });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        OptionFields out;
        out.recoverCount = recoverCount->text().toStdString();
        out.recoverPeriod = recoverPeriod->text().toStdString();
        out.autoClear = autoClear->isChecked();
        out.autoClearCount = autoClearCount->text().toStdString();
        out.accessCode = accessCode->text().toStdString();
        out.msgMonitor = msgMonitor->isChecked();
        out.msgMonitorPort = msgPort->text().toStdString();
        out.smdrMonitor = smdrMonitor->isChecked();
        out.smdrMonitorPort = smdrPort->text().toStdString();
        out.smdrSend = smdrSend->isChecked();
        out.protectSend = protect->isChecked();
        out.smdrSendPort = sendPort->text().toStdString();
        out.linnet = linnet->isChecked();
        out.debugPrint = debugPrint->isChecked();
        out.debugSave = debugSave->isChecked();
        out.autoConnect = autoConnect->isChecked();
        out.serviceMode = service->isChecked();
        out.language = language->currentIndex();
        if (const auto failed = model.OnOK(out)) {
            if (QWidget* focus = controls[failed->focus])
                focus->setFocus();
            return;
        }
        dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    auto* monitors = new QGroupBox(QStringLiteral("Monitor ports"));
    auto* grid = new QGridLayout(monitors);
    grid->addWidget(msgMonitor, 0, 0);
    grid->addWidget(msgPort, 0, 1);
    grid->addWidget(smdrMonitor, 1, 0);
    grid->addWidget(smdrPort, 1, 1);
    grid->addWidget(smdrSend, 2, 0);
    grid->addWidget(sendPort, 2, 1);
    grid->addWidget(protect, 3, 0, 1, 2);
    auto* codeForm = new QFormLayout;
    codeForm->addRow(QStringLiteral("Monitor access code:"), accessCode);
    grid->addLayout(codeForm, 4, 0, 1, 2);

    auto* recovery = new QGroupBox(QStringLiteral("Automatic recovery"));
    auto* recoveryForm = new QFormLayout(recovery);
    recoveryForm->addRow(QStringLiteral("Most restarts (30..9999):"), recoverCount);
    recoveryForm->addRow(QStringLiteral("Period in minutes (1..255):"), recoverPeriod);

    auto* log = new QGroupBox(QStringLiteral("Log list and debug output"));
    auto* logGrid = new QGridLayout(log);
    logGrid->addWidget(autoClear, 0, 0);
    logGrid->addWidget(autoClearCount, 0, 1);
    logGrid->addWidget(debugPrint, 1, 0);
    logGrid->addWidget(debugSave, 1, 1);

    auto* other = new QGroupBox(QStringLiteral("Program"));
    auto* otherForm = new QFormLayout(other);
    otherForm->addRow(linnet);
    otherForm->addRow(autoConnect);
    otherForm->addRow(service);
    otherForm->addRow(QStringLiteral("Language:"), language);

    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(monitors);
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
    return dialog.exec() == QDialog::Accepted;
}

} // namespace shell
