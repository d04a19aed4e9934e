#pragma once

// Fault cases against the server: Brovik as a child process on a registry of its own, linked to
// a loopback switch, with plain socket clients and monitors, the events the switch sends, and the
// process's descriptor, thread and memory counts read from /proc.
//
//   fault_test::BrovikRig rig;              // registry written, switch listening
//   ASSERT_TRUE(rig.Start());               // running, download taken, client ports open
//   fault_test::RigClient client;
//   ASSERT_TRUE(client.Connect(rig.ClientPort()) && client.Login() && client.WaitListEnd(5000));
//   rig.SendEvent(1);                       // an 'E' carrying sequence number 1
//   EXPECT_TRUE(client.WaitEvents(1, 5000));

#include "ShellFixture.h"
#include <testsupport/ChildProcess.h>
#include <testsupport/DownloadingSwitch.h>
#include <testsupport/LoopbackPorts.h>
#include <testsupport/PeerSocket.h>
#include <testsupport/ServerSettings.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace fault_test {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

inline bool WaitFor(const std::function<bool()>& done, int timeoutMs, int stepMs = 10) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
    return done();
}

// Open descriptors and threads of a process (0 for "self").
struct ProcessCounts {
    int fds = -1;
    int threads = -1;
    bool operator==(const ProcessCounts&) const = default;
};

inline int CountEntries(const std::filesystem::path& dir) {
    std::error_code error;
    int count = 0;
    for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
         it.increment(error))
        ++count;
    return error ? -1 : count;
}

inline std::filesystem::path ProcDir(pid_t pid) {
    return pid > 0 ? std::filesystem::path("/proc") / std::to_string(pid)
                   : std::filesystem::path("/proc/self");
}

inline ProcessCounts CountsOf(pid_t pid) {
    return {CountEntries(ProcDir(pid) / "fd"), CountEntries(ProcDir(pid) / "task")};
}

inline std::ostream& operator<<(std::ostream& out, const ProcessCounts& counts) {
    return out << "{fds " << counts.fds << ", threads " << counts.threads << "}";
}

// A record whose length is 0 or above the largest record is a torn or corrupted stream (Broken),
// and so is a stream that ends inside a record once it is complete (Pending).
using RecordStream = testsupport::RecordReader;

// The events the rig's switch sends: 'E' for device 201 with second number 202, the sequence
// number in body bytes 12 and 13 (high byte first) and filler up to the asked length.
inline Bytes EventBody(std::uint16_t seq, std::size_t length = 14) {
    Bytes body{'E',
               0xFF,
               0xFF,
               2,
               0,
               1,
               0xFF,
               0x00,
               2,
               0,
               2,
               0xFF,
               static_cast<std::uint8_t>(seq >> 8),
               static_cast<std::uint8_t>(seq & 0xFF)};
    for (std::size_t i = body.size(); i < std::max<std::size_t>(length, 14); ++i)
        body.push_back(static_cast<std::uint8_t>(seq + i));
    return body;
}
inline bool IsEvent(const Bytes& body) {
    return body.size() >= 14 && body[0] == 'E' && body[3] == 2 && body[4] == 0 && body[5] == 1;
}
inline std::uint16_t EventSeq(const Bytes& body) {
    return static_cast<std::uint16_t>(body[12] << 8 | body[13]);
}
// True when the body is exactly what EventBody built for its sequence number.
inline bool IsWholeEvent(const Bytes& body) {
    return IsEvent(body) && body == EventBody(EventSeq(body), body.size());
}

// A plain TCP client of a client port or a monitor port. One thread drives each object.
class RigClient : public testsupport::PeerSocket {
public:
    bool SendRaw(const Bytes& bytes) { return Send(bytes); }
    bool SendRaw(const std::uint8_t* data, std::size_t size) {
        return Send(protocol::ByteView(data, size));
    }
    // The client-port login with the given kind (6: a client that gets every event).
    bool Login(std::uint8_t kind = 6) {
        return SendRaw(
            Bytes{0x00, 0x0A, 0x02, 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, kind, 0x00});
    }
    // The monitor start request with the access code.
    bool StartMonitor(const std::string& code = "507193") {
        Bytes bytes{0x00, 0x0B, 0x09, 'Z', 0xFF, 0xFF, static_cast<std::uint8_t>(code.size())};
        for (std::size_t i = 0; i < 6; ++i)
            bytes.push_back(i < code.size() ? static_cast<std::uint8_t>(code[i]) : 0);
        return SendRaw(bytes);
    }

    bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
        return WaitFor(
            [&] {
                Pump();
                return done();
            },
            timeoutMs, 2);
    }
    // The device list's end: an 'A' whose type byte is 0.
    bool HasListEnd() const {
        for (const Bytes& frame : Stream().Frames())
            if (frame.size() >= 11 && frame[2] == 'A' && frame[10] == 0)
                return true;
        return false;
    }
    bool WaitListEnd(int timeoutMs) {
        return WaitUntil([&] { return HasListEnd(); }, timeoutMs);
    }
    bool WaitPeerClose(int timeoutMs) {
        return WaitUntil([&] { return SawClose(); }, timeoutMs);
    }
    bool PeerClosed() const { return SawClose(); }

    // Sequence numbers of the events received, in arrival order.
    std::vector<std::uint16_t> EventSeqs() const {
        std::vector<std::uint16_t> seqs;
        for (const Bytes& body : Stream().Bodies())
            if (IsEvent(body))
                seqs.push_back(EventSeq(body));
        return seqs;
    }
    std::size_t EventCount() const {
        std::size_t count = 0;
        for (const Bytes& frame : Stream().Frames())
            count += IsEventFrame(frame) ? 1 : 0;
        return count;
    }
    bool WaitEvents(std::size_t count, int timeoutMs) {
        return WaitUntil([&] { return EventCount() >= count; }, timeoutMs);
    }
    const RecordStream& Stream() const { return Reader(); }

