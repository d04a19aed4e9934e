#pragma once

#include <chrono>
#include <string>

// A local time broken down, with its milliseconds; `valid` is false before 1970.
struct MonitorClock {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
    bool valid = true;

    static MonitorClock Now();
    static MonitorClock At(std::chrono::system_clock::time_point when);
};

// smdrwatch's one format: "Mar 7 2009 9:5:3" (nothing padded).
std::string FormatSmdrTime(const MonitorClock& clock);
// switchwatch, list rows and closing line: "Mar 7, 2009 09:05:03".
std::string FormatSwitchListTime(const MonitorClock& clock);
// switchwatch, log lines and header: "20090307 09:05:03.042".
std::string FormatSwitchLogTime(const MonitorClock& clock);
