#pragma once

#include <cstdint>
#include <string>

// Which of the two monitor programs: they share their settings design and differ in details.
enum class MonitorKind { Smdr, Switch };

enum LanguageCode : int {
    kLangKorean = 0,
    kLangEnglish = 1,
    kLangGerman = 2,
    kLangItalian = 3,
    kLangRussian = 4
};

// The program's key below HKEY_LOCAL_MACHINE.
std::string MonitorRegistryKey(MonitorKind kind);
// "KOR", "ENG", ... by code; English for a code outside the table.
std::string ExtensionText(int code);
// The code of an Extension text (exact, case-sensitive); English for anything else.
int LanguageFromExtension(const std::string& text);
// The string id of a language's name (127 Korean, 128 English, ...); 128 outside the table.
unsigned LanguageNameId(int code);
// The library's file name, e.g. "smdrwatchresEN.so".
std::string LanguageLibraryName(MonitorKind kind, int code);

// DllPath and the language code. False when the key, DllPath or Extension is missing.
struct LanguageSetting {
    std::string dllPath;
    int code = kLangEnglish;
    std::string missing; // on false: the key or value that is missing, and the registry file
};
bool LoadLanguageSetting(MonitorKind kind, LanguageSetting& out);
// DllPath followed by the library's file name, with one '/' between them.
std::string LanguageLibraryPath(MonitorKind kind, const LanguageSetting& setting);

// The values a monitor keeps under its key, with their defaults.
struct MonitorSettings {
    std::string passCode;
    std::string serverAddress = "1.1.1.1";
    std::uint32_t port = 6002;
    bool useAutoClear = false;
    std::uint32_t autoClearCount = 1000;
    bool useSmdrFileSave = false; // smdrwatch
    std::string smdrSaveFileName = "SMDRMSGSave.txt";
    bool useUcdFileSave = false; // smdrwatch
    std::string ucdSaveFileName = "UCDMSGSave.txt";
    bool useFileSave = false; // switchwatch
    std::string saveFileName = "NormalMSGSave.txt";
    std::string installedPath; // default: the current folder at load
    int language = kLangEnglish;

    static MonitorSettings Defaults(MonitorKind kind);
    // Not configured yet: the address is still the placeholder.
    bool IsUnconfigured() const { return serverAddress == kUnconfiguredAddress; }
    static constexpr const char* kUnconfiguredAddress = "1.1.1.1";
};

// Reads every value; a missing one takes the value in `settings` and is written back at once.
// False when the key cannot be opened or created or a write-back fails (the rest is then not
// read).
bool LoadMonitorSettings(MonitorKind kind, MonitorSettings& settings);
// Writes the edited values and the language (switchwatch first limits AutoClearCount into
// 100..9999, in `settings` too). False on the first failing write.
bool SaveMonitorSettings(MonitorKind kind, MonitorSettings& settings);
