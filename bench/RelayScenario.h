#pragma once

// One measured run: a switch on loopback, a relay (Brovik or the baseline), its clients, a rated
// phase of events and a throughput phase, and what the relay cost.

#include "BenchOptions.h"
#include "BrovikRun.h"
#include "ClientFleet.h"

#include <cstdint>
#include <string>

namespace bench {

struct RunResult {
    bool ok = false;
    std::string error;
    int clients = 0;
    int bypassClients = 0;
    bool stalled = false;

    std::uint64_t sent = 0;
    bool saturated = false; // the rated phase ended early: the relay fell behind the rate
    double ratedSeconds = 0.0;
    double sustainedPerSecond = 0.0; // what the slowest reading client received, per second
    PhaseStats rated;

    std::uint64_t floodDelivered = 0;
    double floodPerSecond = 0.0; // every reading client, with a bounded window in flight
    PhaseStats flood;

    // The relay's costs over the rated phase (the baseline reports only its CPU).
    double cpuSeconds = 0.0;
    std::int64_t peakKb = 0;
    std::int64_t rssStartKb = 0, rssMaxKb = 0, rssEndKb = 0;
    int exitCode = -1;

    StallReport stall;
};

enum class Relay { Server, Baseline, BatchingBaseline };

RunResult RunRelay(Relay relay, const BenchOptions& options, int clients, bool stallOne);

} // namespace bench
