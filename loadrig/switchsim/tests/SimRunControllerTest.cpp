#include <switchsim/SimRunController.h>
#include <switchsim/SwitchSimSettingsStore.h>
#include <testsupport/TempRegistry.h>
#include <testsupport/TestApp.h>

#include <platform/Registry.h>

#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;

namespace {

// Records each call action with the call-timer tick it came in.
class RecordingActions : public SimCallActions {
public:
    void SimInboundCall() override { Add("In"); }
    void SimAnswerCall(std::int16_t previousPhase) override {
        Add("Ans(" + std::to_string(previousPhase) + ")");
    }
    void SimDropCall(std::int16_t secondLeg) override {
        Add("Drop(" + std::to_string(secondLeg) + ")");
    }
    void SimHoldCall() override { Add("Hold"); }
    void SimUnholdCall() override { Add("Unhold"); }
    void SimTransferHoldDial() override { Add("THold"); }
    void SimCompleteTransfer() override { Add("CT"); }
    void SimBtRt() override { Add("BtRt"); }
    void SimCallAllIdleDevices() override { Add("AllIdle"); }

    std::string Joined() const {
        std::string out;
        for (const std::string& call : calls) {
            out += (out.empty() ? "" : " ") + call;
        }
        return out;
    }

    int tick = 0;
    std::vector<std::string> calls;

private:
    void Add(const std::string& name) { calls.push_back(std::to_string(tick) + ":" + name); }
};

// List positions of the time lists (1, 2, 4, 8, 16, 20, 30, 60, 90, 120 seconds).
constexpr int kSeconds1 = 0;
constexpr int kSeconds2 = 1;
constexpr int kSeconds4 = 2;
constexpr int kSeconds8 = 3;
constexpr int kSeconds120 = 9;

class SimRunControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        ASSERT_TRUE(registry.IsReady());

        QObject::connect(&controller, &SimRunController::message, &controller,
                         [this](const SimMessage& m) { messages.push_back(m); });
        controller.SetCallActions(&actions);
        controller.SetListenPortOverride(0);
        controller.Form_Load();
        messages.clear(); // the key-created message of the first load
    }

    void TearDown() override {
        if (controller.Settings().running != 0) {
            controller.cmdStop_Click();
        }
    }

    // Ring 1 s, Ans 2 s, Hold 4 s, Idle 8 s: each phase distinguishable by its length.
    void ChooseTimes() {
        controller.cmboList_Click(kWordRingTime, kSeconds1);
        controller.cmboList_Click(kWordAnsTime, kSeconds2);
        controller.cmboList_Click(kWordHoldTime, kSeconds4);
        controller.cmboList_Click(kWordIdleTime, kSeconds8);
    }

    void RunAndStartCalls() {
        controller.cmdRun_Click();
        ASSERT_NE(controller.Settings().running, 0);
        controller.SetCallSimEnabled(true); // as the link server's device-list request does
        controller.cmdCallSim_Click();
        ASSERT_NE(controller.Settings().callSimRunning, 0);
    }

    void Tick(int count) {
        for (int i = 0; i < count; ++i) {
            ++actions.tick;
            controller.CallTimer_Timer();
        }
    }

    static std::string Stored(const char* name) {
        RegKey key;
        EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine, kSwitchSimKeyPath, key), RegStatus::Ok);
        std::string text;
        key.QueryString(name, text);
        return text;
    }

    testsupport::TempRegistry registry;
    SimRunController controller;
    RecordingActions actions;
    std::vector<SimMessage> messages;
};

