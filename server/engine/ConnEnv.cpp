#include "ConnEnv.h"

#include <platform/Registry.h>

#include <cctype>
#include <cerrno>
#include <limits>

namespace engine {

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;

namespace {

// The error number a system error box shows for a registry failure.
int ErrorCode(RegStatus status) {
    switch (status) {
    case RegStatus::Ok:
        return 0;
    case RegStatus::NotFound:
        return ENOENT;
    case RegStatus::WrongType:
    case RegStatus::InvalidArgument:
        return EINVAL;
    case RegStatus::BadFile:
        return EBADMSG;
    case RegStatus::IoError:
        return EIO;
    }
    return EIO;
}

// A text longer than its buffer can't be read, the same as a missing one.
bool ReadText(const RegKey& key, const char* name, std::size_t maxChars, std::string& out) {
    std::string text;
    if (key.QueryString(name, text) != RegStatus::Ok || text.size() > maxChars)
        return false;
    out = std::move(text);
    return true;
}

bool ReadDword(const RegKey& key, const char* name, std::uint32_t& out) {
    return key.QueryDword(name, out) == RegStatus::Ok;
}

// The leading decimal value of a text as the dialogs take it: blanks and a sign allowed, 0 when
// there are no digits; saturates instead of wrapping.
std::int64_t LeadingDecimal(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 10 - 9;
    std::int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (value < kLimit)
            value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

std::uint32_t ToDword(std::int64_t value) {
    if (value < 0)
        return 0;
    if (value > std::numeric_limits<std::uint32_t>::max())
        return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(value);
}

} // namespace

bool IsValidSwitchPort(std::int64_t port) {
    return port >= 1 && port <= 65535;
}

bool IsValidListenPort(std::int64_t port) {
    return port >= 1 && port + connenv::kSecondPortOffset <= 65535;
}

bool ReadConnEnvNumber(const char* name, std::uint32_t& out) {
    RegKey key;
    return RegKey::Open(RegRoot::LocalMachine, connenv::kKey, key) == RegStatus::Ok &&
           ReadDword(key, name, out);
}

ConnEnvLinkFault ReadConnEnvLink(ConnEnvLink& out) {
    using Fault = ConnEnvLinkFault;
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, connenv::kKey, key) != RegStatus::Ok)
        return Fault::Key;
    if (!ReadText(key, connenv::kIpAddress, connenv::kIpAddressMax, out.ipAddress))
        return Fault::IpAddress;
    if (!ReadDword(key, connenv::kPortNo, out.portNo) || !IsValidSwitchPort(out.portNo))
        return Fault::PortNo;
    if (!ReadDword(key, connenv::kListenPortNo, out.listenPortNo) ||
        !IsValidListenPort(out.listenPortNo))
        return Fault::ListenPortNo;
    if (!ReadDword(key, connenv::kCommPort, out.commPort))
        return Fault::CommPort;
    if (!ReadDword(key, connenv::kBaudRate, out.baudRate))
        return Fault::BaudRate;
    if (!ReadDword(key, connenv::kByteSize, out.byteSize))
        return Fault::ByteSize;
    if (!ReadDword(key, connenv::kStopBits, out.stopBits))
        return Fault::StopBits;
    if (!ReadText(key, connenv::kSysInfoPassword, connenv::kPasswordMax, out.sysInfoPassword))
        out.sysInfoPassword = connenv::kDefaultPassword;
    return Fault::None;
}