private:
    static bool IsEventFrame(const Bytes& frame) {
        return frame.size() >= 16 && frame[2] == 'E' && frame[5] == 2 && frame[6] == 0 &&
               frame[7] == 1;
    }
};

// A sanitizer build keeps freed memory aside; a small quarantine lets the memory bound measure
// what the server holds, not what the allocator keeps.
inline testsupport::ChildProcess::Options RigProcessOptions() {
    testsupport::ChildProcess::Options options;
    options.environment = {"ASAN_OPTIONS=quarantine_size_mb=8"};
    return options;
}

struct RigOptions {
    bool monitors = false; // the three monitor listeners on
    int devices = 3;
};

// The whole set-up: registry, language library, switch, and the server once Start() is called.
class BrovikRig {
public:
    explicit BrovikRig(RigOptions options = RigOptions())
        : m_switch(testsupport::DownloadingSwitch::LineDevices(options.devices)) {
        m_clientPort = testsupport::FreeListenPortPair();
        testsupport::ServerSettings settings;
        settings.dir = m_registry.Dir();
        settings.switchHost = m_switch.Host();
        settings.switchPort = m_switch.Port();
        settings.clientPort = m_clientPort;
        settings.languageLibrary = std::filesystem::path(RESDLL_DIR) / "ResDLLEN.so";
        settings.userManager = 0;
        // The trace goes to the log files only, not to the test's output.
        settings.debugPrint = 0;
        if (options.monitors) {
            const int first = testsupport::FreeListenPortPair();
            const int second = testsupport::FreeListenPortPair();
            m_monitorPorts = {first, first + 500, second};
            settings.msgMonitorPort = first;
            settings.smdrMonitorPort = first + 500;
            settings.smdrSendPort = second;
            settings.monitorAccessCode = "507193";
        }
        EXPECT_TRUE(testsupport::WriteServerSettings(settings));
    }
    ~BrovikRig() { m_process.reset(); }

    // Started and serving: the download taken and both client ports open.
    bool Start(int timeoutMs = 30000) {
        if (!m_switch.IsListening() || m_clientPort <= 0)
            return false;
        m_process = std::make_unique<testsupport::ChildProcess>(
            BROVIK_PATH, std::vector<std::string>{"--service"}, RigProcessOptions());
        if (m_process->Pid() <= 0 || !m_switch.WaitForDownloads(1, timeoutMs))
            return false;
        return WaitFor(
            [&] {
                return !testsupport::PortRefuses(m_clientPort) &&
                       !testsupport::PortRefuses(m_clientPort + 500);
            },
            timeoutMs, 50);
    }
    // SIGTERM; true on an orderly exit with status 0.
    bool Stop() {
        if (!m_process)
            return false;
        m_process->Signal(SIGTERM);
        return m_process->WaitExit(30000) == std::optional<int>(0);
    }
    // SIGTERM without waiting; the exit status once it has ended within the time.
    void Terminate() {
        if (m_process)
            m_process->Signal(SIGTERM);
    }
    std::optional<int> WaitExit(int timeoutMs) {
        return m_process ? m_process->WaitExit(timeoutMs) : std::nullopt;
    }
    bool ServerRunning() { return m_process && m_process->Running(); }
    pid_t Pid() const { return m_process ? m_process->Pid() : -1; }
    ProcessCounts Counts() const { return CountsOf(Pid()); }
    // Until the server's counts come back to `start`; the last counts seen.
    ProcessCounts WaitCounts(const ProcessCounts& start, int timeoutMs) const {
        ProcessCounts now;
        WaitFor(
            [&] {
                now = Counts();
                return now == start;
            },
            timeoutMs, 50);
        return now;
    }

    int ClientPort() const { return m_clientPort; }
    int BypassPort() const { return m_clientPort + 500; }
    // Message monitor, SMDR/UCD monitor, SMDR/UCD send port (with RigOptions::monitors).
    const std::vector<int>& MonitorPorts() const { return m_monitorPorts; }
    testsupport::DownloadingSwitch& Switch() { return m_switch; }
    testsupport::TestSwitch& Link() { return m_switch.Switch(); }
    bool SendEvent(std::uint16_t seq, std::size_t length = 14) {
        return m_switch.Switch().SendRecord(EventBody(seq, length));
    }

    // The trace log's whole text, for a failure's message.
    std::string TraceText() const {
        std::string text;
        std::error_code error;
        for (std::filesystem::directory_iterator it(m_registry.Dir() / "Log", error), end;
             !error && it != end; it.increment(error)) {
            std::ifstream in(it->path());
            text.append(std::istreambuf_iterator<char>(in), {});
        }
        return text;
    }
    bool TraceHas(const std::string& text) const {
        return TraceText().find(text) != std::string::npos;
    }

private:
    shell_test::TempRegistry m_registry;
    testsupport::DownloadingSwitch m_switch;
    int m_clientPort = 0;
    std::vector<int> m_monitorPorts;
    std::unique_ptr<testsupport::ChildProcess> m_process;
};

} // namespace fault_test
