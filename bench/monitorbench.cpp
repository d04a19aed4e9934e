// monitorbench: whether switchwatch and smdrwatch keep up with a busy server with their logs on.
// Plays the server's monitor port on loopback, starts the real program (offscreen, a registry of
// its own, logs and auto-clear on, --start), waits for its start request and sends records at a
// set rate, while it follows the program's log files as they are written (across the ring's
// files): every record must reach the log, whole and in order, the program must not fall behind
// and its memory must stay flat. A program of its own, run by hand (not a test).
//
//   monitorbench [switchwatch] [smdrwatch] [--rate=5000] [--seconds=60] [--size=398]
//                [--list-bound=1000] [--drain=10] [--max-lag-ms=1000]
//
// switchwatch gets events from the switch ('D', the sequence number in bytes 1..4, then filler);
// smdrwatch gets SMDR and UCD records by turns, the sequence number at the head of their text.

#include "OptionParser.h"

#include <testsupport/ChildProcess.h>

#include <platform/Registry.h>
#include <protocol/CtiRecord.h>
#include <protocol/MonitorStartRequest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kPassCode = "507193";

struct Options {
    std::vector<std::string> monitors{"switchwatch", "smdrwatch"};
    int rate = 5000;
    double seconds = 60;
    int size = 398; // record body bytes (the frame has two more)
    int listBound = 1000;
    double drain = 10;
    int maxLagMs = 1000;
    bool keep = false;
};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// VmRSS and VmHWM of a process, in kB; 0 when unreadable.
struct Memory {
    long rss = 0, hwm = 0;
};

Memory MemoryOf(pid_t pid) {
    Memory m;
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            m.rss = std::atol(line.c_str() + 6);
        else if (line.rfind("VmHWM:", 0) == 0)
            m.hwm = std::atol(line.c_str() + 6);
    }
    return m;
}

// User and system CPU time of a process, in seconds.
double CpuSecondsOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    // Fields after the name: state is the third field, utime the 14th and stime the 15th.
    std::vector<std::string> fields;
    std::size_t at = close + 2;
    while (at < text.size() && fields.size() < 13) {
        const std::size_t space = text.find(' ', at);
        fields.push_back(text.substr(at, space - at));
        at = space == std::string::npos ? text.size() : space + 1;
    }
    if (fields.size() < 13)
        return 0;
    return static_cast<double>(std::atol(fields[11].c_str()) + std::atol(fields[12].c_str())) /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::string LoadText() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

const char kHex[] = "0123456789ABCDEF";

// What one monitor program is sent and what its log lines must say.
struct Kind {
    std::string name;
    std::string program;
    std::string registryKey;
    std::vector<std::string> logPrefixes; // one ring each
    // The record body of a sequence number.
    std::function<Bytes(std::uint32_t seq, int size)> body;
    // The log (index into logPrefixes) a record goes to.
    std::function<int(std::uint32_t seq)> logOf;
    // The sequence number of a record line, or nothing for another line; `expected` is what the
    // line must hold after its time stamp.
    std::function<std::optional<std::uint32_t>(const std::string& line, int size, std::string& rest,
                                               std::string& expected)>
        parse;
};

Bytes SwitchBody(std::uint32_t seq, int size) {
    Bytes body(static_cast<std::size_t>(std::max(size, 5)));
    body[0] = 'D';
    body[1] = static_cast<std::uint8_t>(seq >> 24);
    body[2] = static_cast<std::uint8_t>(seq >> 16);
    body[3] = static_cast<std::uint8_t>(seq >> 8);
    body[4] = static_cast<std::uint8_t>(seq);
    for (std::size_t i = 5; i < body.size(); ++i)
        body[i] = static_cast<std::uint8_t>(seq * 31 + i);
    return body;
}

