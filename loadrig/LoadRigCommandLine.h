#pragma once

#include <platform/ProgramInfo.h>

#include <optional>
#include <string>
#include <vector>

// The loadrig program's options. Each scripted option presses a button of one of the two
// windows (or types into its box first), so a scripted run goes through the same steps as a
// user's.
struct LoadRigOptions {
    bool switchOnly = false; // --switch: open the switch window alone
    bool clientOnly = false; // --client: open the client window alone
    // Switch window.
    bool run = false;     // --run: SW Run once the window is up
    bool callRun = false; // --call-run: Call Run once the link server has asked for the devices
    // Client window: typed into its boxes before anything is pressed (the registry's values
    // otherwise), then Start pressed.
    std::optional<std::string> server; // --server=<host>
    std::optional<int> port;           // --port=<n>
    std::optional<int> clientKind;     // --client-kind=<n>
    bool start = false;                // --start
    // Both windows.
    std::optional<int> quitAfterSeconds; // --quit-after=<seconds>
    bool help = false;                   // --help

    bool OpensSwitchWindow() const { return !clientOnly; }
    bool OpensClientWindow() const { return !switchOnly; }
};

struct LoadRigParseResult {
    bool ok = false;
    LoadRigOptions options;
    std::string error; // what was wrong, for stderr, when !ok
};

inline constexpr int kLoadRigUsageExitCode = 2;
// Upper bound of --quit-after: the delay must fit a timer's millisecond interval.
inline constexpr int kLoadRigMaxQuitAfterSeconds = 2'000'000;

// Parses the arguments after the program name.
LoadRigParseResult ParseLoadRigCommandLine(const std::vector<std::string>& arguments);
platform::ProgramInfo LoadRigProgramInfo(const std::string& programName);
std::string LoadRigUsage(const std::string& programName);
