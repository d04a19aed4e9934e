#include "ShellFixture.h"

#include <engine/OrbManagerTracer.h>
#include <engine/TraceSettings.h>
#include <engine/UserRecord.h>

using namespace shell_test;

using namespace engine;
using namespace shell;

namespace {

class Shutdown : public ShellFixture {
protected:
    std::uint32_t RunCheck() const {
        platform::RegKey root;
        std::uint32_t value = 99;
        if (platform::RegKey::Open(platform::RegRoot::LocalMachine, kRootKey, root) ==
            platform::RegStatus::Ok)
            root.QueryDword("OrbRunCheck", value);
        return value;
    }
};

} // namespace

TEST_F(Shutdown, OkEndsTheServerAndClearsTheRunCheck) {
    OrbManagerServer& s = MakeServer();
    ASSERT_TRUE(s.OnInitDialog());
    EXPECT_NE(g_nTracerThreadId.load(), -1) << "the tracer runs";
    {
        platform::CriticalSectionLock guard(s.m_UserList.Lock());
        s.m_UserList.Add(std::make_unique<UserRecord>("ann", "10.0.0.1", 0, "desk"));
    }

    view.answers[106] = false;
    s.OnOK();
    EXPECT_EQ(view.AskedCount(106), 1);
    EXPECT_TRUE(endings.empty());
    EXPECT_EQ(RunCheck(), 1u) << "a Cancel changes nothing";
    EXPECT_EQ(s.m_UserList.GetCount(), 1u);

    view.answers[106] = true;
    s.OnOK();
    EXPECT_EQ(endings, std::vector<int>{OrbManagerServer::kResultOk});
    EXPECT_TRUE(view.cancelDefaults.back());
    EXPECT_EQ(RunCheck(), 0u) << "unknown Windows version";
    EXPECT_EQ(s.m_UserList.GetCount(), 0u);
    EXPECT_TRUE(traces.Has("Veltrane Link Terminated by User Request..."));
    EXPECT_EQ(g_nTracerThreadId.load(), -1);
    EXPECT_FALSE(traces.Has(">>> Veltrane Link V2 Message Tracer killed.")) << "its own exit";

    // Ended once: later calls do nothing.
    s.OnOK();
    s.OnStartStop();
    EXPECT_EQ(endings.size(), 1u);
    EXPECT_EQ(view.AskedCount(106), 2);
    EXPECT_EQ(s.m_bLinkRunning, 0);
}

TEST_F(Shutdown, OkOnANewerWindowsKeepsTheRunCheck) {
    OrbManagerServer& s = MakeServer();
    ASSERT_TRUE(s.OnInitDialog());
    s.OsTypeCode = 2;
    s.OnOK();
    EXPECT_EQ(endings.size(), 1u);
    EXPECT_EQ(RunCheck(), 1u);
}

TEST_F(Shutdown, CloseWhileRunningWithTheDeviceListHidesTheWindow) {
    OrbManagerServer& s = StartedServer();
    ASSERT_TRUE(CompletelyRunning());
    EXPECT_FALSE(s.OnCloseServer());
    EXPECT_EQ(view.hides, 1);
    EXPECT_EQ(view.AskedCount(106), 0);
    EXPECT_TRUE(endings.empty());
    EXPECT_TRUE(CompletelyRunning());
}

TEST_F(Shutdown, CloseWhileStartedWithoutDeviceListAsksAndStopsTheLink) {
    sw.SetDownloadEnabled(false);
    OrbManagerServer& s = StartedServer();
    ASSERT_EQ(s.m_bLinkRunning, 1);
    ASSERT_NE(s.m_pIOQueue, nullptr);
    view.answers[106] = false;
    EXPECT_FALSE(s.OnCloseServer());
    EXPECT_NE(s.m_pIOQueue, nullptr);

    view.answers[106] = true;
    EXPECT_TRUE(s.OnCloseServer());
    EXPECT_EQ(view.hides, 0);
    EXPECT_EQ(endings, std::vector<int>{OrbManagerServer::kResultCancel});
    ExpectStopped();
    EXPECT_EQ(RunCheck(), 1u) << "only OK clears the run check";
    EXPECT_TRUE(sw.Switch().WaitForPeerClose(3000));
}

TEST_F(Shutdown, OkWhileRunningStopsTheLinkInOrder) {
    OrbManagerServer& s = StartedServer();
    ASSERT_TRUE(CompletelyRunning());
    s.OnOK();
    ASSERT_EQ(endings.size(), 1u);
    ExpectStopped();
    ASSERT_TRUE(sw.Switch().WaitForPeerClose(3000));
    const auto records = sw.Switch().Records();
    ASSERT_FALSE(records.empty());
    EXPECT_TRUE(IsLinkClose(records.back()));
    EXPECT_TRUE(PortRefuses(listenPort));
    EXPECT_EQ(traces.CountPart("without deleting"), 0);
    // The link is down before the end is traced.
    EXPECT_LT(traces.IndexOf("Deleted LineHandler Handle!!!"),
              traces.IndexOf("Veltrane Link Terminated by User Request..."));
}

TEST_F(Shutdown, OrderlyStopDuringTheWaitEndsItAndStopsAfter) {
    sw.SetDownloadEnabled(false);
    OrbManagerServer& s = MakeServer();
    ASSERT_TRUE(s.OnInitDialog());
    view.onWaitTick = [&](WaitDialogModel&) {
        if (view.waitTicks == 2)
            s.RequestOrderlyStop();
    };
    s.OnStartStop();
    EXPECT_LT(view.waitTicks, 10) << "the wait was ended, not run out";
    EXPECT_TRUE(endings.empty()) << "the start finishes first";
    ASSERT_TRUE(testsupport::SpinUntil([&] { return !endings.empty(); }));
    EXPECT_EQ(endings, std::vector<int>{OrbManagerServer::kResultOk});
    EXPECT_EQ(view.AskedCount(106), 0);
    ExpectStopped();
    EXPECT_EQ(RunCheck(), 0u);
}

TEST_F(Shutdown, OrderlyStopWhileIdleEndsAtOnce) {
    OrbManagerServer& s = StartedServer();
    ASSERT_TRUE(CompletelyRunning());
    s.RequestOrderlyStop();
    EXPECT_EQ(endings, std::vector<int>{OrbManagerServer::kResultOk});
    EXPECT_EQ(view.AskedCount(106), 0);
    ExpectStopped();
}

TEST_F(Shutdown, DestructorLeavesNothingRunning) {
    StartedServer();
    ASSERT_TRUE(CompletelyRunning());
    server.reset();
    EXPECT_EQ(g_pSwitchSocket.load(), nullptr);
    EXPECT_EQ(g_nTracerThreadId.load(), -1);
    EXPECT_TRUE(sw.Switch().WaitForPeerClose(3000));
    EXPECT_TRUE(PortRefuses(listenPort));
    EXPECT_TRUE(endings.empty());
}
