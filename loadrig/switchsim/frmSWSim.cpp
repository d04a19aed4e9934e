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

QString WholeNumber(double value) {
    return QString::number(value, 'f', 0);
}

} // namespace

frmSWSim::frmSWSim(SimRunController* controller, QWidget* parent)
    : RigWindow(parent), m_controller(controller) {
    setWindowTitle(QLatin1String(kWindowCaption));
    BuildControls();

    connect(m_controller.get(), &SimRunController::stateChanged, this, &frmSWSim::RefreshState);
    connect(m_controller.get(), &SimRunController::traceChanged, this, &frmSWSim::RefreshCounters);
    connect(m_controller.get(), &SimRunController::message, this, &frmSWSim::ShowMessage);
    connect(m_controller.get(), &SimRunController::logLine, this,
            [](const QString& line) { qInfo().noquote() << line; });
    connect(m_controller.get(), &SimRunController::quitRequested, this, &QWidget::close);

    m_controller->Form_Load();
    RefreshState();
    RefreshCounters();
}

frmSWSim::~frmSWSim() {
    m_controller->disconnect(this);
}

void frmSWSim::BuildControls() {
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
    auto addList = [&](QFormLayout* form, int word) {
        form->addRow(QLatin1String(lists[static_cast<std::size_t>(word)].caption),
                     m_lists[static_cast<std::size_t>(word)]);
    };

    QGroupBox* switchFrame = Frame("Switch Configuration");
    auto* switchForm = new QFormLayout(switchFrame);
    for (int word = kWordTelNoSize; word <= kWordTrkCount; ++word) {
        addList(switchForm, word);
    }

    QGroupBox* scenarioFrame = Frame("Simulation Scenario");
    auto* scenarioForm = new QFormLayout(scenarioFrame);
    for (int word = kWordSimMode; word <= kWordIdleTime; ++word) {
        addList(scenarioForm, word);
    }
    m_chkPrint = CheckBox("chkPrint", "Show Msg");
    m_chkUseOprMode = CheckBox("chkUseOprMode", "Use Operator Mode");
    m_chkCallGen = CheckBox("chkCallGen", "Call Generation");
    scenarioForm->addRow(m_chkPrint);
    scenarioForm->addRow(m_chkUseOprMode);
    scenarioForm->addRow(m_chkCallGen);
    connect(m_chkPrint, &QCheckBox::clicked, this,
            [this](bool checked) { m_controller->chkPrint_Click(checked); });
    connect(m_chkUseOprMode, &QCheckBox::clicked, this,
            [this](bool checked) { m_controller->chkUseOprMode_Click(checked); });
    connect(m_chkCallGen, &QCheckBox::clicked, this,
            [this](bool checked) { m_controller->chkCallGen_Click(checked); });

    QGroupBox* timeFrame = Frame("Simulation Time Configuration");
    auto* timeForm = new QFormLayout(timeFrame);
    m_editSimTime = Box("editSimTime", false);
    m_editStartTime = Box("editStartTime", true);
    m_editEndTime = Box("editEndTime", true);
    m_editElapsedTime = Box("editElapsedTime", true);
    timeForm->addRow(QStringLiteral("Simulation Time (Hr)"), m_editSimTime);
    timeForm->addRow(QStringLiteral("Start Time"), m_editStartTime);
    timeForm->addRow(QStringLiteral("End Time"), m_editEndTime);
    timeForm->addRow(QStringLiteral("Elapsed Time"), m_editElapsedTime);
    connect(m_editSimTime, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_controller->editSimTime_Change(text.toStdString()); });

    QGroupBox* actionFrame = Frame("Action List");
    auto* actions = new QVBoxLayout(actionFrame);
    m_cmdCallSim = Button("cmdCallSim", "Call Run");
    m_cmdRun = Button("cmdRun", "SW Run");
    m_cmdStop = Button("cmdStop", "Stop");
    m_cmdReset = Button("cmdReset", "Reset");
    m_cmdQuit = Button("cmdQuit", "Quit");
    for (QPushButton* button : {m_cmdCallSim, m_cmdRun, m_cmdStop, m_cmdReset, m_cmdQuit}) {
        actions->addWidget(button);
    }
    connect(m_cmdCallSim, &QPushButton::clicked, this,
            [this] { m_controller->cmdCallSim_Click(); });
    connect(m_cmdRun, &QPushButton::clicked, this, [this] { m_controller->cmdRun_Click(); });
    connect(m_cmdStop, &QPushButton::clicked, this, [this] { m_controller->cmdStop_Click(); });
    connect(m_cmdReset, &QPushButton::clicked, this, [this] { m_controller->cmdReset_Click(); });
    connect(m_cmdQuit, &QPushButton::clicked, this, [this] { m_controller->cmdQuit_Click(); });

    QGroupBox* durationFrame = Frame("Call State Time Duration");
    auto* durationForm = new QFormLayout(durationFrame);
    m_editIdleCallTime = Box("editIdleCallTime", true);
    m_editRingCallTime = Box("editRingCallTime", true);
    m_editConnCallTime = Box("editConnCallTime", true);
    m_editHoldCallTime = Box("editHoldCallTime", true);
    durationForm->addRow(QStringLiteral("Idle Time"), m_editIdleCallTime);
    durationForm->addRow(QStringLiteral("Ring Time"), m_editRingCallTime);
    durationForm->addRow(QStringLiteral("Conn Time"), m_editConnCallTime);
    durationForm->addRow(QStringLiteral("Hold Time"), m_editHoldCallTime);

    QGroupBox* eventFrame = Frame("Call Event Count");
    auto* eventForm = new QFormLayout(eventFrame);
    m_editInbndCount = Box("editInbndCount", true);
    m_editAnsCount = Box("editAnsCount", true);
    m_editDTCount = Box("editDTCount", true);
    m_editHoldCount = Box("editHoldCount", true);
    m_editBusyCount = Box("editBusyCount", true);
    eventForm->addRow(QStringLiteral("Offering"), m_editInbndCount);
    eventForm->addRow(QStringLiteral("Ans State"), m_editAnsCount);
    eventForm->addRow(QStringLiteral("DT State"), m_editDTCount);
    eventForm->addRow(QStringLiteral("Hold State"), m_editHoldCount);
    eventForm->addRow(QStringLiteral("Busy State"), m_editBusyCount);

    QGroupBox* totalFrame = Frame("Total Event Count");
    auto* totalForm = new QFormLayout(totalFrame);
    m_editTotalReceiveCount = Box("editTotalReceiveCount", true);
    m_editTotalSentCount = Box("editTotalSentCount", true);
    totalForm->addRow(QStringLiteral("Total Receive"), m_editTotalReceiveCount);
    totalForm->addRow(QStringLiteral("Total Sent"), m_editTotalSentCount);

    QGroupBox* traceFrame = Frame("Message Trace Window");
    auto* traceLayout = new QVBoxLayout(traceFrame);
    m_editTraceBox = new QPlainTextEdit;
    m_editTraceBox->setObjectName(QStringLiteral("editTraceBox"));
    m_editTraceBox->setReadOnly(true);
    traceLayout->addWidget(m_editTraceBox);

    auto* central = new QWidget;
    auto* grid = new QGridLayout(central);
    grid->addWidget(switchFrame, 0, 0);
    grid->addWidget(scenarioFrame, 1, 0, 2, 1);
    grid->addWidget(timeFrame, 0, 1);
    grid->addWidget(durationFrame, 1, 1);
    grid->addWidget(actionFrame, 2, 1);
    grid->addWidget(eventFrame, 0, 2);
    grid->addWidget(totalFrame, 1, 2);
    grid->addWidget(traceFrame, 3, 0, 1, 3);
    grid->setRowStretch(3, 1);
    setCentralWidget(central);

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
