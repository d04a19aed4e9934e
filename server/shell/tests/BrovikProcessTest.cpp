// The server as a program: started headless as the service would start it, with a registry of
// its own and the English language library beside it.

#include "ShellFixture.h"
#include <shell/UserStore.h>
#include <testsupport/ChildProcess.h>
#include <testsupport/ServerSettings.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace shell;

namespace {

using namespace shell_test;
namespace fs = std::filesystem;

// A start on a loaded machine may take long; the server itself waits two minutes for the download,
// so the ports may open that late and still be right.
constexpr int kStartWaitMs = 120000;

// Brovik as a child process.
class BrovikProcess : public testsupport::ChildProcess {
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
        testsupport::ServerSettings settings;
        settings.dir = m_registry.Dir();
        settings.switchHost = m_switch.Host();
        settings.switchPort = m_switch.Port();
        settings.clientPort = m_listenPort;
        settings.languageLibrary = fs::path(RESDLL_DIR) / "ResDLLEN.so";
        ASSERT_TRUE(testsupport::WriteServerSettings(settings));
    }

    bool ClientPortsOpen() const {
        return !PortRefuses(m_listenPort) && !PortRefuses(m_listenPort + 500);
    }
    // The server's trace log holds its start line.
    bool TracedItsStart() const {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(m_registry.Dir() / "Log", error)) {
            std::ifstream in(entry.path());
            const std::string text((std::istreambuf_iterator<char>(in)), {});
            if (text.find("Veltrane Link Started...") != std::string::npos)
                return true;
        }
        return false;
    }

    TempRegistry m_registry;
    DownloadingSwitch m_switch;
    int m_listenPort = 0;
};

TEST_F(BrovikProgram, ServiceModeRunsHeadlessAndStopsInOrderOnSigterm) {
    BrovikProcess server({"--service"});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(m_switch.WaitForDownloads(1, kStartWaitMs));
    ASSERT_TRUE(WaitUntil([&] { return ClientPortsOpen(); }, kStartWaitMs));

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

TEST_F(BrovikProgram, StopRequestEndsAStartUpBoxThatNobodyAnswers) {
    // "Listen Port No" out of range: the window shows a box at start-up and waits for OK.
    CreateKey(kConnEnvKey).SetDword("Listen Port No", 70000);
    testsupport::ChildProcess::Options options;
    options.environment = {"QT_QPA_PLATFORM=offscreen"};
    testsupport::ChildProcess server(BROVIK_PATH, {}, options);
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(WaitUntil([&] { return TracedItsStart(); }, 20000));
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(20000), std::optional<int>(0));
}

TEST_F(BrovikProgram, ManyStoredUsersStartAndAStopDuringStartUpEndsInOrder) {
    // A thousand users, written as the server's own store would hold them.
    std::string users = "[HKEY_LOCAL_MACHINE\\" + std::string(UserStore::kUserDataKey) +
                        "]\r\n\"UserListCount\"=dword:000003e8\r\n\r\n";
    for (int i = 0; i < 1000; ++i) {
        const std::string n = std::to_string(i);
        users += "[HKEY_LOCAL_MACHINE\\" + std::string(UserStore::kUserDataKey) + "\\UserData_" +
                 n + "]\r\n\"UserName\"=\"user" + n + "\"\r\n\"IPAddress\"=\"10.0." +
                 std::to_string(i / 250) + "." + std::to_string(i % 250) +
                 "\"\r\n\"UserType\"=\"0\"\r\n\"UserInfo\"=\"desk " + n +
                 "\"\r\n\"DeviceID\"=\"-1\"\r\n\"DeviceSeqNo\"=\"-1\"\r\n\r\n";
    }
    std::ofstream(m_registry.File(), std::ios::binary | std::ios::app) << users;

    {
        BrovikProcess server({"--service"});
        ASSERT_TRUE(server.Started());
        ASSERT_TRUE(m_switch.WaitForDownloads(1, kStartWaitMs));
        ASSERT_TRUE(WaitUntil([&] { return ClientPortsOpen(); }, kStartWaitMs));
        server.Signal(SIGTERM);
        EXPECT_EQ(server.WaitExit(20000), std::optional<int>(0));
    }

    // Stopped while it starts: as soon as it traces its start, before the link is up.
    fs::remove_all(m_registry.Dir() / "Log");
    BrovikProcess server({"--service"});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(WaitUntil([&] { return TracedItsStart(); }, 20000));
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(20000), std::optional<int>(0));
}

} // namespace
