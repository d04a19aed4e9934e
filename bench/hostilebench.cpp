// hostilebench: what misbehaving peers cost the well-behaved ones, against a real Brovik on
// loopback. Three runs, each with a server of its own:
//   logins  50 clients log in at once to a switch of 40 devices; when each has its whole list.
//   trace   20 logged-in clients stop reading while the switch sends 8,800 events a second;
//           how much trace that writes, per minute.
//   storm   300 sequential connects, then a burst of 1,124 held connections during which a real
//           client connects and logs in; how long each takes.
// Run by hand: hostilebench [logins|trace|storm ...] [--seconds=N] (the trace run's length).

#include "BenchEvent.h"
#include "BrovikRun.h"
#include "OptionParser.h"
#include <testsupport/DownloadingSwitch.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#ifndef BROVIK_PATH
#define BROVIK_PATH ""
#endif

using namespace bench;
using testsupport::DownloadingSwitch;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint8_t kRowanLogin = 1; // no reply: the device list alone

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

int ConnectTo(int port, bool block, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | (block ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendLogin(int fd, std::uint8_t kind) {
    const std::uint8_t login[] = {0x00, 0x0A, 0x02, 'a',  0xFF, 0xFF,
                                  0xFF, 0xFF, 0xFF, 0xFF, kind, 0x00};
    std::size_t done = 0;
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (done < sizeof login && Clock::now() < end) {
        const ssize_t n = ::send(fd, login + done, sizeof login - done, MSG_NOSIGNAL);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        else {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
    return done == sizeof login;
}

// Reads until `bytes` have come on every descriptor; when each had them, none for one that
// closed or ran out of time.
std::vector<std::optional<Clock::time_point>> WaitForBytes(const std::vector<int>& fds,
                                                           std::size_t bytes, int timeoutMs) {
    std::vector<std::size_t> got(fds.size(), 0);
    std::vector<std::optional<Clock::time_point>> done(fds.size());
    std::size_t left = fds.size();
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::uint8_t buffer[8192];
    while (left > 0 && Clock::now() < end) {
        std::vector<pollfd> polls;
        std::vector<std::size_t> index;
        for (std::size_t i = 0; i < fds.size(); ++i)
            if (got[i] < bytes) {
                polls.push_back({fds[i], POLLIN, 0});
                index.push_back(i);
            }
        ::poll(polls.data(), polls.size(), 50);
        for (std::size_t k = 0; k < polls.size(); ++k) {
            if (!(polls[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const std::size_t i = index[k];
            const ssize_t n = ::recv(fds[i], buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                got[i] += static_cast<std::size_t>(n);
            if (n == 0 || got[i] >= bytes) {
                if (got[i] >= bytes)
                    done[i] = Clock::now();
                got[i] = bytes; // a closed one counts as done, without a time
                --left;
            }
        }
    }
    return done;
}

struct Server {
    DownloadingSwitch sw;
    BrovikRun run;
    explicit Server(int devices, const std::string& brovik, const std::string& library)
        : sw(DownloadingSwitch::LineDevices(devices)), run(brovik, library) {
        sw.Switch().SetKeepRecords(false);
    }
    bool Start() {
        std::string error;
        if (!sw.IsListening() || !run.Start(sw.Host(), sw.Port(), 60000, error)) {
            std::printf("  ERROR: %s\n",
                        error.empty() ? "the switch cannot listen" : error.c_str());
            return false;
        }
        return true;
    }
};

std::uintmax_t LogBytes(const std::filesystem::path& dir) {
    std::uintmax_t total = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        if (entry.is_regular_file(ec))
            total += entry.file_size(ec);
    return total;
}

// Lines of the log that hold one of the texts, and their bytes.
struct LineCount {
    long lines = 0;
    std::uintmax_t bytes = 0;
};
LineCount LogLinesWith(const std::filesystem::path& dir, const std::vector<std::string>& texts) {
    LineCount count;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line))
            for (const std::string& text : texts)
                if (line.find(text) != std::string::npos) {
                    ++count.lines;
                    count.bytes += line.size() + 1;
                    break;
                }
    }
    return count;
}

// What a client's lost records trace.
const std::vector<std::string> kLossTexts = {"can't be delivered", "lost so far in a row",
                                             "were lost in a row"};

// The texts that fill the log most, digits folded, cut at 60 characters.
void PrintTopLines(const std::filesystem::path& dir) {
    std::map<std::string, long> counts;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) {
            const std::size_t tab = line.find('\t');
            std::string text = line.substr(tab == std::string::npos ? 0 : tab + 1, 60);
            for (char& c : text)
                if (c >= '0' && c <= '9')
                    c = 'N';
            ++counts[text];
        }
    }
    std::vector<std::pair<long, std::string>> top;
    for (const auto& [text, n] : counts)
        top.emplace_back(n, text);
    std::sort(top.rbegin(), top.rend());
    for (std::size_t i = 0; i < top.size() && i < 5; ++i)
        std::printf("    %8ld  %s\n", top[i].first, top[i].second.c_str());
}

constexpr std::size_t kListBytes(int devices) {
    return static_cast<std::size_t>(devices + 1) * 12;
}

void Logins(const std::string& brovik, const std::string& library) {
    constexpr int kClients = 50, kDevices = 40;
    std::printf("logins: %d clients log in at once, %d devices\n", kClients, kDevices);
    Server server(kDevices, brovik, library);
    if (!server.Start())
        return;
    std::vector<int> fds;
    for (int i = 0; i < kClients; ++i)
        fds.push_back(ConnectTo(server.run.ClientPort(), true));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // every connect accepted
    const auto start = Clock::now();
    for (const int fd : fds)
        SendLogin(fd, kRowanLogin);
    const auto done = WaitForBytes(fds, kListBytes(kDevices), 120000);
    Clock::time_point first = Clock::time_point::max(), last = Clock::time_point::min();
    int complete = 0;
    for (const auto& t : done)
        if (t) {
            ++complete;
            first = std::min(first, *t);
            last = std::max(last, *t);
        }
    if (complete > 0)
        std::printf("  %d/%d lists whole; first after %.2f s, last after %.2f s: last - first "
                    "%.2f s (target under 2 s)\n",
                    complete, kClients, Seconds(first - start), Seconds(last - start),
                    Seconds(last - first));
    for (const int fd : fds)
        ::close(fd);
    server.run.Stop();
}

void Trace(const std::string& brovik, const std::string& library, int seconds) {
    constexpr int kClients = 20, kRate = 8800;
    std::printf("trace: %d logged-in clients stop reading, %d events/s for %d s\n", kClients, kRate,
                seconds);
    Server server(1, brovik, library);
    if (!server.Start())
        return;
    std::vector<int> fds;
    for (int i = 0; i < kClients; ++i) {
        fds.push_back(ConnectTo(server.run.ClientPort(), true, 4096));
        SendLogin(fds.back(), kRowanLogin);
    }
    WaitForBytes(fds, kListBytes(1), 30000); // then they read no more
    const std::filesystem::path logDir = server.run.LogDir();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::uintmax_t before = LogBytes(logDir);
    const LineCount lossBefore = LogLinesWith(logDir, kLossTexts);
    std::vector<std::uint8_t> body = MakeEventBody({});
    const auto start = Clock::now();
    const std::uint64_t count = static_cast<std::uint64_t>(kRate) * seconds;
    std::uint64_t sent = 0;
    for (; sent < count; ++sent) {
        std::this_thread::sleep_until(start + std::chrono::nanoseconds(static_cast<std::int64_t>(
                                                  static_cast<double>(sent) * 1e9 / kRate)));
        StampEventBody(body, {sent, NowNs()});
        if (!server.sw.Switch().SendRecord(body))
            break;
    }
    const double elapsed = Seconds(Clock::now() - start);
    std::this_thread::sleep_for(std::chrono::seconds(1)); // the tracer writes what is queued
    const std::uintmax_t written = LogBytes(logDir) - before;
    const LineCount loss = LogLinesWith(logDir, kLossTexts);
    const double lossBytes = static_cast<double>(loss.bytes - lossBefore.bytes);
    std::printf("  %llu events in %.1f s: %.2f MB of trace in all, %.2f MB a minute\n"
                "  lost-record trace: %ld lines, %.3f MB, %.3f MB a minute (target under 1 MB)\n",
                static_cast<unsigned long long>(sent), elapsed, static_cast<double>(written) / 1e6,
                static_cast<double>(written) / 1e6 * 60.0 / elapsed, loss.lines - lossBefore.lines,
                lossBytes / 1e6, lossBytes / 1e6 * 60.0 / elapsed);
    std::printf("  the log's most frequent lines:\n");
    PrintTopLines(logDir);
    for (const int fd : fds)
        ::close(fd);
    server.run.Stop();
}

void Storm(const std::string& brovik, const std::string& library) {
    constexpr int kSequential = 300, kBurst = 1124;
    std::printf("storm: %d sequential connects, then a burst of %d with a real login in it\n",
                kSequential, kBurst);
    Server server(3, brovik, library);
    if (!server.Start())
        return;
    const int port = server.run.ClientPort();
    auto start = Clock::now();
    int connected = 0;
    for (int i = 0; i < kSequential; ++i) {
        const int fd = ConnectTo(port, true);
        connected += fd >= 0 ? 1 : 0;
        if (fd >= 0)
            ::close(fd);
    }
    std::printf("  %d/%d sequential connects in %.2f s (target under 3 s)\n", connected,
                kSequential, Seconds(Clock::now() - start));

    std::vector<int> burst;
    for (int i = 0; i < kBurst; ++i)
        burst.push_back(ConnectTo(port, false));
    start = Clock::now();
    const int real = ConnectTo(port, true);
    const bool loggedIn = real >= 0 && SendLogin(real, kRowanLogin);
    const auto done = WaitForBytes({real}, kListBytes(3), 60000);
    if (loggedIn && done[0])
        std::printf("  the real client had its list %.2f s after its connect began\n",
                    Seconds(*done[0] - start));
    else
        std::printf("  the real client got nothing within 60 s\n");
    for (const int fd : burst)
        if (fd >= 0)
            ::close(fd);
    if (real >= 0)
        ::close(real);
    server.run.Stop();
}

} // namespace

int main(int argc, char** argv) {
    std::string brovik = BROVIK_PATH;
    int seconds = 20;
    std::vector<std::string> runs = {"logins", "trace", "storm"};
    OptionParser parser("hostilebench",
                        "What misbehaving peers cost the well-behaved ones, each run with a Brovik "
                        "of its own.");
    parser.Words({"logins", "trace", "storm"}, runs, "the runs to do (default all)");
    parser.Int("--seconds=<s>", seconds, 1, 3600, "the trace run's length");
    parser.Text("--brovik=<path>", brovik, "the server to measure");
    if (const std::optional<int> exit = ParseCommandLine(parser, argc, argv))
        return *exit;
    const std::string library =
        (std::filesystem::path(brovik).parent_path() / "ResDLLEN.so").string();
    if (brovik.empty() || !std::filesystem::exists(brovik) || !std::filesystem::exists(library)) {
        std::fprintf(stderr, "Brovik or ResDLLEN.so not found (--brovik=)\n");
        return 2;
    }
    // The burst holds more descriptors than a default soft limit allows.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    const auto chosen = [&](const char* run) {
        return std::find(runs.begin(), runs.end(), run) != runs.end();
    };
    if (chosen("logins"))
        Logins(brovik, library);
    if (chosen("trace"))
        Trace(brovik, library, seconds);
    if (chosen("storm"))
        Storm(brovik, library);
    return 0;
}
