#pragma once

// The daily schedule, kept under HKLM "Software\Qorvell Electronics\Westmarch".

#include <string>

namespace linesweep {

inline constexpr const char* kScheduleKey = "Software\\Qorvell Electronics\\Westmarch";

struct LineSweepSchedule {
    bool scheduled = false;
    std::string line;   // address name or "All Lines"
    std::string hour;   // "00" .. "23"
    std::string minute; // "00" .. "55"
};

// Opens the key, creating it when missing; false when it can be neither opened nor created.
bool EnsureScheduleKey();
// A missing key or value reads as off / empty; false when the key cannot be opened.
bool LoadSchedule(LineSweepSchedule& out);
// Nothing is written when the key cannot be opened (false).
bool SaveSchedule(const LineSweepSchedule& schedule);

} // namespace linesweep
