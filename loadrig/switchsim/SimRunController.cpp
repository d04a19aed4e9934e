#include "SimRunController.h"

#include "SimScenarioLimits.h"
#include "SwitchSimSettingsStore.h"

#include <QLocale>

#include <algorithm>
#include <cstdio>

namespace {

constexpr const char* kMinimumSimTimeText = "Simulation Time muse be 1 hour as the minimum value.";
constexpr const char* kMaximumSimTimeText = "Simulation Time muse be less than 720.";
constexpr int kMinSimHours = 1;
constexpr int kMaxSimHours = 720;
constexpr const char* kClockZero = "00 : 00 : 00";
constexpr const char* kCallRunCaption = "Call Run";
constexpr const char* kCallStopCaption = "Call Stop";

enum DurationBox { kNoBox = -1, kIdleBox = 0, kRingBox = 1, kConnBox = 2, kHoldBox = 3 };

} // namespace

SimRunController::SimRunController(QObject* parent)
    : QObject(parent), m_now([] { return QDateTime::currentDateTime(); }) {
    m_link = new SimLink(m_settings, m_database, m_trace, this);
    m_generator =
        std::make_unique<SimCallGenerator>(m_database, m_link->Frames(), m_trace, m_settings);
    m_actions = m_generator.get();
    m_state.panels = {AddressPanelText(m_settings), m_link->RunStatusText(),
                      m_link->LinkStatusText(), CallStepPanelText(0)};

    connect(m_link, &SimLink::runStatusChanged, this, [this](const QString& text) {
        m_state.panels[1] = text.toStdString();
        Changed();
    });
    connect(m_link, &SimLink::linkStatusChanged, this, [this](const QString& text) {
        m_state.panels[2] = text.toStdString();
        Changed();
    });
    connect(m_link, &SimLink::callSimEnabled, this, &SimRunController::SetCallSimEnabled);
    connect(m_link, &SimLink::countsChanged, this, [this] { emit traceChanged(); });
    connect(m_link, &SimLink::notice, this,
            [this](const QString& text) { Show(text.toStdString(), kSwitchSimTitle); });
    connect(m_link, &SimLink::listenFailed, this, &SimRunController::OnListenFailed);

    m_trace.changed = [this] { emit traceChanged(); };
    m_trace.SetLogSink(
        [this](const std::string& line) { emit logLine(QString::fromStdString(line)); });

    connect(&m_callTimer, &QTimer::timeout, this, &SimRunController::CallTimer_Timer);
    connect(&m_simTimeTimer, &QTimer::timeout, this, &SimRunController::SimTimeTimer_Timer);
}

SimRunController::~SimRunController() {
    m_callTimer.stop();
    m_simTimeTimer.stop();
    // The link refers to the tables and the trace below: it goes first.
    // The generator sends through the link's frames: it goes before the link.
    m_actions = nullptr;
    m_generator.reset();
    delete m_link;
    m_link = nullptr;
    m_trace.changed = nullptr;
    m_trace.SetLogSink(nullptr);
}

void SimRunController::SetListenPortOverride(std::optional<std::uint16_t> port) {
    m_listenPortOverride = port;
    if (port) {
        m_settings.listenPort = *port;
        m_state.panels[0] = AddressPanelText(m_settings);
        Changed();
    }
}

void SimRunController::SetSecondLength(int milliseconds) {
    m_secondMs = std::max(1, milliseconds);
}

void SimRunController::SetClock(std::function<QDateTime()> now) {
    if (now) {
        m_now = std::move(now);
    }
}

std::string SimRunController::ElapsedText(double seconds) {
    const long long total = seconds > 0 ? static_cast<long long>(seconds) : 0;
    char text[64];
    std::snprintf(text, sizeof text, "%02lld : %02lld : %02lld", total / 3600, total % 3600 / 60,
                  total % 60);
    return text;
}

