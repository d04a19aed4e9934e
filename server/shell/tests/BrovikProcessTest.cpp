// The server as a program: started headless as the service would start it, with a registry of
// its own and the English language library beside it.

#include "ChildProcess.h"
#include "ShellFixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace shell_test;
namespace fs = std::filesystem;

// Brovik as a child process.
class BrovikProcess : public platform::test::ChildProcess {
public:
    explicit BrovikProcess(std::vector<std::string> args)
        : ChildProcess(BROVIK_PATH, std::move(args)) {}
};

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

class BrovikProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_switch.IsListening());
        m_listenPort = FreeListenPortPair();
        ASSERT_GT(m_listenPort, 0);
        // The language library lives in DllPath, and so does the trace log ("Log" below it).
        fs::copy_file(fs::path(RESDLL_DIR) / "ResDLLEN.so", m_registry.Dir() / "ResDLLEN.so");

        platform::RegKey root = CreateKey(kRootKey);
        root.SetString("OrbPath", m_registry.Dir().string());
        platform::RegKey conn = CreateKey(kConnEnvKey);
        conn.SetDword("ConnType", 2);
        conn.SetDword("SwitchType", 0);
        conn.SetString("IP Address", m_switch.Host());
        conn.SetDword("Port No", static_cast<std::uint32_t>(m_switch.Port()));
        conn.SetDword("Listen Port No", static_cast<std::uint32_t>(m_listenPort));
        conn.SetDword("CommPort", 1);
        conn.SetDword("BaudRate", 9600);
        conn.SetDword("ByteSize", 8);
        conn.SetDword("StopBits", 1);
        platform::RegKey options = CreateKey(kOptionsKey);
        options.SetDword("UseSystemServiceMode", 1);
        options.SetDword("UseAutoConnect", 1);
        options.SetString("DllPath", m_registry.Dir().string());
        options.SetString("Extension", "ENG");
    }

    bool ClientPortsOpen() const {
        for (const int port : {m_listenPort, m_listenPort + 500}) {
            const int fd = ConnectLoopback(port);
            if (fd < 0)
                return false;
            ::close(fd);
        }
        return true;
    }

    TempRegistry m_registry;
    DownloadingSwitch m_switch;
    int m_listenPort = 0;
};

TEST_F(BrovikProgram, ServiceModeRunsHeadlessAndStopsInOrderOnSigterm) {
    BrovikProcess server({"--service"});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(m_switch.WaitForDownloads(1, 20000));
    ASSERT_TRUE(WaitUntil([&] { return ClientPortsOpen(); }, 20000));

    // A second copy finds the first and ends without starting another link.
    BrovikProcess second({"--service"});
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(second.WaitExit(15000), std::optional<int>(0));
    EXPECT_EQ(m_switch.Switch().ConnectionCount(), 1);

    const std::size_t before = m_switch.Switch().Records().size();
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(20000), std::optional<int>(0));
    EXPECT_TRUE(m_switch.Switch().WaitForLetter('k', 2000, before).has_value());
    EXPECT_TRUE(WaitUntil([&] { return PortRefuses(m_listenPort); }, 2000));

    // The trace queue was flushed: the log ends with the server's own last words.
    bool terminated = false;
    for (const auto& entry : fs::directory_iterator(m_registry.Dir() / "Log")) {
        std::ifstream in(entry.path());
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        terminated = terminated || text.find("Veltrane Link Terminated") != std::string::npos;
    }
    EXPECT_TRUE(terminated);
}

TEST_F(BrovikProgram, ServiceArgumentWithServiceModeOffIsRefused) {
    platform::RegKey options = CreateKey(kOptionsKey);
    options.SetDword("UseSystemServiceMode", 0);
    BrovikProcess server({"--service"});
    ASSERT_TRUE(server.Started());
    EXPECT_EQ(server.WaitExit(15000), std::optional<int>(1));
    EXPECT_EQ(m_switch.Switch().ConnectionCount(), 0);
}

} // namespace
