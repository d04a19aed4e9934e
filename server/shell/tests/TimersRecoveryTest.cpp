#include "ShellFixture.h"

#include <testsupport/LoopbackPorts.h>

#include <engine/OrbIOQueue.h>
#include <engine/OrbSWServiceController.h>
#include <engine/SwitchDeviceTable.h>

#include <atomic>
#include <cstdint>
#include <vector>

using namespace shell;

using testsupport::TestSwitch;

using namespace shell_test;

namespace {

class TimersRecovery : public ShellFixture {};

int CountRowsWithPrefix(const FakeView& view, int image, const std::string& prefix) {
    int count = 0;
    for (const auto& row : view.rows)
        count += row.image == image && row.text.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
}

} // namespace

TEST_F(TimersRecovery, LostLinkIsRestartedByTheLivenessTick) {
    OrbManagerServer& s = StartedServer();
    ASSERT_TRUE(CompletelyRunning());
    EXPECT_EQ(s.LinkThreadsAlive(), 1);
    const int client = ConnectLoopback(listenPort);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(testsupport::SpinUntil([&] { return ClientPortClients() == 1; }));

    // The switch ends its side: the controller notices, the liveness tick restarts the link.
    sw.Switch().CloseConnection();
    ASSERT_TRUE(
        testsupport::SpinUntil([&] { return s.LinkThreadsAlive() == 0; }, std::chrono::seconds(5)));
    ASSERT_TRUE(testsupport::SpinUntil([&] { return sw.Downloads() == 2 && CompletelyRunning(); },
                                       std::chrono::seconds(8)));

    EXPECT_EQ(sw.Switch().ConnectionCount(), 2);
    const auto alive = sw.Switch().WaitForRecord(
        [](const TestSwitch::Record& r) { return r.connection == 2 && r.Letter() == 'a'; }, 2000);
    EXPECT_TRUE(alive) << "I-am-alive on the new connection";
    EXPECT_EQ(s.m_nRetryCount, 1) << "counted until the controller sees the link up again";
    EXPECT_TRUE(view.HasLog(0, "ids212 [1]"));
    EXPECT_TRUE(traces.Has("Veltrane Link's Auto Recovery Routine is deactivated.[NEWCONN MODE]"));
    EXPECT_EQ(view.AskedCount(137), 0) << "a restart never asks";

    // The client of the old link was closed.
    char byte;
    EXPECT_EQ(::recv(client, &byte, 1, 0), 0);
    ::close(client);
}

TEST_F(TimersRecovery, RestartRequestIsCarriedOutByTheSecondTimer) {
    CreateKey(kOptionsKey).SetString("Extension", "KOR");
    OrbManagerServer& s = StartedServer();
    ASSERT_TRUE(CompletelyRunning());
    s.m_nRetryCount = 2;
    s.m_bRestartRequest = 1;
    ASSERT_TRUE(testsupport::SpinUntil([&] { return sw.Downloads() == 2 && CompletelyRunning(); },
                                       std::chrono::seconds(8)));
    EXPECT_EQ(s.m_bRestartRequest, 0);
    EXPECT_EQ(sw.Switch().ConnectionCount(), 2);
    EXPECT_TRUE(view.HasLog(0, "2 ids212")) << "the count first in Korean";
    EXPECT_EQ(s.m_nRetryCount, 2) << "the second timer's restart is not counted";
    EXPECT_TRUE(view.HasLog(0, "ids150"));
    EXPECT_FALSE(traces.Has("ids150")) << "a restart's stop lines are logged only";
}

