#pragma once

// How the tools compare the names the telephony library and the system hand them: without
// regard to case, and registered provider files by the part behind the last separator.

#include <strings.h>

#include <string>

namespace telephony {

inline bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// A separator in the first position is not taken as one.
inline std::string ProviderFilePart(const std::string& name) {
    const size_t cut = name.find_last_of("\\/");
    return cut == std::string::npos || cut == 0 ? name : name.substr(cut + 1);
}

} // namespace telephony
