#include "MonitorTime.h"

#include <cstdio>
#include <ctime>

namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

const char* MonthName(int month) {
    return month >= 1 && month <= 12 ? kMonths[month - 1] : "";
}

} // namespace

MonitorClock MonitorClock::Now() {
    return At(std::chrono::system_clock::now());
}

MonitorClock MonitorClock::At(std::chrono::system_clock::time_point when) {
    MonitorClock clock;
    const auto sinceEpoch = when.time_since_epoch();
    if (sinceEpoch.count() < 0) {
        clock.valid = false;
        return clock;
    }
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    clock.year = local.tm_year + 1900;
    clock.month = local.tm_mon + 1;
    clock.day = local.tm_mday;
    clock.hour = local.tm_hour;
    clock.minute = local.tm_min;
    clock.second = local.tm_sec;
    clock.millisecond = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000);
    return clock;
}

std::string FormatSmdrTime(const MonitorClock& c) {
    if (!c.valid)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%s %d %d %d:%d:%d", MonthName(c.month), c.day, c.year, c.hour,
                  c.minute, c.second);
    return text;
}

std::string FormatSwitchListTime(const MonitorClock& c) {
    if (!c.valid)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%s %d, %d %02d:%02d:%02d", MonthName(c.month), c.day, c.year,
                  c.hour, c.minute, c.second);
    return text;
}

std::string FormatSwitchLogTime(const MonitorClock& c) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02d %02d:%02d:%02d.%03d", c.year, c.month, c.day,
                  c.hour, c.minute, c.second, c.millisecond);
    return text;
}
