#include "RegistryConfig.h"

#include <OrbManagerDlg.h>
#include <TraceSettings.h>

#include <platform/Registry.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <random>

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;

namespace {

constexpr const char* kRootKey = "Software\\Qorvell Electronics\\OrbManager";
constexpr const char* kConnEnvKey = "Software\\Qorvell Electronics\\OrbManager\\ConnEnv";
constexpr const char* kOptionValuesKey = "Software\\Qorvell Electronics\\OrbManager\\OptionValues";

// Message boxes of the language library.
constexpr int kBoxOptionValuesKey = 117;
constexpr int kBoxRegistryRead = 125;
constexpr int kBoxListenPort = 175;

// Longest texts that fit the read buffers, terminator excluded.
constexpr std::size_t kInstallPathMax = 255;
constexpr std::size_t kIpAddressMax = 512;
constexpr std::size_t kPasswordMax = 8;
constexpr std::size_t kShortTextMax = 9; // Extension, MonitorAccessCode
constexpr std::size_t kDllPathMax = 256;

constexpr int kDefaultListenPort = 6000;
constexpr int kSecondPortOffset = 500;

const std::array<const char*, 5> kExtensionTexts = {"KOR", "ENG", "GER", "ITA", "RUS"};

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
    if (key.QueryString(name, text) != RegStatus::Ok || text.size() > maxChars) {
        return false;
    }
    out = std::move(text);
    return true;
}

bool ReadDword(const RegKey& key, const char* name, std::uint32_t& out) {
    return key.QueryDword(name, out) == RegStatus::Ok;
}

std::string CurrentDirectory() {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::current_path(error);
    return error ? std::string() : path.string();
}

// The leading decimal value of a text as the dialogs take it: blanks and a sign allowed, 0 when
// there are no digits; saturates instead of wrapping.
std::int64_t LeadingDecimal(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 10 - 9;
    std::int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (value < kLimit) {
            value = value * 10 + (text[i] - '0');
        }
    }
    return negative ? -value : value;
}

std::uint32_t ToDword(std::int64_t value) {
    if (value < 0) {
        return 0;
    }
    if (value > std::numeric_limits<std::uint32_t>::max()) {
        return std::numeric_limits<std::uint32_t>::max();
    }
    return static_cast<std::uint32_t>(value);
}

// Flags and numbers of OptionValues read into an int member.
void LoadFlag(const RegKey& key, const char* name, std::atomic<int>& member, int absent) {
    std::uint32_t value = 0;
    member = ReadDword(key, name, value) ? (value != 0 ? 1 : 0) : absent;
}

void LoadNumber(const RegKey& key, const char* name, std::atomic<int>& member, int absent) {
    std::uint32_t value = 0;
    member = ReadDword(key, name, value) ? static_cast<int>(value) : absent;
}

void LoadRanged(const RegKey& key, const char* name, std::atomic<int>& member, std::uint32_t low,
                std::uint32_t high, int fallback) {
    std::uint32_t value = 0;
    const bool kept = ReadDword(key, name, value) && value >= low && value <= high;
    member = kept ? static_cast<int>(value) : fallback;
}

std::uint32_t FlagValue(int member) {
    return member == 1 ? 1u : 0u;
}

std::uint32_t NumberValue(int member) {
    return static_cast<std::uint32_t>(member);
}

} // namespace

