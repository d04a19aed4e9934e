// The reconnect sequence end to end, against a running link server, and the program itself.

#include "AddrSetupFixture.h"
#include <addrsetup/ConnectionManagerWindow.h>
#include <addrsetup/ProcessControl.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <testsupport/ChildProcess.h>
#include <testsupport/DownloadingSwitch.h>
#include <testsupport/LoopbackPorts.h>
#include <testsupport/ServerSettings.h>
#include <testsupport/TestApp.h>

namespace addrsetup::test {
namespace {

using telephony::test::TestProviderSettings;

using Reconnect = ConnectionManagerTest;

#ifdef BROVIK_PATH
TEST_F(Reconnect, AgainstARunningServerReregistersAndRelaunchesSilently) {
    testsupport::DownloadingSwitch sw;
    ASSERT_TRUE(sw.IsListening());
    const int clientPort = testsupport::FreeListenPortPair();
    const std::filesystem::path serverDir = env_.Path("server");
    std::filesystem::create_directories(serverDir);
    ASSERT_TRUE(
        testsupport::WriteServerSettings(serverDir, sw.Host(), sw.Port(), clientPort, BROVIK_PATH));
    testsupport::ChildProcess server(BROVIK_PATH, {"--service"});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(WaitFor([&] { return !testsupport::PortRefuses(clientPort); }, 30000));

    InstallMakerProvider();
    SetServer("127.0.0.1", clientPort);
    const std::string folder = MakeFakeApp(ClientAppOf(ClientKind::Rowan), "Rowan.exe");
    dlg_.ReconnectSequence(ClientKind::Rowan);
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_TRUE(ui_.questions.empty());
    EXPECT_EQ(Registered(), std::vector<std::string>{kProviderFile});
    EXPECT_TRUE(WaitFor([&] { return !Launches().empty(); }, 5000));
    EXPECT_EQ(Launches(), std::vector<std::string>{"run::" + folder});
    EXPECT_TRUE(dlg_.Ended());
    EXPECT_FALSE(dlg_.InSequence());
    EXPECT_TRUE(server.Running()); // a probe that sends nothing does not upset the server
    EXPECT_EQ(server.Stop(20000), 0);
}
#endif

TEST_F(Reconnect, UnreachableServerEndsWithoutTheRetryQuestion) {
    InstallMakerProvider();
    const int port = testsupport::FreeListenPortPair();
    SetServer("127.0.0.1", port);
    dlg_.ReconnectSequence(ClientKind::Elm);
    EXPECT_EQ(ui_.messages, std::vector<unsigned>{IDS_LINK_UNREACHABLE});
    EXPECT_TRUE(ui_.questions.empty());
    EXPECT_EQ(Registered(), std::vector<std::string>{kProviderFile}); // untouched
    EXPECT_FALSE(dlg_.Ended());
}

TEST_F(Reconnect, NoMakerLineAsksAndYesRunsTheWholeSequenceAgain) {
    InstallMakerProvider(TestProviderSettings().Info("Another Provider"));
    testsupport::TestSwitch server;
    SetServer("127.0.0.1", server.Port());
    ui_.answers = {true, false};
    dlg_.ReconnectSequence(ClientKind::Rowan);
    EXPECT_EQ(ui_.questions, (std::vector<unsigned>{IDS_RETRY_NO_LINE, IDS_RETRY_NO_LINE}));
    EXPECT_EQ(ui_.messages, (std::vector<unsigned>{IDS_NO_MAKER_LINE, IDS_NO_MAKER_LINE}));
    EXPECT_TRUE(server.WaitForConnection(5000, 2)); // tested again from the start
    EXPECT_FALSE(dlg_.InSequence());

    // Reinit ends the tool instead of asking.
    env_.Configure(kProviderFile, TestProviderSettings().InitResult(LINEERR_REINIT));
    dlg_.ReconnectSequence(ClientKind::Rowan);
    EXPECT_EQ(ui_.messages.back(), IDS_TAPI_REINIT);
    EXPECT_EQ(ui_.questions.size(), 2u);
    EXPECT_TRUE(dlg_.Ended());
}

TEST_F(Reconnect, TheWindowCarriesTheDialogsControlsAndOneCopyRuns) {
    testsupport::App<QApplication>();
    MakeFakeApp(ClientAppOf(ClientKind::Elm), "Dizad.exe");
    CConnectionManagerWindow window;
    EXPECT_EQ(window.windowTitle(), "[Veltrane] Connection Manager");
    EXPECT_EQ(window.Control(IDC_RECONNECT_ELM)->text(), "Reconnect\nVeltrane Elm");
    EXPECT_EQ(window.Control(IDC_TEST_LINK)->text(), "Is Veltrane Link reachable?");
    EXPECT_TRUE(window.Control(IDC_EXECUTE_ELM)->isEnabled());
    EXPECT_FALSE(window.Control(IDC_EXECUTE_ROWAN)->isEnabled());

    testsupport::ChildProcess first(ADDRSETUP_PATH, {});
    ASSERT_TRUE(WaitFor([] { return WindowClassExists(kWindowClass); }, 10000));
    testsupport::ChildProcess second(ADDRSETUP_PATH, {});
    EXPECT_EQ(second.WaitExit(10000), std::optional<int>(0));
    EXPECT_TRUE(first.Running());
}

TEST_F(Reconnect, TheWindowShowsTheBoxOfAHungTestAfterItsWatchdogFiredAndGuardsTheNextAfresh) {
    testsupport::App<QApplication>();
    const std::string kill = InstallHangingProviderAndKillProgram();
    CConnectionManagerWindow window;
    window.Logic().SetTapiLibrary(telephony::test::kTapiLibrary);
    window.Logic().SetKillProgram(kill);
    window.Logic().Timings().watchdogPollMs = 10;
    window.Logic().Timings().watchdogPollLimit = 5;
    window.show();
    // Takes each box the window shows, as a user who reads it and presses OK.
    QStringList boxes;
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << box->text();
            box->accept();
        }
    });
    reader.start(10);

    const QString accepts = QString::fromUtf8(LoadString(IDS_TAPI_ACCEPTS));
    for (int run = 1; run <= 2; ++run) {
        window.Control(IDC_TEST_TAPI)->click();
        EXPECT_EQ(boxes, QStringList(run, accepts)) << "run " << run;
        EXPECT_FALSE(window.Logic().WatchdogRecorded());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "run " << run;
        // Each hanging test has a watchdog of its own, which starts the kill program once.
        EXPECT_TRUE(WaitFor([&] { return KillRuns() >= run; }));
        EXPECT_EQ(KillRuns(), run);
    }
    EXPECT_TRUE(window.isVisible());
}

} // namespace
} // namespace addrsetup::test
