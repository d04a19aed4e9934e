// The rig as a program: a stop request ends it as Quit does, settings saved.

#include <testsupport/ChildProcess.h>
#include <testsupport/TempRegistry.h>

#include <platform/Registry.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

namespace {

// True once the program catches SIGTERM, for its event loop to act on.
bool CatchesSigterm(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigCgt:", 0) == 0) {
            return (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGTERM - 1))) != 0;
        }
    }
    return false;
}

TEST(LoadRigProgram, StopRequestQuitsLikeQuitAndSavesTheSettings) {
    testsupport::TempRegistry registry("loadrigsig");
    ASSERT_TRUE(registry.IsReady());
    testsupport::ChildProcess::Options options;
    options.environment = {"QT_QPA_PLATFORM=offscreen"};
    testsupport::ChildProcess rig(LOADRIG_PATH, {"--switch"}, options);
    ASSERT_TRUE(rig.Started());
    // Once caught, the signal waits for the event loop to read it.
    // Bounded as generously as its exit below: a loaded machine may take seconds to start it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!CatchesSigterm(rig.Pid()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(CatchesSigterm(rig.Pid()));
    rig.Signal(SIGTERM);
    EXPECT_EQ(rig.WaitExit(20000), std::optional<int>(0));
    platform::RegKey key;
    EXPECT_EQ(platform::RegKey::Open(platform::RegRoot::LocalMachine,
                                     "SOFTWARE\\Qorvell Electronics\\DODEDIdi", key),
              platform::RegStatus::Ok)
        << "the switch window's settings were not saved";
}

} // namespace