TEST_F(SimRunControllerTest, LoadShowsDefaultsAndCreatesTheKeyOnce) {
    const SimWindowState& s = controller.State();
    EXPECT_TRUE(s.runEnabled && s.resetEnabled && s.quitEnabled);
    EXPECT_FALSE(s.stopEnabled || s.callSimEnabled);
    EXPECT_EQ(s.callSimCaption, "Call Run");
    EXPECT_EQ(s.simTime, "1");
    EXPECT_EQ(s.panels[0], controller.Settings().localAddress + " : 0 ");
    EXPECT_EQ(s.panels[1], "Stopped ");
    EXPECT_EQ(s.panels[2], "PavoLinker : Off ");
    EXPECT_EQ(s.panels[3], "Call Step : Inbnd->Drop ");
    EXPECT_EQ(Stored("Sim Time"), "1");

    // A second load finds the key: no message.
    SimRunController again;
    std::vector<SimMessage> seen;
    QObject::connect(&again, &SimRunController::message, &again,
                     [&](const SimMessage& m) { seen.push_back(m); });
    again.Form_Load();
    EXPECT_TRUE(seen.empty());

    // A fresh registry: the one message with its title.
    testsupport::TempRegistry other;
    again.Form_Load();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, "QMX SW Load Rig");
    EXPECT_EQ(seen[0].text, KeyCreatedMessage());
}

// A second controller, on port 0, whose messages and log lines are kept.
struct WatchedController {
    WatchedController() {
        QObject::connect(&controller, &SimRunController::message, &controller,
                         [this](const SimMessage& m) { seen.push_back(m); });
        QObject::connect(&controller, &SimRunController::logLine, &controller,
                         [this](const QString& line) { logged.push_back(line.toStdString()); });
        controller.SetListenPortOverride(0);
    }
    SimRunController controller;
    std::vector<SimMessage> seen;
    std::vector<std::string> logged;
};

TEST_F(SimRunControllerTest, ARegistryFileThatDoesNotReadIsNamedAtLoadAndAtQuitAndLeftAlone) {
    const std::string file = registry.File().string();
    const std::string broken =
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\"A\"=dword:zz\r\n";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << broken;
    const std::string where = file + ":4: ";

    WatchedController watched;
    SimRunController& again = watched.controller;
    const std::vector<SimMessage>& seen = watched.seen;
    const std::vector<std::string>& logged = watched.logged;
    again.Form_Load();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].text.find(where), std::string::npos) << seen[0].text;
    EXPECT_TRUE(seen[0].critical);
    // The log reaches standard error: without a screen it is the one place that tells the load.
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].rfind("[Error Report] The settings could not be read; the defaults are "
                              "used: " +
                                  where,
                              0),
              0u)
        << logged[0];

    again.cmdQuit_Click();
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged.back().rfind("[Error Report] The settings could not be saved: ", 0), 0u);
    EXPECT_NE(logged.back().find(where), std::string::npos) << logged.back();

    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), broken);
}

// A folder where the lock file goes keeps the key from being made, for root as well.
TEST_F(SimRunControllerTest, AKeyThatCannotBeMadeIsToldAtLoadWithTheCause) {
    const std::string blocked = (registry.Dir() / "blocked.reg").string();
    ASSERT_TRUE(std::filesystem::create_directory(blocked + ".lock"));
    ::setenv("QORVELL_REGISTRY", blocked.c_str(), 1);
    WatchedController watched;
    SimRunController& again = watched.controller;
    const std::vector<SimMessage>& seen = watched.seen;
    const std::vector<std::string>& logged = watched.logged;
    again.Form_Load();
    ::setenv("QORVELL_REGISTRY", registry.File().c_str(), 1);
    const std::string cause = blocked + ".lock: Is a directory";
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].rfind("[Error Report] The settings could not be read", 0), 0u);
    EXPECT_NE(logged[0].find(cause), std::string::npos) << logged[0];
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].text.find(cause), std::string::npos) << seen[0].text;
}