int LoadOptionValues(COrbManagerDlg& dlg, const ShowMessageBox& box) {
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kOptionValuesKey, key) != RegStatus::Ok) {
        box(kBoxOptionValuesKey);
        return 0;
    }
    LoadFlag(key, "UseAutoConnect", dlg.m_bUseAutoConnect, 0);
    LoadFlag(key, "UseSystemServiceMode", dlg.m_bUseSystemServiceMode, 0);
    LoadFlag(key, "UseLinnetPlusMsg", dlg.m_bUseLinnetPlusMsg, 0);
    LoadFlag(key, "UseUserManager", dlg.m_bUseUserManager, 1);
    LoadFlag(key, "UseAutoClear", dlg.m_bUseAutoClear, dlg.m_bUseAutoClear.load());
    LoadNumber(key, "AutoClearLineCnt", dlg.m_nAutoClearLineCnt, 1000);
    LoadFlag(key, "UseMsgMonitor", dlg.m_bUseMsgMonitor, 0);
    LoadNumber(key, "MsgMonitorListenPortNo", dlg.m_nMsgMonitorListenPortNo, 6001);
    LoadFlag(key, "UseSMDRUCDMonitor", dlg.m_bUseSMDRUCDMonitor, 0);
    LoadNumber(key, "SMDRUCDMonitorListenPortNo", dlg.m_nSMDRUCDMonitorListenPortNo, 6002);
    LoadFlag(key, "UseSMDRUCDSend", dlg.m_bUseSMDRUCDSend, 0);
    LoadFlag(key, "UseProtectSMDRUCDSend", dlg.m_bUseProtectSMDRUCDSend, 0);
    LoadNumber(key, "SMDRUCDSendListenPortNo", dlg.m_nSMDRUCDSendListenPortNo, 6003);

    // An absent value leaves the debugger output on although the option then reads 0.
    std::uint32_t debugPrint = 0;
    if (ReadDword(key, "UseDebugMsgPrint", debugPrint)) {
        dlg.m_bUseDebugMsgPrint = debugPrint != 0 ? 1 : 0;
        g_nDebugMsgPrint = debugPrint != 0 ? 2 : 0;
    } else {
        dlg.m_bUseDebugMsgPrint = 0;
        g_nDebugMsgPrint = 2;
    }
    LoadFlag(key, "UseDebugMsgSave", dlg.m_bUseDebugMsgSave, 0);
    LoadRanged(key, "AutoRecoverCount", dlg.m_nAutoRecoverCount, 30, 9999, 30);
    LoadRanged(key, "AutoRecoverTimePeriod", dlg.m_nAutoRecoverTimePeriod, 1, 255, 1);

    std::string text;
    dlg.m_nExtension = ReadText(key, "Extension", kShortTextMax, text) ? ExtensionCode(text) : 1;
    dlg.m_strMonitorAccessCode =
        ReadText(key, "MonitorAccessCode", kShortTextMax, text) ? text : MakeMonitorAccessCode();
    dlg.m_strDllPath = ReadText(key, "DllPath", kDllPathMax, text) ? text : CurrentDirectory();

    SetTraceLogDirectoryFromInstallPath(dlg.m_strDllPath);
    return 1;
}

int SaveOptionValues(const COrbManagerDlg& dlg, const ShowMessageBox& box) {
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kOptionValuesKey, key) != RegStatus::Ok &&
        RegKey::Create(RegRoot::LocalMachine, kOptionValuesKey, key) != RegStatus::Ok) {
        box(kBoxOptionValuesKey);
        return 0;
    }
    const std::pair<const char*, std::uint32_t> dwords[] = {
        {"AutoRecoverCount", NumberValue(dlg.m_nAutoRecoverCount)},
        {"AutoRecoverTimePeriod", NumberValue(dlg.m_nAutoRecoverTimePeriod)},
        {"UseAutoConnect", FlagValue(dlg.m_bUseAutoConnect)},
        {"UseSystemServiceMode", FlagValue(dlg.m_bUseSystemServiceMode)},
        {"UseLinnetPlusMsg", FlagValue(dlg.m_bUseLinnetPlusMsg)},
        {"UseUserManager", FlagValue(dlg.m_bUseUserManager)},
        {"UseAutoClear", FlagValue(dlg.m_bUseAutoClear)},
        {"AutoClearLineCnt", NumberValue(dlg.m_nAutoClearLineCnt)},
        {"UseMsgMonitor", FlagValue(dlg.m_bUseMsgMonitor)},
        {"MsgMonitorListenPortNo", NumberValue(dlg.m_nMsgMonitorListenPortNo)},
        {"UseSMDRUCDMonitor", FlagValue(dlg.m_bUseSMDRUCDMonitor)},
        {"SMDRUCDMonitorListenPortNo", NumberValue(dlg.m_nSMDRUCDMonitorListenPortNo)},
        {"UseSMDRUCDSend", FlagValue(dlg.m_bUseSMDRUCDSend)},
        {"SMDRUCDSendListenPortNo", NumberValue(dlg.m_nSMDRUCDSendListenPortNo)},
        {"UseProtectSMDRUCDSend", FlagValue(dlg.m_bUseProtectSMDRUCDSend)},
        {"UseDebugMsgPrint", FlagValue(dlg.m_bUseDebugMsgPrint)},
        {"UseDebugMsgSave", FlagValue(dlg.m_bUseDebugMsgSave)},
    };
    // A value that can't be stored is a failed save, not a silent loss of the option.
    bool stored = key.SetString("MonitorAccessCode", dlg.m_strMonitorAccessCode) == RegStatus::Ok;
    for (const auto& [name, value] : dwords) {
        stored = stored && key.SetDword(name, value) == RegStatus::Ok;
    }
    stored = stored && key.SetString("Extension", ExtensionText(dlg.m_nExtension)) == RegStatus::Ok;
    if (!stored) {
        box(kBoxOptionValuesKey);
        return 0;
    }
    return 1;
}

