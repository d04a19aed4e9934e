#pragma once

// relaybench's command line.

#include "OptionParser.h"

#include <string>
#include <vector>

namespace bench {

struct BenchOptions {
    std::vector<int> clients{1, 50, 200, 500}; // first-port clients, one run each
    int bypassClients = 5;                     // second-port clients in every run
    int rate = 5000;                           // events/s of the rated phase
    double seconds = 10.0;                     // length of the rated phase
    double floodSeconds = 3.0;                 // length of the throughput phase; 0 skips it
    int inFlight = 128;                        // events in flight at most in that phase
    int stallClients = 200;                    // first-port clients of the stalled-client case
    bool stallCase = true;
    bool baseline = true;
    bool parallel = false; // also the parallel relay, the machine's ceiling
    int receiverThreads = 4;
    bool spin = false; // receivers poll without sleeping
    int busy = 0;      // spinning threads beside every run, as a loaded machine has
    int rounds = 3;    // server and batching relay runs at each N, alternating
    bool quick = false;
    std::string brovik;
    std::string languageLibrary;
};

// relaybench's options, setting `options` when the parser parses.
void DeclareBenchOptions(OptionParser& parser, BenchOptions& options);

// False with a message for an option it does not know or a value it cannot use.
bool ParseBenchOptions(const std::vector<std::string>& args, BenchOptions& options,
                       std::string& error);

} // namespace bench