TEST_F(SimRunControllerTest, RunCorrectsTheSimulationTime) {
    controller.editSimTime_Change("0");
    controller.cmdRun_Click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Simulation Time muse be 1 hour as the minimum value.");
    EXPECT_EQ(messages[0].title, "SW Load Rig");
    EXPECT_EQ(controller.State().simTime, "1");
    EXPECT_NE(controller.Settings().running, 0);
    controller.cmdStop_Click();

    messages.clear();
    controller.editSimTime_Change("1000");
    controller.cmdRun_Click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Simulation Time muse be less than 720.");
    EXPECT_EQ(messages[0].title, "SW Load Rig");
    EXPECT_EQ(controller.State().simTime, "720");

    const QDateTime now(QDate(2024, 3, 1), QTime(8, 0, 0));
    controller.SetClock([now] { return now; });
    controller.SetCallSimEnabled(true);
    controller.cmdCallSim_Click();
    EXPECT_EQ(controller.StartTime(), now);
    EXPECT_EQ(controller.EndTime(), now.addSecs(720LL * 3600));
    EXPECT_NE(controller.State().endTime, controller.State().startTime);
    controller.cmdCallSim_Click();
    controller.cmdStop_Click();

    messages.clear();
    controller.editSimTime_Change("720");
    controller.cmdRun_Click();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(controller.State().simTime, "720");
}

TEST_F(SimRunControllerTest, NonNumericTimeWarnsWhileTyping) {
    controller.editSimTime_Change("12");
    EXPECT_TRUE(messages.empty());
    controller.editSimTime_Change("12x");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Numeric Value can only be allowed.");
    EXPECT_TRUE(messages[0].focusSimTime);
    EXPECT_EQ(controller.State().simTime, "12x"); // the text stays
}

TEST_F(SimRunControllerTest, RunAndStopSwitchButtonsAndPanels) {
    controller.cmdRun_Click();
    const SimWindowState& s = controller.State();
    EXPECT_FALSE(s.runEnabled || s.resetEnabled || s.quitEnabled || s.simTimeEnabled ||
                 s.switchSizeEnabled || s.callSimEnabled);
    EXPECT_TRUE(s.stopEnabled);
    EXPECT_EQ(s.panels[1], "Listening... ");
    EXPECT_EQ(controller.Database().devices.size(), 16u);
    EXPECT_NE(controller.Link().ListeningPort(), 0);

    controller.SetCallSimEnabled(true);
    controller.cmdCallSim_Click();
    EXPECT_EQ(s.callSimCaption, "Call Stop");
    EXPECT_FALSE(s.scenarioEnabled || s.oprModeEnabled);
    EXPECT_TRUE(controller.CallTimerActive());
    EXPECT_EQ(controller.CallTimerInterval(), 1000);
    EXPECT_TRUE(controller.SimTimeTimerActive());
    // The run state words are those of a fresh call generator.
    EXPECT_EQ(controller.Settings().callStep.nextStep, 1);
    EXPECT_EQ(controller.Settings().callStep.firstTime, 1);

    controller.Database().devices[0].callCount = 2;
    controller.cmdStop_Click();
    EXPECT_TRUE(s.runEnabled && s.resetEnabled && s.quitEnabled && s.simTimeEnabled &&
                s.switchSizeEnabled);
    EXPECT_FALSE(s.stopEnabled || s.callSimEnabled);
    EXPECT_EQ(s.panels[1], "Stopped ");
    EXPECT_EQ(s.panels[2], "PavoLinker : Off ");
    EXPECT_EQ(controller.Settings().running, 0);
    EXPECT_EQ(controller.Database().devices[0].callCount, 0);
    EXPECT_FALSE(controller.CallTimerActive());
}