int SimRunController::DurationBoxOfPhase(int phase) {
    switch (phase) {
    case 0:
        return kIdleBox;
    case 1:
    case 6:
    case 8:
        return kRingBox;
    case 2:
    case 5:
    case 7:
        return kConnBox;
    case 4:
        return kHoldBox;
    default:
        return kNoBox;
    }
}

// ---- load, quit ------------------------------------------------------------------------------

void SimRunController::Form_Load() {
    DisableSwitchTimers();
    InitSwitchDefaults(m_settings, &m_trace);
    const SwitchSettingsStoreResult loaded = LoadSwitchSettings(m_settings);
    if (loaded.keyCreated) {
        Show(KeyCreatedMessage(), kKeyCreatedTitle);
    }
    if (!loaded.ok) {
        // The log reaches standard error, so a run without a screen learns it at start too.
        m_trace.AddLogLine(
            "[Error Report] The settings could not be read; the defaults are used: " +
            SettingsStoreFault());
        Show(RegistryFaultMessage(), kSwitchSimTitle, true);
    }
    if (m_listenPortOverride) {
        m_settings.listenPort = *m_listenPortOverride;
    }
    FillSettingCombos();
    m_state.stopEnabled = false;
    m_state.callSimEnabled = false;
    m_state.callSimCaption = kCallRunCaption;
    Changed();
    emit traceChanged();
}

void SimRunController::FillSettingCombos() {
    // Choosing each stored item runs its handler, as a click would: a hand-edited TelNo Size of 3
    // with 512 stations is corrected here.
    for (int word = kWordTelNoSize; word < kWordOprInbndCount; ++word) {
        cmboList_Click(static_cast<SimStoredWord>(word),
                       m_settings.stored[static_cast<std::size_t>(word)]);
    }
    m_state.panels = {AddressPanelText(m_settings), m_link->RunStatusText(),
                      m_link->LinkStatusText(),
                      CallStepPanelText(m_settings.stored[kWordCallStepMode])};
    m_state.simTime = ShortestDecimal(m_settings.simTimeHours);
    chkUseOprMode_Click(m_settings.oprMode != 0);
    chkCallGen_Click(m_settings.callGeneration != 0);
    chkPrint_Click(m_settings.trace != 0);
}

void SimRunController::cmdQuit_Click() {
    if (!m_state.quitEnabled) {
        return;
    }
    StopListening();
    const SwitchSettingsStoreResult saved = SaveSwitchSettings(m_settings);
    if (saved.keyCreated) {
        Show(KeyCreatedMessage(), kKeyCreatedTitle);
    }
    if (!saved.ok) {
        m_trace.AddLogLine("[Error Report] The settings could not be saved: " +
                           SettingsStoreFault());
    }
    emit quitRequested();
}

// ---- Run, Stop -------------------------------------------------------------------------------

void SimRunController::cmdRun_Click() {
    if (!m_state.runEnabled) {
        return;
    }
    // Empty or non-numeric text reads as 0 and so takes the minimum.
    int hours = LeadingWholeNumber(m_state.simTime);
    if (hours < kMinSimHours) {
        Show(kMinimumSimTimeText, kSwitchSimTitle);
        hours = kMinSimHours;
    } else if (hours > kMaxSimHours) {
        Show(kMaximumSimTimeText, kSwitchSimTitle);
        hours = kMaxSimHours;
    }
    m_state.simTime = std::to_string(hours);
    m_settings.simTimeHours = hours;

    ReadSwitchSettingsFromControls();
    LockSettingsForRun();
    m_database.BuildSwitchDatabase(m_settings);
    if (m_listenPortOverride) {
        m_settings.listenPort = *m_listenPortOverride;
    }
    // A failed listen has already been reported and stopped: the run must not look active.
    if (!StartListening()) {
        Changed();
        return;
    }
    m_settings.running = -1;
    Changed();
}

void SimRunController::cmdStop_Click() {
    if (!m_state.stopEnabled) {
        return;
    }
    Stop();
}

