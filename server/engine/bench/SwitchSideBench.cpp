// What the switch side of the server costs per record at a steady rate: the link reader, the
// event handler (no clients) and the tracer writing every record's hex line to its file. The
// switch is a child process, so the process's own CPU time is the server side's alone; the
// machine's load is reported beside it, as the figure is only comparable on a quiet machine.

#include <engine/LinkState.h>
#include <engine/OrbIOQueue.h>
#include <engine/OrbManagerDlg.h>
#include <engine/OrbManagerTracer.h>
#include <engine/OrbSWEventHandler.h>
#include <engine/OrbSocket.h>
#include <engine/SwitchDeviceTable.h>
#include <engine/TraceSettings.h>

#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <vector>

using namespace engine;

namespace {

constexpr int kRate = 5000;
constexpr int kWarmupRecords = 1000;
constexpr int kRatedRecords = 15000; // three seconds at the rate
constexpr int kWaitMs = 30000;

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kNumberAt = 2 + 20; // in the event record, behind the length

// A call event for a device the table does not hold, the size of the bench relay's events. Each
// one carries its number, as events differ: the trace folds a line like the one before it.
Bytes EventRecord() {
    const Bytes body{'E',  0xFF, 0xFF, 0x02, 0x00, 0x02, 0xFF, 0x00, 0x02, 0x00, 0x01, 0xFF,
                     0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x12, 0x34, 0x56, 0x78};
    Bytes record{0x00, static_cast<std::uint8_t>(body.size())};
    record.insert(record.end(), body.begin(), body.end());
    return record;
}

// The setup tool's start answer: the handler sets g_hFirLinkCheckEvent for it, which tells the
// bench that every record before it has been handled.
Bytes MarkerRecord() {
    const Bytes body{'i', 0xFF, 0xFF, 2, 0, 1, 0xFF, 0x00, 0x00, 9, 1,
                     0,   0,    0,    2, 0, 0, 0,    0,    0,    0, 30};
    Bytes record{0x00, static_cast<std::uint8_t>(body.size())};
    record.insert(record.end(), body.begin(), body.end());
    return record;
}

bool SendAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// The child: accepts the server, sends the warm-up, a marker, the rated records, a marker, each
// burst at its slot of a fixed schedule, then reads until the server closes. It is forked before
// the server side has a thread.
[[noreturn]] void RunSwitch(int listener, int burst) {
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, kWaitMs) != 1)
        ::_exit(1);
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0)
        ::_exit(1);
    const Bytes event = EventRecord();
    const Bytes marker = MarkerRecord();
    Bytes bursts;
    for (int i = 0; i < burst; ++i)
        bursts.insert(bursts.end(), event.begin(), event.end());
    std::uint32_t number = 0;
    const long slotNs = 1000000000L / kRate * burst;
    timespec due{};
    ::clock_gettime(CLOCK_MONOTONIC, &due);
    due.tv_sec += 1; // the server side settles first
    auto phase = [&](int records) {
        for (int sent = 0; sent < records; sent += burst) {
            ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
            for (std::size_t at = kNumberAt; at < bursts.size(); at += event.size()) {
                ++number;
                for (int b = 0; b < 4; ++b)
                    bursts[at + b] = static_cast<std::uint8_t>(number >> (24 - 8 * b));
            }
            if (!SendAll(fd, bursts.data(), bursts.size()))
                ::_exit(1);
            due.tv_nsec += slotNs;
            while (due.tv_nsec >= 1000000000L) {
                due.tv_nsec -= 1000000000L;
                ++due.tv_sec;
            }
        }
        if (!SendAll(fd, marker.data(), marker.size()))
            ::_exit(1);
    };
    phase(kWarmupRecords);
    phase(kRatedRecords);
    std::uint8_t sink[4096];
    while (::recv(fd, sink, sizeof sink, 0) > 0) {
    }
    ::_exit(0);
}

struct Usage {
    double cpuSeconds = 0.0;
    long waits = 0; // the threads' voluntary context switches: each ends with a wake-up
};

Usage ProcessUsage() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return {static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
            usage.ru_nvcsw};
}