// "[yyyymmdd hh:mm:ss.mmm]\t<<== [SW] 'D' " and every further byte as "XX ".
std::optional<std::uint32_t> ParseSwitchLine(const std::string& line, int size, std::string& rest,
                                             std::string& expected) {
    static const std::string lead = "\t<<== [SW] 'D' ";
    if (line.empty() || line[0] != '[')
        return std::nullopt;
    const std::size_t at = line.find(lead);
    if (at == std::string::npos || line[at - 1] != ']' || line.size() < at + lead.size() + 12)
        return std::nullopt;
    std::uint32_t seq = 0;
    for (int i = 0; i < 4; ++i) {
        const char* p = line.c_str() + at + lead.size() + i * 3;
        seq = seq << 8 |
              static_cast<std::uint32_t>(std::strtoul(std::string(p, 2).c_str(), nullptr, 16));
    }
    rest = line.substr(at);
    const Bytes body = SwitchBody(seq, size);
    expected = lead;
    for (std::size_t i = 1; i < body.size(); ++i) {
        expected += kHex[body[i] >> 4];
        expected += kHex[body[i] & 15];
        expected += ' ';
    }
    return seq;
}

std::string SmdrText(std::uint32_t seq, int size) {
    const int n = std::clamp(size - 9, 10, 255);
    char head[16];
    std::snprintf(head, sizeof head, "SEQ%010u", seq);
    std::string text = head;
    for (int i = static_cast<int>(text.size()); i < n; ++i)
        text += static_cast<char>('a' + (seq + static_cast<std::uint32_t>(i)) % 26);
    text.resize(static_cast<std::size_t>(n));
    return text;
}

Bytes SmdrBody(std::uint32_t seq, int size) {
    const std::string text = SmdrText(seq, size);
    Bytes body(std::max<std::size_t>(static_cast<std::size_t>(size), 9 + text.size()), 0xFF);
    body[0] = seq % 2 == 0 ? 'Z' : 'U';
    body[7] = 0;
    body[8] = static_cast<std::uint8_t>(text.size());
    std::memcpy(body.data() + 9, text.data(), text.size());
    return body;
}

// "[Mon d yyyy h:m:s] " and the text.
std::optional<std::uint32_t> ParseSmdrLine(const std::string& line, int size, std::string& rest,
                                           std::string& expected) {
    if (line.empty() || line[0] != '[')
        return std::nullopt;
    const std::size_t at = line.find("] SEQ");
    if (at == std::string::npos || line.size() < at + 15)
        return std::nullopt;
    const std::uint32_t seq =
        static_cast<std::uint32_t>(std::strtoul(line.substr(at + 5, 10).c_str(), nullptr, 10));
    rest = line.substr(at + 2);
    expected = SmdrText(seq, size);
    return seq;
}

std::vector<Kind> Kinds() {
    return {
        {"switchwatch",
         SWITCHWATCH_PATH,
         "Software\\Qorvell Electronics\\OrbMonitor",
         {"swmsg"},
         SwitchBody,
         [](std::uint32_t) { return 0; },
         ParseSwitchLine},
        {"smdrwatch",
         SMDRWATCH_PATH,
         "Software\\Qorvell Electronics\\smdrwatch",
         {"smdr", "ucd"},
         SmdrBody,
         [](std::uint32_t seq) { return static_cast<int>(seq % 2); },
         ParseSmdrLine},
    };
}

// Reads a ring of log files "<dir>/Log/<prefix><n>.log" as it is written: the current file to its
// end, then the next one once it has been (re)opened behind a new header.
class LogFollower {
public:
    LogFollower(fs::path dir, std::string prefix)
        : m_dir(std::move(dir)), m_prefix(std::move(prefix)) {}
    ~LogFollower() {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // Hands every complete new line (without its LF) to `line`.
    void Poll(const std::function<void(const std::string&)>& line) {
        if (m_fd < 0) {
            m_fd = ::open(PathOf(m_index).c_str(), O_RDONLY | O_CLOEXEC);
            if (m_fd < 0)
                return;
            m_headers[m_index] = FirstLine(m_index);
        }
        for (;;) {
            ReadToEnd(line);
            const int next = (m_index + 1) % 10;
            const std::string header = FirstLine(next);
            if (header.empty() || header == m_headers[next])
                return;
            // The program has moved on: what the current file holds is all it will hold.
            ReadToEnd(line);
            if (!m_partial.empty())
                line(m_partial);
            m_partial.clear();
            ::close(m_fd);
            m_index = next;
            m_offset = 0;
            m_headers[next] = header;
            m_fd = ::open(PathOf(m_index).c_str(), O_RDONLY | O_CLOEXEC);
            ++m_rotations;
            if (m_fd < 0)
                return;
        }
    }
    int Rotations() const { return m_rotations; }

private:
    std::string PathOf(int index) const {
        return (m_dir / "Log" / (m_prefix + std::to_string(index) + ".log")).string();
    }
    std::string FirstLine(int index) const {
        const int fd = ::open(PathOf(index).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return {};
        char text[1024];
        const ssize_t n = ::pread(fd, text, sizeof text, 0);
        ::close(fd);
        if (n <= 0)
            return {};
        const char* end =
            static_cast<const char*>(std::memchr(text, '\n', static_cast<std::size_t>(n)));
        return end != nullptr ? std::string(text, static_cast<std::size_t>(end - text))
                              : std::string();
    }
    void ReadToEnd(const std::function<void(const std::string&)>& line) {
        char buffer[1 << 16];
        for (;;) {
            const ssize_t n = ::pread(m_fd, buffer, sizeof buffer, m_offset);
            if (n <= 0)
                return;
            m_offset += n;
            std::size_t from = 0;
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] != '\n')
                    continue;
                m_partial.append(buffer + from, static_cast<std::size_t>(i) - from);
                line(m_partial);
                m_partial.clear();
                from = static_cast<std::size_t>(i) + 1;
            }
            m_partial.append(buffer + from, static_cast<std::size_t>(n) - from);
        }
    }

    fs::path m_dir;
    std::string m_prefix;
    int m_fd = -1;
    int m_index = 0;
    off_t m_offset = 0;
    std::string m_partial;
    std::string m_headers[10];
    int m_rotations = 0;
};