void SimRunController::Stop() {
    DisableSwitchCallTimer();
    StopListening();
    UnlockSettings();
    m_database.ResetDeviceCalls();
    m_settings.running = 0;
    Changed();
}

bool SimRunController::StartListening() {
    return m_link->StartListening();
}

void SimRunController::StopListening() {
    m_link->StopListening();
}

void SimRunController::OnListenFailed(const QString& text) {
    Show(text.toStdString(), kSwitchSimTitle, true);
    Stop();
}

void SimRunController::LockSettingsForRun() {
    m_state.simTimeEnabled = false;
    m_state.runEnabled = false;
    m_state.resetEnabled = false;
    m_state.quitEnabled = false;
    m_state.stopEnabled = true;
    m_state.switchSizeEnabled = false;
}

void SimRunController::UnlockSettings() {
    m_state.simTimeEnabled = true;
    m_state.runEnabled = true;
    m_state.resetEnabled = true;
    m_state.quitEnabled = true;
    m_state.stopEnabled = false;
    m_state.callSimEnabled = false;
    m_state.callSimCaption = kCallRunCaption;
    m_state.switchSizeEnabled = true;
}

void SimRunController::ReadSwitchSettingsFromControls() {
    // The box decides, not the last computed value: Internal mode cleared it at an earlier run.
    m_settings.oprMode = m_state.oprModeChecked ? 1 : 0;
    ReadSwitchSettings(m_settings);
    m_state.oprModeEnabled = m_settings.callMode == 0;
}

// ---- call simulation -------------------------------------------------------------------------

void SimRunController::SetCallSimEnabled(bool enabled) {
    if (m_state.callSimEnabled != enabled) {
        m_state.callSimEnabled = enabled;
        Changed();
    }
}

void SimRunController::cmdCallSim_Click() {
    if (!m_state.callSimEnabled) {
        return;
    }
    ToggleCallSim();
}

void SimRunController::ToggleCallSim() {
    if (m_settings.callSimRunning == 0) {
        // A scenario whose lines would not fit the device table does not start.
        ReadSwitchSettingsFromControls();
        const std::string refusal = CheckCallScenarioFits(m_settings);
        if (!refusal.empty()) {
            Show(refusal, kSwitchSimTitle, true);
            Changed();
            return;
        }
        StartSimulationClock();
        m_settings.callSimRunning = -1;
        m_state.callSimCaption = kCallStopCaption;
        SetScenarioControlsEnabled(false);
        EnableSwitchCallTimer();
    } else {
        SetScenarioControlsEnabled(true);
        DisableSimTimeTimer();
        m_settings.callSimRunning = 0;
        m_state.callSimCaption = kCallRunCaption;
        DisableSwitchCallTimer();
        if (m_settings.answerMode == 0 && m_settings.callStep.displayPhase != 0 && m_actions) {
            m_actions->SimDropCall(m_settings.callStep.firstTime);
        }
    }
    Changed();
}

void SimRunController::SetScenarioControlsEnabled(bool enabled) {
    m_state.scenarioEnabled = enabled;
    m_state.oprModeEnabled = enabled;
}

void SimRunController::StartSimulationClock() {
    const int hours = LeadingWholeNumber(m_state.simTime);
    m_settings.simTimeHours = hours;
    m_start = m_now();
    m_end = m_start.addSecs(static_cast<qint64>(hours) * 3600);
    m_state.startTime = FormatDateTime(m_start);
    m_state.endTime = FormatDateTime(m_end);
    m_settings.elapsedSeconds = 0;
    m_simTimeTimer.start(m_secondMs);
}

void SimRunController::SimTimeTimer_Timer() {
    m_settings.elapsedSeconds += 1;
    m_state.elapsedTime = ElapsedText(m_settings.elapsedSeconds);
    if (m_settings.elapsedSeconds >= m_settings.simTimeHours * 3600) {
        if (m_settings.callSimRunning != 0) {
            ToggleCallSim();
        } else {
            DisableSimTimeTimer();
        }
    }
    Changed();
}

