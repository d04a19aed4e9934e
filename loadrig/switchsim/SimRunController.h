#pragma once

#include "SimCallActions.h"
#include "SimCallGenerator.h"
#include "SimLink.h"
#include "SimSwitchDatabase.h"
#include "SimTrace.h"
#include "SwitchSimSettings.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// What the switch window shows besides the lists (their choices are the settings' stored words)
// and the counters and trace text (SimTrace). The window mirrors it after every stateChanged.
struct SimWindowState {
    // Action List
    bool runEnabled = true;
    bool stopEnabled = false;
    bool resetEnabled = true;
    bool quitEnabled = true;
    bool callSimEnabled = false;
    std::string callSimCaption = "Call Run";

    bool switchSizeEnabled = true; // the five switch-size lists
    bool scenarioEnabled = true;   // the nine scenario lists
    bool simTimeEnabled = true;    // editSimTime
    bool oprModeEnabled = true;    // chkUseOprMode
    bool callGenEnabled = false;   // chkCallGen (Manual answer mode only)

    bool oprModeChecked = false;
    bool callGenChecked = false;
    bool printChecked = false;

    // Simulation Time Configuration
    std::string simTime = "1";
    std::string startTime = "00 : 00 : 00";
    std::string endTime = "00 : 00 : 00";
    std::string elapsedTime = "00 : 00 : 00";

    // Call State Time Duration: the countdown of the current call phase
    std::string idleCallTime = "0";
    std::string ringCallTime = "0";
    std::string connCallTime = "0";
    std::string holdCallTime = "0";

    // Status bar: address, run state, link state, call-step mode
    std::array<std::string, 4> panels{};
};

// A message box the window shows; OK only.
struct SimMessage {
    std::string text;
    std::string title;
    bool critical = false;
    bool focusSimTime = false; // the simulation time box gets the focus back
};

// The switch window's logic without its widgets: load and quit, Run and Stop, the Call Sim
// toggle, the simulation clock, the call timer with its call-step machine, and the handlers of
// the setting lists and check boxes. Owns the settings, the simulated tables, the trace and the
// link, so a test can drive the whole simulated switch in-process.
class SimRunController : public QObject {
    Q_OBJECT

public:
    explicit SimRunController(QObject* parent = nullptr);
    ~SimRunController() override;

    SwitchSimSettings& Settings() { return m_settings; }
    SimSwitchDatabase& Database() { return m_database; }
    SimTrace& Trace() { return m_trace; }
    SimLink& Link() { return *m_link; }
    const SimWindowState& State() const { return m_state; }

    // The call generator's actions: its own generator unless a test gives others (null: the steps
    // only advance).
    void SetCallActions(SimCallActions* actions) { m_actions = actions; }

    // Test hooks: the port Run listens on (0: the system picks one, see Link().ListeningPort()),
    // the length of one simulated second of both timers, and the clock of the simulation time.
    void SetListenPortOverride(std::optional<std::uint16_t> port);
    void SetSecondLength(int milliseconds);
    void SetClock(std::function<QDateTime()> now);

    bool CallTimerActive() const { return m_callTimer.isActive(); }
    int CallTimerInterval() const { return m_callTimer.interval(); }
    bool SimTimeTimerActive() const { return m_simTimeTimer.isActive(); }
    QDateTime StartTime() const { return m_start; }
    QDateTime EndTime() const { return m_end; }

    // "HH : MM : SS", each field at least two digits; hours may run beyond two.
    static std::string ElapsedText(double seconds);
    // The duration box of a call phase: 0 idle, 1 ring, 2 connected, 3 hold, -1 none (phase 3).
    static int DurationBoxOfPhase(int phase);

    // Window events.
    void Form_Load();
    void cmdRun_Click();
    void cmdStop_Click();
    void cmdCallSim_Click();
    void cmdReset_Click();
    void cmdQuit_Click();

    // A list's item chosen by the user (or by the window filling its lists).
    void cmboList_Click(SimStoredWord word, int position);
    void cmboTelNoSize_Click(int position);
    void cmboStnCnt_Click(int position);
    void cmboTrkCnt_Click(int position);
    void cmboAnswerMode_Click(int position);
    void cmboCallMode_Click(int position);
    void cmboCallStepMode_Click(int position);
    void chkCallGen_Click(bool checked);
    void chkPrint_Click(bool checked);
    void chkUseOprMode_Click(bool checked);
    void editSimTime_Change(const std::string& text);

public slots:
    void CallTimer_Timer();
    void SimTimeTimer_Timer();
    // The link's 'a' and 'k' requests: enable or disable Call Run.
    void SetCallSimEnabled(bool enabled);

signals:
    void stateChanged();
    void traceChanged();
    void message(const SimMessage& message);
    void logLine(const QString& line);
    // Quit has saved the settings: the window closes.
    void quitRequested();

private:
    void FillSettingCombos();
    void LockSettingsForRun();
    void UnlockSettings();
    bool StartListening();
    void StopListening();
    void Stop();
    void ToggleCallSim();
    void SetScenarioControlsEnabled(bool enabled);
    void StartSimulationClock();
    void EnableSwitchCallTimer();
    void DisableSwitchCallTimer();
    void DisableSimTimeTimer();
    void DisableSwitchTimers();
    void ReadSwitchSettingsFromControls();
    void RunCallStep();
    void ShowCountdown(int phase, int seconds);
    // The seconds of a time list as it is chosen now.
    int ChosenSeconds(SimStoredWord word) const;
    void OnListenFailed(const QString& text);
    void Show(const std::string& text, const std::string& title, bool critical = false,
              bool focusSimTime = false);
    void Changed() { emit stateChanged(); }
    std::string FormatDateTime(const QDateTime& time) const;

    SwitchSimSettings m_settings;
    SimSwitchDatabase m_database;
    SimTrace m_trace;
    SimLink* m_link = nullptr;
    std::unique_ptr<SimCallGenerator> m_generator;
    SimCallActions* m_actions = nullptr;
    SimWindowState m_state;

    QTimer m_callTimer;
    QTimer m_simTimeTimer;
    int m_secondMs = 1000;
    std::optional<std::uint16_t> m_listenPortOverride;
    std::function<QDateTime()> m_now;
    QDateTime m_start;
    QDateTime m_end;
};

Q_DECLARE_METATYPE(SimMessage)
