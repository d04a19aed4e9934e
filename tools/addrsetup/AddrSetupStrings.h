#pragma once

// The program's string table, dialog ids and fixed names.

#include <string>

namespace addrsetup {

// Dialog template and controls.
inline constexpr unsigned IDD_RECONNECT = 102;
inline constexpr int IDC_CLOSE = 2;
inline constexpr int IDC_EXECUTE_ROWAN = 3;
inline constexpr int IDC_EXECUTE_ROWAN_PLUS = 4;
inline constexpr int IDC_RECONNECT_ROWAN = 5;
inline constexpr int IDC_RECONNECT_ROWAN_PLUS = 6;
inline constexpr int IDC_EXECUTE_ELM = 7;
inline constexpr int IDC_RECONNECT_ELM = 8;
inline constexpr int IDC_TEST_LINK = 1003;
inline constexpr int IDC_TEST_TAPI = 1004;
inline constexpr int IDC_RECONFIGURE = 1005;
inline constexpr unsigned IDM_ABOUTBOX = 0x10;

inline constexpr const char* kCaption = "[Veltrane] Connection Manager";
inline constexpr const char* kWindowClass = "QVLCTISCNReconnect";
inline constexpr const char* kStepByStep = "Step by Step:";
inline constexpr const char* kCloseText = "Close";
inline constexpr const char* kTestLinkText = "Is Veltrane Link reachable?";
inline constexpr const char* kTestTapiText = "Does Telephony accept initiation request?";
inline constexpr const char* kReconfigureText = "Reconfigure Telephony";
inline constexpr const char* kExecuteRowanText = "Execute Veltrane Rowan";
inline constexpr const char* kExecuteRowanPlusText = "Execute Veltrane Rowan Plus";
inline constexpr const char* kExecuteElmText = "Execute Veltrane Elm";
inline constexpr const char* kReconnectRowanText = "Reconnect\rVeltrane Rowan";
inline constexpr const char* kReconnectRowanPlusText = "Reconnect\rVeltrane Rowan Plus";
inline constexpr const char* kReconnectElmText = "Reconnect\rVeltrane Elm";

// String table ids.
inline constexpr unsigned IDS_ABOUTBOX = 101;
inline constexpr unsigned IDS_REG_OPEN_FAILED = 102;
inline constexpr unsigned IDS_REG_QUERY_FAILED = 103;
inline constexpr unsigned IDS_ROWAN_PATH_FAILED = 105;
inline constexpr unsigned IDS_ROWAN_LAUNCH_FAILED = 106;
inline constexpr unsigned IDS_ROWAN_PLUS_PATH_FAILED = 110;
inline constexpr unsigned IDS_ROWAN_PLUS_FILE = 111;
inline constexpr unsigned IDS_LINK_REACHABLE = 118;
inline constexpr unsigned IDS_LINK_UNREACHABLE = 119;
inline constexpr unsigned IDS_TAPI_MISSING = 120;
inline constexpr unsigned IDS_TAPI_FUNCTIONS = 121;
inline constexpr unsigned IDS_TAPI_REINIT = 122;
inline constexpr unsigned IDS_TAPI_INIT_FAILED = 123;
inline constexpr unsigned IDS_TAPI_ACCEPTS = 124;
inline constexpr unsigned IDS_RECONFIGURE_ASK = 125;
inline constexpr unsigned IDS_REMOVE_FAILED = 126;
inline constexpr unsigned IDS_ADD_FAILED = 127;
inline constexpr unsigned IDS_RECONFIGURED = 128;
inline constexpr unsigned IDS_SOCKETS_FAILED = 129;
inline constexpr unsigned IDS_ELM_LAUNCH_FAILED = 131;
inline constexpr unsigned IDS_LINES_UNKNOWN = 132;
inline constexpr unsigned IDS_NO_LINES = 133;
inline constexpr unsigned IDS_NO_MAKER_LINE = 134;
inline constexpr unsigned IDS_RETRY_NO_LINE = 135;
// Not in the string table: built with the registry file's fault at run time.
inline constexpr unsigned IDS_REGISTRY_FILE_FAULT = 140;

// The lock file beside the registry cannot be made or taken: `why` names it and the cause.
inline std::string InstanceFailedMessage(const std::string& why) {
    return "The connection manager cannot start: " + why;
}

// A registry file that does not read is named with its line; nothing is written to it.
inline std::string RegistryFileFaultMessage(const std::string& fault) {
    return "The registry file cannot be read: the server address and the client applications' "
           "folders are unknown.\n\nRegistry file: " +
           fault;
}

// The string table by id; empty for an id it does not hold. 132 is a format (%d).
inline const char* LoadString(unsigned id) {
    switch (id) {
    case IDS_ABOUTBOX:
        return "&About...";
    case IDS_REG_OPEN_FAILED:
        return "Fail to open the registry key,\n\"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows"
               "\\CurrentVersion\\Telephony\\LYNXTSP32\\IP Address\".\nTry sometime later.";
    case IDS_REG_QUERY_FAILED:
        return "Fail to query the registry key,\n\"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows"
               "\\CurrentVersion\\Telephony\\LYNXTSP32\\IP Address\".\nTry sometime later.";
    case IDS_ROWAN_PATH_FAILED:
        return "Fail to read the Veltrane Rowan path.\nUnable to launch the Veltrane Rowan "
               "application.";
    case IDS_ROWAN_LAUNCH_FAILED:
        return "Failed to launch the Veltrane Rowan application.\nTry sometime later.";
    case IDS_ROWAN_PLUS_PATH_FAILED:
        return "Fail to read the Veltrane Rowan Plus path.\nUnable to launch the Veltrane Rowan "
               "Plus application.";
    case IDS_ROWAN_PLUS_FILE:
        return "Rezid.exe";
    case IDS_LINK_REACHABLE:
        return "The Veltrane Link is reachable.";
    case IDS_LINK_UNREACHABLE:
        return "The Veltrane Link is unreachable.";
    case IDS_TAPI_MISSING:
        return "TAPI has not been installed or corrupted!";
    case IDS_TAPI_FUNCTIONS:
        return "Failed to load TAPI functions.\nIt is impossible to proceed to verify the "
               "Telephony service status.";
    case IDS_TAPI_REINIT:
        return "Telephony configuration has been changed.\nYou should close all the TAPI "
               "applications to take it effect.\nOr reboot your PC.";
    case IDS_TAPI_INIT_FAILED:
        return "Failed to initialize TAPI.\nYou should restart the Telephony service to make it "
               "work.";
    case IDS_TAPI_ACCEPTS:
        return "Telephony service accepts initialization request.\nYou may run your TAPI "
               "application.";
    case IDS_RECONFIGURE_ASK:
        return "If there's any TAPI application which is running, this reconfiguration will "
               "corrupt the Telephony service.\nAre you sure to proceed?";
    case IDS_REMOVE_FAILED:
        return "Failed to delete current Telephony configuration.";
    case IDS_ADD_FAILED:
        return "Failed to create new Telephony configuration.";
    case IDS_RECONFIGURED:
        return "Succeeded to re-configure your Telephony service.";
    case IDS_SOCKETS_FAILED:
        return "Failed to initiate windows socket.";
    case IDS_ELM_LAUNCH_FAILED:
        return "Failed to launch the Veltrane Elm.\nTry sometime later.";
    case IDS_LINES_UNKNOWN:
        return "%d lines returned from Telephony service.\nBut cannot tell Veltrane Lines.\nIf "
               "you want to proceed anyway?";
    case IDS_NO_LINES:
        return "Telephony service returns 0 lines.";
    case IDS_NO_MAKER_LINE:
        return "No Veltrane line has been returned.";
    case IDS_RETRY_NO_LINE:
        return "No Veltrane line detected.\nYou cannot run Veltrane Applications.\nDo you want "
               "to retry?";
    default:
        return "";
    }
}

} // namespace addrsetup
