#pragma once

// relaybench's verdicts: each target judged on the runs that measure it, as one line that says
// what was measured against what.

#include "BenchOptions.h"
#include "RelayRounds.h"
#include "RelayScenario.h"
#include "RelayTargets.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

enum class Outcome { Pass, Fail, NotMeasured };

struct Verdict {
    Outcome outcome = Outcome::NotMeasured;
    std::string text;
};

// The verdicts of a run, printed together at its end.
class VerdictList {
public:
    void Add(Verdict verdict) { m_Verdicts.push_back(std::move(verdict)); }
    void Add(const std::vector<Verdict>& verdicts);
    int Count(Outcome outcome) const;
    // "targets", a line each, and what they add up to.
    std::string Text() const;

private:
    std::vector<Verdict> m_Verdicts;
};

// The runs at one client count. With rounds the server and the batching relay ran several times,
// and the round whose ratio is the median stands for the row.
struct RelayRow {
    int clients = 0;
    std::vector<RunResult> servers, batchings;
    RunResult naive, parallel;
    RoundRatios rounds; // CompareRounds() sets it

    // The ratios of the rounds' maxima, once every round has run.
    void CompareRounds();
    std::size_t Typical() const { return rounds.typical.value_or(0); }
    const RunResult& Server() const;
    const RunResult& Batching() const;
};

// nullptr when the run had no row at that count.
const RelayRow* FindRow(const std::vector<RelayRow>& rows, int clients);

// The median of the runs' figures; a run that failed, fell behind the rate or wrote no trace
// counts as a figure above any target.
Verdict SwitchSideVerdict(const std::vector<SwitchCpuResult>& runs, const RelayTargets& targets);
// Rate, latency p99 and fan-out p99 at the target's client count, each the median of the rounds.
Verdict LatencyVerdict(const RelayRow* row, const BenchOptions& options,
                       const RelayTargets& targets);
// The median of the rounds' ratios, judged only over enough rounds.
Verdict RatioVerdict(const RelayRow* row, int clients, double wanted, const BenchOptions& options,
                     const RelayTargets& targets);
// Every round's records, both phases.
Verdict WholeRecordsVerdict(const RelayRow& row);
Verdict MemoryVerdict(std::int64_t peakKb, const RelayTargets& targets);

// The others' p99 of each pair of segments, in ms.
std::vector<SegmentP99s> StallP99s(const StallResult& result);
Verdict StallLatencyVerdict(const StallResult& result, const RelayTargets& targets);
Verdict StallOthersRecordsVerdict(const StallResult& result);
Verdict StallMemoryVerdict(const StallResult& result, const RelayTargets& targets);
Verdict StalledClientVerdict(const StallResult& result);
// The four above, or one failure for a case that did not run.
std::vector<Verdict> StallVerdicts(const StallResult& result, const RelayTargets& targets);

} // namespace bench