// What came through one log: records in order, and what was wrong.
struct LogCheck {
    std::uint32_t nextSeq = 0;
    std::uint32_t step = 1;
    long records = 0;
    long wrong = 0; // out of order, missing before, or with other bytes
    long closings = 0;
    std::string firstFault;
};

int ListenLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 4) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

bool WriteKey(const Kind& kind, const fs::path& dir, int port, int listBound) {
    platform::RegKey k;
    if (platform::RegKey::Create(platform::RegRoot::LocalMachine, kind.registryKey, k) !=
        platform::RegStatus::Ok)
        return false;
    k.SetString("DllPath", MONITOR_LIBRARY_DIR);
    k.SetString("Extension", "ENG");
    k.SetString("InstalledPath", dir.string());
    k.SetString("Monitor Server IP Address", "127.0.0.1");
    k.SetDword("Monitor Server Port No", static_cast<std::uint32_t>(port));
    k.SetString("MonitorPassCode", kPassCode);
    k.SetDword("UseAutoClear", listBound > 0 ? 1 : 0);
    k.SetDword("AutoClearCount", static_cast<std::uint32_t>(std::max(listBound, 1)));
    if (kind.name == "smdrwatch") {
        k.SetDword("UseSMDRFileSave", 1);
        k.SetDword("UseUCDFileSave", 1);
    } else {
        k.SetDword("UseFileSave", 1);
    }
    return true;
}