double LoadAverage() {
    double load = 0.0;
    if (std::FILE* file = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(file, "%lf", &load) != 1)
            load = 0.0;
        std::fclose(file);
    }
    return load;
}

// The server side as the link start makes it, with the trace on and going to a folder of its own.
class SwitchSide {
public:
    explicit SwitchSide(int port) {
        char pattern[] = "/tmp/switchside-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            std::abort();
        m_root = pattern;
        SetTraceLogDirectory(m_root + "/Log");
        g_nDebugMsgPrint = 0; // a service's trace goes to its files only
        g_nTraceLevel = 2;
        if (!StartMessageTracer(m_tracer))
            std::abort();

        m_owner.m_nConnType = kConnTypeTcp;
        m_table = std::make_unique<SwitchDeviceTable>(&m_owner);
        m_owner.m_pDeviceTable = m_table.get();
        auto* socket = new COrbSocket;
        if (socket->Connect("127.0.0.1", port, SOCK_STREAM) != 1)
            std::abort();
        g_pSwitchSocket = socket;
        m_queue = std::make_unique<COrbIOQueue>(&m_owner);
        m_owner.m_pIOQueue = m_queue.get();
        m_queue->IOQueueStartThreads();
        g_bSwitchLinkUp = 1;
        g_bDeviceListAvailable = 1;
        g_hLinkAvailableEvent.Set();
        m_queue->IOQueueStartSanity();
        m_handler = std::make_unique<COrbSWEventHandler>(&m_owner);
        if (m_handler->Start() != 1)
            std::abort();
    }
    ~SwitchSide() {
        m_queue->IOQueueStopSanity();
        m_queue->IOQueueClose();
        m_queue->JoinThreads();
        m_handler.reset();
        m_queue.reset();
        m_owner.m_pIOQueue = nullptr;
        delete g_pSwitchSocket.exchange(nullptr);
        m_owner.m_pDeviceTable = nullptr;
        m_table.reset();
        StopMessageTracer(m_tracer);
        SetTraceLogDirectory("");
        ResetLinkState();
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }

    // Until the next marker has been handled.
    static bool WaitForMarker() {
        const bool seen =
            g_hFirLinkCheckEvent.Wait(kWaitMs) == platform::Event::WaitResult::Signaled;
        g_hFirLinkCheckEvent.Reset();
        return seen;
    }

private:
    std::string m_root;
    std::unique_ptr<COrbManagerTracer> m_tracer;
    COrbManagerDlg m_owner;
    std::unique_ptr<SwitchDeviceTable> m_table;
    std::unique_ptr<COrbIOQueue> m_queue;
    std::unique_ptr<COrbSWEventHandler> m_handler;
};

// Arg: records per send of the switch (1: each record alone, as a switch at this rate sends).
void BM_SwitchSideCpuPerRecord(benchmark::State& state) {
    const int burst = static_cast<int>(state.range(0));
    Usage used;
    double load = 0.0;
    for (auto _ : state) {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 ||
            ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener, 1) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            std::abort();
        const pid_t child = ::fork();
        if (child < 0)
            std::abort();
        if (child == 0)
            RunSwitch(listener, burst);
        ::close(listener);
        {
            SwitchSide side(ntohs(address.sin_port));
            if (!SwitchSide::WaitForMarker())
                std::abort();
            const Usage before = ProcessUsage();
            if (!SwitchSide::WaitForMarker())
                std::abort();
            const Usage after = ProcessUsage();
            used = {after.cpuSeconds - before.cpuSeconds, after.waits - before.waits};
            load = LoadAverage();
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            std::abort();
    }
    state.counters["cpu_us_per_record"] = used.cpuSeconds * 1e6 / kRatedRecords;
    // Far less dependent on the machine's load than the CPU time.
    state.counters["wakeups_per_record"] = static_cast<double>(used.waits) / kRatedRecords;
    state.counters["load_avg"] = load;
}
BENCHMARK(BM_SwitchSideCpuPerRecord)
    ->Arg(1)
    ->Arg(50)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
