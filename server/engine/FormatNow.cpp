#include "FormatNow.h"

#include <chrono>
#include <cstdio>

namespace engine {

std::string FormatTime(int style, const std::tm& local, int milliseconds) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[80];
    const int year = local.tm_year + 1900;
    const int month = local.tm_mon + 1;
    switch (style) {
    case 0:
        // An out-of-range month field would index past the names.
        if (local.tm_mon < 0 || local.tm_mon > 11)
            return std::string();
        std::snprintf(text, sizeof text, "%s %d, %d %02d:%02d:%02d", kMonths[local.tm_mon],
                      local.tm_mday, year, local.tm_hour, local.tm_min, local.tm_sec);
        break;
    case 1:
        std::snprintf(text, sizeof text, "%02d-%02d-%4d", month, local.tm_mday, year);
        break;
    case 2:
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min,
                      local.tm_sec);
        break;
    case 3:
        std::snprintf(text, sizeof text, "%04d%02d%02d %02d:%02d:%02d.%03d", year, month,
                      local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, milliseconds);
        break;
    default:
        return std::string();
    }
    return text;
}

std::string FormatNow(int style) {
    if (style < 0 || style > 3)
        return std::string();
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    if (seconds == static_cast<std::time_t>(-1) || localtime_r(&seconds, &local) == nullptr)
        return std::string();
    const auto sinceEpoch = now.time_since_epoch();
    const int milliseconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000);
    return FormatTime(style, local, milliseconds < 0 ? milliseconds + 1000 : milliseconds);
}

} // namespace engine