int ReadSwitchType(const ShowMessageBox& box) {
    RegKey key;
    std::uint32_t value = 0;
    if (RegKey::Open(RegRoot::LocalMachine, kConnEnvKey, key) != RegStatus::Ok ||
        !ReadDword(key, "SwitchType", value)) {
        box(kBoxRegistryRead);
        return 0;
    }
    return static_cast<int>(value);
}

int ReadConnType(const ShowMessageBox& box) {
    RegKey key;
    std::uint32_t value = 0;
    if (RegKey::Open(RegRoot::LocalMachine, kConnEnvKey, key) != RegStatus::Ok ||
        !ReadDword(key, "ConnType", value)) {
        box(kBoxRegistryRead);
        return 0;
    }
    return static_cast<int>(value);
}

int ReadListenPort(COrbManagerDlg& dlg, const ShowMessageBox& box) {
    RegKey key;
    std::uint32_t value = 0;
    // A port whose second listener would lie beyond 65535 can't be listened on at all.
    if (RegKey::Open(RegRoot::LocalMachine, kConnEnvKey, key) != RegStatus::Ok ||
        !ReadDword(key, "Listen Port No", value) || !IsValidListenPort(value)) {
        box(kBoxListenPort);
        dlg.m_nListenPort = kDefaultListenPort;
        dlg.m_nBypassListenPort = kDefaultListenPort + kSecondPortOffset;
        return 0;
    }
    dlg.m_nListenPort = static_cast<int>(value);
    dlg.m_nBypassListenPort = static_cast<int>(value) + kSecondPortOffset;
    return 1;
}

std::string ReadInstallPath(const ShowMessageBox& box) {
    RegKey key;
    std::string path;
    if (RegKey::Open(RegRoot::LocalMachine, kRootKey, key) != RegStatus::Ok ||
        !ReadText(key, "OrbPath", kInstallPathMax, path)) {
        box(kBoxRegistryRead);
        return CurrentDirectory();
    }
    return path;
}

void ClearRunCheck() {
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kRootKey, key) == RegStatus::Ok) {
        key.SetDword("OrbRunCheck", 0);
    }
}

void WriteRunCheck() {
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kRootKey, key) == RegStatus::Ok) {
        key.SetDword("OrbRunCheck", 1);
    }
}

int ReadServiceModeOption() {
    RegKey key;
    std::uint32_t value = 0;
    if (RegKey::Open(RegRoot::LocalMachine, kOptionValuesKey, key) == RegStatus::Ok &&
        ReadDword(key, "UseSystemServiceMode", value) && value != 0) {
        return 0;
    }
    return 1;
}