bool LoadConnEnv(ConnEnvSettings& out, const ShowSystemErrorBox& errorBox) {
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, connenv::kKey, key) != RegStatus::Ok)
        return false;
    ConnEnvSettings settings;

    // A DWORD that can't be read shows the system's reason and takes `fallback`.
    auto readShown = [&](const char* name, std::uint32_t fallback) {
        std::uint32_t value = 0;
        const RegStatus status = key.QueryDword(name, value);
        if (status != RegStatus::Ok) {
            errorBox(ErrorCode(status));
            return fallback;
        }
        return value;
    };
    // The four values the server can't run without are written back when they can't be read;
    // a failed write-back leaves only the shown default.
    auto textOrDefault = [&](const char* name, std::size_t maxChars, const char* fallback) {
        std::string text;
        if (!ReadText(key, name, maxChars, text)) {
            text = fallback;
            key.SetString(name, text);
        }
        return text;
    };
    auto dwordOrDefault = [&](const char* name, std::uint32_t fallback) {
        std::uint32_t value = 0;
        if (!ReadDword(key, name, value)) {
            value = fallback;
            key.SetDword(name, value);
        }
        return std::to_string(value);
    };

    settings.debugType = readShown(connenv::kDebugType, 0);
    settings.connType = readShown(connenv::kConnType, 0);
    settings.switchType = readShown(connenv::kSwitchType, 0);
    settings.sysInfoPassword =
        textOrDefault(connenv::kSysInfoPassword, connenv::kPasswordMax, connenv::kDefaultPassword);
    settings.ipAddress =
        textOrDefault(connenv::kIpAddress, connenv::kIpAddressMax, connenv::kDefaultIpAddress);
    settings.portNo = dwordOrDefault(connenv::kPortNo, connenv::kDefaultPortNo);
    settings.listenPortNo = dwordOrDefault(connenv::kListenPortNo, connenv::kDefaultListenPort);

    const std::uint32_t commPort = readShown(connenv::kCommPort, 1);
    settings.baudRate = std::to_string(readShown(connenv::kBaudRate, 9600));
    settings.byteSize = std::to_string(readShown(connenv::kByteSize, 8));
    const std::uint32_t stopBits = readShown(connenv::kStopBits, 1);
    settings.stopBits = stopBits == 2 ? "2" : stopBits == 3 ? "1.5" : "1";
    settings.commPort = commPort >= 2 && commPort <= 4 ? "COM" + std::to_string(commPort) : "COM1";

    out = std::move(settings);
    return true;
}

ConnEnvSaveResult SaveConnEnv(const ConnEnvSettings& in, const ShowSystemErrorBox& errorBox) {
    const std::string listenText = in.listenPortNo.empty() ? "6000" : in.listenPortNo;
    const std::int64_t listenPort = LeadingDecimal(listenText);
    const std::int64_t switchPort = LeadingDecimal(in.portNo);
    // A port of 0 or beyond 16 bits would be stored and only fail at the next link start.
    if (!IsValidListenPort(listenPort))
        return ConnEnvSaveResult::BadListenPort;
    if (!IsValidSwitchPort(switchPort))
        return ConnEnvSaveResult::BadSwitchPort;

    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, connenv::kKey, key) != RegStatus::Ok) {
        const RegStatus created = RegKey::Create(RegRoot::LocalMachine, connenv::kKey, key);
        if (created != RegStatus::Ok) {
            errorBox(ErrorCode(created));
            return ConnEnvSaveResult::KeyNotCreated;
        }
    }

    // "COMn": the digit n; a text without it falls back to the first port.
    const bool commDigit =
        in.commPort.size() >= 4 && std::isdigit(static_cast<unsigned char>(in.commPort[3]));
    const std::uint32_t commPort = commDigit ? static_cast<std::uint32_t>(in.commPort[3] - '0') : 1;
    const std::uint32_t stopBits = in.stopBits == "1.5" ? 3 : ToDword(LeadingDecimal(in.stopBits));

    RegStatus status = RegStatus::Ok;
    auto dword = [&](const char* name, std::uint32_t value) {
        if (status == RegStatus::Ok)
            status = key.SetDword(name, value);
    };
    auto text = [&](const char* name, const std::string& value) {
        if (status == RegStatus::Ok)
            status = key.SetString(name, value);
    };
    dword(connenv::kConnType, in.connType);
    dword(connenv::kSwitchType, in.switchType);
    dword(connenv::kListenPortNo, static_cast<std::uint32_t>(listenPort));
    text(connenv::kIpAddress, in.ipAddress.empty() ? connenv::kDefaultIpAddress : in.ipAddress);
    text(connenv::kSysInfoPassword,
         in.sysInfoPassword.empty() ? connenv::kDefaultPassword : in.sysInfoPassword);
    dword(connenv::kPortNo, static_cast<std::uint32_t>(switchPort));
    dword(connenv::kCommPort, commPort);
    dword(connenv::kBaudRate, ToDword(LeadingDecimal(in.baudRate)));
    dword(connenv::kByteSize, ToDword(LeadingDecimal(in.byteSize)));
    dword(connenv::kStopBits, stopBits);
    dword(connenv::kDebugType, in.debugType);
    if (status != RegStatus::Ok) {
        errorBox(ErrorCode(status));
        return ConnEnvSaveResult::WriteFailed;
    }
    return ConnEnvSaveResult::Saved;
}

} // namespace engine
