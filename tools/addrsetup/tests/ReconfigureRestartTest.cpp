// Re-registration of the maker's provider and the restart of the client applications.

#include "AddrSetupFixture.h"
#include <addrsetup/ProcessControl.h>

#include <testsupport/ChildProcess.h>

#include <QLockFile>

#include <csignal>

namespace addrsetup::test {
namespace {

using Reconfigure = ConnectionManagerTest;

TEST_F(Reconfigure, FirstOfTwoRegistrationsGoesAndNothingIsAdded) {
    env_.InstallProvider(kProviderFile);
    // Registered twice, under a full path in capitals and under the bare name.
    platform::RegKey key =
        Key(platform::RegRoot::LocalMachine,
            "Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers");
    key.SetDword("NumProviders", 2);
    key.SetDword("NextProviderID", 3);
    key.SetDword("ProviderID0", 1);
    key.SetString("ProviderFileName0", env_.TelephonyDir() + "/LYNXTSP32.TSP");
    key.SetDword("ProviderID1", 2);
    key.SetString("ProviderFileName1", kProviderFile);
    ui_.answers = {true};
    dlg_.ReconfigureTelephony();
    EXPECT_EQ(ui_.questions, std::vector<unsigned>{IDS_RECONFIGURE_ASK});
    EXPECT_EQ(ui_.messages, std::vector<unsigned>{IDS_RECONFIGURED});
    EXPECT_EQ(Registered(), std::vector<std::string>{kProviderFile});

    EXPECT_TRUE(dlg_.StepOk());
    EXPECT_EQ(ui_.waitDepth, 0);
}

TEST_F(Reconfigure, NoLeavesEverythingAndAnUnreadableListIsAFailure) {
    InstallMakerProvider();
    ui_.answers = {false};
    dlg_.ReconfigureTelephony();
    EXPECT_FALSE(dlg_.StepOk());
    EXPECT_EQ(Registered(), std::vector<std::string>{kProviderFile});

    std::ofstream(env_.Path("registry.reg")) << "not a registry\n[[[\n";
    EXPECT_EQ(dlg_.AddTspProvider(), 2); // never "registered already"
    ui_.answers = {true};
    dlg_.ReconfigureTelephony();
    EXPECT_EQ(ui_.messages, std::vector<unsigned>{IDS_REMOVE_FAILED});
}

using Restart = ConnectionManagerTest;

TEST_F(Restart, AnApplicationThatEndsByItselfIsRelaunchedFromItsFolder) {
    const ClientApp& plus = ClientAppOf(ClientKind::RowanPlus);
    const std::string folder = MakeFakeApp(plus, "Rezid.exe");
    dlg_.Timings().restartKillPass = 1000; // it is never killed here
    dlg_.Timings().restartGiveUpPass = 2000;
    testsupport::ChildProcess running(folder + "/Rezid.exe", {"0.3"});
    ASSERT_TRUE(running.Started());
    ASSERT_TRUE(WaitFor([&] { return !Launches().empty(); }));
    dlg_.RestartRowanPlusApp();
    EXPECT_EQ(running.WaitExit(5000), std::optional<int>(0));
    WaitFor([&] { return Launches().size() >= 2; });
    ASSERT_EQ(Launches().size(), 2u);
    EXPECT_EQ(Launches()[1], "run::" + folder); // no argument, started in its own folder
    EXPECT_TRUE(dlg_.Ended());
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_EQ(ui_.waitDepth, 0);
}

TEST_F(Restart, AnApplicationThatNeverEndsIsKilledAtThePassLimit) {
    const std::string folder = MakeFakeApp(ClientAppOf(ClientKind::Elm), "Dizad.exe");
    testsupport::ChildProcess running(folder + "/Dizad.exe", {"forever"});
    ASSERT_TRUE(running.Started());
    ASSERT_TRUE(WaitFor([&] { return !Launches().empty(); }));
    ::testing::internal::CaptureStderr();
    dlg_.RestartElmApp();
    const std::string debug = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(running.WaitExit(5000), std::optional<int>(128 + SIGKILL));
    EXPECT_NE(debug.find("[Restart] Veltrane - Elm process has been killed forcefully!\n"),
              std::string::npos);
    EXPECT_TRUE(dlg_.Ended());
}

TEST_F(Restart, MissingFolderOrProgramIsReportedAndButtonsFollowThePath) {
    dlg_.OnInitDialog();
    EXPECT_EQ(ui_.enabled,
              (std::map<int, bool>{
                  {3, false}, {4, false}, {5, false}, {6, false}, {7, false}, {8, false}}));
    dlg_.RestartRowanApp();
    EXPECT_FALSE(dlg_.Ended());
    const std::string folder = MakeFakeApp(ClientAppOf(ClientKind::Rowan), "other.exe");
    ui_.enabled.clear();
    dlg_.OnInitDialog();
    EXPECT_EQ(ui_.enabled.count(3), 0u);
    dlg_.RestartRowanApp();
    EXPECT_TRUE(dlg_.Ended()); // a failed launch ends the tool too
    EXPECT_EQ(ui_.messages,
              (std::vector<unsigned>{IDS_ROWAN_PATH_FAILED, IDS_ROWAN_LAUNCH_FAILED}));
}

TEST_F(Restart, WithoutAProcessListTheWindowIsWaitedForWithinTheLimit) {
    const std::string folder = MakeFakeApp(ClientAppOf(ClientKind::Rowan), "Rowan.exe");
    dlg_.SetProcessRoot(env_.Path("no-proc"));
    QLockFile window(QString::fromStdString(WindowClassLockPath("BrindleClass")));
    ASSERT_TRUE(window.tryLock(0));
    dlg_.RestartRowanApp();
    EXPECT_FALSE(dlg_.Ended()); // still there: no second copy beside it
    EXPECT_EQ(ui_.messages, std::vector<unsigned>{IDS_ROWAN_LAUNCH_FAILED});
    window.unlock();
    dlg_.RestartRowanApp();
    EXPECT_TRUE(dlg_.Ended());
}

} // namespace
} // namespace addrsetup::test
