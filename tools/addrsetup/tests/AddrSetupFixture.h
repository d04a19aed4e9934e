#pragma once

// What the connection manager's tests share: a screen that records what the logic shows and
// answers its questions from a script, a registry and telephony folder of their own, the
// provider's settings and fake client applications.

#include <addrsetup/AddrSetupStrings.h>
#include <addrsetup/ConnectionManagerDlg.h>
#include <telephony/testing/TelephonyTestEnv.h>

#include <platform/Registry.h>
#include <testsupport/TestSwitch.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace addrsetup::test {

class RecordingUi : public ConnectionManagerUi {
public:
    void MessageBox(unsigned id, const std::string& text, MessageIcon) override {
        messages.push_back(id);
        texts.push_back(text);
    }
    bool AskYesNo(unsigned id, const std::string& text, MessageIcon) override {
        questions.push_back(id);
        texts.push_back(text);
        if (answers.empty()) {
            return false;
        }
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    void BeginWaitCursor() override { ++waitDepth; }
    void EndWaitCursor() override { --waitDepth; }
    void EnableControl(int id, bool enable) override { enabled[id] = enable; }
    void EndDialog(int) override {}

    std::vector<unsigned> messages;
    std::vector<unsigned> questions;
    std::vector<std::string> texts;
    std::deque<bool> answers;
    std::map<int, bool> enabled;
    int waitDepth = 0;
};

class ConnectionManagerTest : public ::testing::Test {
protected:
    ConnectionManagerTest() {
        Timing& t = dlg_.Timings();
        t.reachAttempts = 3;
        t.reachRetryMs = 10;
        t.reconfigureSleepMs = 0;
        t.watchdogPollMs = 10;
        t.restartPassMs = 20;
        t.restartKillPass = 5;
        t.restartGiveUpPass = 10;
        dlg_.SetTapiLibrary(telephony::test::kTapiLibrary);
    }

    platform::RegKey Key(platform::RegRoot root, const std::string& path) {
        platform::RegKey key;
        platform::RegKey::Create(root, path, key);
        return key;
    }
    // The provider's configured link server.
    void SetServer(const std::string& address, int port) {
        platform::RegKey key = Key(platform::RegRoot::LocalMachine, kProviderKey);
        key.SetString("IP Address", address);
        key.SetDword("Port No", static_cast<uint32_t>(port));
    }
    // The maker's provider in place and registered.
    void InstallMakerProvider(const telephony::test::TestProviderSettings& settings = {}) {
        env_.InstallProvider(kProviderFile, settings);
        ASSERT_EQ(env_.Register(kProviderFile), 0);
    }
    // Registered provider file names, in order.
    std::vector<std::string> Registered() {
        platform::RegKey key = Key(platform::RegRoot::LocalMachine,
                                   "Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\"
                                   "Providers");
        uint32_t count = 0;
        key.QueryDword("NumProviders", count);
        std::vector<std::string> names;
        for (uint32_t i = 0; i < count; ++i) {
            std::string name;
            key.QueryString("ProviderFileName" + std::to_string(i), name);
            names.push_back(name);
        }
        return names;
    }
    // A fake client application named like the process file in a folder of its own, which
    // appends "run:<argument>:<working folder>" to the launch log and then ends at once, after
    // the given seconds, or ("forever") never. Forever it waits on a pipe nobody writes, as one
    // process: a loop would start children under the same name, which a kill could take for it.
    std::string MakeFakeApp(const ClientApp& app, const std::string& file) {
        const std::string folder = env_.Path(std::string(app.title) + "-app");
        ::mkdir(folder.c_str(), 0755);
        const std::string never = folder + "/never";
        ::mkfifo(never.c_str(), 0600);
        const std::string path = folder + "/" + file;
        std::ofstream(path) << "#!/bin/sh\n"
                            << "echo \"run:$1:$(pwd)\" >> '" << LaunchLog() << "'\n"
                            << "if [ \"$1\" = forever ]; then read line < '" << never << "'; fi\n"
                            << "if [ -n \"$1\" ]; then sleep \"$1\"; fi\n";
        ::chmod(path.c_str(), 0755);
        platform::RegKey key = Key(app.root, app.key);
        key.SetString("Path", folder);
        return folder;
    }
    std::string LaunchLog() const { return env_.Path("launches.txt"); }
    // The maker's provider, whose initialisation hangs until the kill program has run however
    // late the watchdog fires; the kill program's path. KillRuns counts its runs.
    std::string InstallHangingProviderAndKillProgram() {
        const std::string release = env_.Path("release");
        InstallMakerProvider(
            telephony::test::TestProviderSettings().InitHangMs(60000).InitHangUntil(release));
        const std::string kill = env_.Path("KillVeltraneApp.exe");
        std::ofstream(kill) << "#!/bin/sh\necho killed >> '" << env_.Path("killed.txt")
                            << "'\ntouch '" << release << "'\n";
        ::chmod(kill.c_str(), 0755);
        return kill;
    }
    long KillRuns() const {
        std::ifstream in(env_.Path("killed.txt"));
        return static_cast<long>(std::count(std::istreambuf_iterator<char>(in), {}, '\n'));
    }
    // Until done() holds, at most timeoutMs.
    static bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
        for (int waited = 0; waited < timeoutMs && !done(); waited += 20) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return done();
    }
    std::vector<std::string> Launches() const {
        std::vector<std::string> lines;
        std::ifstream in(LaunchLog());
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    telephony::test::TelephonyTestEnv env_;
    RecordingUi ui_;
    CConnectionManagerDlg dlg_{ui_};
};

} // namespace addrsetup::test
