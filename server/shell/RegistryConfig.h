#pragma once

// The server's settings in the registry: the root values and OptionValues under
// HKEY_LOCAL_MACHINE "Software\Qorvell Electronics\OrbManager", and what the shell reads of
// ConnEnv. ConnEnv itself is read and written by the engine's ConnEnv, which the link start uses.

#include <engine/ConnEnv.h>

#include <cstdint>
#include <functional>
#include <string>

namespace engine {
class COrbManagerDlg;
}

namespace shell {

// Shows the message box of a language-library string id.
using ShowMessageBox = std::function<void(int id)>;

// OptionValues into the members; 1, or 0 (box 117, members unchanged) when the key can't be
// opened. Sets the trace log directory to DllPath + "/Log".
int LoadOptionValues(engine::COrbManagerDlg& dlg, const ShowMessageBox& box);
// The members into OptionValues, creating the key when it is missing; 1, or 0 (box 117) when the
// key can't be created or a value can't be stored.
int SaveOptionValues(const engine::COrbManagerDlg& dlg, const ShowMessageBox& box);

// ConnEnv "SwitchType" / "ConnType"; 0 with box 125 when the key or value can't be read.
int ReadSwitchType(const ShowMessageBox& box);
int ReadConnType(const ShowMessageBox& box);
// "Listen Port No" into m_nListenPort and + 500 into m_nBypassListenPort; 1. A missing or
// unusable port: box 175, ports 6000 and 6500, 0.
int ReadListenPort(engine::COrbManagerDlg& dlg, const ShowMessageBox& box);
// Root "OrbPath"; the current directory with box 125 when it can't be read.
std::string ReadInstallPath(const ShowMessageBox& box);
// Root "OrbRunCheck" = 0 / = 1; nothing when the root key is missing.
void ClearRunCheck();
void WriteRunCheck();

// 0 when OptionValues "UseSystemServiceMode" exists and is not 0, else 1.
int ReadServiceModeOption();

struct LanguageOptions {
    std::string dllPath;
    int language = 1;    // 0 KOR, 1 ENG, 2 GER, 3 ITA, 4 RUS
    std::string missing; // on 0: the key or value that is missing, and the registry file
};
// DllPath and Extension; 1, or 0 when the key or either value is missing. Without DllPath the
// program's own library folder serves when it holds the language's library.
int ReadLanguageOptions(LanguageOptions& out);
// "/ResDLLEN.so" and its siblings; English for any unknown code.
std::string LanguageLibraryName(int language);
// Extension code text to number ("KOR" 0 .. "RUS" 4, any other 1) and back ("ENG" for unknown).
int ExtensionCode(const std::string& text);
std::string ExtensionText(int code);

// A monitor access code made when none is stored: four digits, zero-padded.
std::string MakeMonitorAccessCode();

} // namespace shell
