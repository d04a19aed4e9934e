#pragma once

// The registered service providers, kept in the registry as the telephony key's "Providers"
// subkey: NumProviders, NextProviderID, and per entry i ProviderIDi and ProviderFileNamei.

#include <telephony/Tapi.h>

#include <string>
#include <vector>

namespace telephony::detail {

inline constexpr const char* kProvidersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";

struct ProviderRecord {
    DWORD id = 0;
    std::string fileName;
};

// False when the registry cannot be read; a missing key is an empty list.
bool ReadProviders(std::vector<ProviderRecord>& out);
// Appends the file under a fresh permanent id. LINEERR_ code or 0.
int32_t AppendProvider(const std::string& fileName, DWORD& id);
// Removes the entry with the id and closes the gap. LINEERR_INVALPARAM when there is none.
int32_t RemoveProvider(DWORD id);

// The file part of a registered name: the text behind its last separator.
std::string FilePart(const std::string& name);

} // namespace telephony::detail
