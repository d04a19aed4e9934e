#pragma once

#include <shell/DialogHost.h>

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QCheckBox;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QWidget;

namespace shell {

class LogoWidget;
class OrbManagerServer;
class SplashWindow;

// A language-library text, or the fallback when the library has none.
using DialogText = std::function<QString(int id, const char* fallback)>;

// The dialogs, each a thin view over its logic object; each returns when the dialog has ended.
bool RunConnEnvDlg(QWidget* parent, ConnEnvDialogModel& model, const DialogText& text);
bool RunOptionValuesDlg(QWidget* parent, OptionsDialogModel& model, const DialogText& text);
void RunUserListDlg(QWidget* parent, UserListModel& model, const DialogText& text);
void RunDeviceMapDlg(QWidget* parent, DeviceMapModel& model, const DialogText& text);
bool RunClientDisconnectDlg(QWidget* parent, const ClientRow& row, const DialogText& text,
                            const std::function<bool()>& confirm);
void RunAboutDlg(QWidget* parent, const DialogText& text);

class ConnectedUsersDlg;

// The main window's dialogs, logo, monitor indicators, splash and tray icon.
class ShellDialogsUi : public QObject, public DialogHost {
public:
    ShellDialogsUi(QWidget* window, OrbManagerServer& server);
    ~ShellDialogsUi() override;

    // Button 1108 with the logo inside, and the three indicators, for the window's layout.
    QPushButton* LogoButton() const { return m_pLogoButton; }
    QCheckBox* Indicator(int id) const;
    LogoWidget* Logo() const { return m_pLogo; }

    // The window into the tray; false where there is no tray (the window then minimises).
    bool HideToTray();
    bool IsTrayIconShown() const { return m_bTrayShown; }
    void RemoveTrayIcon();
    // Restores the window from the tray (left click, or "Restore" of its menu).
    void RestoreFromTray();
    QString TrayTip() const;

    // DialogHost
    bool RunConnEnvDialog(ConnEnvDialogModel& model) override;
    bool RunOptionsDialog(OptionsDialogModel& model) override;
    void RunUserListDialog(UserListModel& model) override;
    void RunDeviceMapDialog(DeviceMapModel& model) override;
    void RunConnectedUsersDialog(ConnectedUsersModel& model) override;
    bool RunDisconnectDialog(const ClientRow& row) override;
    void RefreshConnectedUsers() override;
    void ShowSplash() override;
    void ShowAbout() override;
    void OpenLogo(const std::string& path) override;
    void SetLogoPlaying(bool play) override;
    void SetMonitorIndicators(bool msg, bool smdr, bool send) override;
    void RegisterService(bool on) override;

    QString Text(int id, const char* fallback) const;

private:
    QWidget* m_pWindow;
    OrbManagerServer& m_server;
    QPushButton* m_pLogoButton = nullptr;
    LogoWidget* m_pLogo = nullptr;
    QCheckBox* m_pIndicators[3] = {};
    QSystemTrayIcon* m_pTray = nullptr;
    std::unique_ptr<QMenu> m_pTrayMenu;
    bool m_bTrayShown = false;
    ConnectedUsersDlg* m_pConnectedUsers = nullptr;
};

} // namespace shell
