#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The client window's settings: the fixed item lists of its combo boxes, the settings record
// and its registry store.

// HKEY_LOCAL_MACHINE key of the settings.
inline constexpr const char* kClientSimKeyPath = "SOFTWARE\\Qorvell Electronics\\loadrig";
inline constexpr const char* kClientKeyCreatedTitle = "QMX Load Rig";
inline constexpr const char* kClientSimTitle = "Load Rig";

// The item lists, in the order the combo boxes show them.
enum ClientList : int {
    kListTelSize = 0,
    kListPortCount,
    kListIdleDelay,
    kListMakeDelay,
    kListConnDelay,
    kListHoldDelay,
    kClientListCount
};
const std::vector<std::string>& ClientListItems(ClientList list);
// The item at the index as a number; an index outside the list gives the first item.
int ClientListValue(ClientList list, int index);

struct ClientRunSettings {
    std::string serverAddress = "127.0.0.1";
    int serverPort = 6000;
    int clientKind = 3;
    int telSizeIndex = 0;
    int portCountIndex = 0;
    int periodHours = 1;
    std::string callerStartText;
    std::string calleeStartText;
    std::string freeDialText;
    bool answerFlag = false;
    bool holdFlag = false;
    bool freeDialFlag = false;
    int connDelayIndex = 0;
    int holdDelayIndex = 0;
    int digitCount = 0;
    int portCount = 0;
    int callerStart = 0;
    int calleeStart = 0;
    // The two list indexes the record does not use itself but the registry keeps.
    int idleDelayIndex = 0;
    int makeDelayIndex = 0;
    // "Sim Time" as read at load; the period box keeps its initial value.
    int storedPeriodHours = 1;
};

// The thirteen value names in their write order.
const std::array<const char*, 13>& ClientSettingValueNames();

struct ClientSettingsStoreResult {
    bool ok = true;          // false when the registry could not be read or written
    bool keyCreated = false; // the key was missing and was created with its defaults
};
// "Created HKEY_LOCAL_MACHINE\SOFTWARE\Qorvell Electronics\loadrig"
std::string ClientKeyCreatedMessage();

// Opens the key (creating it with the defaults when missing) and reads the thirteen values.
// A missing value leaves its setting empty or 0, a missing flag off; list indexes outside their
// list read as 0.
ClientSettingsStoreResult LoadClientSettings(ClientRunSettings& settings);
// Writes the thirteen values when the key exists; a missing key is not created.
ClientSettingsStoreResult SaveClientSettings(const ClientRunSettings& settings);
