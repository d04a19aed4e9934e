// relaybench: how fast and how evenly Brovik relays switch events to its clients, beside two
// simple one-thread relays (one send per record, and one send per client per read) measured the
// same way on the same machine, optionally beside spinning threads that load the machine.

#include "BenchOptions.h"
#include "BusyLoad.h"
#include "ProcStat.h"
#include "RelayRounds.h"
#include "RelayScenario.h"
#include "RelayTargets.h"
#include "RelayVerdicts.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifndef BROVIK_PATH
#define BROVIK_PATH ""
#endif

using namespace bench;

namespace {

double Ms(std::int64_t us) {
    return static_cast<double>(us) / 1000.0;
}

double MaxMs(const LatencyHistogram& h) {
    return static_cast<double>(h.MaxNs()) / 1e6;
}

unsigned long long U(std::uint64_t n) {
    return static_cast<unsigned long long>(n);
}

std::string Faults(const PhaseStats& s) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "lost %llu (%d clients), duplicates %llu (%d clients), torn %llu, reordered "
                  "%llu, closed %d",
                  U(s.lost), s.clientsWithLoss, U(s.duplicates), s.clientsWithDuplicates,
                  U(s.damaged), U(s.outOfOrder), s.closed);
    return text;
}

void PrintRun(const char* name, const RunResult& r) {
    if (!r.ok) {
        std::printf("  %-9s ERROR: %s\n", name, r.error.c_str());
        return;
    }
    const PhaseStats& s = r.rated;
    std::printf("  %-9s %ssent %llu in %.2f s: sustained %.0f ev/s | latency p50 %.3f p99 %.3f "
                "max %.3f ms | fan-out p50 %.3f p99 %.3f max %.3f ms | %s\n",
                name, r.saturated ? "SATURATED (fell behind the rate), " : "", U(r.sent),
                r.ratedSeconds, r.sustainedPerSecond, Ms(s.latency.PercentileUs(0.5)),
                Ms(s.latency.PercentileUs(0.99)), MaxMs(s.latency), Ms(s.fanOut.PercentileUs(0.5)),
                Ms(s.fanOut.PercentileUs(0.99)), MaxMs(s.fanOut), Faults(s).c_str());
    // A throughput held back by a few stalled events shows here, not in the rated phase.
    if (r.floodSent > 0)
        std::printf("  %-9s max throughput %.0f ev/s (sent %llu): latency p50 %.3f p99 %.3f max "
                    "%.3f ms | %s\n",
                    "", r.floodPerSecond, U(r.floodSent), Ms(r.flood.latency.PercentileUs(0.5)),
                    Ms(r.flood.latency.PercentileUs(0.99)), MaxMs(r.flood.latency),
                    Faults(r.flood).c_str());
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

// Another build's server brings its own language library, beside it.
bool FindServer(BenchOptions& options) {
    if (options.languageLibrary.empty())
        options.languageLibrary =
            (std::filesystem::path(options.brovik).parent_path() / "ResDLLEN.so").string();
    if (options.brovik.empty() || !std::filesystem::exists(options.brovik) ||
        !std::filesystem::exists(options.languageLibrary)) {
        std::fprintf(stderr, "Brovik or ResDLLEN.so not found (--brovik=, --resdll=)\n");
        return false;
    }
    return true;
}

void PrintHeader(const std::vector<std::string>& args, const BenchOptions& options,
                 const RelayTargets& t, int nproc) {
    std::string command = "relaybench";
    for (const std::string& arg : args)
        command += " " + arg;
    std::printf("%s\n", command.c_str());
    std::printf("machine: %u cores, nproc %d; load: --busy=%d spinning threads beside every run "
                "(%s targets)\n",
                std::thread::hardware_concurrency(), nproc, options.busy,
                t.loaded ? "loaded: --busy >= nproc" : "idle: --busy < nproc");
    std::printf("Brovik %s, language library %s\n", options.brovik.c_str(),
                options.languageLibrary.c_str());
    std::printf("each run: N clients of kind 6 on the client port + %d of kind 33 on the second "
                "port; %d events/s for %.1f s (rated phase), then %.1f s with at most %d events "
                "in flight (max ev/s)\n",
                options.bypassClients, options.rate, options.seconds, options.floodSeconds,
                options.inFlight);
    std::printf("targets: switch side at most %.0f us of server CPU per record at %d records/s, "
                "no clients, trace on (the median of %d runs); at %d clients %d events/s with "
                "latency p99 under %.0f ms and fan-out p99 under %.0f ms; max throughput at least "
                "%.1f times the batching relay's at %d clients and %.1f at %d (the median of %d "
                "rounds or more); no loss, duplicate, torn or reordered record in either phase; a "
                "stalled client moves the others' p99 by less than %.0f%%; server memory under "
                "%lld MB\n"
                "relays: server = Brovik; batching = one thread, one send per client per read of "
                "the switch; naive = one thread, one send per record per client; parallel (with "
                "--parallel) = a reader and as many threads as the server has senders, each "
                "sending what came since its last pass to its own slice of the clients\n\n",
                t.cpuPerRecordUs, t.rate, t.cpuRuns, t.clients, t.rate, t.p99Ms, t.fanOutP99Ms,
                t.throughputRatio, t.clients, t.wideThroughputRatio, t.wideClients, t.ratioRounds,
                100 * t.stallP99Tolerance, static_cast<long long>(t.memoryLimitKb / 1024));
    std::fflush(stdout);
}

// The switch side alone, a server of its own for each run.
std::vector<SwitchCpuResult> MeasureSwitchSide(const BenchOptions& options, const RelayTargets& t) {
    std::printf("switch side: %d records/s for %.1f s, no clients, %d runs\n", t.rate,
                options.seconds, t.cpuRuns);
    std::vector<SwitchCpuResult> runs;
    for (int run = 1; run <= t.cpuRuns; ++run) {
        const SwitchCpuResult& cpu = runs.emplace_back(RunSwitchCpu(options, t.rate));
        if (!cpu.ok)
            std::printf("  run %d: ERROR: %s\n", run, cpu.error.c_str());
        else
            std::printf(
                "  run %d: sent %llu in %.2f s%s; server CPU %.3f s = %.2f us per record; "
                "trace %.0f bytes per record; exit %d\n",
                run, U(cpu.sent), cpu.sendSeconds, cpu.fellBehind ? " (FELL BEHIND the rate)" : "",
                cpu.cpuSeconds, cpu.usPerRecord.value_or(0.0),
                cpu.sent > 0 ? static_cast<double>(cpu.traceBytes) / cpu.sent : 0.0, cpu.exitCode);
        std::fflush(stdout);
    }
    std::printf("\n");
    return runs;
}

// With --rounds the server and the batching relay run several times at N, alternating.
RelayRow MeasureRow(const BenchOptions& options, int n) {
    std::printf("N = %d\n", n);
    RelayRow row;
    row.clients = n;
    for (int round = 0; round < options.rounds; ++round) {
        if (options.rounds > 1)
            std::printf("  round %d of %d\n", round + 1, options.rounds);
        const auto server = [&] {
            row.servers.push_back(RunRelay(Relay::Server, options, n));
            PrintRun("server", row.servers.back());
        };
        const auto batching = [&] {
            if (!options.baseline)
                return;
            row.batchings.push_back(RunRelay(Relay::BatchingBaseline, options, n));
            PrintRun("batching", row.batchings.back());
        };
        if (ServerFirst(round)) {
            server();
            batching();
        } else {
            batching();
            server();
        }
        std::fflush(stdout);
    }
    if (options.baseline) {
        row.naive = RunRelay(Relay::Baseline, options, n);
        PrintRun("naive", row.naive);
    }
    if (options.parallel) {
        row.parallel = RunRelay(Relay::ParallelBaseline, options, n);
        PrintRun("parallel", row.parallel);
    }
    row.CompareRounds();
    if (options.rounds > 1 && options.baseline) {
        std::printf("  ratios of the rounds:");
        for (const double r : row.rounds.ratios)
            std::printf(" %.2f", r);
        if (row.rounds.median)
            std::printf("; median %.2f (the summary shows round %zu)", *row.rounds.median,
                        row.Typical() + 1);
        std::printf("\n");
    }
    std::fflush(stdout);
    return row;
}

// A row shows the round whose ratio is the median.
void PrintSummary(const std::vector<RelayRow>& rows, const BenchOptions& options) {
    const auto ratio = [](const RunResult& s, const RunResult& b) {
        return b.ok && b.floodPerSecond > 0 ? s.floodPerSecond / b.floodPerSecond : 0.0;
    };
    std::printf("\nsummary (latency and fan-out in ms; ratio = server max / relay max; lost and "
                "dup over both phases)\n");
    std::printf("%6s %8s %9s %9s %9s %7s %9s %7s %8s %9s %8s %8s %8s %8s %6s %9s\n", "N", "ev/s",
                "max ev/s", "batch max", "naive max", "ratio", "naive rat", "p50", "p99",
                "batch p99", "max", "fan p99", "fan max", "lost", "dup", "VmHWM MB");
    for (const RelayRow& row : rows) {
        const RunResult& s = row.Server();
        const RunResult& b = row.Batching();
        if (!s.ok) {
            std::printf("%6d  server run failed: %s\n", row.clients, s.error.c_str());
            continue;
        }
        std::printf("%6d %8.0f %9.0f %9.0f %9.0f %7.2f %9.2f %7.3f %8.3f %9.3f %8.3f %8.3f %8.3f "
                    "%8llu %6llu %9.1f\n",
                    row.clients, s.sustainedPerSecond, s.floodPerSecond, b.floodPerSecond,
                    row.naive.floodPerSecond, ratio(s, b), ratio(s, row.naive),
                    Ms(s.rated.latency.PercentileUs(0.5)), Ms(s.rated.latency.PercentileUs(0.99)),
                    b.ok ? Ms(b.rated.latency.PercentileUs(0.99)) : 0.0, MaxMs(s.rated.latency),
                    Ms(s.rated.fanOut.PercentileUs(0.99)), MaxMs(s.rated.fanOut),
                    U(s.rated.lost + s.flood.lost), U(s.rated.duplicates + s.flood.duplicates),
                    s.peakKb / 1024.0);
    }
    if (options.parallel) {
        std::printf("\nparallel relay (max ev/s; ratios of the maxima)\n%6s %9s %14s %14s\n", "N",
                    "max ev/s", "over batching", "server over it");
        for (const RelayRow& row : rows)
            std::printf("%6d %9.0f %14.2f %14.2f\n", row.clients, row.parallel.floodPerSecond,
                        ratio(row.parallel, row.Batching()), ratio(row.Server(), row.parallel));
    }
}

StallResult MeasureStall(const BenchOptions& options) {
    const int n = options.stallClients;
    std::printf("\nstalled client: one server, %d clients on the client port; %d pairs of "
                "segments of %.1f s in the order reference, stalled, stalled, reference, "
                "reference, ...; in a stalled one the first client reads nothing, then "
                "catches up\n",
                n, kStallPairs, options.seconds / 4);
    std::fflush(stdout);
    const StallResult r = RunStallCase(options, n);
    if (!r.ok) {
        std::printf("  ERROR: %s\n", r.error.c_str());
        return r;
    }
    for (const auto& [name, s] :
         {std::pair<const char*, const PhaseStats*>{"reference", &r.reference},
          std::pair<const char*, const PhaseStats*>{"stalled", &r.stalled}}) {
        std::printf("  %-9s others' latency p50 %.3f p99 %.3f max %.3f ms | fan-out p99 %.3f ms "
                    "| %s\n",
                    name, Ms(s->latency.PercentileUs(0.5)), Ms(s->latency.PercentileUs(0.99)),
                    MaxMs(s->latency), Ms(s->fanOut.PercentileUs(0.99)), Faults(*s).c_str());
    }
    if (r.saturated)
        std::printf("  SATURATED: a segment fell behind the rate\n");
    const std::vector<SegmentP99s> p99s = StallP99s(r);
    const PairedChange paired = ComparePairs(p99s);
    std::printf("  others' p99 per pair, reference / stalled (change):");
    for (std::size_t i = 0; i < p99s.size(); ++i)
        std::printf(" %.2f / %.2f (%+.0f%%)", p99s[i].reference, p99s[i].stalled,
                    100 * paired.changes[i]);
    std::printf("\n");
    return r;
}

// The server's VmHWM over every run of it.
std::int64_t PeakKb(const std::vector<RelayRow>& rows, const StallResult* stall) {
    std::int64_t peakKb = stall != nullptr && stall->ok ? stall->peakKb : 0;
    for (const RelayRow& row : rows)
        for (const RunResult& r : row.servers)
            peakKb = std::max(peakKb, r.peakKb);
    return peakKb;
}

void PrintLoad(const BusyLoad& load, std::chrono::steady_clock::time_point start) {
    if (load.Threads() == 0)
        return;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("\nload: %d spinning threads had %.1f CPU s in %.1f s (%.1f processors)\n",
                load.Threads(), load.CpuSeconds(), wall, wall > 0 ? load.CpuSeconds() / wall : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    BenchOptions options;
    options.brovik = BROVIK_PATH;
    OptionParser parser("relaybench",
                        "Brovik's event relay under load, beside one-thread relays measured the "
                        "same way;\nPASS or FAIL for each target, exit 1 when one is missed.");
    DeclareBenchOptions(parser, options);
    if (const std::optional<int> exit = ParseCommandLine(parser, args))
        return *exit;
    if (!FindServer(options))
        return 2;

    const int nproc = UsableCpus();
    const RelayTargets t = TargetsFor(options.busy, nproc);
    PrintHeader(args, options, t, nproc);
    const auto wallStart = std::chrono::steady_clock::now();
    BusyLoad load(options.busy);

    VerdictList verdicts;
    verdicts.Add(SwitchSideVerdict(MeasureSwitchSide(options, t), t));
    std::vector<RelayRow> rows;
    for (const int n : options.clients)
        rows.push_back(MeasureRow(options, n));
    PrintSummary(rows, options);

    verdicts.Add(LatencyVerdict(FindRow(rows, t.clients), options, t));
    verdicts.Add(RatioVerdict(FindRow(rows, t.clients), t.clients, t.throughputRatio, options, t));
    verdicts.Add(RatioVerdict(FindRow(rows, t.wideClients), t.wideClients, t.wideThroughputRatio,
                              options, t));
    for (const RelayRow& row : rows)
        verdicts.Add(WholeRecordsVerdict(row));
    std::optional<StallResult> stall;
    if (options.stallCase) {
        stall = MeasureStall(options);
        verdicts.Add(StallVerdicts(*stall, t));
    }
    if (const std::int64_t peakKb = PeakKb(rows, stall ? &*stall : nullptr); peakKb > 0)
        verdicts.Add(MemoryVerdict(peakKb, t));

    PrintLoad(load, wallStart);
    std::printf("%s", verdicts.Text().c_str());
    return verdicts.Count(Outcome::Fail) > 0 ? 1 : 0;
}
