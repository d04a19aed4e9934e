#include "frmSWSim.h"

#include "SwitchSimSettingsStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

namespace {

constexpr const char* kWindowCaption = "Load Rig Ver 1.0 for QMX Series - Switch Call Generator";

// Object names of the lists, by stored word.
constexpr std::array<const char*, kWordOprInbndCount> kListNames = {
    "cmboTelNoSize",  "cmboStnCnt",   "cmboStnGrpCnt", "cmboStnMemCnt", "cmboTrkCnt",
    "cmboAnswerMode", "cmboCallMode", "cmboCallCount", "cmboCLIMode",   "cmboCallStepMode",
    "cmboRingTime",   "cmboAnsTime",  "cmboHoldTime",  "cmboIdleTime",
};

QLineEdit* Box(const char* name, bool readOnly) {
    auto* box = new QLineEdit;
    box->setObjectName(QLatin1String(name));
    box->setReadOnly(readOnly);
    return box;
}

QPushButton* Button(const char* name, const char* caption) {
    auto* button = new QPushButton(QLatin1String(caption));
    button->setObjectName(QLatin1String(name));
    return button;
}

QCheckBox* CheckBox(const char* name, const char* caption) {
    auto* box = new QCheckBox(QLatin1String(caption));
    box->setObjectName(QLatin1String(name));
    return box;
}

QString WholeNumber(double value) {
    return QString::number(value, 'f', 0);
}

} // namespace

frmSWSim::frmSWSim(SimRunController* controller, QWidget* parent)
    : RigWindow(parent), m_controller(controller) {
    BuildControls();
    connect(m_controller.get(), &SimRunController::traceChanged, this, &frmSWSim::RefreshCounters);
    connect(m_controller.get(), &SimRunController::logLine, this,
            [](const QString& line) { qInfo().noquote() << line; });
    Open(kWindowCaption, m_controller.get(), &frmSWSim::RefreshState, &frmSWSim::ShowMessage);
    RefreshCounters();
}

frmSWSim::~frmSWSim() {
    m_controller->disconnect(this);
}

void frmSWSim::BuildControls() {
    BuildLists();
    auto* central = new QWidget;
    auto* grid = new QGridLayout(central);
    grid->addWidget(ListFrame("Switch Configuration", kWordTelNoSize, kWordTrkCount), 0, 0);
    grid->addWidget(BuildScenario(), 1, 0, 2, 1);
    grid->addWidget(
        BoxFrame("Simulation Time Configuration",
                 {{"Simulation Time (Hr)", "editSimTime", &frmSWSim::m_editSimTime, false},
                  {"Start Time", "editStartTime", &frmSWSim::m_editStartTime},
                  {"End Time", "editEndTime", &frmSWSim::m_editEndTime},
                  {"Elapsed Time", "editElapsedTime", &frmSWSim::m_editElapsedTime}}),
        0, 1);
    connect(m_editSimTime, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_controller->editSimTime_Change(text.toStdString()); });
    grid->addWidget(BoxFrame("Call State Time Duration",
                             {{"Idle Time", "editIdleCallTime", &frmSWSim::m_editIdleCallTime},
                              {"Ring Time", "editRingCallTime", &frmSWSim::m_editRingCallTime},
                              {"Conn Time", "editConnCallTime", &frmSWSim::m_editConnCallTime},
                              {"Hold Time", "editHoldCallTime", &frmSWSim::m_editHoldCallTime}}),
                    1, 1);
    grid->addWidget(BuildActions(), 2, 1);
    BuildCounts(grid);
    grid->addWidget(BuildTrace(), 3, 0, 1, 3);
    grid->setRowStretch(3, 1);
    setCentralWidget(central);
    BuildStatusBar();
}

void frmSWSim::BuildLists() {
    const auto& lists = SwitchSettingLists();
    for (int word = 0; word < kWordOprInbndCount; ++word) {
        auto* list = new QComboBox;
        list->setObjectName(QLatin1String(kListNames[static_cast<std::size_t>(word)]));
        for (const std::string& item : lists[static_cast<std::size_t>(word)].items) {
            list->addItem(QString::fromStdString(item));
        }
        // Only the user's choices reach the controller; the window's own updates do not.
        connect(list, &QComboBox::activated, this, [this, word](int position) {
            m_controller->cmboList_Click(static_cast<SimStoredWord>(word), position);
        });
        m_lists[static_cast<std::size_t>(word)] = list;
    }
}

