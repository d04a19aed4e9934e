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

QGroupBox* Frame(const char* caption) {
    return new QGroupBox(QLatin1String(caption));
}

void SetText(QLineEdit* box, const std::string& text) {
    const QString value = QString::fromStdString(text);
    // Only on change, so the caret of a box being typed in stays where it is.
    if (box->text() != value) {
        box->setText(value);
    }
}

} // namespace

frmClientSim::frmClientSim(ClientRunController* controller, QWidget* parent)
    : RigWindow(parent), m_controller(controller) {
    setWindowTitle(QLatin1String(kWindowCaption));
    BuildControls();

    connect(m_controller.get(), &ClientRunController::stateChanged, this,
            &frmClientSim::RefreshState);
    connect(m_controller.get(), &ClientRunController::message, this, &frmClientSim::ShowMessage);
    connect(m_controller.get(), &ClientRunController::quitRequested, this, &QWidget::close);

    m_controller->Form_Load();
    RefreshState();
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
                                bool typed) {
    auto* box = new QLineEdit;
    box->setObjectName(QLatin1String(name));
    box->setReadOnly(!typed);
    m_boxes.push_back({box, field});
    return box;
}

QCheckBox* frmClientSim::AddCheck(const char* name, const char* caption,
                                  ClientControl ClientWindowState::*field) {
    auto* check = new QCheckBox(QLatin1String(caption));
    check->setObjectName(QLatin1String(name));
    m_checks.push_back({check, field});
    return check;
}

QComboBox* frmClientSim::AddCombo(const char* name, ClientList list,
                                  ClientControl ClientWindowState::*field) {
    auto* combo = new QComboBox;
    combo->setObjectName(QLatin1String(name));
    for (const std::string& item : ClientListItems(list)) {
        combo->addItem(QString::fromStdString(item));
    }
    m_combos.push_back({combo, field});
    return combo;
}

QPushButton* frmClientSim::AddButton(const char* name, ClientControl ClientWindowState::*field) {
    auto* button = new QPushButton(QString::fromStdString((m_controller->State().*field).text));
    button->setObjectName(QLatin1String(name));
    m_buttons.push_back({button, field});
    return button;
}