int ReadLanguageOptions(LanguageOptions& out) {
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kOptionValuesKey, key) != RegStatus::Ok) {
        return 0;
    }
    std::string dllPath;
    std::string extension;
    if (!ReadText(key, "DllPath", kDllPathMax, dllPath) ||
        !ReadText(key, "Extension", kShortTextMax, extension)) {
        return 0;
    }
    out.dllPath = dllPath;
    out.language = ExtensionCode(extension);
    return 1;
}

std::string LanguageLibraryName(int language) {
    switch (language) {
    case 0:
        return "/ResDLLKO.so";
    case 2:
        return "/ResDLLGER.so";
    case 3:
        return "/ResDLLITA.so";
    case 4:
        return "/ResDLLRUS.so";
    default:
        return "/ResDLLEN.so";
    }
}

int ExtensionCode(const std::string& text) {
    for (std::size_t code = 0; code < kExtensionTexts.size(); ++code) {
        if (text == kExtensionTexts[code]) {
            return static_cast<int>(code);
        }
    }
    return 1;
}

std::string ExtensionText(int code) {
    if (code < 0 || code >= static_cast<int>(kExtensionTexts.size())) {
        return "ENG";
    }
    return kExtensionTexts[static_cast<std::size_t>(code)];
}

std::string MakeMonitorAccessCode() {
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> digits(0, 9999);
    char text[8];
    std::snprintf(text, sizeof text, "%04d", digits(generator));
    return text;
}

bool IsValidSwitchPort(std::int64_t port) {
    return port >= 1 && port <= 65535;
}

bool IsValidListenPort(std::int64_t port) {
    return port >= 1 && port + kSecondPortOffset <= 65535;
}

bool LoadConnEnv(ConnEnvSettings& out, const ShowSystemErrorBox& errorBox) {
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kConnEnvKey, key) != RegStatus::Ok) {
        return false;
    }
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

    settings.debugType = readShown("DebugType", 0);
    settings.connType = readShown("ConnType", 0);
    settings.switchType = readShown("SwitchType", 0);
    settings.sysInfoPassword = textOrDefault("SysInfo Password", kPasswordMax, "8062");
    settings.ipAddress = textOrDefault("IP Address", kIpAddressMax, "localhost");
    settings.portNo = dwordOrDefault("Port No", 5002);
    settings.listenPortNo = dwordOrDefault("Listen Port No", kDefaultListenPort);

    const std::uint32_t commPort = readShown("CommPort", 1);
    settings.baudRate = std::to_string(readShown("BaudRate", 9600));
    settings.byteSize = std::to_string(readShown("ByteSize", 8));
    const std::uint32_t stopBits = readShown("StopBits", 1);
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
    if (!IsValidListenPort(listenPort)) {
        return ConnEnvSaveResult::BadListenPort;
    }
    if (!IsValidSwitchPort(switchPort)) {
        return ConnEnvSaveResult::BadSwitchPort;
    }

    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kConnEnvKey, key) != RegStatus::Ok) {
        const RegStatus created = RegKey::Create(RegRoot::LocalMachine, kConnEnvKey, key);
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
        if (status == RegStatus::Ok) {
            status = key.SetDword(name, value);
        }
    };
    auto text = [&](const char* name, const std::string& value) {
        if (status == RegStatus::Ok) {
            status = key.SetString(name, value);
        }
    };
    dword("ConnType", in.connType);
    dword("SwitchType", in.switchType);
    dword("Listen Port No", static_cast<std::uint32_t>(listenPort));
    text("IP Address", in.ipAddress.empty() ? "localhost" : in.ipAddress);
    text("SysInfo Password", in.sysInfoPassword.empty() ? "8062" : in.sysInfoPassword);
    dword("Port No", static_cast<std::uint32_t>(switchPort));
    dword("CommPort", commPort);
    dword("BaudRate", ToDword(LeadingDecimal(in.baudRate)));
    dword("ByteSize", ToDword(LeadingDecimal(in.byteSize)));
    dword("StopBits", stopBits);
    dword("DebugType", in.debugType);
    if (status != RegStatus::Ok) {
        errorBox(ErrorCode(status));
        return ConnEnvSaveResult::WriteFailed;
    }
    return ConnEnvSaveResult::Saved;
}
