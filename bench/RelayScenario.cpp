#include "RelayScenario.h"

#include "BaselineRelay.h"
#include "BenchEvent.h"
#include <testsupport/DownloadingSwitch.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using testsupport::DownloadingSwitch;
using testsupport::TestSwitch;

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kServerLoginKind = 6;         // answered, then given the device list
constexpr int kBypassLoginKind = 33;        // accepted on the second port without a pause
constexpr std::uint64_t kFloodWindow = 128; // events in flight at most in the throughput phase
constexpr int kDrainQuietMs = 1500;
constexpr int kDrainLimitMs = 30000;

struct SendResult {
    std::uint64_t sent = 0;
    std::int64_t firstNs = 0;
    bool saturated = false;
};

// Every event at its slot of a fixed schedule, so a late one does not push the rest back. Stops
// early when the slowest reading client is half a second of events behind: the relay cannot carry
// the rate, and a longer backlog would only make the run longer.
SendResult SendRated(TestSwitch& sw, ClientFleet& fleet, int rate, std::uint64_t count) {
    const std::uint64_t backlogLimit =
        std::max<std::uint64_t>(static_cast<std::uint64_t>(rate) / 2, 200);
    SendResult result;
    std::vector<std::uint8_t> body = MakeEventBody({});
    const auto start = Clock::now() + std::chrono::milliseconds(20);
    for (std::uint64_t i = 0; i < count; ++i) {
        const auto due = start + std::chrono::nanoseconds(static_cast<std::int64_t>(
                                     static_cast<double>(i) * 1e9 / rate));
        std::this_thread::sleep_until(due);
        const std::int64_t now = NowNs();
        if (i == 0)
            result.firstNs = now;
        StampEventBody(body, {i, now});
        if (!sw.SendRecord(body))
            break;
        ++result.sent;
        if (result.sent % 32 == 0 && result.sent - fleet.MinReceived() > backlogLimit) {
            result.saturated = true;
            break;
        }
    }
    return result;
}

SendResult SendWindowed(TestSwitch& sw, ClientFleet& fleet, double seconds) {
    SendResult result;
    std::vector<std::uint8_t> body = MakeEventBody({});
    result.firstNs = NowNs();
    const std::int64_t end = result.firstNs + static_cast<std::int64_t>(seconds * 1e9);
    std::uint64_t done = 0;
    while (NowNs() < end) {
        if (result.sent - done >= kFloodWindow) {
            done = fleet.MinReceived();
            if (result.sent - done >= kFloodWindow) {
                std::this_thread::yield();
                continue;
            }
        }
        StampEventBody(body, {result.sent, NowNs()});
        if (!sw.SendRecord(body))
            break;
        ++result.sent;
        if (result.sent % 16 == 0)
            done = fleet.MinReceived();
    }
    return result;
}

