#pragma once

// relaybench's targets. The latency target a loaded machine moves has two values: idle, and loaded
// when at least as many spinning threads as processors run beside the bench.

#include <cstdint>

namespace bench {

struct RelayTargets {
    bool loaded = false;
    int rate = 5000;           // events/s of the latency target and the CPU case
    int clients = 200;         // where latency and throughput ratio are targets
    double p99Ms = 5.0;        // switch send -> client receive
    double fanOutP99Ms = 10.0; // first to last client of one event
    // Server max / batching relay max at `clients`. The batching relay's own speed differs from
    // machine to machine far more than the server's, so this is what holds on every one measured.
    double throughputRatio = 2.0;
    int wideClients = 500;            // a second ratio target with many clients
    double wideThroughputRatio = 2.0; // the same, at `wideClients`
    int ratioRounds = 3;             // a ratio is judged on the median of at least this many rounds
    double cpuPerRecordUs = 20.0;    // server CPU per switch record, no clients, trace on
    int cpuRuns = 3;                 // its figure is the median of this many runs
    double stallP99Tolerance = 0.10; // a stalled client moves the others' p99 by less
    std::int64_t stallMemoryGrowthKb = 8 * 1024;
    std::int64_t memoryLimitKb = 64 * 1024;
};

RelayTargets TargetsFor(int busyThreads, int processors);

} // namespace bench
