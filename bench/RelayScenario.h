#pragma once

// The measured runs: a switch on loopback, a relay (Brovik or a baseline), its clients, phases of
// stamped events, and what the relay cost.

#include "BenchOptions.h"
#include "BrovikRun.h"
#include "ClientFleet.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bench {

// A rated phase of events, then a throughput phase.
struct RunResult {
    bool ok = false;
    std::string error;
    int clients = 0;
    int bypassClients = 0;

    std::uint64_t sent = 0;
    bool saturated = false; // the rated phase ended early: the relay fell behind the rate
    double ratedSeconds = 0.0;
    double sustainedPerSecond = 0.0; // what the slowest reading client received, per second
    PhaseStats rated;

    std::uint64_t floodSent = 0;
    std::uint64_t floodDelivered = 0;
    double floodPerSecond = 0.0; // every reading client, with a bounded window in flight
    PhaseStats flood;

    // The relay's costs over the rated phase (the baseline reports only its CPU).
    double cpuSeconds = 0.0;
    std::int64_t peakKb = 0;
    std::int64_t rssStartKb = 0, rssMaxKb = 0, rssEndKb = 0;
    int exitCode = -1;
};

enum class Relay { Server, Baseline, BatchingBaseline, ParallelBaseline };

RunResult RunRelay(Relay relay, const BenchOptions& options, int clients);

// One server, the same clients, pairs of rated segments in the order reference, stalled, stalled,
// reference, reference, stalled, ...: in a stalled segment the first client reads nothing, in a
// reference one it reads along, and it catches up between them. So the two segments of a pair
// share the machine's state of the moment, and a burst of the machine's own spoils one pair only.
constexpr int kStallPairs = 6;

struct StallResult {
    bool ok = false;
    std::string error;
    int clients = 0;
    std::uint64_t sent = 0; // over every segment
    bool saturated = false;
    PhaseStats reference; // the other clients' figures, merged over the segments of each kind
    PhaseStats stalled;
    struct Pair {
        PhaseStats reference, stalled;
    };
    std::vector<Pair> pairs; // in the order they ran
    // The server over the stalled segments: VmRSS before the first, at most, after the last.
    std::int64_t rssStartKb = 0, rssMaxKb = 0, rssEndKb = 0;
    std::int64_t peakKb = 0;
    StallReport stall; // the stalled client over the whole case
    int exitCode = -1;
};

StallResult RunStallCase(const BenchOptions& options, int clients);

// The switch side alone: no client, the server's trace as its registry has it (to its files).
struct SwitchCpuResult {
    bool ok = false;
    std::string error;
    int rate = 0;
    std::uint64_t sent = 0;
    double sendSeconds = 0.0;
    bool fellBehind = false; // the sends did not keep to the rate
    double cpuSeconds = 0.0; // server process, from before the first record until it settled
    std::optional<double> usPerRecord;
    std::uint64_t traceBytes = 0; // written to its trace files meanwhile
    int exitCode = -1;
};

SwitchCpuResult RunSwitchCpu(const BenchOptions& options, int rate);

} // namespace bench
