#pragma once

// What the connection manager's tests share: a screen that records what the logic shows and
// answers its questions from a script, a registry and telephony folder of their own, the
// provider's settings, a listener for the reachability test and fake client applications.

#include "AddrSetupStrings.h"
#include "ConnectionManagerDlg.h"
#include "TelephonyTestEnv.h"

#include <platform/Registry.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <fstream>
#include <map>
#include <string>
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
    void EndDialog(int result) override { endResults.push_back(result); }

    std::vector<unsigned> messages;
    std::vector<unsigned> questions;
    std::vector<std::string> texts;
    std::deque<bool> answers;
    std::map<int, bool> enabled;
    std::vector<int> endResults;
    int waitDepth = 0;
};

// A listener on loopback that the reachability test may connect to.
class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(fd_, 8) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~Listener() { ::close(fd_); }
    int Port() const { return port_; }
    // Accepts one connection and reads it to its end: the bytes it carried, or -1 when no
    // connection came or it did not end.
    int ReadOneConnection(int timeoutMs = 5000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) {
            return -1;
        }
        const int peer = ::accept(fd_, nullptr, nullptr);
        int total = 0;
        for (;;) {
            pollfd q{peer, POLLIN, 0};
            if (::poll(&q, 1, timeoutMs) != 1) {
                total = -1;
                break;
            }
            char buffer[256];
            const ssize_t got = ::recv(peer, buffer, sizeof buffer, 0);
            if (got <= 0) {
                break;
            }
            total += static_cast<int>(got);
        }
        ::close(peer);
        return total;
    }

private:
    int fd_ = -1;
    int port_ = 0;
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
    // the given seconds, or ("forever") never.
    std::string MakeFakeApp(const ClientApp& app, const std::string& file) {
        const std::string folder = env_.Path(std::string(app.title) + "-app");
        ::mkdir(folder.c_str(), 0755);
        const std::string path = folder + "/" + file;
        std::ofstream(path) << "#!/bin/sh\n"
                            << "echo \"run:$1:$(pwd)\" >> '" << LaunchLog() << "'\n"
                            << "if [ \"$1\" = forever ]; then while :; do sleep 0.05; done; fi\n"
                            << "if [ -n \"$1\" ]; then sleep \"$1\"; fi\n";
        ::chmod(path.c_str(), 0755);
        platform::RegKey key = Key(app.root, app.key);
        key.SetString("Path", folder);
        return folder;
    }
    std::string LaunchLog() const { return env_.Path("launches.txt"); }
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
