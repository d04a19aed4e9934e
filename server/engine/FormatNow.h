#pragma once

#include <ctime>
#include <string>

namespace engine {

// The local time as the main window and the client list show it:
//   0 "Jan 2, 2006 15:04:05"    1 "01-02-2006"    2 "15:04:05"    3 "20060102 15:04:05.000"
// Any other style, or a clock that can't be read, gives "".
std::string FormatNow(int style);
// The same for a given broken-down local time and its milliseconds.
std::string FormatTime(int style, const std::tm& local, int milliseconds);

} // namespace engine