QGroupBox* frmSWSim::ListFrame(const char* caption, int firstWord, int lastWord) {
    const auto& lists = SwitchSettingLists();
    QGroupBox* frame = Frame(caption);
    auto* form = new QFormLayout(frame);
    for (int word = firstWord; word <= lastWord; ++word) {
        form->addRow(QLatin1String(lists[static_cast<std::size_t>(word)].caption),
                     m_lists[static_cast<std::size_t>(word)]);
    }
    return frame;
}

QGroupBox* frmSWSim::BuildScenario() {
    QGroupBox* frame = ListFrame("Simulation Scenario", kWordSimMode, kWordIdleTime);
    auto* form = static_cast<QFormLayout*>(frame->layout());
    const struct {
        const char* name;
        const char* caption;
        QCheckBox* frmSWSim::*check;
        void (SimRunController::*clicked)(bool);
    } checks[] = {
        {"chkPrint", "Show Msg", &frmSWSim::m_chkPrint, &SimRunController::chkPrint_Click},
        {"chkUseOprMode", "Use Operator Mode", &frmSWSim::m_chkUseOprMode,
         &SimRunController::chkUseOprMode_Click},
        {"chkCallGen", "Call Generation", &frmSWSim::m_chkCallGen,
         &SimRunController::chkCallGen_Click},
    };
    for (const auto& row : checks) {
        QCheckBox* check = CheckBox(row.name, row.caption);
        this->*row.check = check;
        form->addRow(check);
        connect(check, &QCheckBox::clicked, this, [this, clicked = row.clicked](bool checked) {
            (m_controller.get()->*clicked)(checked);
        });
    }
    return frame;
}

QGroupBox* frmSWSim::BoxFrame(const char* caption, std::initializer_list<BoxRow> rows) {
    QGroupBox* frame = Frame(caption);
    auto* form = new QFormLayout(frame);
    for (const BoxRow& row : rows) {
        QLineEdit* box = Box(row.name, row.readOnly);
        this->*row.box = box;
        form->addRow(QLatin1String(row.caption), box);
    }
    return frame;
}

QGroupBox* frmSWSim::BuildActions() {
    QGroupBox* frame = Frame("Action List");
    auto* actions = new QVBoxLayout(frame);
    const struct {
        const char* name;
        const char* caption;
        QPushButton* frmSWSim::*button;
        void (SimRunController::*pressed)();
    } buttons[] = {
        {"cmdCallSim", "Call Run", &frmSWSim::m_cmdCallSim, &SimRunController::cmdCallSim_Click},
        {"cmdRun", "SW Run", &frmSWSim::m_cmdRun, &SimRunController::cmdRun_Click},
        {"cmdStop", "Stop", &frmSWSim::m_cmdStop, &SimRunController::cmdStop_Click},
        {"cmdReset", "Reset", &frmSWSim::m_cmdReset, &SimRunController::cmdReset_Click},
        {"cmdQuit", "Quit", &frmSWSim::m_cmdQuit, &SimRunController::cmdQuit_Click},
    };
    for (const auto& row : buttons) {
        QPushButton* button = Button(row.name, row.caption);
        this->*row.button = button;
        actions->addWidget(button);
        connect(button, &QPushButton::clicked, this,
                [this, pressed = row.pressed] { (m_controller.get()->*pressed)(); });
    }
    return frame;
}

void frmSWSim::BuildCounts(QGridLayout* grid) {
    grid->addWidget(
        BoxFrame("Call Event Count", {{"Offering", "editInbndCount", &frmSWSim::m_editInbndCount},
                                      {"Ans State", "editAnsCount", &frmSWSim::m_editAnsCount},
                                      {"DT State", "editDTCount", &frmSWSim::m_editDTCount},
                                      {"Hold State", "editHoldCount", &frmSWSim::m_editHoldCount},
                                      {"Busy State", "editBusyCount", &frmSWSim::m_editBusyCount}}),
        0, 2);
    grid->addWidget(
        BoxFrame("Total Event Count",
                 {{"Total Receive", "editTotalReceiveCount", &frmSWSim::m_editTotalReceiveCount},
                  {"Total Sent", "editTotalSentCount", &frmSWSim::m_editTotalSentCount}}),
        1, 2);
}

