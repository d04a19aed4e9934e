#include "RelayScenario.h"

#include "BaselineRelay.h"
#include "BenchEvent.h"
#include "ProcStat.h"

#include <testsupport/DownloadingSwitch.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

using testsupport::DownloadingSwitch;
using testsupport::TestSwitch;

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kServerLoginKind = 6;  // answered, then given the device list
constexpr int kBypassLoginKind = 33; // accepted on the second port without a pause
constexpr int kDrainQuietMs = 1500;
constexpr int kDrainLimitMs = 30000;
constexpr int kCatchUpQuietMs = 1000;
constexpr int kSettleMs = 300;
constexpr int kServerQuietMs = 300;
constexpr int kServerSettleLimitMs = 5000;

struct SendResult {
    std::uint64_t sent = 0;
    std::int64_t firstNs = 0;
    std::int64_t lastNs = 0;
    bool saturated = false;
};

// Every event at its slot of a fixed schedule, so a late one does not push the rest back. With
// reading clients it stops early when the slowest is half a second of events behind: the relay
// cannot carry the rate, and a longer backlog would only make the run longer.
SendResult SendRated(TestSwitch& sw, const ClientFleet* fleet, int rate, std::uint64_t first,
                     std::uint64_t count) {
    const std::uint64_t backlogLimit =
        std::max<std::uint64_t>(static_cast<std::uint64_t>(rate) / 2, 200);
    const bool watch = fleet != nullptr && fleet->ReadingClients() > 0;
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
        StampEventBody(body, {first + i, now});
        if (!sw.SendRecord(body))
            break;
        result.lastNs = now;
        ++result.sent;
        if (watch && result.sent % 32 == 0 && result.sent - fleet->MinReceived() > backlogLimit) {
            result.saturated = true;
            break;
        }
    }
    return result;
}

SendResult SendWindowed(TestSwitch& sw, const ClientFleet& fleet, std::uint64_t first,
                        double seconds, std::uint64_t inFlight) {
    SendResult result;
    std::vector<std::uint8_t> body = MakeEventBody({});
    result.firstNs = NowNs();
    const std::int64_t end = result.firstNs + static_cast<std::int64_t>(seconds * 1e9);
    std::uint64_t done = 0;
    while (NowNs() < end) {
        if (result.sent - done >= inFlight) {
            done = fleet.MinReceived();
            if (result.sent - done >= inFlight) {
                std::this_thread::yield();
                continue;
            }
        }
        StampEventBody(body, {first + result.sent, NowNs()});
        if (!sw.SendRecord(body))
            break;
        ++result.sent;
        if (result.sent % 16 == 0)
            done = fleet.MinReceived();
    }
    return result;
}

// Until every reading client has them all, or nothing more comes.
void Drain(const ClientFleet& fleet, std::uint64_t sent) {
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
    // Stragglers of clients that lost events, and duplicates, still settle.
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

// A switch and Brovik with its clients logged in.
struct ServerRig {
    DownloadingSwitch sw{DownloadingSwitch::LineDevices(1)};
    std::unique_ptr<BrovikRun> server;
    ClientFleet fleet;

    bool Start(const BenchOptions& options, int clients, int bypassClients, bool stallOne,
               std::string& error) {
        sw.Switch().SetKeepRecords(false);
        if (!sw.IsListening()) {
            error = "the switch cannot listen";
            return false;
        }
        server = std::make_unique<BrovikRun>(options.brovik, options.languageLibrary);
        if (!server->Start(sw.Host(), sw.Port(), 60000, error))
            return false;
        if (!sw.WaitForDownloads(1, 60000)) {
            error = "Brovik did not start its link (no device download asked for)";
            return false;
        }
        if (!fleet.Join(server->ClientPort(), clients, kServerLoginKind, stallOne, error) ||
            !fleet.Join(server->BypassPort(), bypassClients, kBypassLoginKind, false, error))
            return false;
        // Let the last logins' pauses and the link's own traffic settle.
        std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
        return true;
    }
};

std::uint64_t FilesBytes(const std::filesystem::path& dir) {
    std::uint64_t total = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
        if (entry.is_regular_file(error))
            total += entry.file_size(error);
    return total;
}

// Until the server has used no CPU and written no trace for a while: it has handled every record.
void WaitServerQuiet(const BrovikRun& server) {
    const auto limit = Clock::now() + std::chrono::milliseconds(kServerSettleLimitMs);
    double cpu = server.Sample().cpuSeconds;
    std::uint64_t trace = FilesBytes(server.LogDir());
    auto since = Clock::now();
    while (Clock::now() < limit &&
           Clock::now() - since < std::chrono::milliseconds(kServerQuietMs)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const double cpuNow = server.Sample().cpuSeconds;
        const std::uint64_t traceNow = FilesBytes(server.LogDir());
        if (cpuNow != cpu || traceNow != trace) {
            cpu = cpuNow;
            trace = traceNow;
            since = Clock::now();
        }
    }
}

std::uint64_t RatedCount(int rate, double seconds) {
    return static_cast<std::uint64_t>(std::max(1.0, rate * seconds));
}

} // namespace

