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

#include "DownloadingSwitch.h"
#include "LoopbackPorts.h"
#include "ShellFixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
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

extern char** environ;

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

// Resident memory in kB, -1 when unknown.
inline long ResidentKb(pid_t pid) {
    std::ifstream status(ProcDir(pid) / "status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Cuts a received byte stream at its 2-byte lengths. A record whose length is 0 or above 400 is
// a torn or corrupted stream, and so is a stream that ends inside a record once it is complete.
class RecordStream {
public:
    void Feed(const std::uint8_t* data, std::size_t size) {
        m_pending.insert(m_pending.end(), data, data + size);
        std::size_t at = 0;
        while (m_pending.size() - at >= 2) {
            const std::size_t length =
                static_cast<std::size_t>(m_pending[at] << 8 | m_pending[at + 1]);
            if (length == 0 || length > 400) {
                m_bBroken = true;
                m_pending.clear();
                return;
            }
            if (m_pending.size() - at < 2 + length)
                break;
            m_bodies.emplace_back(m_pending.begin() + static_cast<std::ptrdiff_t>(at + 2),
                                  m_pending.begin() + static_cast<std::ptrdiff_t>(at + 2 + length));
            at += 2 + length;
        }
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(at));
    }
    const std::vector<Bytes>& Bodies() const { return m_bodies; }
    bool Broken() const { return m_bBroken; }
    std::size_t PendingBytes() const { return m_pending.size(); }

private:
    Bytes m_pending;
    std::vector<Bytes> m_bodies;
    bool m_bBroken = false;
};

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

inline void SetNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// A plain TCP client of a client port or a monitor port. One thread drives each object.
class RigClient {
public:
    RigClient() = default;
    ~RigClient() { Close(); }
    RigClient(const RigClient&) = delete;
    RigClient& operator=(const RigClient&) = delete;

    // receiveBuffer > 0 shrinks the socket's receive buffer before the connect (a slow reader
    // that fills up quickly).
    bool Connect(int port, int receiveBuffer = 0) {
        Close();
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            return false;
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            Close();
            return false;
        }
        SetNonBlocking(m_fd);
        return true;
    }
    void Close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_stream = RecordStream();
        m_bPeerClosed = false;
    }
    int Fd() const { return m_fd; }

    // Everything is written, however slowly the server reads; false once the connection broke.
    bool SendRaw(const Bytes& bytes) { return SendRaw(bytes.data(), bytes.size()); }
    bool SendRaw(const std::uint8_t* data, std::size_t size) {
        const auto end = Clock::now() + std::chrono::seconds(20);
        while (size > 0 && m_fd >= 0) {
            const ssize_t sent = ::send(m_fd, data, size, MSG_NOSIGNAL);
            if (sent > 0) {
                data += sent;
                size -= static_cast<std::size_t>(sent);
                continue;
            }
            if (sent < 0 && (errno == EAGAIN || errno == EINTR) && Clock::now() < end) {
                Pump();
                pollfd p{m_fd, POLLOUT, 0};
                ::poll(&p, 1, 20);
                continue;
            }
            return false;
        }
        return size == 0;
    }
    bool SendRecord(const Bytes& body) {
        Bytes bytes{static_cast<std::uint8_t>(body.size() >> 8),
                    static_cast<std::uint8_t>(body.size() & 0xFF)};
        bytes.insert(bytes.end(), body.begin(), body.end());
        return SendRaw(bytes);
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

    // Reads what has arrived, without waiting.
    void Pump() {
        std::uint8_t buffer[65536];
        while (m_fd >= 0) {
            const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got > 0) {
                m_stream.Feed(buffer, static_cast<std::size_t>(got));
                continue;
            }
            if (got == 0 || (errno != EAGAIN && errno != EINTR))
                m_bPeerClosed = true;
            return;
        }
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
        for (const Bytes& body : m_stream.Bodies())
            if (body.size() >= 9 && body[0] == 'A' && body[8] == 0)
                return true;
        return false;
    }
    bool WaitListEnd(int timeoutMs) {
        return WaitUntil([&] { return HasListEnd(); }, timeoutMs);
    }
    bool WaitPeerClose(int timeoutMs) {
        return WaitUntil([&] { return m_bPeerClosed; }, timeoutMs);
    }
    bool PeerClosed() const { return m_bPeerClosed; }

    // Sequence numbers of the events received, in arrival order.
    std::vector<std::uint16_t> EventSeqs() const {
        std::vector<std::uint16_t> seqs;
        for (const Bytes& body : m_stream.Bodies())
            if (IsEvent(body))
                seqs.push_back(EventSeq(body));
        return seqs;
    }
    std::size_t EventCount() const {
        std::size_t count = 0;
        for (const Bytes& body : m_stream.Bodies())
            count += IsEvent(body) ? 1 : 0;
        return count;
    }
    bool WaitEvents(std::size_t count, int timeoutMs) {
        return WaitUntil([&] { return EventCount() >= count; }, timeoutMs);
    }
    const RecordStream& Stream() const { return m_stream; }

private:
    int m_fd = -1;
    RecordStream m_stream;
    bool m_bPeerClosed = false;
};

