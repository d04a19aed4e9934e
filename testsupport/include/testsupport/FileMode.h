#pragma once

// The umask for a scope, whatever the test was started with, and the permission bits a file was
// given: files that hold passwords or traces must not be readable by every user.

#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace testsupport {

class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : m_previous(::umask(mask)) {}
    ~ScopedUmask() { ::umask(m_previous); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t m_previous;
};

// In octal, as chmod takes them ("0600"), so that a failed comparison reads at a glance; "missing"
// for a file that is not there.
inline std::string PermissionsOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "missing";
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return text;
}

} // namespace testsupport
