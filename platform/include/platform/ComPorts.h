#pragma once

#include <string>

namespace platform {

// Turns a Windows port name into the device to open. "COMn" (any case, also "\\.\COMn") is
// looked up among the values of HKEY_LOCAL_MACHINE "HARDWARE\DEVICEMAP\SERIALCOMM", which map a
// device path (value name) to its port name (text data); without an entry it is /dev/ttyS(n-1).
// Any other name is taken as a device path and returned unchanged.
std::string ResolveComPort(const std::string& name);

} // namespace platform