TEST_F(SimRunControllerTest, TheLinkServerConnectsAndEnablesCallRun) {
    controller.cmdRun_Click();
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, controller.Link().ListeningPort());
    ASSERT_TRUE(
        testsupport::SpinUntil([&] { return controller.State().panels[2] == "PavoLinker : On "; }));

    // I-am-alive: the device list goes out and Call Run becomes possible.
    const QByteArray request("\x00\x0F\x02\x61\xFF\xFF\xFF\xFF\xFF\xFF\x20\x02\x02\x20\x02\x01\x81",
                             17);
    peer.write(request);
    ASSERT_TRUE(testsupport::SpinUntil([&] { return controller.State().callSimEnabled; }));
    ASSERT_TRUE(testsupport::SpinUntil([&] { return peer.bytesAvailable() >= 17 * 12; }));

    // Link off: Call Run is disabled again and the link listens once more.
    peer.write(QByteArray("\x00\x09\x02\x6B\xFF\xFF\xFF\xFF\xFF\xFF\x00", 11));
    ASSERT_TRUE(testsupport::SpinUntil([&] { return !controller.State().callSimEnabled; }));
    EXPECT_TRUE(testsupport::SpinUntil(
        [&] { return controller.State().panels[2] == "PavoLinker : Off "; }));
    EXPECT_EQ(controller.Trace().totalReceived, 2);
}

TEST_F(SimRunControllerTest, ListenFailureIsReportedAndStops) {
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::Any, 0));
    controller.SetListenPortOverride(occupant.serverPort());
    controller.cmdRun_Click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind("Listen Error : ", 0), 0u) << messages[0].text;
    EXPECT_TRUE(messages[0].critical);
    EXPECT_EQ(messages[0].title, "SW Load Rig");
    EXPECT_EQ(controller.Settings().running, 0);
    EXPECT_TRUE(controller.State().runEnabled);
    EXPECT_FALSE(controller.State().stopEnabled);
    EXPECT_EQ(controller.State().panels[1], "Stopped ");
}

