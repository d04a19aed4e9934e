#pragma once

// The connection settings under HKEY_LOCAL_MACHINE "Software\Qorvell
// Electronics\OrbManager\ConnEnv": value names, defaults and port rules, read and written here
// only. The link start reads the typed values; the settings read and write the text forms of the
// connection settings dialog.

#include <cstdint>
#include <functional>
#include <string>

namespace engine {

namespace connenv {

inline constexpr const char kKey[] = "Software\\Qorvell Electronics\\OrbManager\\ConnEnv";

inline constexpr const char kConnType[] = "ConnType";
inline constexpr const char kSwitchType[] = "SwitchType";
inline constexpr const char kDebugType[] = "DebugType";
inline constexpr const char kIpAddress[] = "IP Address";
inline constexpr const char kPortNo[] = "Port No";
inline constexpr const char kListenPortNo[] = "Listen Port No";
inline constexpr const char kCommPort[] = "CommPort";
inline constexpr const char kBaudRate[] = "BaudRate";
inline constexpr const char kByteSize[] = "ByteSize";
inline constexpr const char kStopBits[] = "StopBits";
inline constexpr const char kSysInfoPassword[] = "SysInfo Password";

// Longest texts that fit the read buffers, terminator excluded; a longer one can't be read.
inline constexpr std::size_t kIpAddressMax = 512;
inline constexpr std::size_t kPasswordMax = 8;

inline constexpr const char kDefaultIpAddress[] = "localhost";
inline constexpr const char kDefaultPassword[] = "8062";
inline constexpr std::uint32_t kDefaultPortNo = 5002;
inline constexpr std::uint32_t kDefaultListenPort = 6000;
// The second client port listens this far above the first.
inline constexpr std::uint32_t kSecondPortOffset = 500;

} // namespace connenv

// A port no socket can use is no setting: 1..65535, and a listen port whose second port (+ 500)
// stays within range.
bool IsValidSwitchPort(std::int64_t port);
bool IsValidListenPort(std::int64_t port);

// One DWORD of ConnEnv; false when the key or the value can't be read.
bool ReadConnEnvNumber(const char* name, std::uint32_t& out);

// What the link start needs, read in this order.
struct ConnEnvLink {
    std::string ipAddress;
    std::uint32_t portNo = 0;
    std::uint32_t listenPortNo = 0;
    std::uint32_t commPort = 0;
    std::uint32_t baudRate = 0;
    std::uint32_t byteSize = 0;
    std::uint32_t stopBits = 0;
    // The default when it can't be read.
    std::string sysInfoPassword;
};
// The first part that could not be read (or broke its port rule); None when all were read.
// The values before it are filled in.
enum class ConnEnvLinkFault {
    None,
    Key,
    IpAddress,
    PortNo,
    ListenPortNo,
    CommPort,
    BaudRate,
    ByteSize,
    StopBits
};
ConnEnvLinkFault ReadConnEnvLink(ConnEnvLink& out);

// Shows the system's description of an error code (registry errors of the settings dialog).
using ShowSystemErrorBox = std::function<void(int errorCode)>;

// The ConnEnv record in the text forms of the connection settings dialog.
struct ConnEnvSettings {
    std::uint32_t connType = 0;
    std::uint32_t switchType = 0;
    std::uint32_t debugType = 0;
    std::string ipAddress = connenv::kDefaultIpAddress;
    std::string portNo = "5002";
    std::string listenPortNo = "6000";
    std::string commPort = "COM1";
    std::string baudRate = "9600";
    std::string byteSize = "8";
    std::string stopBits = "1";
    std::string sysInfoPassword = connenv::kDefaultPassword;
};

// Reads ConnEnv into `out`, writing back the defaults of a missing address, password and ports.
// False (out untouched) when the key can't be opened.
bool LoadConnEnv(ConnEnvSettings& out, const ShowSystemErrorBox& errorBox);

// WriteFailed: the key was open but a value could not be stored (system error box shown); the
// values before it are stored.
enum class ConnEnvSaveResult { Saved, KeyNotCreated, BadSwitchPort, BadListenPort, WriteFailed };
// Shown by the caller after the system error box when the save reports KeyNotCreated.
inline constexpr const char* kConnEnvCreateFailedText = "Unable to create the key in the registry";
// Writes every ConnEnv value, creating the key when missing. A port outside its range is refused
// before anything is written.
ConnEnvSaveResult SaveConnEnv(const ConnEnvSettings& in, const ShowSystemErrorBox& errorBox);

} // namespace engine
