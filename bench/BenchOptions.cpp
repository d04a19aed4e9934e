#include "BenchOptions.h"

namespace bench {

void DeclareBenchOptions(OptionParser& parser, BenchOptions& options) {
    parser.IntList("--clients=<n,n,...>", options.clients, 1, 5000,
                   "first-port clients, a run at each");
    parser.Int("--bypass=<n>", options.bypassClients, 0, 1000, "second-port clients in every run");
    parser.Int("--rate=<events/s>", options.rate, 1, 1000000, "the rated phase's rate");
    parser.Number("--seconds=<s>", options.seconds, 0.1, 3600, "the rated phase's length");
    parser.Number("--flood-seconds=<s>", options.floodSeconds, 0, 3600,
                  "the max ev/s phase's length; 0 skips it");
    // Within what a client's queue holds, so that the phase loses nothing by its own choice.
    parser.Int("--in-flight=<n>", options.inFlight, 1, 2048,
               "events the switch sends ahead of the slowest client in the max\nev/s phase; the "
               "ratio targets are set for 128, more measures capacity");
    parser.Int("--stall-clients=<n>", options.stallClients, 2, 5000,
               "clients of the stalled-client case");
    parser.Flag("--no-stall", options.stallCase, "skip the stalled-client case", false);
    parser.Flag("--no-baseline", options.baseline, "skip the batching and naive relays", false);
    parser.Flag("--parallel", options.parallel,
                "also measure the parallel relay (no queue per client), for comparison");
    parser.Int("--threads=<n>", options.receiverThreads, 1, 64, "the bench's receiver threads");
    parser.Flag("--spin", options.spin, "the receivers poll without sleeping");
    parser.Int("--busy=<threads>", options.busy, 0, 4096,
               "spinning threads beside every run\n(nproc or more: the loaded targets)");
    parser.Int("--rounds=<R>", options.rounds, 1, 25,
               "runs of the server and the batching relay at every N, alternating;\na ratio "
               "target takes the median of the rounds' ratios");
    parser.Action(
        "--quick",
        [&options] {
            options.clients = {1, 50};
            options.seconds = 2.0;
            options.floodSeconds = 1.0;
            options.stallClients = 50;
            options.rounds = 1;
            options.quick = true;
        },
        "short runs at 1 and 50 clients, one round: the targets at 200 and 500\nclients are "
        "left to a full run");
    parser.Text("--brovik=<path>", options.brovik, "the server to measure");
    parser.Text("--resdll=<path>", options.languageLibrary,
                "its language library (default ResDLLEN.so beside it)");
}

bool ParseBenchOptions(const std::vector<std::string>& args, BenchOptions& options,
                       std::string& error) {
    OptionParser parser("relaybench", {});
    DeclareBenchOptions(parser, options);
    return parser.Parse(args, error);
}

} // namespace bench
