#include "RelayVerdicts.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <limits>

namespace bench {

namespace {

double Ms(std::int64_t us) {
    return static_cast<double>(us) / 1000.0;
}

unsigned long long U(std::uint64_t n) {
    return static_cast<unsigned long long>(n);
}

std::string Format(const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    return text;
}

Verdict Judged(bool ok, const char* format, ...) __attribute__((format(printf, 2, 3)));
Verdict Judged(bool ok, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Verdict verdict{ok ? Outcome::Pass : Outcome::Fail, Format(format, args)};
    va_end(args);
    return verdict;
}

Verdict Unmeasured(const char* format, ...) __attribute__((format(printf, 1, 2)));
Verdict Unmeasured(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Verdict verdict{Outcome::NotMeasured, Format(format, args)};
    va_end(args);
    return verdict;
}

// Whole records as each reading client had them: no loss, nothing twice, nothing torn or out
// of order.
bool Clean(const PhaseStats& s) {
    return s.lost == 0 && s.duplicates == 0 && s.damaged == 0 && s.outOfOrder == 0 && s.closed == 0;
}

std::string Counts(const PhaseStats& s) {
    char text[160];
    std::snprintf(text, sizeof text, "lost %llu, duplicates %llu, torn %llu, reordered %llu%s",
                  U(s.lost), U(s.duplicates), U(s.damaged), U(s.outOfOrder),
                  s.closed > 0 ? ", closed" : "");
    return text;
}

const char* Absent(const BenchOptions& options) {
    return options.quick ? "left to a full run by --quick" : "not in --clients";
}

} // namespace

void VerdictList::Add(const std::vector<Verdict>& verdicts) {
    m_Verdicts.insert(m_Verdicts.end(), verdicts.begin(), verdicts.end());
}

int VerdictList::Count(Outcome outcome) const {
    return static_cast<int>(std::count_if(m_Verdicts.begin(), m_Verdicts.end(),
                                          [&](const Verdict& v) { return v.outcome == outcome; }));
}

std::string VerdictList::Text() const {
    std::string text = "\ntargets\n";
    for (const Verdict& v : m_Verdicts)
        text += std::string("  ") +
                (v.outcome == Outcome::Pass   ? "PASS"
                 : v.outcome == Outcome::Fail ? "FAIL"
                                              : "--  ") +
                "  " + v.text + "\n";
    const int failed = Count(Outcome::Fail);
    const int missing = Count(Outcome::NotMeasured);
    if (failed > 0)
        text += "\nsome targets missed (" + std::to_string(failed) + ")";
    else
        text += std::string("\nall ") + (missing > 0 ? "measured " : "") + "targets met";
    if (missing > 0)
        text += "; " + std::to_string(missing) + " not measured in this run";
    return text + "\n";
}

void RelayRow::CompareRounds() {
    const auto maxOf = [](const std::vector<RunResult>& runs) {
        std::vector<double> max;
        for (const RunResult& r : runs)
            max.push_back(r.ok ? r.floodPerSecond : 0.0);
        return max;
    };
    rounds = bench::CompareRounds(maxOf(servers), maxOf(batchings));
}

const RunResult& RelayRow::Server() const {
    static const RunResult none;
    return Typical() < servers.size() ? servers[Typical()] : none;
}

const RunResult& RelayRow::Batching() const {
    static const RunResult none;
    return Typical() < batchings.size() ? batchings[Typical()] : none;
}

const RelayRow* FindRow(const std::vector<RelayRow>& rows, int clients) {
    const auto row = std::find_if(rows.begin(), rows.end(),
                                  [&](const RelayRow& r) { return r.clients == clients; });
    return row == rows.end() ? nullptr : &*row;
}

Verdict SwitchSideVerdict(const std::vector<SwitchCpuResult>& runs, const RelayTargets& t) {
    if (runs.empty())
        return Unmeasured("switch side: CPU per record (no run)");
    std::vector<double> figures;
    std::string each, error;
    for (const SwitchCpuResult& run : runs) {
        const bool counts = run.ok && run.usPerRecord && !run.fellBehind && run.traceBytes > 0;
        figures.push_back(counts ? *run.usPerRecord : std::numeric_limits<double>::infinity());
        char text[64];
        if (!run.ok)
            std::snprintf(text, sizeof text, "failed");
        else
            std::snprintf(text, sizeof text, "%.2f%s%s", run.usPerRecord.value_or(0.0),
                          run.fellBehind ? " fell behind" : "",
                          run.traceBytes == 0 ? " trace OFF" : "");
        each += (each.empty() ? "" : ", ") + std::string(text);
        if (!run.ok && error.empty())
            error = run.error;
    }
    const double median = MedianOf(figures);
    if (median == std::numeric_limits<double>::infinity())
        return Judged(false, "switch side: no figure in most of %zu runs (%s)%s%s", runs.size(),
                      each.c_str(), error.empty() ? "" : ": ", error.c_str());
    return Judged(median <= t.cpuPerRecordUs,
                  "switch side: %.2f us of server CPU per record at %d records/s, the median of "
                  "%zu runs (%s), no clients, trace on (target <= %.0f)",
                  median, t.rate, runs.size(), each.c_str(), t.cpuPerRecordUs);
}

Verdict LatencyVerdict(const RelayRow* row, const BenchOptions& options, const RelayTargets& t) {
    if (row == nullptr || !row->Server().ok)
        return Unmeasured("%d clients: latency at %d events/s (%s)", t.clients, t.rate,
                          row ? "the run failed" : Absent(options));
    std::vector<double> sustained, p99s, fanP99s;
    for (const RunResult& s : row->servers) {
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
    return Judged(met,
                  "%d clients: %.0f ev/s sustained (target %d), latency p99 %.3f ms (target < "
                  "%.0f), fan-out p99 %.3f ms (target < %.0f)%s",
                  t.clients, rate, t.rate, p99, t.p99Ms, fanP99, t.fanOutP99Ms, over);
}

Verdict RatioVerdict(const RelayRow* row, int clients, double wanted, const BenchOptions& options,
                     const RelayTargets& t) {
    const auto measured = [&] {
        return std::count_if(row->rounds.ratios.begin(), row->rounds.ratios.end(),
                             [](double r) { return r > 0; });
    };
    std::string absent;
    if (row == nullptr)
        absent = Absent(options);
    else if (options.floodSeconds <= 0)
        absent = "--flood-seconds=0";
    else if (!options.baseline)
        absent = "--no-baseline";
    else if (options.rounds < t.ratioRounds)
        absent = "judged on the median of " + std::to_string(t.ratioRounds) +
                 " rounds or more; --rounds=" + std::to_string(options.rounds);
    else if (!row->rounds.median || measured() < t.ratioRounds)
        absent = "a run failed";
    if (!absent.empty())
        return Unmeasured("%d clients: max throughput against the batching relay (%s)", clients,
                          absent.c_str());
    return Judged(*row->rounds.median >= wanted,
                  "%d clients: max throughput %.2f times the batching relay, the median of %d "
                  "rounds (round %zu: %.0f / %.0f ev/s; target >= %.1f)",
                  clients, *row->rounds.median, static_cast<int>(measured()), row->Typical() + 1,
                  row->Server().floodPerSecond, row->Batching().floodPerSecond, wanted);
}

Verdict WholeRecordsVerdict(const RelayRow& row) {
    const auto failed = std::find_if(row.servers.begin(), row.servers.end(),
                                     [](const RunResult& r) { return !r.ok; });
    if (failed != row.servers.end())
        return Judged(false, "N = %d: the server run failed (%s)", row.clients,
                      failed->error.c_str());
    PhaseStats rated, flood;
    bool flooded = false;
    for (const RunResult& r : row.servers) {
        rated.Add(r.rated);
        flood.Add(r.flood);
        flooded |= r.floodSent > 0;
    }
    const std::string over =
        row.servers.size() > 1 ? " (over " + std::to_string(row.servers.size()) + " rounds)" : "";
    return Judged(Clean(rated) && Clean(flood),
                  "N = %d, whole records%s: rated phase %s; throughput phase %s", row.clients,
                  over.c_str(), Counts(rated).c_str(), flooded ? Counts(flood).c_str() : "not run");
}

Verdict MemoryVerdict(std::int64_t peakKb, const RelayTargets& t) {
    return Judged(peakKb < t.memoryLimitKb,
                  "server memory at most %.1f MB (VmHWM over every server run; target < %lld MB)",
                  peakKb / 1024.0, static_cast<long long>(t.memoryLimitKb / 1024));
}

std::vector<SegmentP99s> StallP99s(const StallResult& r) {
    std::vector<SegmentP99s> p99s;
    for (const StallResult::Pair& pair : r.pairs)
        p99s.push_back({Ms(pair.reference.latency.PercentileUs(0.99)),
                        Ms(pair.stalled.latency.PercentileUs(0.99))});
    return p99s;
}

Verdict StallLatencyVerdict(const StallResult& r, const RelayTargets& t) {
    const std::vector<SegmentP99s> p99s = StallP99s(r);
    const PairedChange paired = ComparePairs(p99s);
    const double change = paired.median.value_or(0.0);
    return Judged(!r.saturated && paired.median && change < t.stallP99Tolerance,
                  "stalled client: others' p99 %+.1f%% against the reference segment of the same "
                  "pair, the median of %zu pairs (over all segments %.3f ms against %.3f ms; "
                  "target under +%.0f%%)",
                  100 * change, p99s.size(), Ms(r.stalled.latency.PercentileUs(0.99)),
                  Ms(r.reference.latency.PercentileUs(0.99)), 100 * t.stallP99Tolerance);
}

Verdict StallOthersRecordsVerdict(const StallResult& r) {
    return Judged(Clean(r.stalled) && Clean(r.reference),
                  "stalled client, the others' records: stalled %s; reference %s",
                  Counts(r.stalled).c_str(), Counts(r.reference).c_str());
}

Verdict StallMemoryVerdict(const StallResult& r, const RelayTargets& t) {
    return Judged(r.rssEndKb - r.rssStartKb < t.stallMemoryGrowthKb,
                  "stalled client: server VmRSS %.1f -> %.1f MB over the stalled segments (max "
                  "%.1f, growth limit %.0f MB)",
                  r.rssStartKb / 1024.0, r.rssEndKb / 1024.0, r.rssMaxKb / 1024.0,
                  t.stallMemoryGrowthKb / 1024.0);
}

Verdict StalledClientVerdict(const StallResult& r) {
    const StallReport& st = r.stall;
    return Judged(st.damaged == 0 && st.duplicates == 0 && st.outOfOrder == 0 &&
                      st.pendingBytes == 0 && !st.closed,
                  "stalled client after catching up: %llu of %llu events, %llu torn, %llu "
                  "duplicates, %llu out of order, %zu bytes of a record left over%s",
                  U(st.received), U(r.sent), U(st.damaged), U(st.duplicates), U(st.outOfOrder),
                  st.pendingBytes, st.closed ? ", closed" : "");
}

std::vector<Verdict> StallVerdicts(const StallResult& r, const RelayTargets& t) {
    if (!r.ok)
        return {Judged(false, "stalled client: the run failed (%s)", r.error.c_str())};
    return {StallLatencyVerdict(r, t), StallOthersRecordsVerdict(r), StallMemoryVerdict(r, t),
            StalledClientVerdict(r)};
}

} // namespace bench