QGroupBox* frmSWSim::BuildTrace() {
    QGroupBox* frame = Frame("Message Trace Window");
    auto* layout = new QVBoxLayout(frame);
    m_editTraceBox = new QPlainTextEdit;
    m_editTraceBox->setObjectName(QStringLiteral("editTraceBox"));
    m_editTraceBox->setReadOnly(true);
    layout->addWidget(m_editTraceBox);
    return frame;
}

void frmSWSim::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("SWCallSimStatusBar"));
    for (std::size_t i = 0; i < m_panels.size(); ++i) {
        m_panels[i] = new QLabel;
        m_panels[i]->setObjectName(QStringLiteral("panel%1").arg(i + 1));
        bar->addWidget(m_panels[i], i == 3 ? 1 : 0);
    }
}

void frmSWSim::RefreshState() {
    const SimWindowState& state = m_controller->State();
    const SwitchSimSettings& settings = m_controller->Settings();

    for (int word = 0; word < kWordOprInbndCount; ++word) {
        QComboBox* list = m_lists[static_cast<std::size_t>(word)];
        const int position = settings.stored[static_cast<std::size_t>(word)];
        if (position >= 0 && position < list->count() && list->currentIndex() != position) {
            list->setCurrentIndex(position);
        }
        const bool switchSize = word <= kWordTrkCount;
        list->setEnabled(switchSize ? state.switchSizeEnabled : state.scenarioEnabled);
    }

    m_chkPrint->setChecked(state.printChecked);
    m_chkUseOprMode->setChecked(state.oprModeChecked);
    m_chkUseOprMode->setEnabled(state.oprModeEnabled);
    m_chkCallGen->setChecked(state.callGenChecked);
    m_chkCallGen->setEnabled(state.callGenEnabled);

    SetText(m_editSimTime, state.simTime);
    m_editSimTime->setEnabled(state.simTimeEnabled);
    SetText(m_editStartTime, state.startTime);
    SetText(m_editEndTime, state.endTime);
    SetText(m_editElapsedTime, state.elapsedTime);

    m_cmdCallSim->setText(QString::fromStdString(state.callSimCaption));
    m_cmdCallSim->setEnabled(state.callSimEnabled);
    m_cmdRun->setEnabled(state.runEnabled);
    m_cmdStop->setEnabled(state.stopEnabled);
    m_cmdReset->setEnabled(state.resetEnabled);
    m_cmdQuit->setEnabled(state.quitEnabled);

    SetText(m_editIdleCallTime, state.idleCallTime);
    SetText(m_editRingCallTime, state.ringCallTime);
    SetText(m_editConnCallTime, state.connCallTime);
    SetText(m_editHoldCallTime, state.holdCallTime);

    for (std::size_t i = 0; i < m_panels.size(); ++i) {
        m_panels[i]->setText(QString::fromStdString(state.panels[i]));
    }
}

void frmSWSim::RefreshCounters() {
    const SimTrace& trace = m_controller->Trace();
    m_editInbndCount->setText(WholeNumber(trace.sent.offering));
    m_editAnsCount->setText(WholeNumber(trace.sent.answer));
    m_editDTCount->setText(WholeNumber(trace.sent.dialTone));
    m_editHoldCount->setText(WholeNumber(trace.sent.held));
    // No frame of the simulated switch counts as busy.
    m_editBusyCount->setText(QStringLiteral("0"));
    m_editTotalReceiveCount->setText(WholeNumber(trace.totalReceived));
    m_editTotalSentCount->setText(WholeNumber(trace.totalSent));

    ShowLog(m_editTraceBox, m_shownTrace, trace.Text());
}

void frmSWSim::ShowMessage(const SimMessage& message) {
    OpenMessage(message.critical ? QMessageBox::Critical : QMessageBox::Information, message.title,
                message.text, message.focusSimTime ? m_editSimTime : nullptr);
}

void frmSWSim::StartScript(const SwitchScript& script) {
    if (script.callRun) {
        // Call Run becomes possible once the link server has asked for the device list.
        connect(m_controller.get(), &SimRunController::stateChanged, this, [this] {
            if (!m_callRunPressed && m_controller->State().callSimEnabled) {
                m_callRunPressed = true;
                PressSoon(m_cmdCallSim);
            }
        });
    }
    if (script.run) {
        PressSoon(m_cmdRun);
    }
    if (script.quitAfterSeconds) {
        QuitAfter(*script.quitAfterSeconds, m_cmdStop, m_cmdQuit);
    }
}
