#pragma once

// The registry and folder a link server started by a test or the bench reads.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace testsupport {

inline constexpr char kServerKey[] = "Software\\Qorvell Electronics\\OrbManager";
inline constexpr char kConnEnvKey[] = "Software\\Qorvell Electronics\\OrbManager\\ConnEnv";
inline constexpr char kOptionsKey[] = "Software\\Qorvell Electronics\\OrbManager\\OptionValues";

// ConnEnv: a TCP link to the switch at host and port, the client ports at clientPort and + 500,
// and the serial settings' defaults (COM1, 9600 baud, 8 data bits, 1 stop bit).
bool WriteLinkSettings(const std::string& switchHost, int switchPort, int clientPort);

struct ServerSettings {
    std::filesystem::path dir; // OrbPath and DllPath, which also takes the trace log
    std::string switchHost = "127.0.0.1";
    int switchPort = 0;
    int clientPort = 0;
    // Copied into `dir` under its own name ("ResDLLEN.so").
    std::filesystem::path languageLibrary;
    // UseDebugMsgPrint when given (0: the trace goes to the log files only).
    std::optional<std::uint32_t> debugPrint;
    // UseUserManager when given.
    std::optional<std::uint32_t> userManager;
    // The message monitor, SMDR/UCD monitor and SMDR/UCD send listeners: on at each port given.
    int msgMonitorPort = 0;
    int smdrMonitorPort = 0;
    int smdrSendPort = 0;
    // MonitorAccessCode when not empty.
    std::string monitorAccessCode;
};

// The link settings, service mode and auto-connect on, the English language library, the
// monitor listeners asked for; false when the library cannot be copied or a key cannot be
// written.
bool WriteServerSettings(const ServerSettings& settings);

// The settings above with the language library taken from the server program's build folder.
ServerSettings ServerSettingsFor(const std::filesystem::path& dir, const std::string& switchHost,
                                 int switchPort, int clientPort,
                                 const std::filesystem::path& serverProgram);
// Those settings written.
bool WriteServerSettings(const std::filesystem::path& dir, const std::string& switchHost,
                         int switchPort, int clientPort,
                         const std::filesystem::path& serverProgram);

} // namespace testsupport
