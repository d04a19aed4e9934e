// The link server against the simulated switch: Brovik, started headless as its service runs,
// links to the switch window's listener, takes the download and opens its client ports.

#include "ChildProcess.h"
#include "LoopbackPorts.h"
#include "SimRunController.h"
#include "TestApp.h"

#include "platform/Registry.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#ifdef BROVIK_PATH

namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;
using platform::test::ConnectLoopback;

RegKey CreateKey(const std::string& path) {
    RegKey key;
    EXPECT_EQ(RegKey::Create(RegRoot::LocalMachine, path, key), RegStatus::Ok);
    return key;
}

bool ClientPortsOpen(int port) {
    for (const int each : {port, port + 500}) {
        const int fd = ConnectLoopback(each);
        if (fd < 0)
            return false;
        ::close(fd);
    }
    return true;
}

class SimBrovikEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        platform::test::App();
        ASSERT_TRUE(m_dir.isValid());
        ::setenv("QORVELL_REGISTRY", m_dir.filePath("registry.reg").toStdString().c_str(), 1);
        const std::filesystem::path dir = m_dir.path().toStdString();
        std::filesystem::copy_file(std::filesystem::path(BROVIK_PATH).parent_path() / "ResDLLEN.so",
                                   dir / "ResDLLEN.so");

        m_controller.SetListenPortOverride(0);
        m_controller.Form_Load();
        m_controller.cmdRun_Click();
        ASSERT_EQ(m_controller.Link().State(), SimLink::StateListening);
        m_listenPort = platform::test::FreeListenPortPair();
        ASSERT_GT(m_listenPort, 0);

        const std::string base = "Software\\Qorvell Electronics\\OrbManager";
        CreateKey(base).SetString("OrbPath", dir.string());
        RegKey conn = CreateKey(base + "\\ConnEnv");
        conn.SetDword("ConnType", 2);
        conn.SetDword("SwitchType", 0);
        conn.SetString("IP Address", "localhost");
        conn.SetDword("Port No", m_controller.Link().ListeningPort());
        conn.SetDword("Listen Port No", static_cast<std::uint32_t>(m_listenPort));
        conn.SetDword("CommPort", 1);
        conn.SetDword("BaudRate", 9600);
        conn.SetDword("ByteSize", 8);
        conn.SetDword("StopBits", 1);
        RegKey options = CreateKey(base + "\\OptionValues");
        options.SetDword("UseSystemServiceMode", 1);
        options.SetDword("UseAutoConnect", 1);
        options.SetString("DllPath", dir.string());
        options.SetString("Extension", "ENG");
    }
    void TearDown() override { ::unsetenv("QORVELL_REGISTRY"); }

    QTemporaryDir m_dir;
    SimRunController m_controller;
    int m_listenPort = 0;
};

TEST_F(SimBrovikEndToEnd, ServerTakesTheDownloadOpensItsPortsAndClosesTheLinkInOrder) {
    platform::test::ChildProcess server(BROVIK_PATH, {"--service"});
    ASSERT_TRUE(server.Started());

    // The device list request enables Call Run; then the server opens both client ports.
    EXPECT_TRUE(platform::test::SpinUntil([&] { return m_controller.State().callSimEnabled; },
                                          std::chrono::seconds(20)));
    EXPECT_EQ(m_controller.Link().State(), SimLink::StateConnected);
    EXPECT_TRUE(platform::test::SpinUntil([&] { return ClientPortsOpen(m_listenPort); },
                                          std::chrono::seconds(20)));
    // Keep-alive polls are answered without a trace or a count; the link stays up.
    EXPECT_EQ(m_controller.State().panels[2], "PavoLinker : On ");

    // An orderly stop sends the link clear: the switch goes back to listening for the next link.
    server.Signal(SIGTERM);
    std::optional<int> exit;
    EXPECT_TRUE(platform::test::SpinUntil(
        [&] {
            exit = server.WaitExit(0);
            return exit.has_value();
        },
        std::chrono::seconds(20)));
    EXPECT_EQ(exit, std::optional<int>(0));
    EXPECT_TRUE(platform::test::SpinUntil(
        [&] { return m_controller.Link().State() == SimLink::StateListening; },
        std::chrono::seconds(5)));
    EXPECT_FALSE(m_controller.State().callSimEnabled);
}

} // namespace

#endif