void frmClientSim::BuildControls() {
    using S = ClientWindowState;
    // The controller outlives the window's controls; the slots hold it, not the window.
    ClientRunController* const controller = m_controller.get();
    auto typed = [this, controller](QLineEdit* box,
                                    void (ClientRunController::*handler)(const std::string&)) {
        connect(box, &QLineEdit::textEdited, this, [controller, handler](const QString& text) {
            (controller->*handler)(text.toStdString());
        });
    };
    auto clicked = [this, controller](QCheckBox* check,
                                      void (ClientRunController::*handler)(bool)) {
        connect(check, &QCheckBox::clicked, this,
                [controller, handler](bool checked) { (controller->*handler)(checked); });
    };
    // Only the user's choices reach the controller; the window's own updates do not.
    auto chosen = [this, controller](QComboBox* combo, void (ClientRunController::*handler)(int)) {
        connect(combo, &QComboBox::activated, this,
                [controller, handler](int index) { (controller->*handler)(index); });
    };

    // Connection.
    QGroupBox* connection = Frame("");
    auto* connectionForm = new QFormLayout(connection);
    QLineEdit* address = AddBox("ConnIPAddr", &S::ConnIPAddr, true);
    QLineEdit* port = AddBox("ConnPortNo", &S::ConnPortNo, true);
    QLineEdit* kind = AddBox("txtClientKind", &S::txtClientKind, true);
    kind->setPlaceholderText(QStringLiteral("3"));
    typed(address, &ClientRunController::ConnIPAddr_Change);
    typed(port, &ClientRunController::ConnPortNo_Change);
    typed(kind, &ClientRunController::txtClientKind_Change);
    m_lblStatus = new QLabel;
    m_lblStatus->setObjectName(QStringLiteral("lblStatus"));
    connectionForm->addRow(QStringLiteral("Server IP Address"), address);
    connectionForm->addRow(QStringLiteral("Server Port No"), port);
    connectionForm->addRow(QStringLiteral("Client Kind"), kind);
    connectionForm->addRow(m_lblStatus);

    // Numbering.
    QGroupBox* numbering = Frame("");
    auto* numberingForm = new QFormLayout(numbering);
    QComboBox* telSize = AddCombo("cmboTelNoSize", kListTelSize, &S::cmboTelNoSize);
    QComboBox* portCount = AddCombo("cmboPortCnt", kListPortCount, &S::cmboPortCnt);
    chosen(telSize, &ClientRunController::cmboTelNoSize_Click);
    chosen(portCount, &ClientRunController::cmboPortCnt_Click);
    m_editCallerStartTelNo = AddBox("editCallerStartTelNo", &S::editCallerStartTelNo, true);
    m_editCalleeStartTelNo = AddBox("editCalleeStartTelNo", &S::editCalleeStartTelNo, true);
    for (QLineEdit* box : {m_editCallerStartTelNo, m_editCalleeStartTelNo}) {
        box->setValidator(new MaxLengthValidator(box));
        box->installEventFilter(this);
    }
    typed(m_editCallerStartTelNo, &ClientRunController::editCallerStartTelNo_Change);
    typed(m_editCalleeStartTelNo, &ClientRunController::editCalleeStartTelNo_Change);
    QCheckBox* freeDial = AddCheck("chkFreeDial", "Free Dial", &S::chkFreeDial);
    clicked(freeDial, &ClientRunController::chkFreeDial_Click);
    QLineEdit* freeDialNo = AddBox("txtFreeDialNo", &S::txtFreeDialNo, true);
    typed(freeDialNo, &ClientRunController::txtFreeDialNo_Change);
    numberingForm->addRow(QStringLiteral("Tel Size"), telSize);
    numberingForm->addRow(QStringLiteral("Port Count"), portCount);
    numberingForm->addRow(QStringLiteral("Caller Start"), m_editCallerStartTelNo);
    numberingForm->addRow(QStringLiteral("Callee Start"), m_editCalleeStartTelNo);
    numberingForm->addRow(freeDial, freeDialNo);

    // Call scenario.
    QGroupBox* scenario = Frame("Call Scenario");
    auto* scenarioForm = new QFormLayout(scenario);
    QCheckBox* makeCall = AddCheck("chkMakeCall", "Make Call", &S::chkMakeCall);
    QCheckBox* connected = AddCheck("chkConnected", "Connection State", &S::chkConnected);
    QCheckBox* holdCall = AddCheck("chkHoldCall", "Make Hold State", &S::chkHoldCall);
    QCheckBox* dropCall = AddCheck("chkDropCall", "Drop Call", &S::chkDropCall);
    clicked(connected, &ClientRunController::chkConnected_Click);
    clicked(holdCall, &ClientRunController::chkHoldCall_Click);
    QComboBox* idle = AddCombo("cmboIdleTime", kListIdleDelay, &S::cmboIdleTime);
    QComboBox* make = AddCombo("cmboMakeDelaytime", kListMakeDelay, &S::cmboMakeDelaytime);
    QComboBox* conn = AddCombo("cmboConnDelay", kListConnDelay, &S::cmboConnDelay);
    QComboBox* hold = AddCombo("cmboHoldDelay", kListHoldDelay, &S::cmboHoldDelay);
    chosen(idle, &ClientRunController::cmboIdleTime_Click);
    chosen(make, &ClientRunController::cmboMakeDelaytime_Click);
    chosen(conn, &ClientRunController::cmboConnDelay_Click);
    chosen(hold, &ClientRunController::cmboHoldDelay_Click);
    scenarioForm->addRow(makeCall);
    scenarioForm->addRow(connected);
    scenarioForm->addRow(holdCall);
    scenarioForm->addRow(dropCall);
    scenarioForm->addRow(QStringLiteral("Idle Delay(S)"), idle);
    scenarioForm->addRow(QStringLiteral("Make Delay(S)"), make);
    scenarioForm->addRow(QStringLiteral("Conn Delay(S)"), conn);
    scenarioForm->addRow(QStringLiteral("Hold Delay(S)"), hold);

    // Run time.
    QGroupBox* runTime = Frame("Simulation Time");
    auto* runTimeForm = new QFormLayout(runTime);
    m_editTimePeriod = AddBox("editTimePeriod", &S::editTimePeriod, true);
    m_editTimePeriod->installEventFilter(this);
    typed(m_editTimePeriod, &ClientRunController::editTimePeriod_Change);
    runTimeForm->addRow(QStringLiteral("Simulaion Time (Hr)"), m_editTimePeriod);
    runTimeForm->addRow(QStringLiteral("Start Time"),
                        AddBox("editStartTime", &S::editStartTime, false));
    runTimeForm->addRow(QStringLiteral("End Time"), AddBox("editEndTime", &S::editEndTime, false));
    runTimeForm->addRow(QStringLiteral("Elapsed Time"),
                        AddBox("editElapsedTime", &S::editElapsedTime, false));

    // Countdowns.
    QGroupBox* countdowns = Frame("Call State Time Duration");
    auto* countdownForm = new QFormLayout(countdowns);
    countdownForm->addRow(QStringLiteral("Idle Time"),
                          AddBox("editIdleTime", &S::editIdleTime, false));
    countdownForm->addRow(QStringLiteral("Ring Time"),
                          AddBox("editRingTime", &S::editRingTime, false));
    countdownForm->addRow(QStringLiteral("Conn Time"),
                          AddBox("editConnTime", &S::editConnTime, false));
    countdownForm->addRow(QStringLiteral("Hold Time"),
                          AddBox("editHoldTime", &S::editHoldTime, false));

    // Event counts.
    QGroupBox* events = Frame("Call State Event Count");
    auto* eventForm = new QFormLayout(events);
    eventForm->addRow(QStringLiteral("Hook On"),
                      AddBox("editHookOnCount", &S::editHookOnCount, false));
    eventForm->addRow(QStringLiteral("DialTone"), AddBox("editDTCount", &S::editDTCount, false));
    eventForm->addRow(QStringLiteral("Ringback/Offering"),
                      AddBox("editRbOfferingCount", &S::editRbOfferingCount, false));
    eventForm->addRow(QStringLiteral("Connect"),
                      AddBox("editConnectedCount", &S::editConnectedCount, false));
    eventForm->addRow(QStringLiteral("Held / Retrieved"),
                      AddBox("editHeldCount", &S::editHeldCount, false));
    eventForm->addRow(QStringLiteral("Failed"), AddBox("editFailCount", &S::editFailCount, false));

    // Command counts.
    QGroupBox* commands = Frame("Command Count");
    auto* commandForm = new QFormLayout(commands);
    commandForm->addRow(QStringLiteral("Make Call"),
                        AddBox("editMakeCall", &S::editMakeCall, false));
    commandForm->addRow(QStringLiteral("Answer Call"),
                        AddBox("editAnswerCall", &S::editAnswerCall, false));
    commandForm->addRow(QStringLiteral("Hold Call"),
                        AddBox("editHoldCall", &S::editHoldCall, false));
    commandForm->addRow(QStringLiteral("UnHold Call"),
                        AddBox("editUnHoldCall", &S::editUnHoldCall, false));
    commandForm->addRow(QStringLiteral("Drop Call"),
                        AddBox("editDropCall", &S::editDropCall, false));
    commandForm->addRow(QStringLiteral("Total Count"),
                        AddBox("editCmdTotalCount", &S::editCmdTotalCount, false));

    // Totals, log and buttons.
    QGroupBox* totals = Frame("");
    auto* totalForm = new QFormLayout(totals);
    totalForm->addRow(QStringLiteral("Total Sent Event Count"),
                      AddBox("DataSendCnt", &S::DataSendCnt, false));
    totalForm->addRow(QStringLiteral("Total Received Event Count"),
                      AddBox("RecvDataCnt", &S::RecvDataCnt, false));
    m_txtRecvData = new QPlainTextEdit;
    m_txtRecvData->setObjectName(QStringLiteral("txtRecvData"));
    m_txtRecvData->setReadOnly(true);

    auto* buttons = new QHBoxLayout;
    m_start = AddButton("Start", &S::Start);
    m_disconnect = AddButton("Disconnect", &S::Disconnect);
    m_reset = AddButton("cmdReset", &S::cmdReset);
    m_quit = AddButton("cmdQuit", &S::cmdQuit);
    for (QPushButton* button : {m_start, m_disconnect, m_reset, m_quit}) {
        buttons->addWidget(button);
    }
    connect(m_start, &QPushButton::clicked, this, [this] { m_controller->Start_Click(); });
    connect(m_disconnect, &QPushButton::clicked, this,
            [this] { m_controller->Disconnect_Click(); });
    connect(m_reset, &QPushButton::clicked, this, [this] { m_controller->cmdReset_Click(); });
    connect(m_quit, &QPushButton::clicked, this, [this] { m_controller->cmdQuit_Click(); });

    auto* central = new QWidget;
    auto* grid = new QGridLayout(central);
    grid->addWidget(connection, 0, 0);
    grid->addWidget(numbering, 1, 0);
    grid->addWidget(scenario, 0, 1, 2, 1);
    grid->addWidget(runTime, 0, 2);
    grid->addWidget(countdowns, 1, 2);
    grid->addWidget(events, 0, 3);
    grid->addWidget(commands, 1, 3);
    grid->addWidget(totals, 2, 0, 1, 2);
    grid->addLayout(buttons, 2, 2, 1, 2);
    grid->addWidget(m_txtRecvData, 3, 0, 1, 4);
    grid->setRowStretch(3, 1);
    setCentralWidget(central);
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