// Until every reading client has them all, or nothing more comes.
void Drain(ClientFleet& fleet, std::uint64_t sent) {
    const auto limit = Clock::now() + std::chrono::milliseconds(kDrainLimitMs);
    std::uint64_t seen = fleet.MinReceived();
    auto lastProgress = Clock::now();
    while (seen < sent && Clock::now() < limit &&
           Clock::now() - lastProgress < std::chrono::milliseconds(kDrainQuietMs)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::uint64_t now = fleet.MinReceived();
        if (now != seen) {
            seen = now;
            lastProgress = Clock::now();
        }
    }
    // Stragglers of clients that lost events still settle.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// The server's resident size while the phase runs.
class MemoryWatch {
public:
    explicit MemoryWatch(const BrovikRun* run) : m_Run(run) {
        if (!m_Run)
            return;
        m_Thread = std::thread([this] {
            while (!m_Stop) {
                m_Max = std::max<std::int64_t>(m_Max, m_Run->Sample().residentKb);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    }
    ~MemoryWatch() { Stop(); }
    std::int64_t Stop() {
        m_Stop = true;
        if (m_Thread.joinable())
            m_Thread.join();
        return m_Max;
    }

private:
    const BrovikRun* m_Run;
    std::atomic<bool> m_Stop{false};
    std::atomic<std::int64_t> m_Max{0};
    std::thread m_Thread;
};

} // namespace

RunResult RunRelay(Relay relay, const BenchOptions& options, int clients, bool stallOne) {
    RunResult result;
    result.clients = clients;
    result.bypassClients = options.bypassClients;
    result.stalled = stallOne;

    DownloadingSwitch sw(DownloadingSwitch::LineDevices(1));
    sw.Switch().SetKeepRecords(false);
    if (!sw.IsListening()) {
        result.error = "the switch cannot listen";
        return result;
    }

    std::unique_ptr<BrovikRun> server;
    std::unique_ptr<BaselineRelay> baseline;
    ClientFleet fleet;
    if (relay == Relay::Server) {
        server = std::make_unique<BrovikRun>(options.brovik, options.languageLibrary);
        if (!server->Start(sw.Host(), sw.Port(), 60000, result.error))
            return result;
        if (!fleet.Join(server->ClientPort(), clients, kServerLoginKind, stallOne, result.error) ||
            !fleet.Join(server->BypassPort(), options.bypassClients, kBypassLoginKind, false,
                        result.error))
            return result;
    } else {
        baseline = std::make_unique<BaselineRelay>(relay == Relay::BatchingBaseline
                                                       ? BaselineRelay::Mode::Batching
                                                       : BaselineRelay::Mode::Naive);
        const int total = clients + options.bypassClients;
        if (!baseline->Start(sw.Host(), sw.Port(), total, result.error) ||
            !sw.Switch().WaitForConnection(5000) ||
            !fleet.Join(baseline->Port(), total, -1, stallOne, result.error))
            return result;
        if (!baseline->WaitAccepted(10000)) {
            result.error = "the baseline relay did not accept every client";
            return result;
        }
    }
    // Let the last logins' pauses and the link's own traffic settle.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    const auto cpu = [&] { return server ? server->Sample().cpuSeconds : baseline->CpuSeconds(); };

    // Rated phase.
    const std::uint64_t count =
        static_cast<std::uint64_t>(std::max(1.0, options.rate * options.seconds));
    const double cpuBefore = cpu();
    if (server)
        result.rssStartKb = server->Sample().residentKb;
    fleet.BeginPhase(static_cast<std::size_t>(count), options.receiverThreads, options.spin);
    SendResult rated;
    {
        MemoryWatch watch(server.get());
        rated = SendRated(sw.Switch(), fleet, options.rate, count);
        Drain(fleet, rated.sent);
        result.rssMaxKb = watch.Stop();
    }
    fleet.EndPhase();
    result.cpuSeconds = cpu() - cpuBefore;
    result.sent = rated.sent;
    result.saturated = rated.saturated;
    result.rated = fleet.Stats(rated.sent);
    result.ratedSeconds = static_cast<double>(result.rated.lastReceiveNs - rated.firstNs) / 1e9;
    if (result.ratedSeconds > 0)
        result.sustainedPerSecond =
            static_cast<double>(result.rated.minReceived) / result.ratedSeconds;
    if (server) {
        result.rssEndKb = server->Sample().residentKb;
        result.peakKb = server->Sample().peakKb;
    }
    if (stallOne)
        result.stall = fleet.ResumeStalled(1000);

    // Throughput phase: as fast as the slowest reading client is served.
    if (!stallOne && options.floodSeconds > 0) {
        fleet.BeginPhase(0, options.receiverThreads, options.spin);
        const SendResult flood = SendWindowed(sw.Switch(), fleet, options.floodSeconds);
        Drain(fleet, flood.sent);
        fleet.EndPhase();
        result.flood = fleet.Stats(flood.sent);
        result.floodDelivered = result.flood.minReceived;
        const double seconds =
            static_cast<double>(result.flood.lastReceiveNs - flood.firstNs) / 1e9;
        if (seconds > 0)
            result.floodPerSecond = static_cast<double>(result.floodDelivered) / seconds;
        if (server)
            result.peakKb = server->Sample().peakKb;
    }

    fleet.CloseAll();
    if (server)
        result.exitCode = server->Stop();
    if (baseline)
        baseline->Stop();
    result.ok = true;
    return result;
}

} // namespace bench