void SimRunController::EnableSwitchCallTimer() {
    const int interval = m_settings.answerMode == 1 ? m_settings.idleTime * m_secondMs : m_secondMs;
    m_callTimer.start(std::max(1, interval));
}

void SimRunController::DisableSwitchCallTimer() {
    m_callTimer.stop();
}

void SimRunController::DisableSimTimeTimer() {
    m_simTimeTimer.stop();
}

void SimRunController::DisableSwitchTimers() {
    DisableSwitchCallTimer();
    DisableSimTimeTimer();
}

void SimRunController::CallTimer_Timer() {
    if (m_settings.answerMode == 1) {
        if (m_settings.callGeneration != 0 && m_actions) {
            m_actions->SimCallAllIdleDevices();
        }
        return;
    }
    CallStepState& step = m_settings.callStep;
    if (step.countdown > 0) {
        --step.countdown;
        ShowCountdown(step.displayPhase, step.countdown);
    } else {
        RunCallStep();
    }
    Changed();
}

void SimRunController::RunCallStep() {
    CallStepState& step = m_settings.callStep;
    const int mode = m_settings.callStepMode;
    auto enter = [&](int phase, int next, SimStoredWord timeList) {
        step.displayPhase = static_cast<std::int16_t>(phase);
        step.nextStep = static_cast<std::int16_t>(next);
        step.countdown = static_cast<std::int16_t>(ChosenSeconds(timeList));
        ShowCountdown(phase, step.countdown);
    };

    switch (step.nextStep) {
    case 0:
        enter(0, 1, kWordIdleTime);
        break;
    case 1: {
        if (m_actions) {
            m_actions->SimInboundCall();
        }
        const int next = mode == 0 ? 3 : mode == 4 ? 8 : 2;
        step.firstTime = mode == 3 || mode == 4 ? 1 : 0;
        enter(1, next, kWordRingTime);
        break;
    }
    case 2: {
        const std::int16_t previous = step.displayPhase;
        if (m_actions) {
            m_actions->SimAnswerCall(previous);
        }
        int next = 3;
        if (mode == 2) {
            next = 4;
        } else if (mode == 3) {
            next = previous == 1 ? 6 : 7;
        }
        enter(2, next, kWordAnsTime);
        break;
    }
    case 3:
        if (m_actions) {
            m_actions->SimDropCall(step.firstTime);
        }
        step = CallStepState{0, 0, 0, 0};
        break;
    case 4:
        if (m_actions) {
            m_actions->SimHoldCall();
        }
        enter(4, 5, kWordHoldTime);
        break;
    case 5:
        if (m_actions) {
            m_actions->SimUnholdCall();
        }
        enter(5, 3, kWordAnsTime);
        break;
    case 6:
        if (m_actions) {
            m_actions->SimTransferHoldDial();
        }
        enter(6, 2, kWordRingTime);
        break;
    case 7:
        if (m_actions) {
            m_actions->SimCompleteTransfer();
        }
        enter(7, 3, kWordAnsTime);
        break;
    case 8:
        if (m_actions) {
            m_actions->SimBtRt();
        }
        enter(8, 2, kWordRingTime);
        break;
    default:
        break;
    }
}

int SimRunController::ChosenSeconds(SimStoredWord word) const {
    return SwitchSettingRunValue(word, m_settings.stored[word]);
}

void SimRunController::ShowCountdown(int phase, int seconds) {
    const std::string text = std::to_string(seconds);
    switch (DurationBoxOfPhase(phase)) {
    case kIdleBox:
        m_state.idleCallTime = text;
        break;
    case kRingBox:
        m_state.ringCallTime = text;
        break;
    case kConnBox:
        m_state.connCallTime = text;
        break;
    case kHoldBox:
        m_state.holdCallTime = text;
        break;
    default:
        break;
    }
}

// ---- Reset -----------------------------------------------------------------------------------

