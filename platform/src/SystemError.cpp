#include <platform/SystemError.h>

#include <cstring>

namespace platform {

namespace {

// strerror_r comes in two flavours with one name; overloads pick whichever the C library has.
// GNU: returns the text, which may or may not be in the buffer.
[[maybe_unused]] const char* TextFrom(const char* result, const char*) {
    return result;
}
// XSI: returns 0 and fills the buffer, or an error number.
[[maybe_unused]] const char* TextFrom(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}

} // namespace

std::string SystemErrorText(int code) {
    char buffer[256] = {};
    const char* text = TextFrom(::strerror_r(code, buffer, sizeof buffer), buffer);
    if (text == nullptr || *text == '\0') {
        return "Unknown error " + std::to_string(code);
    }
    return text;
}

} // namespace platform
