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
#include <string>

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

// The serial line's lists with their entries, and the setting each one shows.
struct SerialList {
    int id;
    const char* items;
    std::string ConnEnvSettings::*field;
};
constexpr SerialList kSerialLists[] = {
    {kIdcCommPort, "COM1 COM2 COM3 COM4", &ConnEnvSettings::commPort},
    {kIdcBaudRate, "1200 2400 4800 9600 19200 38400 57600 115200", &ConnEnvSettings::baudRate},
    {kIdcByteSize, "5 6 7 8", &ConnEnvSettings::byteSize},
    {kIdcStopBits, "1 1.5 2", &ConnEnvSettings::stopBits},
};

// The edits with their length (0: no limit), and the setting each one shows.
struct SettingEdit {
    int id;
    int maxLength;
    std::string ConnEnvSettings::*field;
};
constexpr SettingEdit kSettingEdits[] = {
    {kIdcSwitchAddress, 0, &ConnEnvSettings::ipAddress},
    {kIdcSwitchPort, ConnEnvDialogModel::kPortChars, &ConnEnvSettings::portNo},
    {kIdcListenPort, ConnEnvDialogModel::kPortChars, &ConnEnvSettings::listenPortNo},
    {kIdcPassword, ConnEnvDialogModel::kPasswordChars, &ConnEnvSettings::sysInfoPassword},
};

// The dialog's controls by id, each enabled as the model says.
class ConnEnvControls {
public:
    ConnEnvControls(QDialog& dialog, const DialogText& text);

    template <class W = QWidget> W* At(int id) const { return static_cast<W*>(m_byId.at(id)); }
    void Add(int id, QWidget* widget) { m_byId[id] = widget; }

    void Fill(const ConnEnvSettings& s) const;
    // The settings with the lists' and edits' values.
    ConnEnvSettings Read(ConnEnvSettings s) const;
    void ApplyEnabling(const ConnEnvDialogModel& model) const {
        for (const auto& [id, widget] : m_byId)
            widget->setEnabled(model.IsEnabled(id));
    }

private:
    template <class W> W* Named(int id, W* widget) {
        widget->setObjectName(QString::number(id));
        m_byId[id] = widget;
        return widget;
    }

    std::map<int, QWidget*> m_byId;
};

ConnEnvControls::ConnEnvControls(QDialog& dialog, const DialogText& text) {
    auto* connGroup = new QButtonGroup(&dialog);
    connGroup->addButton(Named(kIdcConnSim, new QRadioButton(text(126, "SIM"))));
    connGroup->addButton(Named(kIdcConnDirect, new QRadioButton(text(127, "Direct Serial Cable"))));
    connGroup->addButton(Named(kIdcConnTcp, new QRadioButton(text(128, "TCP/IP"))));
    auto* switchGroup = new QButtonGroup(&dialog);
    switchGroup->addButton(Named(kIdcSwitchNormal, new QRadioButton(QStringLiteral("Normal"))));
    switchGroup->addButton(Named(kIdcSwitchVeltrane, new QRadioButton(QStringLiteral("Veltrane"))));
    for (const SerialList& list : kSerialLists)
        Named(list.id, new QComboBox)->addItems(QString::fromLatin1(list.items).split(' '));
    for (const SettingEdit& edit : kSettingEdits) {
        auto* line = Named(edit.id, new QLineEdit);
        if (edit.maxLength > 0)
            line->setMaxLength(edit.maxLength);
    }
}

void ConnEnvControls::Fill(const ConnEnvSettings& s) const {
    const int connRadio = s.connType == 1   ? kIdcConnDirect
                          : s.connType == 2 ? kIdcConnTcp
                                            : kIdcConnSim;
    At<QRadioButton>(connRadio)->setChecked(true);
    At<QRadioButton>(s.switchType == 1 ? kIdcSwitchVeltrane : kIdcSwitchNormal)->setChecked(true);
    for (const SerialList& list : kSerialLists)
        SelectText(At<QComboBox>(list.id), s.*list.field);
    for (const SettingEdit& edit : kSettingEdits)
        At<QLineEdit>(edit.id)->setText(QString::fromStdString(s.*edit.field));
}

