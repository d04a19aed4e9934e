#include "LoadRigCommandLine.h"

#include <charconv>
#include <string_view>

namespace {

// A whole number from min to max, digits only.
std::optional<int> ParseWhole(std::string_view text, int min, int max) {
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

// "--name=value": the value, or nullopt when the argument is another option.
std::optional<std::string_view> ValueOf(std::string_view arg, std::string_view name) {
    if (arg.size() <= name.size() || arg.substr(0, name.size()) != name ||
        arg[name.size()] != '=') {
        return std::nullopt;
    }
    return arg.substr(name.size() + 1);
}

struct NumberOption {
    std::string_view name;
    std::string_view what;
    int min;
    int max;
    std::optional<int> LoadRigOptions::*field;
};

const NumberOption kNumberOptions[] = {
    {"--quit-after", "a whole number of seconds", 0, kLoadRigMaxQuitAfterSeconds,
     &LoadRigOptions::quitAfterSeconds},
    {"--port", "a port number", 1, 65535, &LoadRigOptions::port},
    {"--client-kind", "a client kind", 0, 255, &LoadRigOptions::clientKind},
};

std::string Crosses(const LoadRigOptions& options) {
    if (options.switchOnly && options.clientOnly) {
        return "options --switch and --client exclude each other";
    }
    if (options.clientOnly && (options.run || options.callRun)) {
        return std::string("option ") + (options.run ? "--run" : "--call-run") +
               " needs the switch window, which --client leaves out";
    }
    if (options.switchOnly &&
        (options.start || options.server || options.port || options.clientKind)) {
        const char* name = options.start    ? "--start"
                           : options.server ? "--server"
                           : options.port   ? "--port"
                                            : "--client-kind";
        return std::string("option ") + name +
               " needs the client window, which --switch leaves out";
    }
    return {};
}

} // namespace

LoadRigParseResult ParseLoadRigCommandLine(const std::vector<std::string>& arguments) {
    LoadRigParseResult result;
    LoadRigOptions& options = result.options;
    for (const std::string& argument : arguments) {
        const std::string_view arg(argument);
        if (arg == "--switch") {
            options.switchOnly = true;
            continue;
        }
        if (arg == "--client") {
            options.clientOnly = true;
            continue;
        }
        if (arg == "--run") {
            options.run = true;
            continue;
        }
        if (arg == "--call-run") {
            options.callRun = true;
            continue;
        }
        if (arg == "--start") {
            options.start = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (const auto host = ValueOf(arg, "--server")) {
            if (host->empty() || host->find_first_of(" \t") != std::string_view::npos) {
                result.error = "option --server needs a host name or address, not '" +
                               std::string(*host) + "'";
                return result;
            }
            options.server = std::string(*host);
            continue;
        }
        if (arg == "--server") {
            result.error = "option --server needs a value: --server=<host>";
            return result;
        }
        bool matched = false;
        for (const NumberOption& number : kNumberOptions) {
            if (arg == number.name) {
                result.error = "option " + std::string(number.name) +
                               " needs a value: " + std::string(number.name) + "=<n>";
                return result;
            }
            if (const auto text = ValueOf(arg, number.name)) {
                const std::optional<int> value = ParseWhole(*text, number.min, number.max);
                if (!value) {
                    result.error =
                        "option " + std::string(number.name) + " needs " +
                        std::string(number.what) + " from " + std::to_string(number.min) + " to " +
                        std::to_string(number.max) + ", not '" + std::string(*text) + "'";
                    return result;
                }
                options.*number.field = value;
                matched = true;
                break;
            }
        }
        if (!matched) {
            result.error = "unknown option: " + argument;
            return result;
        }
    }
    result.error = Crosses(options);
    result.ok = result.error.empty();
    return result;
}

platform::ProgramInfo LoadRigProgramInfo(const std::string& programName) {
    return {programName,
            "Load rig: a simulated switch for the link server's switch link and a simulated\n"
            "CTI client for its client port. Both windows open unless one is named.",
            "  --switch              open only the switch window\n"
            "  --client              open only the client window\n"
            "Switch window:\n"
            "  --run                 press SW Run once the window is up\n"
            "  --call-run            press Call Run once the link server has asked for the device\n"
            "                        list\n"
            "Client window (the boxes show the registry's values unless given here):\n"
            "  --server=<host>       type the link server's address into Server IP Address\n"
            "  --port=<n>            type the client port (1..65535) into Server Port No\n"
            "  --client-kind=<n>     type the client kind (0..255) into its box (empty: 3)\n"
            "  --start               press Start: connect, log in, and run the call cycle once\n"
            "                        the device list has come\n"
            "Both:\n"
            "  --quit-after=<secs>   press Stop and Quit in every window after that many seconds\n",
            platform::kEnvWindow};
}

std::string LoadRigUsage(const std::string& programName) {
    return platform::ProgramHelpText(LoadRigProgramInfo(programName));
}