TEST_F(TimersRecovery, ClosedSwitchPortIsRetriedUpToTheRecoverCount) {
    // Claimed for this process and never listened on: no other test's switch can take it.
    const int closedPort = testsupport::FreeListenPortPair();
    ASSERT_GT(closedPort, 0);
    WriteSettings(true);
    SetConnEnv("Port No", static_cast<std::uint32_t>(closedPort));
    OrbManagerServer& s = MakeServer();
    ASSERT_TRUE(s.OnInitDialog());
    // The failed start armed the recovery; no event loop has run since.
    ASSERT_TRUE(s.IsTimerRunning(OrbManagerServer::kRecoveryTimer));
    s.m_nAutoRecoverCount = 3;

    ASSERT_TRUE(
        testsupport::SpinUntil([&] { return view.HasLog(1, "ids213"); }, std::chrono::seconds(8)));
    EXPECT_EQ(s.m_nRetryCount, 3);
    EXPECT_FALSE(s.IsTimerRunning(OrbManagerServer::kRecoveryTimer));
    EXPECT_EQ(s.m_bAutoRecoverTimerOn, 0);
    ASSERT_GE(view.rows.size(), 2u);
    EXPECT_EQ(view.rows[view.rows.size() - 2].text, "ids213");
    EXPECT_EQ(view.rows.back().text, "ids143");
    EXPECT_EQ(view.rows.back().image, 1);
    // The first start and three restarts, each refused and each arming the recovery again.
    EXPECT_EQ(CountRowsWithPrefix(view, 1, "ids130[Switch IP Address - 127.0.0.1"), 4);
    EXPECT_EQ(view.CountLog("ids315 every 1 min"), 4);
    EXPECT_EQ(traces.Count("Veltrane Link's Auto Recovery Routine is deactivated.[DISCONN MODE]"),
              3);

    // Exhausted: nothing more happens until the next manual start.
    testsupport::SpinFor(std::chrono::milliseconds(400));
    EXPECT_EQ(CountRowsWithPrefix(view, 1, "ids130[Switch IP Address - 127.0.0.1"), 4);
    EXPECT_EQ(s.m_bLinkRunning, 1);
    s.OnStartStop();
    ExpectStopped();
}

TEST_F(TimersRecovery, TicksDuringTheWaitAreHeldBackNotNested) {
    OrbManagerServer& s = MakeServer();
    ASSERT_TRUE(s.OnInitDialog());
    int calls = 0;
    int connectionsDuringWait = -1;
    view.onWaitTick = [&](WaitDialogModel&) {
        if (calls++ != 0)
            return;
        EXPECT_TRUE(s.IsInTransition());
        // Each of these would restart the link from inside its own start.
        s.m_bRestartRequest = 1;
        s.OnTimer(OrbManagerServer::kSecondTimer);
        s.OnTimer(OrbManagerServer::kRecoveryTimer);
        s.OnTimer(OrbManagerServer::kLivenessTimer);
        // The switch's thread may count the link's connection after the server has it.
        sw.Switch().WaitForConnection(10000);
        connectionsDuringWait = sw.Switch().ConnectionCount();
        EXPECT_NE(s.m_pIOQueue, nullptr);
    };
    s.OnStartStop();
    EXPECT_EQ(connectionsDuringWait, 1);
    ASSERT_TRUE(CompletelyRunning());
    // The request made during the wait is carried out once the start is over, and only once.
    ASSERT_TRUE(testsupport::SpinUntil(
        [&] { return sw.Switch().ConnectionCount() == 2 && CompletelyRunning(); }));
    testsupport::SpinFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(CompletelyRunning());
    EXPECT_EQ(sw.Switch().ConnectionCount(), 2);
    EXPECT_EQ(s.m_nRetryCount, 0) << "the held liveness and recovery ticks had nothing to do";
    EXPECT_EQ(view.waits, 2);
}

TEST_F(TimersRecovery, ButtonPressedDuringTheWaitRunsAfterTheStart) {
    OrbManagerServer& s = MakeServer();
    ASSERT_TRUE(s.OnInitDialog());
    bool pressed = false;
    view.onWaitTick = [&](WaitDialogModel&) {
        if (pressed)
            return;
        pressed = true;
        s.OnStartStop();
        EXPECT_EQ(view.AskedCount(137), 0) << "not inside the start";
    };
    s.OnStartStop();
    EXPECT_TRUE(pressed);
    EXPECT_EQ(s.m_bLinkRunning, 1);
    ASSERT_TRUE(testsupport::SpinUntil([&] { return s.m_bLinkRunning == 0; }));
    EXPECT_EQ(view.AskedCount(137), 1);
    ExpectStopped();
}

TEST_F(TimersRecovery, LivenessCheckSeesEachEngineThread) {
    OrbManagerServer& s = StartedServer();
    ASSERT_TRUE(CompletelyRunning());
    EXPECT_EQ(s.LinkThreadsAlive(), 1);
    s.m_pServiceController->Stop();
    ASSERT_TRUE(s.m_pServiceController->Join(2000));
    EXPECT_EQ(s.LinkThreadsAlive(), 0);
    // Its tick restarts the whole link and counts the restart.
    ASSERT_TRUE(testsupport::SpinUntil([&] { return sw.Downloads() == 2 && CompletelyRunning(); },
                                       std::chrono::seconds(8)));
    EXPECT_EQ(s.m_nRetryCount, 1);
    EXPECT_EQ(s.LinkThreadsAlive(), 1);
}

