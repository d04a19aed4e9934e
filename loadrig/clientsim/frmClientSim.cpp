#include "frmClientSim.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QEvent>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValidator>

namespace {

constexpr const char* kWindowCaption = "Load Rig Ver 1.0 for QMX Series - Client Call Generator";

// The number boxes' maximum length: unlike QLineEdit's own limit it never cuts a text that is
// already there (a tel size made smaller leaves the longer number for the checks to report).
class MaxLengthValidator : public QValidator {
public:
    explicit MaxLengthValidator(QObject* parent) : QValidator(parent) {}
    void SetMaxLength(int length) { m_max = length; }
    State validate(QString& input, int&) const override {
        return m_max > 0 && input.size() > m_max ? Invalid : Acceptable;
    }

private:
    int m_max = 0;
};

} // namespace

frmClientSim::frmClientSim(ClientRunController* controller, QWidget* parent)
    : RigWindow(parent), m_controller(controller) {
    BuildControls();
    Open(kWindowCaption, m_controller.get(), &frmClientSim::RefreshState,
         &frmClientSim::ShowMessage);
}

frmClientSim::~frmClientSim() {
    m_controller->disconnect(this);
}

bool frmClientSim::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        // Focus taken by a message box or another window is not the user leaving the box.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            auto* box = qobject_cast<QLineEdit*>(watched);
            if (box != nullptr && box->isEnabled()) {
                if (box == m_editCallerStartTelNo) {
                    m_controller->editCallerStartTelNo_LostFocus();
                } else if (box == m_editCalleeStartTelNo) {
                    m_controller->editCalleeStartTelNo_LostFocus();
                } else if (box == m_editTimePeriod) {
                    m_controller->editTimePeriod_LostFocus();
                }
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

QLineEdit* frmClientSim::AddBox(const char* name, ClientControl ClientWindowState::*field,
                                void (ClientRunController::*typed)(const std::string&)) {
    auto* box = new QLineEdit;
    box->setObjectName(QLatin1String(name));
    box->setReadOnly(typed == nullptr);
    if (typed != nullptr) {
        // The controller outlives the window's controls; the slot holds it, not the window.
        connect(box, &QLineEdit::textEdited, this,
                [controller = m_controller.get(), typed](const QString& text) {
                    (controller->*typed)(text.toStdString());
                });
    }
    m_boxes.push_back({box, field});
    return box;
}

QCheckBox* frmClientSim::AddCheck(const char* name, const char* caption,
                                  ClientControl ClientWindowState::*field,
                                  void (ClientRunController::*clicked)(bool)) {
    auto* check = new QCheckBox(QLatin1String(caption));
    check->setObjectName(QLatin1String(name));
    if (clicked != nullptr) {
        connect(check, &QCheckBox::clicked, this,
                [controller = m_controller.get(), clicked](bool checked) {
                    (controller->*clicked)(checked);
                });
    }
    m_checks.push_back({check, field});
    return check;
}

QComboBox* frmClientSim::AddCombo(const char* name, ClientList list,
                                  ClientControl ClientWindowState::*field,
                                  void (ClientRunController::*chosen)(int)) {
    auto* combo = new QComboBox;
    combo->setObjectName(QLatin1String(name));
    for (const std::string& item : ClientListItems(list)) {
        combo->addItem(QString::fromStdString(item));
    }
    // Only the user's choices reach the controller; the window's own updates do not.
    connect(combo, &QComboBox::activated, this,
            [controller = m_controller.get(), chosen](int index) { (controller->*chosen)(index); });
    m_combos.push_back({combo, field});
    return combo;
}

QPushButton* frmClientSim::AddButton(const char* name, ClientControl ClientWindowState::*field,
                                     void (ClientRunController::*pressed)()) {
    auto* button = new QPushButton(QString::fromStdString((m_controller->State().*field).text));
    button->setObjectName(QLatin1String(name));
    connect(button, &QPushButton::clicked, this,
            [this, pressed] { (m_controller.get()->*pressed)(); });
    m_buttons.push_back({button, field});
    return button;
}

void frmClientSim::BuildControls() {
    auto* central = new QWidget;
    auto* grid = new QGridLayout(central);
    grid->addWidget(BuildConnection(), 0, 0);
    grid->addWidget(BuildNumbering(), 1, 0);
    grid->addWidget(BuildScenario(), 0, 1, 2, 1);
    grid->addWidget(BuildRunTime(), 0, 2);
    BuildCounts(grid);
    grid->addLayout(BuildButtons(), 2, 2, 1, 2);
    m_txtRecvData = new QPlainTextEdit;
    m_txtRecvData->setObjectName(QStringLiteral("txtRecvData"));
    m_txtRecvData->setReadOnly(true);
    grid->addWidget(m_txtRecvData, 3, 0, 1, 4);
    grid->setRowStretch(3, 1);
    setCentralWidget(central);
}

QGroupBox* frmClientSim::BuildConnection() {
    using S = ClientWindowState;
    using C = ClientRunController;
    QGroupBox* connection = Frame("");
    auto* form = new QFormLayout(connection);
    form->addRow(QStringLiteral("Server IP Address"),
                 AddBox("ConnIPAddr", &S::ConnIPAddr, &C::ConnIPAddr_Change));
    form->addRow(QStringLiteral("Server Port No"),
                 AddBox("ConnPortNo", &S::ConnPortNo, &C::ConnPortNo_Change));
    QLineEdit* kind = AddBox("txtClientKind", &S::txtClientKind, &C::txtClientKind_Change);
    kind->setPlaceholderText(QStringLiteral("3"));
    form->addRow(QStringLiteral("Client Kind"), kind);
    m_lblStatus = new QLabel;
    m_lblStatus->setObjectName(QStringLiteral("lblStatus"));
    form->addRow(m_lblStatus);
    return connection;
}

QGroupBox* frmClientSim::BuildNumbering() {
    using S = ClientWindowState;
    using C = ClientRunController;
    QGroupBox* numbering = Frame("");
    auto* form = new QFormLayout(numbering);
    form->addRow(QStringLiteral("Tel Size"), AddCombo("cmboTelNoSize", kListTelSize,
                                                      &S::cmboTelNoSize, &C::cmboTelNoSize_Click));
    form->addRow(QStringLiteral("Port Count"),
                 AddCombo("cmboPortCnt", kListPortCount, &S::cmboPortCnt, &C::cmboPortCnt_Click));
    m_editCallerStartTelNo =
        AddBox("editCallerStartTelNo", &S::editCallerStartTelNo, &C::editCallerStartTelNo_Change);
    m_editCalleeStartTelNo =
        AddBox("editCalleeStartTelNo", &S::editCalleeStartTelNo, &C::editCalleeStartTelNo_Change);
    for (QLineEdit* box : {m_editCallerStartTelNo, m_editCalleeStartTelNo}) {
        box->setValidator(new MaxLengthValidator(box));
        box->installEventFilter(this);
    }
    form->addRow(QStringLiteral("Caller Start"), m_editCallerStartTelNo);
    form->addRow(QStringLiteral("Callee Start"), m_editCalleeStartTelNo);
    QCheckBox* freeDial =
        AddCheck("chkFreeDial", "Free Dial", &S::chkFreeDial, &C::chkFreeDial_Click);
    form->addRow(freeDial, AddBox("txtFreeDialNo", &S::txtFreeDialNo, &C::txtFreeDialNo_Change));
    return numbering;
}

QGroupBox* frmClientSim::BuildScenario() {
    using S = ClientWindowState;
    using C = ClientRunController;
    QGroupBox* scenario = Frame("Call Scenario");
    auto* form = new QFormLayout(scenario);
    form->addRow(AddCheck("chkMakeCall", "Make Call", &S::chkMakeCall));
    form->addRow(
        AddCheck("chkConnected", "Connection State", &S::chkConnected, &C::chkConnected_Click));
    form->addRow(
        AddCheck("chkHoldCall", "Make Hold State", &S::chkHoldCall, &C::chkHoldCall_Click));
    form->addRow(AddCheck("chkDropCall", "Drop Call", &S::chkDropCall));
    const struct {
        const char* caption;
        const char* name;
        ClientList list;
        ClientControl ClientWindowState::*field;
        void (ClientRunController::*chosen)(int);
    } delays[] = {
        {"Idle Delay(S)", "cmboIdleTime", kListIdleDelay, &S::cmboIdleTime, &C::cmboIdleTime_Click},
        {"Make Delay(S)", "cmboMakeDelaytime", kListMakeDelay, &S::cmboMakeDelaytime,
         &C::cmboMakeDelaytime_Click},
        {"Conn Delay(S)", "cmboConnDelay", kListConnDelay, &S::cmboConnDelay,
         &C::cmboConnDelay_Click},
        {"Hold Delay(S)", "cmboHoldDelay", kListHoldDelay, &S::cmboHoldDelay,
         &C::cmboHoldDelay_Click},
    };
    for (const auto& delay : delays) {
        form->addRow(QLatin1String(delay.caption),
                     AddCombo(delay.name, delay.list, delay.field, delay.chosen));
    }
    return scenario;
}

QGroupBox* frmClientSim::BuildRunTime() {
    using S = ClientWindowState;
    QGroupBox* runTime = Frame("Simulation Time");
    auto* form = new QFormLayout(runTime);
    m_editTimePeriod =
        AddBox("editTimePeriod", &S::editTimePeriod, &ClientRunController::editTimePeriod_Change);
    m_editTimePeriod->installEventFilter(this);
    form->addRow(QStringLiteral("Simulaion Time (Hr)"), m_editTimePeriod);
    AddShownRows(form, {{"Start Time", "editStartTime", &S::editStartTime},
                        {"End Time", "editEndTime", &S::editEndTime},
                        {"Elapsed Time", "editElapsedTime", &S::editElapsedTime}});
    return runTime;
}

void frmClientSim::BuildCounts(QGridLayout* grid) {
    using S = ClientWindowState;
    grid->addWidget(
        ShownFrame("Call State Time Duration", {{"Idle Time", "editIdleTime", &S::editIdleTime},
                                                {"Ring Time", "editRingTime", &S::editRingTime},
                                                {"Conn Time", "editConnTime", &S::editConnTime},
                                                {"Hold Time", "editHoldTime", &S::editHoldTime}}),
        1, 2);
    grid->addWidget(
        ShownFrame("Call State Event Count",
                   {{"Hook On", "editHookOnCount", &S::editHookOnCount},
                    {"DialTone", "editDTCount", &S::editDTCount},
                    {"Ringback/Offering", "editRbOfferingCount", &S::editRbOfferingCount},
                    {"Connect", "editConnectedCount", &S::editConnectedCount},
                    {"Held / Retrieved", "editHeldCount", &S::editHeldCount},
                    {"Failed", "editFailCount", &S::editFailCount}}),
        0, 3);
    grid->addWidget(
        ShownFrame("Command Count", {{"Make Call", "editMakeCall", &S::editMakeCall},
                                     {"Answer Call", "editAnswerCall", &S::editAnswerCall},
                                     {"Hold Call", "editHoldCall", &S::editHoldCall},
                                     {"UnHold Call", "editUnHoldCall", &S::editUnHoldCall},
                                     {"Drop Call", "editDropCall", &S::editDropCall},
                                     {"Total Count", "editCmdTotalCount", &S::editCmdTotalCount}}),
        1, 3);
    grid->addWidget(
        ShownFrame("", {{"Total Sent Event Count", "DataSendCnt", &S::DataSendCnt},
                        {"Total Received Event Count", "RecvDataCnt", &S::RecvDataCnt}}),
        2, 0, 1, 2);
}

QGroupBox* frmClientSim::ShownFrame(const char* caption, std::initializer_list<ShownBox> rows) {
    QGroupBox* frame = Frame(caption);
    AddShownRows(new QFormLayout(frame), rows);
    return frame;
}

void frmClientSim::AddShownRows(QFormLayout* form, std::initializer_list<ShownBox> rows) {
    for (const ShownBox& row : rows) {
        form->addRow(QLatin1String(row.caption), AddBox(row.name, row.field));
    }
}

QHBoxLayout* frmClientSim::BuildButtons() {
    using S = ClientWindowState;
    using C = ClientRunController;
    m_start = AddButton("Start", &S::Start, &C::Start_Click);
    m_disconnect = AddButton("Disconnect", &S::Disconnect, &C::Disconnect_Click);
    m_reset = AddButton("cmdReset", &S::cmdReset, &C::cmdReset_Click);
    m_quit = AddButton("cmdQuit", &S::cmdQuit, &C::cmdQuit_Click);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {m_start, m_disconnect, m_reset, m_quit}) {
        buttons->addWidget(button);
    }
    return buttons;
}