RunResult RunRelay(Relay relay, const BenchOptions& options, int clients) {
    RunResult result;
    result.clients = clients;
    result.bypassClients = options.bypassClients;

    std::unique_ptr<ServerRig> rig;
    std::unique_ptr<DownloadingSwitch> baselineSwitch;
    std::unique_ptr<BaselineRelay> baseline;
    std::unique_ptr<ClientFleet> baselineFleet;
    if (relay == Relay::Server) {
        rig = std::make_unique<ServerRig>();
        if (!rig->Start(options, clients, options.bypassClients, false, result.error))
            return result;
    } else {
        baselineSwitch = std::make_unique<DownloadingSwitch>(DownloadingSwitch::LineDevices(1));
        baselineSwitch->Switch().SetKeepRecords(false);
        if (!baselineSwitch->IsListening()) {
            result.error = "the switch cannot listen";
            return result;
        }
        baseline = std::make_unique<BaselineRelay>(
            relay == Relay::BatchingBaseline   ? BaselineRelay::Mode::Batching
            : relay == Relay::ParallelBaseline ? BaselineRelay::Mode::Parallel
                                               : BaselineRelay::Mode::Naive);
        baselineFleet = std::make_unique<ClientFleet>();
        const int total = clients + options.bypassClients;
        if (!baseline->Start(baselineSwitch->Host(), baselineSwitch->Port(), total, result.error) ||
            !baselineSwitch->Switch().WaitForConnection(5000) ||
            !baselineFleet->Join(baseline->Port(), total, -1, false, result.error))
            return result;
        if (!baseline->WaitAccepted(10000)) {
            result.error = "the baseline relay did not accept every client";
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
    }
    TestSwitch& sw = rig ? rig->sw.Switch() : baselineSwitch->Switch();
    ClientFleet& fleet = rig ? rig->fleet : *baselineFleet;
    BrovikRun* server = rig ? rig->server.get() : nullptr;

    const auto cpu = [&] { return server ? server->Sample().cpuSeconds : baseline->CpuSeconds(); };

    // Rated phase.
    const std::uint64_t count = RatedCount(options.rate, options.seconds);
    const double cpuBefore = cpu();
    if (server)
        result.rssStartKb = server->Sample().residentKb;
    fleet.BeginPhase(0, static_cast<std::size_t>(count), options.receiverThreads, options.spin);
    SendResult rated;
    {
        MemoryWatch watch(server);
        rated = SendRated(sw, &fleet, options.rate, 0, count);
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

    // Throughput phase: as fast as the slowest reading client is served. Its numbers go on from
    // the rated phase's, so a late one of that phase is not taken for one of this.
    if (options.floodSeconds > 0) {
        fleet.BeginPhase(rated.sent, 0, options.receiverThreads, options.spin);
        const SendResult flood = SendWindowed(sw, fleet, rated.sent, options.floodSeconds,
                                              static_cast<std::uint64_t>(options.inFlight));
        Drain(fleet, flood.sent);
        fleet.EndPhase();
        result.floodSent = flood.sent;
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

StallResult RunStallCase(const BenchOptions& options, int clients) {
    StallResult result;
    result.clients = clients;
    ServerRig rig;
    if (!rig.Start(options, clients, options.bypassClients, true, result.error))
        return result;
    BrovikRun& server = *rig.server;
    ClientFleet& fleet = rig.fleet;

    // A quarter of the rated length per segment: the stalled client's buffers fill in the first
    // second or two of a stalled segment, and the rest shows the server refusing records for it.
    const std::uint64_t count = RatedCount(options.rate, options.seconds / 4);
    std::uint64_t sequence = 0;
    bool firstStall = true;
    result.pairs.resize(kStallPairs);
    for (int segment = 0; segment < 2 * kStallPairs; ++segment) {
        const bool stalled = segment % 4 == 1 || segment % 4 == 2;
        fleet.SetStalledReading(!stalled);
        if (stalled && firstStall)
            result.rssStartKb = server.Sample().residentKb;
        fleet.BeginPhase(sequence, static_cast<std::size_t>(count), options.receiverThreads,
                         options.spin);
        SendResult sent;
        {
            MemoryWatch watch(stalled ? &server : nullptr);
            sent = SendRated(rig.sw.Switch(), &fleet, options.rate, sequence, count);
            Drain(fleet, sent.sent);
            if (stalled)
                result.rssMaxKb = std::max(result.rssMaxKb, watch.Stop());
        }
        fleet.EndPhase();
        const PhaseStats stats = fleet.Stats(sent.sent);
        StallResult::Pair& pair = result.pairs[static_cast<std::size_t>(segment / 2)];
        (stalled ? pair.stalled : pair.reference) = stats;
        (stalled ? result.stalled : result.reference).Add(stats);
        result.saturated = result.saturated || sent.saturated;
        sequence += sent.sent;
        if (stalled) {
            result.rssEndKb = server.Sample().residentKb;
            firstStall = false;
            // What the server kept for it arrives now, before the next segment's events.
            fleet.ResumeStalled(kCatchUpQuietMs);
        }
    }
    result.sent = sequence;
    // The last reference segment's records count too.
    result.stall = fleet.ResumeStalled(kCatchUpQuietMs);
    result.peakKb = server.Sample().peakKb;
    fleet.CloseAll();
    result.exitCode = server.Stop();
    result.ok = true;
    return result;
}

SwitchCpuResult RunSwitchCpu(const BenchOptions& options, int rate) {
    SwitchCpuResult result;
    result.rate = rate;
    ServerRig rig;
    if (!rig.Start(options, 0, 0, false, result.error))
        return result;
    BrovikRun& server = *rig.server;
    WaitServerQuiet(server);

    const std::uint64_t count = RatedCount(rate, options.seconds);
    const std::uint64_t traceBefore = FilesBytes(server.LogDir());
    const double cpuBefore = server.Sample().cpuSeconds;
    const SendResult sent = SendRated(rig.sw.Switch(), nullptr, rate, 0, count);
    WaitServerQuiet(server);
    const double cpuAfter = server.Sample().cpuSeconds;
    const std::uint64_t traceAfter = FilesBytes(server.LogDir());

    result.sent = sent.sent;
    result.sendSeconds = static_cast<double>(sent.lastNs - sent.firstNs) / 1e9;
    const double planned = static_cast<double>(count > 0 ? count - 1 : 0) / rate;
    result.fellBehind = sent.sent < count || result.sendSeconds > planned * 1.05 + 0.05;
    result.cpuSeconds = cpuAfter - cpuBefore;
    result.usPerRecord = CpuMicrosPerRecord(cpuBefore, cpuAfter, sent.sent);
    result.traceBytes = traceAfter > traceBefore ? traceAfter - traceBefore : 0;
    result.exitCode = server.Stop();
    result.ok = true;
    return result;
}

} // namespace bench
