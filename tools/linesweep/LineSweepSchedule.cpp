#include "LineSweepSchedule.h"
#include "LineSweepText.h"

#include <platform/Registry.h>

#include <cctype>

namespace linesweep {
namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;

constexpr size_t kValueLimit = 20; // bytes with the terminating NUL

// A value that does not fit the 20-byte buffer cannot be read, as a missing one.
std::string ReadText(const RegKey& key, const char* name) {
    std::string text;
    if (key.QueryString(name, text) != RegStatus::Ok || text.size() + 1 > kValueLimit) {
        return "";
    }
    return Trim(text);
}

} // namespace

bool EnsureScheduleKey() {
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kScheduleKey, key) == RegStatus::Ok) {
        return true;
    }
    return RegKey::Create(RegRoot::LocalMachine, kScheduleKey, key) == RegStatus::Ok;
}

bool LoadSchedule(LineSweepSchedule& out) {
    out = {};
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kScheduleKey, key) != RegStatus::Ok) {
        return false;
    }
    uint32_t scheduled = 0;
    out.scheduled = key.QueryDword("Scheduled", scheduled) == RegStatus::Ok && scheduled != 0;
    out.line = ReadText(key, "Line");
    out.hour = ReadText(key, "Hour");
    out.minute = ReadText(key, "Minute");
    return true;
}

bool SaveSchedule(const LineSweepSchedule& schedule) {
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kScheduleKey, key) != RegStatus::Ok) {
        return false;
    }
    return key.SetDword("Scheduled", schedule.scheduled ? 1 : 0) == RegStatus::Ok &&
           key.SetString("Line", schedule.line) == RegStatus::Ok &&
           key.SetString("Hour", schedule.hour) == RegStatus::Ok &&
           key.SetString("Minute", schedule.minute) == RegStatus::Ok;
}

} // namespace linesweep