ConnEnvSettings ConnEnvControls::Read(ConnEnvSettings s) const {
    for (const SerialList& list : kSerialLists)
        s.*list.field = At<QComboBox>(list.id)->currentText().toStdString();
    for (const SettingEdit& edit : kSettingEdits)
        s.*edit.field = At<QLineEdit>(edit.id)->text().toStdString();
    return s;
}

// The radios tell the model the types; the enabling follows.
void LinkConnEnvTypes(QDialog& dialog, const ConnEnvControls& c, ConnEnvDialogModel& model) {
    const std::pair<int, int> connTypes[] = {
        {kIdcConnSim, 0}, {kIdcConnDirect, 1}, {kIdcConnTcp, 2}};
    for (const auto& [id, type] : connTypes)
        QObject::connect(c.At<QRadioButton>(id), &QRadioButton::clicked, &dialog,
                         [&c, &model, type = type] {
                             model.OnConnType(type);
                             c.ApplyEnabling(model);
                         });
    const std::pair<int, int> switchTypes[] = {{kIdcSwitchNormal, 0}, {kIdcSwitchVeltrane, 1}};
    for (const auto& [id, type] : switchTypes)
        QObject::connect(c.At<QRadioButton>(id), &QRadioButton::clicked, &dialog,
                         [&c, &model, type = type] {
                             model.OnSwitchType(type);
                             c.ApplyEnabling(model);
                         });
}

// The serial line's and the TCP/IP settings side by side.
QHBoxLayout* LineSettings(const ConnEnvControls& c) {
    auto* serialBox = new QGroupBox(QStringLiteral("Serial line"));
    auto* serialForm = new QFormLayout(serialBox);
    serialForm->addRow(QStringLiteral("Port:"), c.At(kIdcCommPort));
    serialForm->addRow(QStringLiteral("Baud rate:"), c.At(kIdcBaudRate));
    serialForm->addRow(QStringLiteral("Data bits:"), c.At(kIdcByteSize));
    serialForm->addRow(QStringLiteral("Stop bits:"), c.At(kIdcStopBits));
    auto* tcpBox = new QGroupBox(QStringLiteral("TCP/IP"));
    auto* tcpForm = new QFormLayout(tcpBox);
    tcpForm->addRow(QStringLiteral("Switch address:"), c.At(kIdcSwitchAddress));
    tcpForm->addRow(QStringLiteral("Switch port:"), c.At(kIdcSwitchPort));
    auto* middle = new QHBoxLayout;
    middle->addWidget(serialBox);
    middle->addWidget(tcpBox);
    return middle;
}

void LayOutConnEnv(QDialog& dialog, const ConnEnvControls& c, QDialogButtonBox* buttons) {
    auto* connBox = new QGroupBox(QStringLiteral("Switch connection"));
    auto* connRow = new QHBoxLayout(connBox);
    for (int id : {kIdcConnSim, kIdcConnDirect, kIdcConnTcp})
        connRow->addWidget(c.At(id));
    QHBoxLayout* middle = LineSettings(c);
    auto* switchBox = new QGroupBox(QStringLiteral("Switch type"));
    auto* switchForm = new QFormLayout(switchBox);
    auto* switchRow = new QHBoxLayout;
    switchRow->addWidget(c.At(kIdcSwitchNormal));
    switchRow->addWidget(c.At(kIdcSwitchVeltrane));
    switchForm->addRow(switchRow);
    switchForm->addRow(QStringLiteral("System information password:"), c.At(kIdcPassword));
    auto* clientForm = new QFormLayout;
    clientForm->addRow(QStringLiteral("Client listen port:"), c.At(kIdcListenPort));

    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(connBox);
    layout->addLayout(middle);
    layout->addWidget(switchBox);
    layout->addLayout(clientForm);
    layout->addWidget(buttons);
}

} // namespace

bool RunConnEnvDlg(QWidget* parent, ConnEnvDialogModel& model, const DialogText& text) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Connection Settings"));
    ConnEnvControls controls(dialog, text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    controls.Add(kIdcOk, buttons->button(QDialogButtonBox::Ok));

    controls.Fill(model.Settings());
    controls.ApplyEnabling(model);
    LinkConnEnvTypes(dialog, controls, model);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        if (model.OnOK(controls.Read(model.Settings())))
            dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    LayOutConnEnv(dialog, controls, buttons);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace shell
