#pragma once

// The program's string table and fixed texts.

#include <string>

namespace linesweep {

inline constexpr unsigned IDS_ABOUTBOX = 101;
inline constexpr unsigned IDS_APP_NAME = 102;
inline constexpr unsigned IDS_DEVLIST_FAILED = 10004;

inline constexpr const char* kAboutItem = "&About linesweep...";
inline constexpr const char* kAppName = "linesweep for QMX Series";
inline constexpr const char* kDeviceListFailed =
    "Failed to get the device list!\nConfirm the Pavo Linker is reachable, and then try again.";
inline constexpr const char* kOpenLineFailed = "Failed to open the selected line!\n";
inline constexpr const char* kRegistryKeyFailed =
    "Failed to create a registry key for the linesweep!\n";
// A registry file that does not read is named with its line; nothing is written to it.
inline std::string RegistryFileFaultMessage(const std::string& fault) {
    return "The linesweep schedule cannot be read or stored: the registry file cannot be "
           "read.\n\nRegistry file: " +
           fault;
}
inline constexpr const char* kSelectLine = "Select a line!";
inline constexpr const char* kSelectHour = "Select the hour option!";
inline constexpr const char* kSelectMinute = "Select the minute option!";
inline constexpr const char* kAllLines = "All Lines";

// The string table by id; empty for an id it does not hold.
inline const char* LoadString(unsigned id) {
    switch (id) {
    case IDS_ABOUTBOX:
        return kAboutItem;
    case IDS_APP_NAME:
        return kAppName;
    case IDS_DEVLIST_FAILED:
        return kDeviceListFailed;
    default:
        return "";
    }
}

} // namespace linesweep
