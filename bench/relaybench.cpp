// relaybench: how fast and how evenly Brovik relays switch events to its clients, beside two
// simple one-thread relays (one send per record, and one send per client per read) measured the
// same way on the same machine, optionally beside spinning threads that load the machine.

#include "BenchOptions.h"
#include "BusyLoad.h"
#include "ProcStat.h"
#include "RelayRounds.h"
#include "RelayScenario.h"
#include "RelayTargets.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
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

// Whole records as each reading client had them: no loss, nothing twice, nothing torn or out
// of order.
bool Clean(const PhaseStats& s) {
    return s.lost == 0 && s.duplicates == 0 && s.damaged == 0 && s.outOfOrder == 0 && s.closed == 0;
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

// The same, short, for a verdict line.
std::string Counts(const PhaseStats& s) {
    char text[160];
    std::snprintf(text, sizeof text, "lost %llu, duplicates %llu, torn %llu, reordered %llu%s",
                  U(s.lost), U(s.duplicates), U(s.damaged), U(s.outOfOrder),
                  s.closed > 0 ? ", closed" : "");
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

std::string Join(const std::vector<std::string>& args) {
    std::string text = "relaybench";
    for (const std::string& arg : args)
        text += " " + arg;
    return text;
}

// The verdicts, printed together at the end.
class Verdicts {
public:
    void Add(bool ok, const char* format, ...) __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        Line(ok ? "PASS" : "FAIL", format, args);
        va_end(args);
        m_Failed += ok ? 0 : 1;
    }
    void Missing(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        Line("--  ", format, args);
        va_end(args);
        ++m_Missing;
    }
    void Print() const {
        std::printf("\ntargets\n");
        for (const std::string& line : m_Lines)
            std::printf("%s\n", line.c_str());
        if (m_Failed > 0)
            std::printf("\nsome targets missed (%d)", m_Failed);
        else
            std::printf("\nall %stargets met", m_Missing > 0 ? "measured " : "");
        if (m_Missing > 0)
            std::printf("; %d not measured in this run", m_Missing);
        std::printf("\n");
    }

private:
    void Line(const char* verdict, const char* format, va_list args) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        m_Lines.push_back(std::string("  ") + verdict + "  " + text);
    }

    std::vector<std::string> m_Lines;
    int m_Failed = 0;
    int m_Missing = 0;
};

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    BenchOptions options;
    options.brovik = BROVIK_PATH;
    OptionParser parser("relaybench", "Brovik's event relay under load, beside one-thread relays "
                                      "measured the same way; PASS or FAIL for each target.");
    DeclareBenchOptions(parser, options);
    if (const std::optional<int> exit = ParseCommandLine(parser, args))
        return *exit;
    // Another build's server brings its own language library, beside it.
    if (options.languageLibrary.empty())
        options.languageLibrary =
            (std::filesystem::path(options.brovik).parent_path() / "ResDLLEN.so").string();
    if (options.brovik.empty() || !std::filesystem::exists(options.brovik) ||
        !std::filesystem::exists(options.languageLibrary)) {
        std::fprintf(stderr, "Brovik or ResDLLEN.so not found (--brovik=, --resdll=)\n");
        return 2;
    }

    const int nproc = UsableCpus();
    const RelayTargets t = TargetsFor(options.busy, nproc);
    std::printf("%s\n", Join(args).c_str());
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
                "no clients, trace on; at %d clients %d events/s with latency p99 under %.0f ms "
                "and fan-out p99 under %.0f ms; max throughput at least %.1f times the batching "
                "relay's at %d clients (%.1f at %d); no loss, duplicate, torn or reordered record "
                "in either phase; a stalled client moves the others' p99 by less than %.0f%%; "
                "server memory under %lld MB\n"
                "relays: server = Brovik; batching = one thread, one send per client per read of "
                "the switch; naive = one thread, one send per record per client; parallel (with "
                "--parallel) = a reader and as many threads as the server has senders, each "
                "sending what came since its last pass to its own slice of the clients\n\n",
                t.cpuPerRecordUs, t.rate, t.clients, t.rate, t.p99Ms, t.fanOutP99Ms,
                t.throughputRatio, t.clients, t.wideThroughputRatio, t.wideClients,
                100 * t.stallP99Tolerance, static_cast<long long>(t.memoryLimitKb / 1024));
    std::fflush(stdout);

    const auto wallStart = std::chrono::steady_clock::now();
    BusyLoad load(options.busy);
    Verdicts verdicts;
    std::int64_t peakKb = 0;

    // The switch side alone.
    std::printf("switch side: %d records/s for %.1f s, no clients\n", t.rate, options.seconds);
    const SwitchCpuResult cpu = RunSwitchCpu(options, t.rate);
    if (!cpu.ok) {
        std::printf("  ERROR: %s\n", cpu.error.c_str());
        verdicts.Add(false, "switch side CPU per record: the run failed (%s)", cpu.error.c_str());
    } else {
        const double us = cpu.usPerRecord.value_or(0.0);
        std::printf("  sent %llu in %.2f s%s; server CPU %.3f s = %.2f us per record; trace %.0f "
                    "bytes per record; exit %d\n",
                    U(cpu.sent), cpu.sendSeconds, cpu.fellBehind ? " (FELL BEHIND the rate)" : "",
                    cpu.cpuSeconds, us,
                    cpu.sent > 0 ? static_cast<double>(cpu.traceBytes) / cpu.sent : 0.0,
                    cpu.exitCode);
        const bool traceOn = cpu.traceBytes > 0;
        verdicts.Add(cpu.usPerRecord && !cpu.fellBehind && traceOn && us <= t.cpuPerRecordUs,
                     "switch side: %.2f us of server CPU per record at %d records/s, no clients, "
                     "trace %s (target <= %.0f)%s",
                     us, t.rate, traceOn ? "on" : "OFF (nothing written)", t.cpuPerRecordUs,
                     cpu.fellBehind ? "; the sends fell behind the rate" : "");
    }
    std::printf("\n");
    std::fflush(stdout);

    // With --rounds the server and the batching relay run several times at each N; the summary
    // shows the round whose ratio is the median.
    struct Row {
        int clients;
        std::vector<RunResult> servers, batchings;
        RunResult naive, parallel;
        RoundRatios rounds;
        std::size_t Typical() const { return rounds.typical.value_or(0); }
        const RunResult& Server() const { return servers[Typical()]; }
        const RunResult& Batching() const {
            static const RunResult none;
            return Typical() < batchings.size() ? batchings[Typical()] : none;
        }
    };
    const auto maxOf = [](const RunResult& r) { return r.ok ? r.floodPerSecond : 0.0; };
    std::vector<Row> rows;
    for (const int n : options.clients) {
        std::printf("N = %d\n", n);
        Row row{n, {}, {}, {}, {}, {}};
        for (int round = 0; round < options.rounds; ++round) {
            if (options.rounds > 1)
                std::printf("  round %d of %d\n", round + 1, options.rounds);
            const auto server = [&] {
                row.servers.push_back(RunRelay(Relay::Server, options, n));
                PrintRun("server", row.servers.back());
                peakKb = std::max(peakKb, row.servers.back().peakKb);
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
        std::vector<double> serverMax, batchingMax;
        for (const RunResult& r : row.servers)
            serverMax.push_back(maxOf(r));
        for (const RunResult& r : row.batchings)
            batchingMax.push_back(maxOf(r));
        row.rounds = CompareRounds(serverMax, batchingMax);
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
        rows.push_back(std::move(row));
    }

    const auto ratio = [](const RunResult& s, const RunResult& b) {
        return b.ok && b.floodPerSecond > 0 ? s.floodPerSecond / b.floodPerSecond : 0.0;
    };
    std::printf("\nsummary (latency and fan-out in ms; ratio = server max / relay max; lost and "
                "dup over both phases)\n");
    std::printf("%6s %8s %9s %9s %9s %7s %9s %7s %8s %9s %8s %8s %8s %8s %6s %9s\n", "N", "ev/s",
                "max ev/s", "batch max", "naive max", "ratio", "naive rat", "p50", "p99",
                "batch p99", "max", "fan p99", "fan max", "lost", "dup", "VmHWM MB");
    for (const Row& row : rows) {
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
        for (const Row& row : rows)
            std::printf("%6d %9.0f %14.2f %14.2f\n", row.clients, row.parallel.floodPerSecond,
                        ratio(row.parallel, row.Batching()), ratio(row.Server(), row.parallel));
    }

    const Row* target = nullptr;
    const Row* wide = nullptr;
    for (const Row& row : rows) {
        if (row.clients == t.clients)
            target = &row;
        if (row.clients == t.wideClients)
            wide = &row;
    }
    if (target == nullptr || !target->Server().ok) {
        verdicts.Missing("%d clients: latency at %d events/s (%s)", t.clients, t.rate,
                         target ? "the run failed" : "not in --clients");
    } else {
        // Each figure's median over the rounds that ran.
        std::vector<double> sustained, p99s, fanP99s;
        for (const RunResult& s : target->servers) {
            if (!s.ok)
                continue;
            sustained.push_back(s.sustainedPerSecond);
            p99s.push_back(Ms(s.rated.latency.PercentileUs(0.99)));
            fanP99s.push_back(Ms(s.rated.fanOut.PercentileUs(0.99)));
        }
        const double rate = MedianOf(sustained);
        const double p99 = MedianOf(p99s);
        const double fanP99 = MedianOf(fanP99s);
        const bool rateOk = options.rate >= t.rate && rate >= 0.99 * t.rate;
        const bool met = rateOk && p99 < t.p99Ms && fanP99 < t.fanOutP99Ms;
        const char* over = p99s.size() > 1 ? "; each the median of the rounds" : "";
        verdicts.Add(met,
                     "%d clients: %.0f ev/s sustained (target %d), latency p99 %.3f ms (target "
                     "< %.0f), fan-out p99 %.3f ms (target < %.0f)%s",
                     t.clients, rate, t.rate, p99, t.p99Ms, fanP99, t.fanOutP99Ms, over);
    }
    for (const auto& [row, wanted, n] : {std::tuple{target, t.throughputRatio, t.clients},
                                         std::tuple{wide, t.wideThroughputRatio, t.wideClients}}) {
        if (row == nullptr || !row->rounds.median) {
            verdicts.Missing("%d clients: max throughput against the batching relay (%s)", n,
                             row == nullptr              ? "not in --clients"
                             : options.floodSeconds <= 0 ? "--flood-seconds=0"
                             : !options.baseline         ? "--no-baseline"
                                                         : "a run failed");
            continue;
        }
        const double r = *row->rounds.median;
        const RunResult& s = row->Server();
        const RunResult& b = row->Batching();
        if (options.rounds > 1)
            verdicts.Add(r >= wanted,
                         "%d clients: max throughput %.2f times the batching relay, the median of "
                         "%d rounds (round %zu: %.0f / %.0f ev/s; target >= %.1f)",
                         n, r, options.rounds, row->Typical() + 1, s.floodPerSecond,
                         b.floodPerSecond, wanted);
        else
            verdicts.Add(r >= wanted,
                         "%d clients: max throughput %.0f / %.0f ev/s = %.2f times the batching "
                         "relay (target >= %.1f)",
                         n, s.floodPerSecond, b.floodPerSecond, r, wanted);
    }
    for (const Row& row : rows) {
        // Every round's records count.
        const auto failed = std::find_if(row.servers.begin(), row.servers.end(),
                                         [](const RunResult& r) { return !r.ok; });
        if (failed != row.servers.end()) {
            verdicts.Add(false, "N = %d: the server run failed (%s)", row.clients,
                         failed->error.c_str());
            continue;
        }
        PhaseStats rated, flood;
        bool flooded = false;
        for (const RunResult& r : row.servers) {
            rated.Add(r.rated);
            flood.Add(r.flood);
            flooded |= r.floodSent > 0;
        }
        const std::string over = row.servers.size() > 1
                                     ? " (over " + std::to_string(row.servers.size()) + " rounds)"
                                     : "";
        verdicts.Add(Clean(rated) && Clean(flood),
                     "N = %d, whole records%s: rated phase %s; throughput phase %s", row.clients,
                     over.c_str(), Counts(rated).c_str(),
                     flooded ? Counts(flood).c_str() : "not run");
    }

    if (options.stallCase) {
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
            verdicts.Add(false, "stalled client: the run failed (%s)", r.error.c_str());
        } else {
            peakKb = std::max(peakKb, r.peakKb);
            for (const auto& [name, s] :
                 {std::pair<const char*, const PhaseStats*>{"reference", &r.reference},
                  std::pair<const char*, const PhaseStats*>{"stalled", &r.stalled}}) {
                std::printf("  %-9s others' latency p50 %.3f p99 %.3f max %.3f ms | fan-out p99 "
                            "%.3f ms | %s\n",
                            name, Ms(s->latency.PercentileUs(0.5)),
                            Ms(s->latency.PercentileUs(0.99)), MaxMs(s->latency),
                            Ms(s->fanOut.PercentileUs(0.99)), Faults(*s).c_str());
            }
            if (r.saturated)
                std::printf("  SATURATED: a segment fell behind the rate\n");
            std::vector<SegmentP99s> p99s;
            for (const StallResult::Pair& pair : r.pairs)
                p99s.push_back({Ms(pair.reference.latency.PercentileUs(0.99)),
                                Ms(pair.stalled.latency.PercentileUs(0.99))});
            const PairedChange paired = ComparePairs(p99s);
            std::printf("  others' p99 per pair, reference / stalled (change):");
            for (std::size_t i = 0; i < p99s.size(); ++i)
                std::printf(" %.2f / %.2f (%+.0f%%)", p99s[i].reference, p99s[i].stalled,
                            100 * paired.changes[i]);
            std::printf("\n");
            const double change = paired.median.value_or(0.0);
            verdicts.Add(!r.saturated && paired.median && change < t.stallP99Tolerance,
                         "stalled client: others' p99 %+.1f%% against the reference segment of "
                         "the same pair, the median of %zu pairs (over all segments %.3f ms "
                         "against %.3f ms; target under +%.0f%%)",
                         100 * change, p99s.size(), Ms(r.stalled.latency.PercentileUs(0.99)),
                         Ms(r.reference.latency.PercentileUs(0.99)), 100 * t.stallP99Tolerance);
            verdicts.Add(Clean(r.stalled) && Clean(r.reference),
                         "stalled client, the others' records: stalled %s; reference %s",
                         Counts(r.stalled).c_str(), Counts(r.reference).c_str());
            const std::int64_t growth = r.rssEndKb - r.rssStartKb;
            verdicts.Add(growth < t.stallMemoryGrowthKb,
                         "stalled client: server VmRSS %.1f -> %.1f MB over the stalled segments "
                         "(max %.1f, growth limit %.0f MB)",
                         r.rssStartKb / 1024.0, r.rssEndKb / 1024.0, r.rssMaxKb / 1024.0,
                         t.stallMemoryGrowthKb / 1024.0);
            const StallReport& st = r.stall;
            verdicts.Add(st.damaged == 0 && st.duplicates == 0 && st.outOfOrder == 0 &&
                             st.pendingBytes == 0 && !st.closed,
                         "stalled client after catching up: %llu of %llu events, %llu torn, %llu "
                         "duplicates, %llu out of order, %zu bytes of a record left over%s",
                         U(st.received), U(r.sent), U(st.damaged), U(st.duplicates),
                         U(st.outOfOrder), st.pendingBytes, st.closed ? ", closed" : "");
        }
    }
    if (peakKb > 0)
        verdicts.Add(peakKb < t.memoryLimitKb,
                     "server memory at most %.1f MB (VmHWM over every server run; target < %lld "
                     "MB)",
                     peakKb / 1024.0, static_cast<long long>(t.memoryLimitKb / 1024));

    if (load.Threads() > 0) {
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        std::printf("\nload: %d spinning threads had %.1f CPU s in %.1f s (%.1f processors)\n",
                    load.Threads(), load.CpuSeconds(), wall,
                    wall > 0 ? load.CpuSeconds() / wall : 0.0);
    }
    verdicts.Print();
    return 0;
}
