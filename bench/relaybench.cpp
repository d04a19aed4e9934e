// relaybench: how fast and how evenly Brovik relays switch events to its clients, beside two
// simple one-thread relays (one send per record, and one send per client per read) measured the
// same way on the same machine.

#include "BenchOptions.h"
#include "RelayScenario.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifndef BROVIK_PATH
#define BROVIK_PATH ""
#endif

using namespace bench;

namespace {

constexpr int kTargetRate = 5000;
constexpr int kTargetClients = 200;
constexpr double kTargetP99Ms = 5.0;
constexpr double kTargetFanOutP99Ms = 10.0;
constexpr double kTargetThroughputRatio = 2.0; // against the batching relay
constexpr int kRatioClients[] = {200, 500};    // where that ratio is a target
constexpr double kStallP99Tolerance = 0.10;
constexpr std::int64_t kStallMemoryGrowthKb = 8 * 1024;
constexpr std::int64_t kMemoryLimitKb = 64 * 1024;

bool RatioIsTarget(int clients) {
    for (const int n : kRatioClients)
        if (n == clients)
            return true;
    return false;
}

double Ms(std::int64_t us) {
    return static_cast<double>(us) / 1000.0;
}

const char* Verdict(bool ok) {
    return ok ? "PASS" : "FAIL";
}

void PrintRun(const char* name, const RunResult& r) {
    if (!r.ok) {
        std::printf("  %-9s ERROR: %s\n", name, r.error.c_str());
        return;
    }
    const PhaseStats& s = r.rated;
    std::printf("  %-9s %ssent %llu in %.2f s: sustained %.0f ev/s, max %.0f ev/s | latency p50 "
                "%.3f p99 %.3f max %.3f ms | fan-out p50 %.3f p99 %.3f max %.3f ms | lost %llu "
                "(%d clients) damaged %llu reordered %llu closed %d\n",
                name, r.saturated ? "SATURATED (fell behind the rate), " : "",
                static_cast<unsigned long long>(r.sent), r.ratedSeconds, r.sustainedPerSecond,
                r.floodPerSecond, Ms(s.latency.PercentileUs(0.5)), Ms(s.latency.PercentileUs(0.99)),
                static_cast<double>(s.latency.MaxNs()) / 1e6, Ms(s.fanOut.PercentileUs(0.5)),
                Ms(s.fanOut.PercentileUs(0.99)), static_cast<double>(s.fanOut.MaxNs()) / 1e6,
                static_cast<unsigned long long>(s.lost), s.clientsWithLoss,
                static_cast<unsigned long long>(s.damaged + r.flood.damaged),
                static_cast<unsigned long long>(s.outOfOrder + r.flood.outOfOrder), s.closed);
    // A throughput held back by a few stalled events shows here, not in the rated phase.
    if (r.floodPerSecond > 0)
        std::printf("  %-9s at max throughput: latency p50 %.3f p99 %.3f max %.3f ms\n", "",
                    Ms(r.flood.latency.PercentileUs(0.5)), Ms(r.flood.latency.PercentileUs(0.99)),
                    static_cast<double>(r.flood.latency.MaxNs()) / 1e6);
    const double cpuShare = r.ratedSeconds > 0 ? 100.0 * r.cpuSeconds / r.ratedSeconds : 0.0;
    if (r.peakKb > 0)
        std::printf("  %-9s memory VmHWM %.1f MB, VmRSS %.1f -> %.1f MB (max %.1f); CPU %.2f s "
                    "(%.0f%% of a core) over the rated phase; exit %d\n",
                    "", r.peakKb / 1024.0, r.rssStartKb / 1024.0, r.rssEndKb / 1024.0,
                    r.rssMaxKb / 1024.0, r.cpuSeconds, cpuShare, r.exitCode);
    else
        std::printf("  %-9s CPU %.2f s (%.0f%% of a core) over the rated phase\n", "", r.cpuSeconds,
                    cpuShare);
}

std::string Join(const std::vector<std::string>& args) {
    std::string text = "relaybench";
    for (const std::string& arg : args)
        text += " " + arg;
    return text;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    BenchOptions options;
    options.brovik = BROVIK_PATH;
    std::string error;
    if (!ParseBenchOptions(args, options, error)) {
        std::fprintf(stderr, "%s\n%s", error.c_str(), BenchUsage().c_str());
        return 2;
    }
    if (options.help) {
        std::printf("%s", BenchUsage().c_str());
        return 0;
    }
    if (options.languageLibrary.empty())
        options.languageLibrary =
            (std::filesystem::path(options.brovik).parent_path() / "ResDLLEN.so").string();
    if (options.brovik.empty() || !std::filesystem::exists(options.brovik) ||
        !std::filesystem::exists(options.languageLibrary)) {
        std::fprintf(stderr, "Brovik or ResDLLEN.so not found (--brovik=, --resdll=)\n");
        return 2;
    }

    std::printf("%s\n", Join(args).c_str());
    std::printf("machine: %u cores (nproc %ld); Brovik %s\n", std::thread::hardware_concurrency(),
                ::sysconf(_SC_NPROCESSORS_ONLN), options.brovik.c_str());
    std::printf("each run: N clients of kind 6 on the client port + %d of kind 33 on the second "
                "port; %d events/s for %.1f s (rated phase), then %.1f s with at most 128 events "
                "in flight (max ev/s)\n",
                options.bypassClients, options.rate, options.seconds, options.floodSeconds);
    std::printf("targets: %d events/s to %d clients with latency p99 under %.0f ms, fan-out p99 "
                "under %.0f ms and no loss for clients that read; max throughput to 200 and 500 "
                "clients at least %.1f times the batching relay's; a stalled client moves the "
                "others' p99 by less than %.0f%%, no torn record; server memory under %lld MB\n"
                "relays: server = Brovik; batching = one thread, one send per client per read of "
                "the switch; naive = one thread, one send per record per client\n\n",
                kTargetRate, kTargetClients, kTargetP99Ms, kTargetFanOutP99Ms,
                kTargetThroughputRatio, 100 * kStallP99Tolerance,
                static_cast<long long>(kMemoryLimitKb / 1024));
    std::fflush(stdout);

    struct Row {
        int clients;
        RunResult server, batching, naive;
    };
    std::vector<Row> rows;
    bool allPass = true;
    std::int64_t peakKb = 0;
    for (const int n : options.clients) {
        std::printf("N = %d\n", n);
        Row row{n, RunRelay(Relay::Server, options, n, false), {}, {}};
        PrintRun("server", row.server);
        peakKb = std::max(peakKb, row.server.peakKb);
        if (options.baseline) {
            row.batching = RunRelay(Relay::BatchingBaseline, options, n, false);
            PrintRun("batching", row.batching);
            row.naive = RunRelay(Relay::Baseline, options, n, false);
            PrintRun("naive", row.naive);
        }
        std::fflush(stdout);
        rows.push_back(std::move(row));
    }

    const auto ratio = [](const RunResult& s, const RunResult& b) {
        return b.ok && b.floodPerSecond > 0 ? s.floodPerSecond / b.floodPerSecond : 0.0;
    };
    std::printf("\nsummary (latency and fan-out in ms; ratio = server max / relay max)\n");
    std::printf("%6s %8s %9s %9s %9s %7s %9s %7s %8s %8s %8s %9s %8s %6s %9s\n", "N", "ev/s",
                "max ev/s", "batch max", "naive max", "ratio", "naive rat", "p50", "p99",
                "batch p99", "max", "fan p99", "fan max", "lost", "VmHWM MB");
    for (const Row& row : rows) {
        const RunResult& s = row.server;
        const RunResult& b = row.batching;
        if (!s.ok) {
            std::printf("%6d  server run failed: %s\n", row.clients, s.error.c_str());
            allPass = false;
            continue;
        }
        std::printf("%6d %8.0f %9.0f %9.0f %9.0f %7.2f %9.2f %7.3f %8.3f %8.3f %8.3f %9.3f %8.3f "
                    "%6llu %9.1f\n",
                    row.clients, s.sustainedPerSecond, s.floodPerSecond, b.floodPerSecond,
                    row.naive.floodPerSecond, ratio(s, b), ratio(s, row.naive),
                    Ms(s.rated.latency.PercentileUs(0.5)), Ms(s.rated.latency.PercentileUs(0.99)),
                    b.ok ? Ms(b.rated.latency.PercentileUs(0.99)) : 0.0,
                    static_cast<double>(s.rated.latency.MaxNs()) / 1e6,
                    Ms(s.rated.fanOut.PercentileUs(0.99)),
                    static_cast<double>(s.rated.fanOut.MaxNs()) / 1e6,
                    static_cast<unsigned long long>(s.rated.lost), s.peakKb / 1024.0);
    }

    std::printf("\ntargets\n");
    for (const Row& row : rows) {
        const RunResult& s = row.server;
        const RunResult& b = row.batching;
        if (!s.ok)
            continue;
        if (row.clients == kTargetClients) {
            const double p99 = Ms(s.rated.latency.PercentileUs(0.99));
            const double fanP99 = Ms(s.rated.fanOut.PercentileUs(0.99));
            const bool rateOk =
                options.rate >= kTargetRate && s.sustainedPerSecond >= 0.99 * kTargetRate;
            const bool ok =
                rateOk && p99 < kTargetP99Ms && fanP99 < kTargetFanOutP99Ms && s.rated.lost == 0;
            allPass = allPass && ok;
            std::printf("  %s  %d clients: %.0f ev/s sustained (target %d), latency p99 %.3f ms "
                        "(target < %.0f), fan-out p99 %.3f ms (target < %.0f), lost %llu (target "
                        "0)\n",
                        Verdict(ok), row.clients, s.sustainedPerSecond, kTargetRate, p99,
                        kTargetP99Ms, fanP99, kTargetFanOutP99Ms,
                        static_cast<unsigned long long>(s.rated.lost));
        }
        if (RatioIsTarget(row.clients) && b.ok && b.floodPerSecond > 0 &&
            options.floodSeconds > 0) {
            const bool ok = ratio(s, b) >= kTargetThroughputRatio;
            allPass = allPass && ok;
            std::printf("  %s  %d clients: max throughput %.0f / %.0f ev/s = %.2f times the "
                        "batching relay (target >= %.1f)\n",
                        Verdict(ok), row.clients, s.floodPerSecond, b.floodPerSecond, ratio(s, b),
                        kTargetThroughputRatio);
        }
    }
    if (options.stallCase) {
        const int n = options.stallClients;
        std::printf("\nstalled client: %d clients on the client port, the first reads nothing "
                    "during the rated phase\n",
                    n);
        const Row* reference = nullptr;
        for (const Row& row : rows)
            if (row.clients == n && row.server.ok)
                reference = &row;
        RunResult free;
        if (reference == nullptr) {
            free = RunRelay(Relay::Server, options, n, false);
            PrintRun("reference", free);
        } else {
            free = reference->server;
        }
        const RunResult stalled = RunRelay(Relay::Server, options, n, true);
        PrintRun("stalled", stalled);
        peakKb = std::max({peakKb, free.peakKb, stalled.peakKb});
        if (free.ok && stalled.ok) {
            const double p99Free = Ms(free.rated.latency.PercentileUs(0.99));
            const double p99Stalled = Ms(stalled.rated.latency.PercentileUs(0.99));
            const double change = p99Free > 0 ? (p99Stalled - p99Free) / p99Free : 0.0;
            const bool p99Ok = change < kStallP99Tolerance;
            const std::int64_t growth = stalled.rssEndKb - stalled.rssStartKb;
            const bool memoryOk = growth < kStallMemoryGrowthKb;
            const StallReport& st = stalled.stall;
            const bool wholeOk = st.damaged == 0 && st.pendingBytes == 0 && st.outOfOrder == 0;
            const bool lossOk = stalled.rated.lost == 0;
            allPass = allPass && p99Ok && memoryOk && wholeOk && lossOk;
            std::printf("  %s  others' p99 %.3f ms against %.3f ms without the stall (%+.1f%%, "
                        "target under +%.0f%%)\n",
                        Verdict(p99Ok), p99Stalled, p99Free, 100 * change,
                        100 * kStallP99Tolerance);
            std::printf("  %s  others lost %llu events\n", Verdict(lossOk),
                        static_cast<unsigned long long>(stalled.rated.lost));
            std::printf("  %s  server VmRSS %.1f -> %.1f MB during the stall (max %.1f, growth "
                        "limit %.0f MB)\n",
                        Verdict(memoryOk), stalled.rssStartKb / 1024.0, stalled.rssEndKb / 1024.0,
                        stalled.rssMaxKb / 1024.0, kStallMemoryGrowthKb / 1024.0);
            std::printf("  %s  stalled client after resuming: %llu of %llu events, %llu damaged, "
                        "%llu out of order, %zu bytes of a record left over\n",
                        Verdict(wholeOk), static_cast<unsigned long long>(st.received),
                        static_cast<unsigned long long>(stalled.sent),
                        static_cast<unsigned long long>(st.damaged),
                        static_cast<unsigned long long>(st.outOfOrder), st.pendingBytes);
        } else {
            allPass = false;
        }
    }
    if (peakKb > 0) {
        const bool ok = peakKb < kMemoryLimitKb;
        allPass = allPass && ok;
        std::printf("\n  %s  server memory at most %.1f MB (VmHWM over every server run; target "
                    "< %lld MB)\n",
                    Verdict(ok), peakKb / 1024.0, static_cast<long long>(kMemoryLimitKb / 1024));
    }
    std::printf("\n%s\n", allPass ? "all targets met" : "some targets missed");
    return 0;
}
