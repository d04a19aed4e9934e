#pragma once

#include "ConnectedUsersModel.h"
#include "DialogPrompts.h"

#include <memory>
#include <string>

namespace shell {

class DialogHost;
class OrbManagerServer;
class UserStore;

// What the main window's settings and user buttons start, and what follows each dialog: the
// stored users and their backup, the system report, the logo, the splash and the monitor
// indicators. The dialogs themselves run in the DialogHost.
class ShellDialogs {
public:
    explicit ShellDialogs(OrbManagerServer& server);
    ~ShellDialogs();

    void SetHost(DialogHost* host) { m_pHost = host; }

    // Buttons 1000, 1030, 1003, 1028 and the connected-users dialog (button 1108, F11, B).
    void OnConnEnv();
    void OnOptions();
    void OnUserList();
    void OnDeviceMap();
    void OnConnectedUsers();
    // A double click on a row of the main client list: confirmation, then the disconnect.
    void OnClientRowActivated(const ClientRow& row);

    // After the options dialog, confirmed or not.
    void AfterOptions(bool confirmed, int languageCode);
    // The three monitor listeners and their indicators as the options say.
    void ApplyMonitorOptions();

    // The stored users at start-up, with the restore from the backup when the load fails.
    void LoadStoredUsers();
    UserStore& Store();
    int StoredUserCount() const;

    // 1 written, 0 not (box 226 shown).
    int WriteSystemReport();
    // The settings handlers' follow-up: the report, traced when it could not be written.
    void WriteReportAfterSettings();

    void ShowSplash();
    void CreateLogo();
    void PlayLogo(bool play);
    void ClientsChanged();

    // The tray icon's tip: "VeltraneLink - " and the link state with the two client counts.
    std::string TrayTip() const;

    DialogPrompts Prompts() const;

private:
    OrbManagerServer& m_server;
    DialogHost* m_pHost = nullptr;
    std::unique_ptr<UserStore> m_pStore;
};

} // namespace shell
