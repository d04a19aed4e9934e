// The reachability test and the telephony start-up test with its watchdog.

#include "AddrSetupFixture.h"

#include <testsupport/LoopbackPorts.h>

namespace addrsetup::test {
namespace {

using telephony::test::TestProviderSettings;

using Reachability = ConnectionManagerTest;

TEST_F(Reachability, MissingSettingsAreToldAndTheServerSeesAConnectionClosedWithoutData) {
    dlg_.TestLinkReachable(); // no key
    Key(platform::RegRoot::LocalMachine, kProviderKey).SetDword("Port No", 6000);
    dlg_.TestLinkReachable(); // no address
    EXPECT_NE(ui_.texts[0].find("\"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\"
                                "CurrentVersion\\Telephony\\LYNXTSP32\\IP Address\""),
              std::string::npos);
    testsupport::TestSwitch server; // a listener that keeps every byte it receives
    SetServer("127.0.0.1", server.Port());
    dlg_.TestLinkReachable();
    EXPECT_TRUE(server.WaitForPeerClose(5000));
    EXPECT_TRUE(server.RawBytes().empty());
    EXPECT_EQ(ui_.messages, (std::vector<unsigned>{IDS_REG_OPEN_FAILED, IDS_REG_QUERY_FAILED,
                                                   IDS_LINK_REACHABLE}));
    EXPECT_EQ(ui_.waitDepth, 0);
}

TEST_F(Reachability, ClosedPortIsTriedEveryAttemptThenUnreachable) {
    const int port = testsupport::FreeListenPortPair();
    ASSERT_TRUE(testsupport::PortRefuses(port));
    SetServer("127.0.0.1", port);
    dlg_.Timings().reachAttempts = 10;
    ::testing::internal::CaptureStderr();
    dlg_.TestLinkReachable();
    const std::string debug = ::testing::internal::GetCapturedStderr();
    size_t tries = 0;
    for (size_t at = debug.find("[Err] IPv4 connection to 127.0.0.1 failed");
         at != std::string::npos; at = debug.find("[Err] IPv4 connection to", at + 1)) {
        ++tries;
    }
    EXPECT_EQ(tries, 10u);
    EXPECT_EQ(ui_.messages, std::vector<unsigned>{IDS_LINK_UNREACHABLE});
    EXPECT_FALSE(dlg_.StepOk());
    EXPECT_EQ(ui_.waitDepth, 0);
}

using TapiStartup = ConnectionManagerTest;

TEST_F(TapiStartup, MakerLinesAreAcceptedAndOtherProvidersOrNoLinesAreNot) {
    InstallMakerProvider();
    dlg_.TestTapiInitialize();
    EXPECT_TRUE(dlg_.StepOk());
    env_.Configure(kProviderFile, TestProviderSettings().Info("Qorvell QMX Service Provider 2"));
    dlg_.TestTapiInitialize();
    EXPECT_FALSE(dlg_.StepOk());
    env_.Configure(kProviderFile, TestProviderSettings().Lines(""));
    dlg_.TestTapiInitialize();
    EXPECT_EQ(ui_.messages,
              (std::vector<unsigned>{IDS_TAPI_ACCEPTS, IDS_NO_MAKER_LINE, IDS_NO_LINES}));
    EXPECT_FALSE(dlg_.TapiReinit());
    EXPECT_EQ(ui_.waitDepth, 0);
    // Every line application was shut down again.
    EXPECT_EQ(env_.Records("init").size(), env_.Records("shutdown").size());
}

TEST_F(TapiStartup, ReinitIsToldApartFromOtherFailures) {
    InstallMakerProvider(TestProviderSettings().InitResult(LINEERR_REINIT));
    dlg_.TestTapiInitialize();
    EXPECT_TRUE(dlg_.TapiReinit());
    env_.Configure(kProviderFile, TestProviderSettings().InitResult(LINEERR_NODRIVER));
    dlg_.TestTapiInitialize();
    EXPECT_FALSE(dlg_.TapiReinit());
    dlg_.SetTapiLibrary(env_.Path("no-such-tapi32.so"));
    dlg_.TestTapiInitialize();
    EXPECT_EQ(ui_.messages,
              (std::vector<unsigned>{IDS_TAPI_REINIT, IDS_TAPI_INIT_FAILED, IDS_TAPI_MISSING}));
    EXPECT_FALSE(dlg_.StepOk());
}

TEST_F(TapiStartup, LinesThatCannotBeToldApartAreAWarningAloneAndAQuestionInASequence) {
    dlg_.SetTapiLibrary(NODEVCAPS_TAPI);
    dlg_.TestTapiInitialize();
    EXPECT_FALSE(dlg_.StepOk());
    ASSERT_EQ(ui_.messages, std::vector<unsigned>{IDS_LINES_UNKNOWN});
    EXPECT_EQ(ui_.texts.back().rfind("3 lines returned from Telephony service.\n", 0), 0u);

    // Inside a sequence (the link test stands in for its first step): Yes goes on.
    testsupport::TestSwitch server;
    SetServer("127.0.0.1", server.Port());
    ui_.answers = {true};
    dlg_.ReconnectSequence(ClientKind::Rowan); // 132 Yes, then the restart: no Path
    EXPECT_EQ(ui_.questions, std::vector<unsigned>{IDS_LINES_UNKNOWN});
    EXPECT_EQ(ui_.messages.back(), IDS_ROWAN_PATH_FAILED);
}

TEST_F(TapiStartup, HangingInitialisationStartsTheKillProgramOnceAndTheNextTestStartsAfresh) {
    dlg_.SetKillProgram(InstallHangingProviderAndKillProgram());
    dlg_.Timings().watchdogPollLimit = 5;
    dlg_.TestTapiInitialize();
    EXPECT_TRUE(dlg_.StepOk()); // it did return in the end
    EXPECT_FALSE(dlg_.WatchdogRecorded());
    WaitFor([&] { return KillRuns() > 0; });
    EXPECT_EQ(KillRuns(), 1);
    env_.Configure(kProviderFile, TestProviderSettings());
    dlg_.Timings().watchdogPollLimit = 750;
    dlg_.TestTapiInitialize();
    EXPECT_EQ(KillRuns(), 1);
    EXPECT_EQ(ui_.messages, (std::vector<unsigned>{IDS_TAPI_ACCEPTS, IDS_TAPI_ACCEPTS}));
}

} // namespace
} // namespace addrsetup::test