void frmClientSim::RefreshState() {
    const ClientWindowState& state = m_controller->State();
    for (const Binding<QLineEdit>& bound : m_boxes) {
        const ClientControl& control = state.*bound.field;
        SetText(bound.widget, control.text);
        bound.widget->setEnabled(control.enabled);
        if (auto* limit = dynamic_cast<MaxLengthValidator*>(
                const_cast<QValidator*>(bound.widget->validator()))) {
            limit->SetMaxLength(control.maxLength);
        }
    }
    for (const Binding<QCheckBox>& bound : m_checks) {
        const ClientControl& control = state.*bound.field;
        bound.widget->setChecked(control.checked);
        bound.widget->setEnabled(control.enabled);
    }
    for (const Binding<QComboBox>& bound : m_combos) {
        const ClientControl& control = state.*bound.field;
        if (control.index >= 0 && control.index < bound.widget->count() &&
            bound.widget->currentIndex() != control.index) {
            bound.widget->setCurrentIndex(control.index);
        }
        bound.widget->setEnabled(control.enabled);
    }
    for (const Binding<QPushButton>& bound : m_buttons) {
        const ClientControl& control = state.*bound.field;
        bound.widget->setText(QString::fromStdString(control.text));
        bound.widget->setEnabled(control.enabled);
    }
    const QString status = QString::fromStdString(state.lblStatus.text);
    if (m_lblStatus->text() != status) {
        m_lblStatus->setText(status);
        // Headless runs have no window to look at: the connection state goes to the console.
        qInfo().noquote() << "loadrig client:" << status;
    }
    ShowLog(m_txtRecvData, m_shownLog, state.txtRecvData.text);
}

void frmClientSim::ShowMessage(const ClientMessage& message) {
    QWidget* target = message.focusControl.empty()
                          ? nullptr
                          : findChild<QWidget*>(QString::fromStdString(message.focusControl));
    QMessageBox* box = OpenMessage(QMessageBox::Information, message.title, message.text, target);
    box->setObjectName(QStringLiteral("clientMessage"));
}

void frmClientSim::StartScript(const ClientScript& script) {
    // Typed as a user would, so the boxes and the settings agree and Quit saves them.
    if (script.server) {
        m_controller->ConnIPAddr_Change(*script.server);
    }
    if (script.port) {
        m_controller->ConnPortNo_Change(std::to_string(*script.port));
    }
    if (script.clientKind) {
        m_controller->txtClientKind_Change(std::to_string(*script.clientKind));
    }
    RefreshState();
    if (script.start) {
        PressSoon(m_start);
    }
    if (script.quitAfterSeconds) {
        QuitAfter(*script.quitAfterSeconds, m_disconnect, m_quit);
    }
}
