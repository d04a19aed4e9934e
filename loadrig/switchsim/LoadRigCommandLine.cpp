#include "LoadRigCommandLine.h"

#include <charconv>
#include <string_view>

namespace {

constexpr std::string_view kQuitAfter = "--quit-after";

// A whole number of seconds, digits only, within the timer's range.
std::optional<int> ParseSeconds(std::string_view text) {
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 ||
        value > kLoadRigMaxQuitAfterSeconds) {
        return std::nullopt;
    }
    return value;
}

} // namespace

LoadRigParseResult ParseLoadRigCommandLine(const std::vector<std::string>& arguments) {
    LoadRigParseResult result;
    for (const std::string& argument : arguments) {
        const std::string_view arg(argument);
        if (arg == "--switch") {
            result.options.switchOnly = true;
        } else if (arg == "--run") {
            result.options.run = true;
        } else if (arg == "--call-run") {
            result.options.callRun = true;
        } else if (arg == "--help" || arg == "-h") {
            result.options.help = true;
        } else if (arg.substr(0, kQuitAfter.size()) == kQuitAfter) {
            const std::string_view rest = arg.substr(kQuitAfter.size());
            if (rest.empty() || rest.front() != '=') {
                result.error = rest.empty()
                                   ? "option --quit-after needs a value: --quit-after=<seconds>"
                                   : "unknown option: " + argument;
                return result;
            }
            const std::optional<int> seconds = ParseSeconds(rest.substr(1));
            if (!seconds) {
                result.error = "option --quit-after needs a whole number of seconds from 0 to " +
                               std::to_string(kLoadRigMaxQuitAfterSeconds) + ", not '" +
                               std::string(rest.substr(1)) + "'";
                return result;
            }
            result.options.quitAfterSeconds = seconds;
        } else {
            result.error = "unknown option: " + argument;
            return result;
        }
    }
    result.ok = true;
    return result;
}

std::string LoadRigUsage(const std::string& programName) {
    return "Usage: " + programName +
           " [options]\n"
           "Load rig: a simulated switch for the link server's switch link.\n"
           "\n"
           "  --switch              open only the switch window\n"
           "  --run                 press SW Run once the window is up\n"
           "  --call-run            press Call Run once the link server has asked for the device\n"
           "                        list\n"
           "  --quit-after=<secs>   stop and quit after that many seconds\n"
           "  --help                show this text\n";
}
