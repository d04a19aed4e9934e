#include "MonitorSettings.h"

#include <platform/Registry.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <utility>

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;

namespace {

struct Language {
    const char* extension;
    unsigned nameId;
    const char* smdrLibrary;
    const char* switchLibrary;
};

constexpr std::array<Language, 5> kLanguages = {{
    {"KOR", 127, "smdrwatchresKO.so", "NMResKOR.so"},
    {"ENG", 128, "smdrwatchresEN.so", "NMResENG.so"},
    {"GER", 132, "smdrwatchresGER.so", "NMResGER.so"},
    {"ITA", 133, "smdrwatchresITA.so", "NMResITA.so"},
    {"RUS", 134, "smdrwatchresRUS.so", "NMResRUS.so"},
}};

const Language& LanguageOf(int code) {
    return code >= 0 && code < static_cast<int>(kLanguages.size()) ? kLanguages[code]
                                                                   : kLanguages[kLangEnglish];
}

// Read or write back one value; false only when the write-back fails.
bool LoadText(RegKey& key, const char* name, std::string& value) {
    std::string text;
    if (key.QueryString(name, text) == RegStatus::Ok) {
        value = text;
        return true;
    }
    return key.SetString(name, value) == RegStatus::Ok;
}

bool LoadNumber(RegKey& key, const char* name, std::uint32_t& value) {
    std::uint32_t number = 0;
    if (key.QueryDword(name, number) == RegStatus::Ok) {
        value = number;
        return true;
    }
    return key.SetDword(name, value) == RegStatus::Ok;
}

bool LoadFlag(RegKey& key, const char* name, bool& value) {
    std::uint32_t number = value ? 1 : 0;
    const bool ok = LoadNumber(key, name, number);
    value = number != 0;
    return ok;
}

} // namespace

std::string MonitorRegistryKey(MonitorKind kind) {
    return kind == MonitorKind::Smdr ? "Software\\Qorvell Electronics\\smdrwatch"
                                     : "Software\\Qorvell Electronics\\OrbMonitor";
}

std::string ExtensionText(int code) {
    return LanguageOf(code).extension;
}

int LanguageFromExtension(const std::string& text) {
    for (std::size_t i = 0; i < kLanguages.size(); ++i) {
        if (text == kLanguages[i].extension)
            return static_cast<int>(i);
    }
    return kLangEnglish;
}

unsigned LanguageNameId(int code) {
    return LanguageOf(code).nameId;
}

std::string LanguageLibraryName(MonitorKind kind, int code) {
    const Language& language = LanguageOf(code);
    return kind == MonitorKind::Smdr ? language.smdrLibrary : language.switchLibrary;
}

bool LoadLanguageSetting(MonitorKind kind, LanguageSetting& out) {
    RegKey key;
    const std::string where =
        "HKEY_LOCAL_MACHINE\\" + MonitorRegistryKey(kind) + " in " + platform::RegistryFilePath();
    if (RegKey::Open(RegRoot::LocalMachine, MonitorRegistryKey(kind), key) != RegStatus::Ok) {
        out.missing = "the key " + where;
        return false;
    }
    std::string dllPath, extension;
    for (const auto& [name, text] : {std::pair{"DllPath", &dllPath}, {"Extension", &extension}}) {
        if (key.QueryString(name, *text) != RegStatus::Ok) {
            out.missing = std::string("the value \"") + name + "\" (REG_SZ) of " + where;
            return false;
        }
    }
    out.dllPath = dllPath;
    out.code = LanguageFromExtension(extension);
    return true;
}

std::string LanguageLibraryPath(MonitorKind kind, const LanguageSetting& setting) {
    std::string path = setting.dllPath;
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path + LanguageLibraryName(kind, setting.code);
}

MonitorSettings MonitorSettings::Defaults(MonitorKind kind) {
    MonitorSettings settings;
    settings.port = kind == MonitorKind::Smdr ? 6002 : 6001;
    std::error_code error;
    settings.installedPath = std::filesystem::current_path(error).string();
    return settings;
}

bool LoadMonitorSettings(MonitorKind kind, MonitorSettings& s) {
    RegKey key;
    if (RegKey::Create(RegRoot::LocalMachine, MonitorRegistryKey(kind), key) != RegStatus::Ok)
        return false;
    // The address is read at whatever length it was stored: a host name longer than a dotted
    // IPv4 address is kept, never replaced by the default.
    bool ok = LoadText(key, "MonitorPassCode", s.passCode) &&
              LoadText(key, "Monitor Server IP Address", s.serverAddress) &&
              LoadNumber(key, "Monitor Server Port No", s.port) &&
              LoadFlag(key, "UseAutoClear", s.useAutoClear) &&
              LoadNumber(key, "AutoClearCount", s.autoClearCount);
    if (kind == MonitorKind::Smdr) {
        ok = ok && LoadFlag(key, "UseSMDRFileSave", s.useSmdrFileSave) &&
             LoadText(key, "SMDRSaveFileName", s.smdrSaveFileName) &&
             LoadFlag(key, "UseUCDFileSave", s.useUcdFileSave) &&
             LoadText(key, "UCDSaveFileName", s.ucdSaveFileName);
    } else {
        ok = ok && LoadFlag(key, "UseFileSave", s.useFileSave) &&
             LoadText(key, "SaveFileName", s.saveFileName);
    }
    ok = ok && LoadText(key, "InstalledPath", s.installedPath);
    if (!ok)
        return false;
    // A missing language means English and is not written back.
    std::string extension;
    s.language = key.QueryString("Extension", extension) == RegStatus::Ok
                     ? LanguageFromExtension(extension)
                     : kLangEnglish;
    return true;
}

bool SaveMonitorSettings(MonitorKind kind, MonitorSettings& s) {
    RegKey key;
    if (RegKey::Create(RegRoot::LocalMachine, MonitorRegistryKey(kind), key) != RegStatus::Ok)
        return false;
    const auto text = [&](const char* name, const std::string& value) {
        return key.SetString(name, value) == RegStatus::Ok;
    };
    const auto number = [&](const char* name, std::uint32_t value) {
        return key.SetDword(name, value) == RegStatus::Ok;
    };
    bool ok =
        text("MonitorPassCode", s.passCode) && text("Monitor Server IP Address", s.serverAddress) &&
        number("Monitor Server Port No", s.port) && number("UseAutoClear", s.useAutoClear ? 1 : 0);
    if (kind == MonitorKind::Smdr) {
        ok = ok && number("AutoClearCount", s.autoClearCount) &&
             number("UseSMDRFileSave", s.useSmdrFileSave ? 1 : 0) &&
             number("UseUCDFileSave", s.useUcdFileSave ? 1 : 0) &&
             text("SMDRSaveFileName", s.smdrSaveFileName) &&
             text("UCDSaveFileName", s.ucdSaveFileName);
    } else {
        s.autoClearCount = std::clamp<std::uint32_t>(s.autoClearCount, 100, 9999);
        ok = ok && number("AutoClearCount", s.autoClearCount) &&
             number("UseFileSave", s.useFileSave ? 1 : 0) && text("SaveFileName", s.saveFileName);
    }
    if (!ok)
        return false;
    text("Extension", ExtensionText(s.language)); // a failure here is of no consequence
    return true;
}