// Waits for the program's connection and its start request; the connected descriptor or -1.
int AcceptMonitor(int listener, testsupport::ChildProcess& program) {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    int fd = -1;
    while (fd < 0 && Clock::now() < deadline && program.Running()) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 200) > 0)
            fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    if (fd < 0)
        return -1;
    const Bytes want = protocol::MonitorStartRequest::Build(kPassCode);
    Bytes got(want.size());
    std::size_t have = 0;
    while (have < got.size() && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        const ssize_t n = ::recv(fd, got.data() + have, got.size() - have, 0);
        if (n <= 0)
            break;
        have += static_cast<std::size_t>(n);
    }
    if (got != want) {
        std::fprintf(stderr, "monitorbench: no start request from the program\n");
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

struct SendStats {
    std::atomic<long> queued{0}; // records due by the rate so far
    std::atomic<long> taken{0};  // records the socket has taken whole
    std::atomic<bool> done{false};
    std::atomic<bool> stop{false}; // the program takes nothing more
    long maxPendingBytes = 0;      // in the bench, waiting for the socket
    double blockedMs = 0;          // time with records waiting for the socket
    double seconds = 0;            // from the first record to the last one taken
};

// Sends `total` records at `rate` a second, as many at once as are due; what the socket does not
// take waits in order. Each record's send time goes into `sentNs`.
void SendRecords(int fd, const Kind& kind, const Options& o, long total,
                 std::vector<std::atomic<std::int64_t>>& sentNs, SendStats& stats) {
    Bytes pending;
    std::size_t sentFrom = 0;
    long queued = 0;
    const auto start = Clock::now();
    auto lastCheck = start;
    // Byte offsets in `pending` at which each queued record ends, to count whole records taken.
    std::vector<std::pair<std::size_t, long>> ends;
    std::size_t endAt = 0;
    long taken = 0;
    while (taken < total && !stats.stop.load()) {
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        const long due = std::min<long>(total, static_cast<long>(elapsed * o.rate) + 1);
        const std::int64_t nowNs = NowNs();
        for (; queued < due; ++queued) {
            const Bytes body = kind.body(static_cast<std::uint32_t>(queued), o.size);
            pending.push_back(static_cast<std::uint8_t>(body.size() >> 8));
            pending.push_back(static_cast<std::uint8_t>(body.size() & 0xFF));
            pending.insert(pending.end(), body.begin(), body.end());
            ends.emplace_back(pending.size(), queued + 1);
            sentNs[static_cast<std::size_t>(queued)].store(nowNs, std::memory_order_release);
        }
        stats.queued.store(queued);
        while (sentFrom < pending.size()) {
            const ssize_t n =
                ::send(fd, pending.data() + sentFrom, pending.size() - sentFrom, MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                stats.stop = true;
            if (n <= 0)
                break;
            sentFrom += static_cast<std::size_t>(n);
        }
        while (endAt < ends.size() && ends[endAt].first <= sentFrom)
            taken = ends[endAt++].second;
        stats.taken.store(taken);
        const long waiting = static_cast<long>(pending.size() - sentFrom);
        stats.maxPendingBytes = std::max(stats.maxPendingBytes, waiting);
        if (waiting > 0)
            stats.blockedMs += Ms(now - lastCheck);
        lastCheck = now;
        if (sentFrom == pending.size() || sentFrom > (1u << 20)) {
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(sentFrom));
            for (std::size_t i = endAt; i < ends.size(); ++i)
                ends[i].first -= sentFrom;
            ends.erase(ends.begin(), ends.begin() + static_cast<std::ptrdiff_t>(endAt));
            endAt = 0;
            sentFrom = 0;
        }
        if (taken >= total)
            break;
        if (waiting > 0) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 1);
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }
    stats.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stats.done = true;
}

