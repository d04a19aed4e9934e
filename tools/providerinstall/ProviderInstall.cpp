#include "ProviderInstall.h"

#include <strings.h>
#include <telephony/Tapi.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string FilePartOf(const std::string& name) {
    const size_t cut = name.find_last_of("\\/");
    // A separator in the first position is not taken as one.
    return cut == std::string::npos || cut == 0 ? name : name.substr(cut + 1);
}

bool SameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

} // namespace

int32_t ProviderInstall(const telephony::TapiModule& tapi, const char* fileName, int flag) {
    std::fputs("\nProviderInstall function called by InstallShield\n", stderr);
    if (flag == 0) {
        return 0;
    }
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
        if (SameNoCase(FilePartOf(name.c_str()), fileName)) {
            return LINEERR_NOMULTIPLEINSTANCE;
        }
    }
    return 0;
}
