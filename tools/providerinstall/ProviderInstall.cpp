#include "ProviderInstall.h"

#include <telephony/NameCompare.h>

#include <cstdio>
#include <string>
#include <vector>

int32_t ProviderInstall(const telephony::TapiModule& tapi, const char* fileName, int flag) {
    std::fputs("\nProviderInstall function called by InstallShield\n", stderr);
    if (flag == 0) {
        return 0;
    }
    return FindRegisteredProvider(tapi, fileName, nullptr);
}

int32_t FindRegisteredProvider(const telephony::TapiModule& tapi, const char* fileName,
                               DWORD* permanentId) {
    auto getList = tapi.Function<PFN_lineGetProviderList>("lineGetProviderList");
    if (getList == nullptr) {
        return LINEERR_OPERATIONFAILED;
    }
    std::vector<char> buffer(sizeof(LINEPROVIDERLIST), 0);
    for (;;) {
        auto* list = reinterpret_cast<LINEPROVIDERLIST*>(buffer.data());
        list->dwTotalSize = static_cast<DWORD>(buffer.size());
        if (const int32_t result = getList(TAPI_VERSION_HIGHEST, list); result != 0) {
            return result;
        }
        if (list->dwNeededSize <= list->dwTotalSize) {
            break;
        }
        buffer.assign(list->dwNeededSize, 0);
    }
    const auto* list = reinterpret_cast<const LINEPROVIDERLIST*>(buffer.data());
    const size_t end = buffer.size();
    for (DWORD i = 0; i < list->dwNumProviders; ++i) {
        const size_t at = list->dwProviderListOffset + i * sizeof(LINEPROVIDERENTRY);
        if (at + sizeof(LINEPROVIDERENTRY) > end) {
            break;
        }
        const auto* entry = reinterpret_cast<const LINEPROVIDERENTRY*>(buffer.data() + at);
        if (entry->dwProviderFilenameSize == 0 ||
            size_t(entry->dwProviderFilenameOffset) + entry->dwProviderFilenameSize > end) {
            continue;
        }
        const std::string name(buffer.data() + entry->dwProviderFilenameOffset,
                               entry->dwProviderFilenameSize - 1);
        if (telephony::EqualNoCase(telephony::ProviderFilePart(name), fileName)) {
            if (permanentId != nullptr) {
                *permanentId = entry->dwPermanentProviderID;
            }
            return LINEERR_NOMULTIPLEINSTANCE;
        }
    }
    return 0;
}

int AddProviderOnce(const telephony::TapiModule& tapi, const char* fileName, const char* registerAs,
                    void* owner, const std::function<void(bool)>& around) {
    // Only "registered already" means nothing to do; a list that cannot be read is a failure.
    const int32_t present = ProviderInstall(tapi, fileName, 1);
    if (present == LINEERR_NOMULTIPLEINSTANCE) {
        return 0;
    }
    if (present != 0) {
        return 2;
    }
    auto add = tapi.Function<PFN_lineAddProvider>("lineAddProvider");
    if (add == nullptr) {
        return 2;
    }
    DWORD id = 0;
    if (around) {
        around(true);
    }
    const int32_t result = add(registerAs, owner, &id);
    if (around) {
        around(false);
    }
    return result == 0 ? 0 : result == LINEERR_NOMULTIPLEINSTANCE ? 3 : 2;
}