bool RunOne(const Kind& kind, const Options& o) {
    std::string pattern = (fs::temp_directory_path() / "monitorbenchXXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return false;
    const fs::path dir = pattern;
    ::setenv("QORVELL_REGISTRY", (dir / "registry.reg").c_str(), 1);
    int port = 0;
    const int listener = ListenLoopback(port);
    if (listener < 0 || !WriteKey(kind, dir, port, o.listBound)) {
        std::fprintf(stderr, "monitorbench: no port or registry\n");
        return false;
    }
    const long total = static_cast<long>(o.rate * o.seconds);
    std::printf("\n== %s: %ld records of %d bytes at %d/s for %.0f s, list bound %d, load %s\n",
                kind.name.c_str(), total, o.size, o.rate, o.seconds, o.listBound,
                LoadText().c_str());
    std::fflush(stdout);

    testsupport::ChildProcess::Options childOptions;
    childOptions.environment = {"QT_QPA_PLATFORM=offscreen"};
    childOptions.outputFile = (dir / "program.out").string();
    const int quitAfter = static_cast<int>(o.seconds + o.drain) + 120;
    testsupport::ChildProcess program(
        kind.program, {"--start", "--quit-after=" + std::to_string(quitAfter)}, childOptions);
    const int fd = program.Started() ? AcceptMonitor(listener, program) : -1;
    ::close(listener);
    if (fd < 0) {
        std::printf("%s: FAIL (the program did not connect; see %s)\n", kind.name.c_str(),
                    childOptions.outputFile.c_str());
        return false;
    }

    std::vector<LogFollower> followers;
    std::vector<LogCheck> checks(kind.logPrefixes.size());
    for (std::size_t i = 0; i < kind.logPrefixes.size(); ++i) {
        followers.emplace_back(dir, kind.logPrefixes[i]);
        checks[i].nextSeq = static_cast<std::uint32_t>(i);
        checks[i].step = static_cast<std::uint32_t>(kind.logPrefixes.size());
    }
    std::vector<std::atomic<std::int64_t>> sentNs(static_cast<std::size_t>(total));
    std::vector<double> lags;
    lags.reserve(static_cast<std::size_t>(total));
    long logged = 0;
    double lastRecordLag = 0, lastSeenS = 0;
    const auto runStartNs = NowNs();
    const auto follow = [&] {
        for (std::size_t i = 0; i < followers.size(); ++i) {
            LogCheck& check = checks[i];
            followers[i].Poll([&](const std::string& line) {
                if (line.find("Closed Time : ") != std::string::npos) {
                    ++check.closings;
                    return;
                }
                std::string rest, expected;
                const auto seq = kind.parse(line, o.size, rest, expected);
                if (!seq)
                    return;
                const std::int64_t now = NowNs();
                if (*seq != check.nextSeq || rest != expected || static_cast<long>(*seq) >= total) {
                    if (check.wrong++ == 0)
                        check.firstFault = "expected record " + std::to_string(check.nextSeq) +
                                           ", found: " + line.substr(0, 120);
                    if (*seq >= check.nextSeq)
                        check.nextSeq = *seq + check.step;
                    return;
                }
                check.nextSeq += check.step;
                ++check.records;
                ++logged;
                const double lag =
                    static_cast<double>(now - sentNs[*seq].load(std::memory_order_acquire)) / 1e6;
                lags.push_back(lag);
                lastRecordLag = lag;
                lastSeenS = static_cast<double>(now - runStartNs) / 1e9;
            });
        }
    };

    const Memory startMemory = MemoryOf(program.Pid());
    const double startCpu = CpuSecondsOf(program.Pid());
    SendStats stats;
    std::thread sender(SendRecords, fd, std::cref(kind), std::cref(o), total, std::ref(sentNs),
                       std::ref(stats));
    const auto start = Clock::now();
    const auto limit = std::chrono::duration<double>(o.seconds + o.drain);
    Memory warmMemory, endMemory;
    long maxBehind = 0;
    double nextReport = 5;
    const double warmAt = std::max(1.0, o.seconds / 6);
    for (;;) {
        follow();
        maxBehind = std::max(maxBehind, stats.queued.load() - logged);
        const double t = std::chrono::duration<double>(Clock::now() - start).count();
        if (warmMemory.rss == 0 && t >= warmAt)
            warmMemory = MemoryOf(program.Pid());
        if (t >= nextReport) {
            const Memory m = MemoryOf(program.Pid());
            std::printf("  %5.1f s: due %ld, taken by the socket %ld, in the log %ld, behind %ld, "
                        "VmRSS %ld kB\n",
                        t, stats.queued.load(), stats.taken.load(), logged,
                        stats.queued.load() - logged, m.rss);
            std::fflush(stdout);
            nextReport += 5;
        }
        if ((stats.done.load() && logged >= total) || Clock::now() - start > limit ||
            !program.Running())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stats.stop = true;
    sender.join();
    endMemory = MemoryOf(program.Pid());
    const double cpu = CpuSecondsOf(program.Pid()) - startCpu;
    const double runSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (warmMemory.rss == 0)
        warmMemory = endMemory;
    const bool ranThrough = program.Running();
    // The stop writes what is still held and closes the logs.
    program.Signal(SIGTERM);
    const std::optional<int> status = program.WaitExit(30000);
    ::close(fd);
    const auto closeDeadline = Clock::now() + std::chrono::seconds(5);
    const auto allClosed = [&] {
        return std::all_of(checks.begin(), checks.end(),
                           [](const LogCheck& c) { return c.closings > 0; });
    };
    do {
        follow();
    } while (!allClosed() && Clock::now() < closeDeadline &&
             (std::this_thread::sleep_for(std::chrono::milliseconds(5)), true));

    std::sort(lags.begin(), lags.end());
    const auto lagAt = [&](double q) {
        return lags.empty() ? 0.0 : lags[static_cast<std::size_t>(q * (lags.size() - 1))];
    };
    long wrong = 0;
    for (const LogCheck& c : checks)
        wrong += c.wrong;
    const double rssGrowth = (endMemory.rss - warmMemory.rss) / 1024.0;
    const bool flat = rssGrowth <= std::max(16.0, warmMemory.rss / 1024.0 * 0.1);
    const bool everyRecord = logged == total && wrong == 0;
    const bool keptUp = lagAt(1.0) <= o.maxLagMs;
    const double lastLag = logged == total && !lags.empty() ? lastRecordLag : -1;
    const double achieved = logged / std::max(1e-3, lastSeenS);
    std::printf("  sent %ld records in %.1f s (bench's send queue at most %ld bytes, records "
                "waiting for the socket %.0f ms of the run)\n",
                stats.taken.load(), stats.seconds, stats.maxPendingBytes, stats.blockedMs);
    std::printf("  in the log: %ld of %ld in order, %ld wrong%s%s; about %.0f records/s; "
                "closing lines %s\n",
                logged, total, wrong, wrong > 0 ? ": " : "",
                wrong > 0 ? (checks[0].wrong > 0 ? checks[0] : checks.back()).firstFault.c_str()
                          : "",
                achieved, allClosed() ? "written" : "MISSING");
    for (std::size_t i = 0; i < checks.size(); ++i)
        std::printf("    %s: %ld records, %d file changes\n", kind.logPrefixes[i].c_str(),
                    checks[i].records, followers[i].Rotations());
    std::printf("  behind: at most %ld records; send to log p50 %.1f ms, p99 %.1f ms, max %.1f ms; "
                "the last record %s\n",
                maxBehind, lagAt(0.5), lagAt(0.99), lagAt(1.0),
                lastLag < 0 ? "never reached the log"
                            : ("reached it " + std::to_string(static_cast<long>(lastLag)) +
                               " ms after its send")
                                  .c_str());
    std::printf("  memory: VmRSS %ld kB at start, %ld kB at %.0f s, %ld kB at the end (%+.1f MB); "
                "VmHWM %ld kB at the end\n",
                startMemory.rss, warmMemory.rss, warmAt, endMemory.rss, rssGrowth, endMemory.hwm);
    std::printf("  program CPU: %.2f s over the run, %.1f us a record logged, %.0f %% of a core\n",
                cpu, logged > 0 ? cpu * 1e6 / static_cast<double>(logged) : 0.0,
                100 * cpu / std::max(1e-3, runSeconds));
    std::printf("  program: %s, exit %s\n", ranThrough ? "ran through" : "ENDED EARLY",
                status ? std::to_string(*status).c_str() : "none (killed)");
    const bool pass = everyRecord && keptUp && flat && ranThrough && status == 0 && allClosed();
    std::printf("%s: %s  %d records/s for %.0f s, every record in the log%s, memory flat%s, "
                "never more than %d ms behind%s\n",
                kind.name.c_str(), pass ? "PASS" : "FAIL", o.rate, o.seconds,
                everyRecord ? "" : " (NOT)", flat ? "" : " (NOT)", o.maxLagMs,
                keptUp ? "" : " (NOT)");
    std::fflush(stdout);
    std::error_code ignored;
    if (!o.keep)
        fs::remove_all(dir, ignored);
    else
        std::printf("  kept %s\n", dir.c_str());
    return pass;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    bench::OptionParser parser(
        "monitorbench", "Whether switchwatch and smdrwatch keep up with records at a rate, logs "
                        "on: plays the\nserver's monitor port, starts the real program and "
                        "follows its logs.");
    parser.Words({"switchwatch", "smdrwatch"}, o.monitors, "the programs to run (default both)");
    parser.Int("--rate=<records/s>", o.rate, 1, 1000000, "the rate records are sent at");
    parser.Number("--seconds=<s>", o.seconds, 0.1, 86400, "how long to send");
    parser.Int("--size=<bytes>", o.size, 14, protocol::CtiRecord::kMaxSentBodyLength,
               "record body size");
    parser.Int("--list-bound=<rows>", o.listBound, 0, 100000000,
               "AutoClearCount, auto-clear on (0: off)");
    parser.Number("--drain=<s>", o.drain, 0, 3600, "how long to wait for the log after the run");
    parser.Int("--max-lag-ms=<ms>", o.maxLagMs, 1, 3600000,
               "most a record may take from send to log");
    parser.Flag("--keep", o.keep, "keep the run's folder (registry, logs, output)");
    if (const std::optional<int> exit = bench::ParseCommandLine(parser, argc, argv))
        return *exit;
    std::signal(SIGPIPE, SIG_IGN);
    bool all = true;
    for (const std::string& name : o.monitors)
        for (const Kind& kind : Kinds())
            if (kind.name == name)
                all = RunOne(kind, o) && all;
    return all ? 0 : 1;
}
