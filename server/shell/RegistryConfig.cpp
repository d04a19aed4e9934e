#include "RegistryConfig.h"

#include <engine/OrbManagerDlg.h>
#include <engine/TraceSettings.h>

#include <platform/ProgramInfo.h>
#include <platform/Registry.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

namespace shell {

using namespace engine;

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;

namespace {

constexpr const char* kRootKey = "Software\\Qorvell Electronics\\OrbManager";
constexpr const char* kOptionValuesKey = "Software\\Qorvell Electronics\\OrbManager\\OptionValues";

// Message boxes of the language library.
constexpr int kBoxOptionValuesKey = 117;
constexpr int kBoxRegistryRead = 125;
constexpr int kBoxListenPort = 175;

// Longest texts that fit the read buffers, terminator excluded.
constexpr std::size_t kInstallPathMax = 255;
constexpr std::size_t kShortTextMax = 9; // Extension, MonitorAccessCode
constexpr std::size_t kDllPathMax = 256;

const std::array<const char*, 5> kExtensionTexts = {"KOR", "ENG", "GER", "ITA", "RUS"};

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

namespace {

int ReadConnEnvShown(const char* name, const ShowMessageBox& box) {
    std::uint32_t value = 0;
    if (!ReadConnEnvNumber(name, value)) {
        box(kBoxRegistryRead);
        return 0;
    }
    return static_cast<int>(value);
}

} // namespace

int ReadSwitchType(const ShowMessageBox& box) {
    return ReadConnEnvShown(connenv::kSwitchType, box);
}

int ReadConnType(const ShowMessageBox& box) {
    return ReadConnEnvShown(connenv::kConnType, box);
}

int ReadListenPort(COrbManagerDlg& dlg, const ShowMessageBox& box) {
    std::uint32_t value = 0;
    // A port whose second listener would lie beyond 65535 can't be listened on at all.
    std::uint32_t port = connenv::kDefaultListenPort;
    const bool read = ReadConnEnvNumber(connenv::kListenPortNo, value) && IsValidListenPort(value);
    if (read)
        port = value;
    else
        box(kBoxListenPort);
    dlg.m_nListenPort = static_cast<int>(port);
    dlg.m_nBypassListenPort = static_cast<int>(port + connenv::kSecondPortOffset);
    return read ? 1 : 0;
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
    const std::string where = std::string("HKEY_LOCAL_MACHINE\\") + kOptionValuesKey + " in " +
                              platform::RegistryFilePath();
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kOptionValuesKey, key) != RegStatus::Ok) {
        out.missing = "the key " + where;
        return 0;
    }
    std::string dllPath;
    std::string extension;
    if (!ReadText(key, "Extension", kShortTextMax, extension)) {
        out.missing = "the value \"Extension\" (REG_SZ) of " + where;
        return 0;
    }
    const int language = ExtensionCode(extension);
    if (!ReadText(key, "DllPath", kDllPathMax, dllPath)) {
        // An installed server finds its own library without being told where.
        for (const std::string& folder : platform::ProgramLibraryFolders()) {
            std::error_code error;
            if (std::filesystem::exists(folder + LanguageLibraryName(language), error)) {
                dllPath = folder;
                break;
            }
        }
        if (dllPath.empty()) {
            out.missing = "the value \"DllPath\" (REG_SZ) of " + where;
            return 0;
        }
    }
    out.dllPath = dllPath;
    out.language = language;
    out.missing.clear();
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

} // namespace shell