void SimRunController::cmdReset_Click() {
    if (!m_state.resetEnabled) {
        return;
    }
    m_settings.elapsedSeconds = 0;
    m_trace.totalSent = 0;
    m_trace.totalReceived = 0;
    m_trace.sent = SentEventCounters{};
    m_state.startTime = kClockZero;
    m_state.endTime = kClockZero;
    m_state.elapsedTime = kClockZero;
    m_state.idleCallTime = "0";
    m_state.ringCallTime = "0";
    m_state.connCallTime = "0";
    m_state.holdCallTime = "0";
    m_settings.callStep = CallStepState{0, 0, 1, 0};
    Changed();
    emit traceChanged();
}

// ---- lists and check boxes -------------------------------------------------------------------

void SimRunController::cmboList_Click(SimStoredWord word, int position) {
    switch (word) {
    case kWordTelNoSize:
        cmboTelNoSize_Click(position);
        return;
    case kWordStnCount:
        cmboStnCnt_Click(position);
        return;
    case kWordTrkCount:
        cmboTrkCnt_Click(position);
        return;
    case kWordSimMode:
        cmboAnswerMode_Click(position);
        return;
    case kWordCallMode:
        cmboCallMode_Click(position);
        return;
    case kWordCallStepMode:
        cmboCallStepMode_Click(position);
        return;
    default:
        if (word >= kWordTelNoSize && word < kWordOprInbndCount) {
            SelectStoredWord(m_settings, word, position);
            Changed();
        }
        return;
    }
}

void SimRunController::cmboTelNoSize_Click(int position) {
    SelectTelNoSize(m_settings, position);
    Changed();
}

void SimRunController::cmboStnCnt_Click(int position) {
    if (SelectStnCount(m_settings, position)) {
        Show(kTelNoSizeChangedText, kSwitchSimTitle);
    }
    Changed();
}

void SimRunController::cmboTrkCnt_Click(int position) {
    if (SelectTrkCount(m_settings, position)) {
        Show(kTelNoSizeChangedText, kSwitchSimTitle);
    }
    Changed();
}

void SimRunController::cmboAnswerMode_Click(int position) {
    SelectStoredWord(m_settings, kWordSimMode, position);
    m_state.callGenEnabled = m_settings.stored[kWordSimMode] == 1;
    Changed();
}

void SimRunController::cmboCallMode_Click(int position) {
    SelectStoredWord(m_settings, kWordCallMode, position);
    m_state.oprModeEnabled = m_settings.stored[kWordCallMode] == 0;
    Changed();
}

void SimRunController::cmboCallStepMode_Click(int position) {
    SelectStoredWord(m_settings, kWordCallStepMode, position);
    m_state.panels[3] = CallStepPanelText(m_settings.stored[kWordCallStepMode]);
    Changed();
}

void SimRunController::chkCallGen_Click(bool checked) {
    m_state.callGenChecked = checked;
    m_settings.callGeneration = checked ? -1 : 0;
    Changed();
}

void SimRunController::chkPrint_Click(bool checked) {
    m_state.printChecked = checked;
    m_settings.trace = checked ? -1 : 0;
    m_trace.SetEnabled(checked);
    Changed();
}

void SimRunController::chkUseOprMode_Click(bool checked) {
    m_state.oprModeChecked = checked;
    m_settings.oprMode = checked ? 1 : 0;
    Changed();
}

void SimRunController::editSimTime_Change(const std::string& text) {
    m_state.simTime = text;
    if (!IsNumericText(text)) {
        Show(kNumericOnlyText, kSwitchSimTitle, false, true);
    }
    Changed();
}

// ---- helpers ---------------------------------------------------------------------------------

void SimRunController::Show(const std::string& text, const std::string& title, bool critical,
                            bool focusSimTime) {
    emit message(SimMessage{text, title, critical, focusSimTime});
}

std::string SimRunController::FormatDateTime(const QDateTime& time) const {
    const QLocale locale = QLocale::system();
    return (locale.toString(time.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
            time.time().toString(QStringLiteral("HH:mm:ss")))
        .toStdString();
}
