#include "ProviderRegistry.h"

#include <platform/Registry.h>

namespace telephony::detail {
namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;

bool Read(const RegKey& key, std::vector<ProviderRecord>& out, DWORD& nextId) {
    out.clear();
    nextId = 1;
    uint32_t count = 0;
    RegStatus status = key.QueryDword("NumProviders", count);
    if (status == RegStatus::BadFile || status == RegStatus::IoError) {
        return false;
    }
    uint32_t next = 0;
    if (key.QueryDword("NextProviderID", next) == RegStatus::Ok && next > 0) {
        nextId = next;
    }
    for (uint32_t i = 0; i < count; ++i) {
        ProviderRecord record;
        uint32_t id = 0;
        if (key.QueryDword("ProviderID" + std::to_string(i), id) != RegStatus::Ok ||
            key.QueryString("ProviderFileName" + std::to_string(i), record.fileName) !=
                RegStatus::Ok) {
            continue; // a damaged entry is left out rather than failing every listing
        }
        record.id = id;
        if (id >= nextId) {
            nextId = id + 1;
        }
        out.push_back(std::move(record));
    }
    return true;
}

bool Write(RegKey& key, const std::vector<ProviderRecord>& list, DWORD nextId) {
    // Entries beyond the new count are removed so that no stale record reappears.
    std::vector<platform::RegValue> values;
    if (key.EnumValues(values) != RegStatus::Ok) {
        return false;
    }
    for (const auto& value : values) {
        if (value.name.rfind("ProviderID", 0) == 0 ||
            value.name.rfind("ProviderFileName", 0) == 0) {
            key.DeleteValue(value.name);
        }
    }
    for (size_t i = 0; i < list.size(); ++i) {
        if (key.SetDword("ProviderID" + std::to_string(i), list[i].id) != RegStatus::Ok ||
            key.SetString("ProviderFileName" + std::to_string(i), list[i].fileName) !=
                RegStatus::Ok) {
            return false;
        }
    }
    return key.SetDword("NumProviders", static_cast<uint32_t>(list.size())) == RegStatus::Ok &&
           key.SetDword("NextProviderID", nextId) == RegStatus::Ok;
}

} // namespace

bool ReadProviders(std::vector<ProviderRecord>& out) {
    out.clear();
    RegKey key;
    RegStatus status = RegKey::Open(RegRoot::LocalMachine, kProvidersKey, key);
    if (status == RegStatus::NotFound) {
        return true;
    }
    if (status != RegStatus::Ok) {
        return false;
    }
    DWORD next = 0;
    return Read(key, out, next);
}

int32_t AppendProvider(const std::string& fileName, DWORD& id) {
    RegKey key;
    if (RegKey::Create(RegRoot::LocalMachine, kProvidersKey, key) != RegStatus::Ok) {
        return LINEERR_OPERATIONFAILED;
    }
    std::vector<ProviderRecord> list;
    DWORD next = 1;
    if (!Read(key, list, next)) {
        return LINEERR_INIFILECORRUPT;
    }
    id = next;
    list.push_back({id, fileName});
    return Write(key, list, next + 1) ? 0 : LINEERR_OPERATIONFAILED;
}

int32_t RemoveProvider(DWORD id) {
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kProvidersKey, key) != RegStatus::Ok) {
        return LINEERR_INVALPARAM;
    }
    std::vector<ProviderRecord> list;
    DWORD next = 1;
    if (!Read(key, list, next)) {
        return LINEERR_INIFILECORRUPT;
    }
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->id == id) {
            list.erase(it);
            return Write(key, list, next) ? 0 : LINEERR_OPERATIONFAILED;
        }
    }
    return LINEERR_INVALPARAM;
}

std::string FilePart(const std::string& name) {
    const size_t cut = name.find_last_of("/\\");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

} // namespace telephony::detail
