#include "ShellDialogsUi.h"
#include <shell/ConnEnvDialogModel.h>

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <map>

namespace shell {

using namespace engine;

namespace {

// A drop-down list exchanged by its text: the matching entry is chosen, and a stored value the
// list lacks is added rather than lost.
void SelectText(QComboBox* box, const std::string& text) {
    const QString value = QString::fromStdString(text);
    int index = box->findText(value);
    if (index < 0) {
        box->addItem(value);
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
}

} // namespace

bool RunConnEnvDlg(QWidget* parent, ConnEnvDialogModel& model, const DialogText& text) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Connection Settings"));
    std::map<int, QWidget*> controls;
    const auto named = [&](int id, auto* widget) {
        widget->setObjectName(QString::number(id));
        controls[id] = widget;
        return widget;
    };

    auto* sim = named(kIdcConnSim, new QRadioButton(text(126, "SIM")));
    auto* direct = named(kIdcConnDirect, new QRadioButton(text(127, "Direct Serial Cable")));
    auto* tcp = named(kIdcConnTcp, new QRadioButton(text(128, "TCP/IP")));
    auto* normal = named(kIdcSwitchNormal, new QRadioButton(QStringLiteral("Normal")));
    auto* veltrane = named(kIdcSwitchVeltrane, new QRadioButton(QStringLiteral("Veltrane")));
    auto* connGroup = new QButtonGroup(&dialog);
    for (QRadioButton* radio : {sim, direct, tcp})
        connGroup->addButton(radio);
    auto* switchGroup = new QButtonGroup(&dialog);
    switchGroup->addButton(normal);
    switchGroup->addButton(veltrane);

    auto* commPort = named(kIdcCommPort, new QComboBox);
    commPort->addItems({"COM1", "COM2", "COM3", "COM4"});
    auto* baudRate = named(kIdcBaudRate, new QComboBox);
    baudRate->addItems({"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"});
    auto* byteSize = named(kIdcByteSize, new QComboBox);
    byteSize->addItems({"5", "6", "7", "8"});
    auto* stopBits = named(kIdcStopBits, new QComboBox);
    stopBits->addItems({"1", "1.5", "2"});
    auto* address = named(kIdcSwitchAddress, new QLineEdit);
    auto* switchPort = named(kIdcSwitchPort, new QLineEdit);
    switchPort->setMaxLength(ConnEnvDialogModel::kPortChars);
    auto* listenPort = named(kIdcListenPort, new QLineEdit);
    listenPort->setMaxLength(ConnEnvDialogModel::kPortChars);
    auto* password = named(kIdcPassword, new QLineEdit);
    password->setMaxLength(ConnEnvDialogModel::kPasswordChars);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    controls[kIdcOk] = buttons->button(QDialogButtonBox::Ok);

    const auto applyEnabling = [&] {
        for (const auto& [id, widget] : controls)
            widget->setEnabled(model.IsEnabled(id));
    };
    const auto fields = [&] {
        ConnEnvSettings s = model.Settings();
        s.commPort = commPort->currentText().toStdString();
        s.baudRate = baudRate->currentText().toStdString();
        s.byteSize = byteSize->currentText().toStdString();
        s.stopBits = stopBits->currentText().toStdString();
        s.ipAddress = address->text().toStdString();
        s.portNo = switchPort->text().toStdString();
        s.listenPortNo = listenPort->text().toStdString();
        s.sysInfoPassword = password->text().toStdString();
        return s;
    };

    const ConnEnvSettings& s = model.Settings();
    (s.connType == 1 ? direct : s.connType == 2 ? tcp : sim)->setChecked(true);
    (s.switchType == 1 ? veltrane : normal)->setChecked(true);
    SelectText(commPort, s.commPort);
    SelectText(baudRate, s.baudRate);
    SelectText(byteSize, s.byteSize);
    SelectText(stopBits, s.stopBits);
    address->setText(QString::fromStdString(s.ipAddress));
    switchPort->setText(QString::fromStdString(s.portNo));
    listenPort->setText(QString::fromStdString(s.listenPortNo));
    password->setText(QString::fromStdString(s.sysInfoPassword));
    applyEnabling();

    const std::pair<QRadioButton*, int> connTypes[] = {{sim, 0}, {direct, 1}, {tcp, 2}};
    for (const auto& [radio, type] : connTypes)
        QObject::connect(radio, &QRadioButton::clicked, &dialog, [&, type = type] {
            model.OnConnType(type);
            applyEnabling();
        });
    const std::pair<QRadioButton*, int> switchTypes[] = {{normal, 0}, {veltrane, 1}};
    for (const auto& [radio, type] : switchTypes)
        QObject::connect(radio, &QRadioButton::clicked, &dialog, [&, type = type] {
            model.OnSwitchType(type);
            applyEnabling();
        });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        if (model.OnOK(fields()))
            dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    auto* connBox = new QGroupBox(QStringLiteral("Switch connection"));
    auto* connRow = new QHBoxLayout(connBox);
    for (QRadioButton* radio : {sim, direct, tcp})
        connRow->addWidget(radio);
    auto* serialBox = new QGroupBox(QStringLiteral("Serial line"));
    auto* serialForm = new QFormLayout(serialBox);
    serialForm->addRow(QStringLiteral("Port:"), commPort);
    serialForm->addRow(QStringLiteral("Baud rate:"), baudRate);
    serialForm->addRow(QStringLiteral("Data bits:"), byteSize);
    serialForm->addRow(QStringLiteral("Stop bits:"), stopBits);
    auto* tcpBox = new QGroupBox(QStringLiteral("TCP/IP"));
    auto* tcpForm = new QFormLayout(tcpBox);
    tcpForm->addRow(QStringLiteral("Switch address:"), address);
    tcpForm->addRow(QStringLiteral("Switch port:"), switchPort);
    auto* middle = new QHBoxLayout;
    middle->addWidget(serialBox);
    middle->addWidget(tcpBox);
    auto* switchBox = new QGroupBox(QStringLiteral("Switch type"));
    auto* switchForm = new QFormLayout(switchBox);
    auto* switchRow = new QHBoxLayout;
    switchRow->addWidget(normal);
    switchRow->addWidget(veltrane);
    switchForm->addRow(switchRow);
    switchForm->addRow(QStringLiteral("System information password:"), password);
    auto* clientForm = new QFormLayout;
    clientForm->addRow(QStringLiteral("Client listen port:"), listenPort);

    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(connBox);
    layout->addLayout(middle);
    layout->addWidget(switchBox);
    layout->addLayout(clientForm);
    layout->addWidget(buttons);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace shell
