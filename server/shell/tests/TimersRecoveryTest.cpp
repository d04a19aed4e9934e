#include "ShellFixture.h"

#include <testsupport/LoopbackPorts.h>

#include <engine/OrbIOQueue.h>
#include <engine/OrbSWServiceController.h>

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
    testsupport::SpinFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(CompletelyRunning());
    EXPECT_EQ(sw.Switch().ConnectionCount(), 1) << "the held ticks had nothing left to do";
    EXPECT_EQ(s.m_nRetryCount, 0);
    EXPECT_EQ(view.waits, 1);
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
