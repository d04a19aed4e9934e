#include "BenchOptions.h"

#include <charconv>
#include <sstream>

namespace bench {

namespace {

bool ToInt(const std::string& text, int low, int high, int& out) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return false;
    out = value;
    return true;
}

bool ToSeconds(const std::string& text, double low, double& out) {
    try {
        std::size_t used = 0;
        const double value = std::stod(text, &used);
        if (used != text.size() || !(value >= low) || value > 3600.0)
            return false;
        out = value;
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

std::string BenchUsage() {
    return "relaybench [--clients=1,50,200,500] [--bypass=5] [--rate=5000] [--seconds=10]\n"
           "           [--flood-seconds=3] [--in-flight=128] [--stall-clients=200] [--no-stall]\n"
           "           [--no-baseline] [--threads=4] [--spin] [--busy=0] [--parallel] [--quick]\n"
           "           [--rounds=1] [--brovik=<path>] [--resdll=<path>]\n"
           "--busy=K runs K spinning threads beside every run (K = nproc: the loaded targets)\n"
           "--rounds=R runs the server and the batching relay R times each at every N, "
           "alternating;\n  a ratio target is then judged on the median of the R rounds' ratios\n"
           "--parallel also measures the parallel relay (no queue per client), for comparison\n"
           "--in-flight=N events the switch sends ahead of the slowest client in the max ev/s\n"
           "  phase (the ratio targets are set for 128; more measures capacity, not a round "
           "trip)\n";
}

bool ParseBenchOptions(const std::vector<std::string>& args, BenchOptions& options,
                       std::string& error) {
    for (const std::string& arg : args) {
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : arg.substr(eq + 1);
        bool ok = true;
        if (name == "--clients") {
            options.clients.clear();
            std::istringstream in(value);
            std::string part;
            while (ok && std::getline(in, part, ',')) {
                int n = 0;
                ok = ToInt(part, 1, 5000, n);
                options.clients.push_back(n);
            }
            ok = ok && !options.clients.empty();
        } else if (name == "--bypass") {
            ok = ToInt(value, 0, 1000, options.bypassClients);
        } else if (name == "--rate") {
            ok = ToInt(value, 1, 1000000, options.rate);
        } else if (name == "--seconds") {
            ok = ToSeconds(value, 0.1, options.seconds);
        } else if (name == "--flood-seconds") {
            ok = ToSeconds(value, 0.0, options.floodSeconds);
        } else if (name == "--in-flight") {
            // Within what a client's queue holds, so that the phase loses nothing by its own
            // choice.
            ok = ToInt(value, 1, 2048, options.inFlight);
        } else if (name == "--stall-clients") {
            ok = ToInt(value, 2, 5000, options.stallClients);
        } else if (name == "--threads") {
            ok = ToInt(value, 1, 64, options.receiverThreads);
        } else if (name == "--busy") {
            ok = ToInt(value, 0, 4096, options.busy);
        } else if (name == "--rounds") {
            ok = ToInt(value, 1, 25, options.rounds);
        } else if (name == "--no-stall" && value.empty()) {
            options.stallCase = false;
        } else if (name == "--spin" && value.empty()) {
            options.spin = true;
        } else if (name == "--no-baseline" && value.empty()) {
            options.baseline = false;
        } else if (name == "--parallel" && value.empty()) {
            options.parallel = true;
        } else if (name == "--quick" && value.empty()) {
            options.clients = {1, 50};
            options.seconds = 2.0;
            options.floodSeconds = 1.0;
            options.stallClients = 50;
        } else if (name == "--brovik" && !value.empty()) {
            options.brovik = value;
        } else if (name == "--resdll" && !value.empty()) {
            options.languageLibrary = value;
        } else if ((name == "--help" || name == "-h") && value.empty()) {
            options.help = true;
        } else {
            error = "unknown option " + arg;
            return false;
        }
        if (!ok) {
            error = "bad value in " + arg;
            return false;
        }
    }
    return true;
}

} // namespace bench
