#include <platform/ComPorts.h>

#include <platform/Registry.h>

#include <string_view>

namespace platform {
namespace {

constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr unsigned kMaxPort = 256; // Windows numbers its ports up to COM256

// The n of "COMn", or 0 when the name is not a port name.
unsigned PortNumber(std::string_view name) {
    if (name.substr(0, 4) == "\\\\.\\") {
        name.remove_prefix(4);
    }
    if (name.size() < 4 || !regfile::NamesEqual(name.substr(0, 3), "COM")) {
        return 0;
    }
    const std::string_view digits = name.substr(3);
    if (digits.size() > 3 || digits.front() == '0') {
        return 0;
    }
    unsigned n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return 0;
        }
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    return n <= kMaxPort ? n : 0;
}

} // namespace

std::string ResolveComPort(const std::string& name) {
    const unsigned n = PortNumber(name);
    if (n == 0) {
        return name;
    }
    const std::string port = "COM" + std::to_string(n);
    RegKey key;
    std::vector<RegValue> values;
    if (RegKey::Open(RegRoot::LocalMachine, kSerialCommKey, key) == RegStatus::Ok &&
        key.EnumValues(values) == RegStatus::Ok) {
        for (const RegValue& v : values) {
            if (v.type == RegType::String && !v.name.empty() && regfile::NamesEqual(v.text, port)) {
                return v.name;
            }
        }
    }
    return "/dev/ttyS" + std::to_string(n - 1);
}

} // namespace platform
