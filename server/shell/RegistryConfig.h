#pragma once

// The server's settings in the registry: the root values, ConnEnv and OptionValues under
// HKEY_LOCAL_MACHINE "Software\Qorvell Electronics\OrbManager".

#include <cstdint>
#include <functional>
#include <string>

class COrbManagerDlg;

// Shows the message box of a language-library string id.
using ShowMessageBox = std::function<void(int id)>;
// Shows the system's description of an error code (registry errors of the settings dialog).
using ShowSystemErrorBox = std::function<void(int errorCode)>;

// OptionValues into the members; 1, or 0 (box 117, members unchanged) when the key can't be
// opened. Sets the trace log directory to DllPath + "/Log".
int LoadOptionValues(COrbManagerDlg& dlg, const ShowMessageBox& box);
// The members into OptionValues, creating the key when it is missing; 1, or 0 (box 117) when the
// key can't be created or a value can't be stored.
int SaveOptionValues(const COrbManagerDlg& dlg, const ShowMessageBox& box);

// ConnEnv "SwitchType" / "ConnType"; 0 with box 125 when the key or value can't be read.
int ReadSwitchType(const ShowMessageBox& box);
int ReadConnType(const ShowMessageBox& box);
// "Listen Port No" into m_nListenPort and + 500 into m_nBypassListenPort; 1. A missing or
// unusable port: box 175, ports 6000 and 6500, 0.
int ReadListenPort(COrbManagerDlg& dlg, const ShowMessageBox& box);
// Root "OrbPath"; the current directory with box 125 when it can't be read.
std::string ReadInstallPath(const ShowMessageBox& box);
// Root "OrbRunCheck" = 0 / = 1; nothing when the root key is missing.
void ClearRunCheck();
void WriteRunCheck();

// 0 when OptionValues "UseSystemServiceMode" exists and is not 0, else 1.
int ReadServiceModeOption();

struct LanguageOptions {
    std::string dllPath;
    int language = 1; // 0 KOR, 1 ENG, 2 GER, 3 ITA, 4 RUS
};
// DllPath and Extension; 1, or 0 when the key or either value is missing.
int ReadLanguageOptions(LanguageOptions& out);
// "/ResDLLEN.so" and its siblings; English for any unknown code.
std::string LanguageLibraryName(int language);
// Extension code text to number ("KOR" 0 .. "RUS" 4, any other 1) and back ("ENG" for unknown).
int ExtensionCode(const std::string& text);
std::string ExtensionText(int code);

// A monitor access code made when none is stored: four digits, zero-padded.
std::string MakeMonitorAccessCode();

// Port checks shared by the link start and the settings: 1..65535, and a listen port whose second
// port (+ 500) stays within range.
bool IsValidSwitchPort(std::int64_t port);
bool IsValidListenPort(std::int64_t port);

// The ConnEnv record in the text forms of the connection settings dialog.
struct ConnEnvSettings {
    std::uint32_t connType = 0;
    std::uint32_t switchType = 0;
    std::uint32_t debugType = 0;
    std::string ipAddress = "localhost";
    std::string portNo = "5002";
    std::string listenPortNo = "6000";
    std::string commPort = "COM1";
    std::string baudRate = "9600";
    std::string byteSize = "8";
    std::string stopBits = "1";
    std::string sysInfoPassword = "8062";
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
