#pragma once

#include <string>

namespace shell {

class ConnEnvDialogModel;
class ConnectedUsersModel;
class DeviceMapModel;
class OptionsDialogModel;
class UserListModel;
struct ClientRow;

// The dialogs and small windows of the main window, run by the user interface over the logic
// objects handed in. The Qt window supplies it; without one (the service, most tests) the
// settings dialogs are not offered.
class DialogHost {
public:
    virtual ~DialogHost() = default;

    // Modal; true when the dialog ended with OK.
    virtual bool RunConnEnvDialog(ConnEnvDialogModel& model) = 0;
    virtual bool RunOptionsDialog(OptionsDialogModel& model) = 0;
    virtual void RunUserListDialog(UserListModel& model) = 0;
    virtual void RunDeviceMapDialog(DeviceMapModel& model) = 0;
    virtual void RunConnectedUsersDialog(ConnectedUsersModel& model) = 0;
    // The confirmation before a client of the client port is disconnected; true for OK.
    virtual bool RunDisconnectDialog(const ClientRow& row) = 0;
    // The open connected-users dialog reloads its rows.
    virtual void RefreshConnectedUsers() = 0;

    virtual void ShowSplash() = 0;
    virtual void ShowAbout() = 0;
    // The logo clip (a missing or refused clip leaves the area empty), still or playing.
    virtual void OpenLogo(const std::string& path) = 0;
    virtual void SetLogoPlaying(bool play) = 0;
    // Check boxes 1101, 1102, 1105: which monitor listeners run.
    virtual void SetMonitorIndicators(bool msg, bool smdr, bool send) = 0;
    // Installs or removes the system service as the option says; the outcome is traced.
    virtual void RegisterService(bool on) = 0;
};

} // namespace shell