// Mode by mode: the tick of every action, with Ring 1, Ans 2, Hold 4 and Idle 8 seconds.
TEST_F(SimRunControllerTest, CallStepMachinePerMode) {
    struct Case {
        int mode;
        int ticks;
        const char* expected;
    };
    const Case cases[] = {
        {0, 13, "1:In 3:Drop(0) 13:In"},
        {1, 16, "1:In 3:Ans(1) 6:Drop(0) 16:In"},
        {2, 24, "1:In 3:Ans(1) 6:Hold 11:Unhold 14:Drop(0) 24:In"},
        {3, 24, "1:In 3:Ans(1) 6:THold 8:Ans(6) 11:CT 14:Drop(1) 24:In"},
        // BT/RT after Ring + 1, answer another Ring + 1 later, drop after Ans + 1, the next call
        // Idle + 2 after the drop.
        {4, 18, "1:In 3:BtRt 5:Ans(8) 8:Drop(1) 18:In"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        ChooseTimes();
        controller.cmboCallStepMode_Click(c.mode);
        actions.calls.clear();
        actions.tick = 0;
        RunAndStartCalls();
        Tick(c.ticks);
        EXPECT_EQ(actions.Joined(), c.expected);
        controller.cmdCallSim_Click(); // Call Stop (drops when in a call)
        controller.cmdStop_Click();
    }
}

TEST_F(SimRunControllerTest, CountdownShowsInThePhaseBox) {
    ChooseTimes();
    controller.cmboCallStepMode_Click(2); // Inbnd->Ans->Hold->Unhold->Drop
    RunAndStartCalls();
    const SimWindowState& s = controller.State();
    Tick(1); // inbound
    EXPECT_EQ(s.ringCallTime, "1");
    Tick(2); // countdown, then answer
    EXPECT_EQ(s.ringCallTime, "0");
    EXPECT_EQ(s.connCallTime, "2");
    Tick(3); // hold
    EXPECT_EQ(s.holdCallTime, "4");
    Tick(1);
    EXPECT_EQ(s.holdCallTime, "3");
    Tick(7); // unhold at 11, drop at 14
    EXPECT_EQ(actions.calls.back(), "14:Drop(0)");
    EXPECT_EQ(controller.Settings().callStep.nextStep, 0);
    Tick(1); // idle
    EXPECT_EQ(s.idleCallTime, "8");
    Tick(1);
    EXPECT_EQ(s.idleCallTime, "7");
}

TEST_F(SimRunControllerTest, CallStopDropsOnlyDuringACall) {
    ChooseTimes();
    controller.cmboCallStepMode_Click(4);
    RunAndStartCalls();
    Tick(1); // inbound, second leg 1
    actions.calls.clear();
    controller.cmdCallSim_Click();
    EXPECT_EQ(actions.Joined(), "1:Drop(1)");
    EXPECT_FALSE(controller.CallTimerActive());
    EXPECT_FALSE(controller.SimTimeTimerActive());
    EXPECT_EQ(controller.State().callSimCaption, "Call Run");
    EXPECT_TRUE(controller.State().scenarioEnabled);
    EXPECT_EQ(controller.Settings().callStep.displayPhase, 1); // not reset by Call Stop

    // Start again: in idle phase 0 the stop sends nothing.
    controller.cmdCallSim_Click();
    actions.calls.clear();
    controller.cmdCallSim_Click();
    EXPECT_TRUE(actions.calls.empty());

    // After a drop the phase is 0 again: nothing either.
    controller.cmdCallSim_Click();
    Tick(8); // 1:In 3:BtRt 5:Ans(8) 8:Drop(1)
    actions.calls.clear();
    controller.cmdCallSim_Click();
    EXPECT_TRUE(actions.calls.empty());
}

TEST_F(SimRunControllerTest, NoActionsYetStillStepsTheMachine) {
    controller.SetCallActions(nullptr);
    ChooseTimes();
    RunAndStartCalls();
    Tick(3);
    EXPECT_EQ(controller.Settings().callStep.nextStep, 0);
    controller.cmdCallSim_Click();
}

TEST_F(SimRunControllerTest, ManualModeOffersAtTheIdleInterval) {
    controller.cmboAnswerMode_Click(1);
    EXPECT_TRUE(controller.State().callGenEnabled);
    controller.cmboList_Click(kWordIdleTime, kSeconds120);
    RunAndStartCalls();
    EXPECT_EQ(controller.CallTimerInterval(), 120 * 1000);
    Tick(2);
    EXPECT_EQ(actions.Joined(), "1:AllIdle 2:AllIdle");
    EXPECT_EQ(controller.Settings().callStep.nextStep, 1); // the step machine does not run

    controller.chkCallGen_Click(false);
    Tick(1);
    EXPECT_EQ(actions.calls.size(), 2u);
    controller.chkCallGen_Click(true);
    Tick(1);
    EXPECT_EQ(actions.calls.back(), "4:AllIdle");

    // Call Stop in Manual mode drops nothing, whatever the phase.
    actions.calls.clear();
    controller.Settings().callStep.displayPhase = 2;
    controller.cmdCallSim_Click();
    EXPECT_TRUE(actions.calls.empty());

    // A shorter simulated second shortens the interval alike.
    controller.SetSecondLength(10);
    controller.cmdCallSim_Click();
    EXPECT_EQ(controller.CallTimerInterval(), 120 * 10);

    controller.cmboAnswerMode_Click(0);
    EXPECT_FALSE(controller.State().callGenEnabled);
}

TEST_F(SimRunControllerTest, StopDuringCallSimulationKeepsTheClockRunning) {
    controller.editSimTime_Change("0"); // becomes 1 hour
    RunAndStartCalls();
    controller.cmdStop_Click();
    const SimWindowState& s = controller.State();
    EXPECT_EQ(s.callSimCaption, "Call Run");
    EXPECT_FALSE(s.callSimEnabled);
    EXPECT_FALSE(controller.CallTimerActive());
    EXPECT_TRUE(controller.SimTimeTimerActive());
    EXPECT_NE(controller.Settings().callSimRunning, 0);
    EXPECT_FALSE(s.scenarioEnabled);

    for (int i = 0; i < 3599; ++i) {
        controller.SimTimeTimer_Timer();
    }
    EXPECT_EQ(s.elapsedTime, "00 : 59 : 59");
    EXPECT_TRUE(controller.SimTimeTimerActive());
    EXPECT_FALSE(s.scenarioEnabled);
    controller.SimTimeTimer_Timer(); // the end of the simulation time
    EXPECT_EQ(s.elapsedTime, "01 : 00 : 00");
    EXPECT_FALSE(controller.SimTimeTimerActive());
    EXPECT_TRUE(s.scenarioEnabled);
    EXPECT_TRUE(s.oprModeEnabled);
    EXPECT_EQ(controller.Settings().callSimRunning, 0);
}

TEST_F(SimRunControllerTest, ElapsedTextFormat) {
    EXPECT_EQ(SimRunController::ElapsedText(3909), "01 : 05 : 09");
    EXPECT_EQ(SimRunController::ElapsedText(0), "00 : 00 : 00");
    EXPECT_EQ(SimRunController::ElapsedText(59), "00 : 00 : 59");
    EXPECT_EQ(SimRunController::ElapsedText(720.0 * 3600 + 61), "720 : 01 : 01");
}

TEST_F(SimRunControllerTest, ResetClearsCountersClockAndCallState) {
    ChooseTimes();
    RunAndStartCalls();
    Tick(1);
    for (int i = 0; i < 5; ++i) {
        controller.SimTimeTimer_Timer();
    }
    controller.cmdCallSim_Click();
    controller.cmdStop_Click();
    SimTrace& trace = controller.Trace();
    trace.totalSent = 7;
    trace.totalReceived = 3;
    trace.sent.offering = 2;
    trace.sent.hookOn = 1;

    controller.cmdReset_Click();
    const SimWindowState& s = controller.State();
    EXPECT_EQ(trace.totalSent, 0);
    EXPECT_EQ(trace.totalReceived, 0);
    EXPECT_EQ(trace.sent.offering, 0);
    EXPECT_EQ(trace.sent.hookOn, 0);
    EXPECT_EQ(controller.Settings().elapsedSeconds, 0);
    EXPECT_EQ(s.startTime, "00 : 00 : 00");
    EXPECT_EQ(s.endTime, "00 : 00 : 00");
    EXPECT_EQ(s.elapsedTime, "00 : 00 : 00");
    EXPECT_EQ(s.ringCallTime, "0");
    EXPECT_EQ(s.idleCallTime, "0");
    const CallStepState& step = controller.Settings().callStep;
    EXPECT_EQ(step.displayPhase, 0);
    EXPECT_EQ(step.countdown, 0);
    EXPECT_EQ(step.nextStep, 1);
    EXPECT_EQ(step.firstTime, 0);
}

TEST_F(SimRunControllerTest, ResetAndQuitAreRefusedWhileRunning) {
    controller.cmdRun_Click();
    controller.Trace().totalSent = 4;
    controller.cmdReset_Click();
    EXPECT_EQ(controller.Trace().totalSent, 4);
    bool quit = false;
    QObject::connect(&controller, &SimRunController::quitRequested, [&] { quit = true; });
    controller.cmdQuit_Click();
    EXPECT_FALSE(quit);
    controller.cmdRun_Click(); // a second Run is refused too: the tables stay
    EXPECT_EQ(controller.State().panels[1], "Listening... ");
}

TEST_F(SimRunControllerTest, ListHandlers) {
    // 3 digits caps 256 stations at 96.
    controller.cmboTelNoSize_Click(1);
    controller.cmboStnCnt_Click(8);
    controller.cmboTelNoSize_Click(0);
    EXPECT_EQ(controller.Settings().stored[kWordStnCount], 6);
    EXPECT_TRUE(messages.empty());
    // 512 stations with 3 digits switches to 4 digits after the message.
    controller.cmboStnCnt_Click(9);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Tel No Size will be changed to 4 digits.");
    EXPECT_EQ(controller.Settings().stored[kWordTelNoSize], 1);
    controller.cmboTelNoSize_Click(0);
    controller.cmboTrkCnt_Click(9);
    EXPECT_EQ(messages.size(), 2u);

    controller.cmboCallStepMode_Click(4);
    EXPECT_EQ(controller.State().panels[3], "Call Step : Inbnd->BT/RT->Ans->Drop ");
    controller.cmboCallStepMode_Click(3);
    EXPECT_EQ(controller.State().panels[3], "Call Step : Inbnd->Ans->T-Hold/Dial->Ans->CT->Drop ");
}

TEST_F(SimRunControllerTest, InternalModeClearsOperatorModeOnlyForItsRuns) {
    controller.chkUseOprMode_Click(true);
    controller.cmboCallMode_Click(1);
    EXPECT_FALSE(controller.State().oprModeEnabled);
    controller.cmdRun_Click();
    EXPECT_EQ(controller.Settings().oprMode, 0);
    EXPECT_TRUE(controller.State().oprModeChecked);
    controller.cmdStop_Click();

    controller.cmboCallMode_Click(0);
    EXPECT_TRUE(controller.State().oprModeEnabled);
    controller.cmdRun_Click();
    EXPECT_EQ(controller.Settings().oprMode, 1); // the box is still checked
}

TEST_F(SimRunControllerTest, RunSetsCallGenerationAndTheMemberList) {
    controller.cmboList_Click(kWordStnCount, 1);    // 16 stations
    controller.cmboList_Click(kWordStnMemCount, 4); // 30 members
    controller.chkCallGen_Click(false);
    controller.cmdRun_Click();
    EXPECT_EQ(controller.Settings().stnMemCount, 16);
    EXPECT_EQ(controller.Settings().stored[kWordStnMemCount], 2); // the list shows "8"
    EXPECT_NE(controller.Settings().callGeneration, 0);
    EXPECT_FALSE(controller.State().callGenChecked); // the box is left alone
}

TEST_F(SimRunControllerTest, QuitSavesTheSettings) {
    controller.cmboList_Click(kWordRingTime, 5);
    controller.cmboCallStepMode_Click(3);
    controller.chkUseOprMode_Click(true);
    bool quit = false;
    QObject::connect(&controller, &SimRunController::quitRequested, [&] { quit = true; });
    controller.cmdQuit_Click();
    EXPECT_TRUE(quit);
    EXPECT_EQ(Stored("Ring Time"), "5");
    EXPECT_EQ(Stored("CallStep Mode"), "3");
    EXPECT_EQ(Stored("Opr Mode"), "1");
    EXPECT_EQ(controller.State().panels[1], "Stopped ");

    SimRunController next;
    next.Form_Load();
    EXPECT_EQ(next.Settings().stored[kWordRingTime], 5);
    EXPECT_EQ(next.State().panels[3], "Call Step : Inbnd->Ans->T-Hold/Dial->Ans->CT->Drop ");
    EXPECT_TRUE(next.State().oprModeChecked);
}

} // namespace

TEST_F(SimRunControllerTest, CallRunRefusesAScenarioLargerThanTheSwitch) {
    // 8 stations and 8 trunks (the first list items) cannot carry 16 External calls.
    controller.cmboList_Click(kWordCallCount, 3); // 1, 4, 8, 16
    controller.cmdRun_Click();
    ASSERT_NE(controller.Settings().running, 0);
    controller.SetCallSimEnabled(true);
    controller.cmdCallSim_Click();

    EXPECT_EQ(controller.Settings().callSimRunning, 0);
    EXPECT_FALSE(controller.CallTimerActive());
    EXPECT_FALSE(controller.SimTimeTimerActive());
    EXPECT_EQ(controller.State().callSimCaption, "Call Run");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text,
              "Call Count 16 is above Trk Count 8: each External call needs a trunk of its own.");

    // Within the switch it starts.
    controller.cmboList_Click(kWordCallCount, 2);
    controller.cmdCallSim_Click();
    EXPECT_NE(controller.Settings().callSimRunning, 0);
}
