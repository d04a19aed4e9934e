#include "ClientRunSettings.h"

#include <platform/Registry.h>

#include <charconv>

namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;

const std::array<std::vector<std::string>, kClientListCount>& Lists() {
    static const std::array<std::vector<std::string>, kClientListCount> lists = {{
        {"3", "4"},
        {"4", "8", "16", "32", "64", "128"},
        {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "20", "30", "40", "50", "60", "100"},
        {"2", "4", "6", "8", "10", "12", "14", "16", "18", "20", "60", "120", "180", "300", "1800",
         "3600"},
        {"1", "2", "4", "8", "10", "15", "20", "30", "45", "60"},
        {"1", "3", "5", "10", "15", "20", "25", "30", "45", "60"},
    }};
    return lists;
}

// Whole decimal text, nothing around it; anything else keeps the fallback.
int ParseInt(const std::string& text, int fallback) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return (ec == std::errc() && ptr == end && !text.empty()) ? value : fallback;
}

int ListIndex(ClientList list, const std::string& text) {
    const int index = ParseInt(text, 0);
    return (index >= 0 && index < static_cast<int>(ClientListItems(list).size())) ? index : 0;
}

const char* kDefaults[13] = {"127.0.0.1", "6000", "0", "0", "1", "201", "205",
                             "0",         "0",    "3", "3", "3", "3"};

std::array<std::string, 13> ValuesOf(const ClientRunSettings& s) {
    return {s.serverAddress,
            std::to_string(s.serverPort),
            std::to_string(s.telSizeIndex),
            std::to_string(s.portCountIndex),
            std::to_string(s.periodHours),
            s.callerStartText,
            s.calleeStartText,
            s.answerFlag ? "1" : "0",
            s.holdFlag ? "1" : "0",
            std::to_string(s.idleDelayIndex),
            std::to_string(s.makeDelayIndex),
            std::to_string(s.connDelayIndex),
            std::to_string(s.holdDelayIndex)};
}

} // namespace

const std::vector<std::string>& ClientListItems(ClientList list) {
    return Lists().at(list);
}

int ClientListValue(ClientList list, int index) {
    const auto& items = ClientListItems(list);
    if (index < 0 || index >= static_cast<int>(items.size())) {
        index = 0;
    }
    return ParseInt(items[static_cast<std::size_t>(index)], 0);
}

const std::array<const char*, 13>& ClientSettingValueNames() {
    static const std::array<const char*, 13> names = {
        "Server IPAddr",   "Server PortNo",   "TelNo Size",    "Port Count",    "Sim Time",
        "CallerStart Tel", "CalleeStart Tel", "MakeConnState", "MakeHoldState", "IdleDelay Time",
        "RingDelay Time",  "ConnDelay Time",  "HoldDelay Time"};
    return names;
}

std::string ClientKeyCreatedMessage() {
    return std::string("Created HKEY_LOCAL_MACHINE\\") + kClientSimKeyPath;
}

ClientSettingsStoreResult LoadClientSettings(ClientRunSettings& settings) {
    ClientSettingsStoreResult result;
    RegKey key;
    RegStatus status = RegKey::Open(RegRoot::LocalMachine, kClientSimKeyPath, key);
    if (status == RegStatus::NotFound) {
        if (RegKey::Create(RegRoot::LocalMachine, kClientSimKeyPath, key) != RegStatus::Ok) {
            result.ok = false;
        } else {
            result.keyCreated = true;
            const auto& names = ClientSettingValueNames();
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (key.SetString(names[i], kDefaults[i]) != RegStatus::Ok) {
                    result.ok = false;
                }
            }
        }
    } else if (status != RegStatus::Ok) {
        result.ok = false;
    }

    // A missing or unreadable value leaves its setting empty (a number 0), except the two flags,
    // which read as their default (off) rather than as set.
    std::array<std::string, 13> values;
    const auto& names = ClientSettingValueNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i == 7 || i == 8) {
            values[i].assign(1, '0');
        }
        std::string text;
        if (key.IsValid() && key.QueryString(names[i], text) == RegStatus::Ok) {
            values[i] = text;
        }
    }

    settings.serverAddress = values[0];
    settings.serverPort = ParseInt(values[1], 0);
    settings.telSizeIndex = ListIndex(kListTelSize, values[2]);
    settings.portCountIndex = ListIndex(kListPortCount, values[3]);
    settings.storedPeriodHours = ParseInt(values[4], 0);
    settings.callerStartText = values[5];
    settings.calleeStartText = values[6];
    settings.answerFlag = values[7] != "0";
    settings.holdFlag = values[8] != "0";
    settings.idleDelayIndex = ListIndex(kListIdleDelay, values[9]);
    settings.makeDelayIndex = ListIndex(kListMakeDelay, values[10]);
    settings.connDelayIndex = ListIndex(kListConnDelay, values[11]);
    settings.holdDelayIndex = ListIndex(kListHoldDelay, values[12]);
    return result;
}

ClientSettingsStoreResult SaveClientSettings(const ClientRunSettings& settings) {
    ClientSettingsStoreResult result;
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kClientSimKeyPath, key) != RegStatus::Ok) {
        result.ok = false;
        return result;
    }
    const auto values = ValuesOf(settings);
    const auto& names = ClientSettingValueNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (key.SetString(names[i], values[i]) != RegStatus::Ok) {
            result.ok = false;
        }
    }
    return result;
}