namespace {

// A restart whose link fails after the I-am-alive, while the device download is under way: the
// switch sends the first device of that download only, then the fault.
class FailureDuringDownload : public AnsweringShellFixture {
protected:
    enum class Fault { ImpossibleLength, SwitchCloses };

    void Answer(TestSwitch& link, const TestSwitch::Record& record) override {
        const auto body = record.Body();
        if (body.size() < 2)
            return;
        if (body[1] == 'u')
            link.SendRecord({'u', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00});
        if (body[1] != 'a')
            return;
        link.SendRecord(DownloadingSwitch::DeviceRecord(0, {2, 0, 1}, 17));
        if (record.connection == kFaultedStart) {
            m_bDownloadBegun = true;
            return;
        }
        link.SendRecord(DownloadingSwitch::DeviceRecord(1, {2, 0, 2}, 17));
        link.SendRecord(DownloadingSwitch::EndRecord());
    }

    // The program's second timer, the rest so long that only the second timer can restart the
    // link within the test; the liveness tick as given.
    static ShellTimings Timings(int livenessMs) {
        ShellTimings t = ShortTimings();
        t.livenessTimerMs = livenessMs;
        t.recoveryMinuteMs = 600000;
        return t;
    }

    // Runs the server to a restart that meets the fault, and on to the link after it. The wait
    // of that restart must end at the first tick that finds the link's threads gone.
    void Run(Fault fault, int livenessMs) {
        OrbManagerServer& s = MakeServer(Timings(livenessMs));
        ASSERT_TRUE(s.OnInitDialog());
        s.OnStartStop();
        ASSERT_TRUE(CompletelyRunning());

        bool faulted = false;
        bool threadsGone = false;
        view.onWaitTick = [&](WaitDialogModel& model) {
            if (view.waits != kFaultedStart)
                return;
            if (threadsGone) {
                ++m_nTicksAfterFailure;
                model.Abort();
                return;
            }
            if (!faulted && m_bDownloadBegun.load() && s.m_pDeviceTable != nullptr &&
                s.m_pDeviceTable->GetTotal() > 0) {
                faulted = true;
                if (fault == Fault::ImpossibleLength)
                    sw.Switch().SendRaw(std::vector<std::uint8_t>{0x7F, 0xFF});
                else
                    sw.Switch().CloseConnection();
            }
            threadsGone = faulted && s.LinkThreadsAlive() == 0;
        };
        s.m_bRestartRequest = 1;

        // Back, whole, on a new connection.
        ASSERT_TRUE(testsupport::SpinUntil(
            [&] { return sw.Switch().ConnectionCount() == 3 && CompletelyRunning(); },
            std::chrono::seconds(20)));
        EXPECT_TRUE(threadsGone);
        EXPECT_EQ(m_nTicksAfterFailure, 0) << "the download of a failed link was waited for";
        EXPECT_EQ(view.waits, 3);
        EXPECT_FALSE(PortRefuses(listenPort));
        EXPECT_FALSE(PortRefuses(listenPort + 500));
    }

    // The restart: the second start, wait and connection.
    static constexpr int kFaultedStart = 2;
    std::atomic<bool> m_bDownloadBegun{false};
    int m_nTicksAfterFailure = 0;
};

} // namespace

// As while the link is up: the link is started again at the next second tick, not counted as a
// recovery.
TEST_F(FailureDuringDownload, AnImpossibleLengthRestartsTheLinkAtTheNextSecondTick) {
    Run(Fault::ImpossibleLength, 600000);
    EXPECT_TRUE(traces.Has("[ERROR] The length[32767] from the switch cannot be a record. The "
                           "link is out of step and is started again!!!"));
    EXPECT_EQ(view.CountLog("ids212 [0]"), 2) << "both restarts by the second timer";
    EXPECT_EQ(view.CountLog("ids212 [1]"), 0);
}

// As while the link is up: the liveness tick finds the ended threads and starts the link again.
TEST_F(FailureDuringDownload, TheSwitchClosingRestartsTheLinkAtTheNextLivenessTick) {
    Run(Fault::SwitchCloses, 300);
    EXPECT_EQ(view.CountLog("ids212 [0]"), 1);
    EXPECT_EQ(view.CountLog("ids212 [1]"), 1) << "the liveness tick's restart is counted";
}
