#pragma once

// What every program of the system answers before it opens a window: --help and --version; and
// how it refuses an option it does not know.

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Environment variables beyond the registry's, which every program reads.
enum ProgramEnvironment : unsigned {
    kEnvWindow = 1u << 0,    // QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY
    kEnvTelephony = 1u << 1, // QORVELL_TELEPHONY_DIR
    kEnvService = 1u << 2,   // VELTRANE_SYSTEMD_UNIT_DIR, VELTRANE_SYSTEMCTL
};

struct ProgramInfo {
    std::string name;
    std::string summary; // one line or more, ends without a line break
    std::string options; // one option a line, "  --name   what it does\n"
    unsigned environment = kEnvWindow;
};

// The version of the whole system (the build's project version).
const char* ProgramVersion();

// The text --help prints: usage, the options (--help and --version added) and the environment.
std::string ProgramHelpText(const ProgramInfo& info);

// With --help or --version among the arguments, prints the answer on standard output and
// returns true: the caller ends with exit code 0. Other arguments are left to the program.
bool AnswerInfoOptions(const ProgramInfo& info, int argc, char** argv);

// How a program ends that was given an option it does not know.
inline constexpr int kUsageExitCode = 2;

// With an argument that is none of `known` (or of --help, -h and --version), prints
// "<name>: unknown option: <argument>" and the usage on standard error and returns true: the
// caller ends with kUsageExitCode. A known entry that ends in '=' takes a value after it. The
// options of Qt's application object pass too, with their value.
bool RefuseUnknownOptions(const ProgramInfo& info, int argc, char** argv,
                          const std::vector<std::string_view>& known);

// Folders where the program's own libraries are: beside the program (the build tree) and
// <prefix>/lib/veltrane for a program installed in <prefix>/bin. Only existing folders.
std::vector<std::string> ProgramLibraryFolders();
// <prefix>/share/veltrane of an installed program, or "" when there is none.
std::string ProgramDataFolder();

} // namespace platform