// Brovik started with posix_spawn, its pid at hand for /proc; killed at the end if still running.
class RigProcess {
public:
    RigProcess(const std::string& path, const std::vector<std::string>& args) {
        std::vector<std::string> argStore{path};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : argStore)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        // A sanitizer build keeps freed memory aside; a small quarantine lets the memory bound
        // measure what the server holds, not what the allocator keeps.
        std::vector<std::string> envStore;
        bool asanSeen = false;
        for (char** e = environ; *e != nullptr; ++e) {
            std::string entry = *e;
            if (entry.rfind("ASAN_OPTIONS=", 0) == 0) {
                entry += ":quarantine_size_mb=8";
                asanSeen = true;
            }
            envStore.push_back(entry);
        }
        if (!asanSeen)
            envStore.push_back("ASAN_OPTIONS=quarantine_size_mb=8");
        std::vector<char*> envp;
        for (std::string& entry : envStore)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        if (::posix_spawn(&m_pid, path.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0)
            m_pid = -1;
    }
    ~RigProcess() {
        if (m_pid > 0 && !m_bExited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    RigProcess(const RigProcess&) = delete;
    RigProcess& operator=(const RigProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    void Signal(int signal) {
        if (m_pid > 0 && !m_bExited)
            ::kill(m_pid, signal);
    }
    // The exit status (128 + signal when killed), or nullopt while it runs.
    std::optional<int> WaitExit(int timeoutMs) {
        WaitFor(
            [&] {
                int status = 0;
                if (!m_bExited && m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                    m_bExited = true;
                    m_nStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                }
                return m_bExited;
            },
            timeoutMs, 20);
        return m_bExited ? std::optional<int>(m_nStatus) : std::nullopt;
    }
    bool Running() { return m_pid > 0 && !WaitExit(0).has_value(); }

private:
    pid_t m_pid = -1;
    bool m_bExited = false;
    int m_nStatus = 0;
};

struct RigOptions {
    bool monitors = false; // the three monitor listeners on
    int devices = 3;
};

// The whole set-up: registry, language library, switch, and the server once Start() is called.
class BrovikRig {
public:
    explicit BrovikRig(RigOptions options = RigOptions())
        : m_switch(DownloadingSwitch::LineDevices(options.devices)) {
        m_clientPort = platform::test::FreeListenPortPair();
        std::filesystem::copy_file(std::filesystem::path(RESDLL_DIR) / "ResDLLEN.so",
                                   m_registry.Dir() / "ResDLLEN.so");
        using shell_test::CreateKey;
        CreateKey(shell_test::kRootKey).SetString("OrbPath", m_registry.Dir().string());
        platform::RegKey conn = CreateKey(shell_test::kConnEnvKey);
        conn.SetDword("ConnType", 2);
        conn.SetDword("SwitchType", 0);
        conn.SetString("IP Address", m_switch.Host());
        conn.SetDword("Port No", static_cast<std::uint32_t>(m_switch.Port()));
        conn.SetDword("Listen Port No", static_cast<std::uint32_t>(m_clientPort));
        conn.SetDword("CommPort", 1);
        conn.SetDword("BaudRate", 9600);
        conn.SetDword("ByteSize", 8);
        conn.SetDword("StopBits", 1);
        platform::RegKey opt = CreateKey(shell_test::kOptionsKey);
        opt.SetDword("UseSystemServiceMode", 1);
        opt.SetDword("UseAutoConnect", 1);
        opt.SetDword("UseUserManager", 0);
        // The trace goes to the log files only, not to the test's output.
        opt.SetDword("UseDebugMsgPrint", 0);
        opt.SetString("DllPath", m_registry.Dir().string());
        opt.SetString("Extension", "ENG");
        if (options.monitors) {
            const int first = platform::test::FreeListenPortPair();
            const int second = platform::test::FreeListenPortPair();
            m_monitorPorts = {first, first + 500, second};
            opt.SetDword("UseMsgMonitor", 1);
            opt.SetDword("MsgMonitorListenPortNo", static_cast<std::uint32_t>(first));
            opt.SetDword("UseSMDRUCDMonitor", 1);
            opt.SetDword("SMDRUCDMonitorListenPortNo", static_cast<std::uint32_t>(first + 500));
            opt.SetDword("UseSMDRUCDSend", 1);
            opt.SetDword("SMDRUCDSendListenPortNo", static_cast<std::uint32_t>(second));
            opt.SetString("MonitorAccessCode", "507193");
        }
    }
    ~BrovikRig() { m_process.reset(); }

    // Started and serving: the download taken and both client ports open.
    bool Start(int timeoutMs = 30000) {
        if (!m_switch.IsListening() || m_clientPort <= 0)
            return false;
        m_process =
            std::make_unique<RigProcess>(BROVIK_PATH, std::vector<std::string>{"--service"});
        if (m_process->Pid() <= 0 || !m_switch.WaitForDownloads(1, timeoutMs))
            return false;
        return WaitFor(
            [&] {
                for (const int port : {m_clientPort, m_clientPort + 500}) {
                    const int fd = platform::test::ConnectLoopback(port);
                    if (fd < 0)
                        return false;
                    ::close(fd);
                }
                return true;
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
    DownloadingSwitch& Switch() { return m_switch; }
    TestSwitch& Link() { return m_switch.Switch(); }
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
    DownloadingSwitch m_switch;
    int m_clientPort = 0;
    std::vector<int> m_monitorPorts;
    std::unique_ptr<RigProcess> m_process;
};

} // namespace fault_test
