#include "ShellDialogsUi.h"

#include "ConnectedUsersDlg.h"
#include "LogoWidget.h"
#include "ServiceManager.h"
#include "SplashWindow.h"
#include <shell/OrbManagerServer.h>
#include <shell/ShellDialogs.h>

#include <platform/ProgramInfo.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

namespace shell {

namespace {

constexpr int kIdsDisconnect = 318;
constexpr int kTrayRestore = 32771;
constexpr int kTrayExit = 32772;
// The splash stays while the main window starts.
constexpr int kSplashVisibleMs = 3000;

} // namespace

ShellDialogsUi::ShellDialogsUi(QWidget* window, OrbManagerServer& server)
    : QObject(window), m_pWindow(window), m_server(server) {
    m_pLogoButton = new QPushButton(window);
    m_pLogoButton->setObjectName(QStringLiteral("1108"));
    m_pLogoButton->setMinimumSize(96, 64);
    m_pLogoButton->setToolTip(QStringLiteral("Connected users"));
    m_pLogo = new LogoWidget(m_pLogoButton);
    auto* inside = new QVBoxLayout(m_pLogoButton);
    inside->setContentsMargins(4, 4, 4, 4);
    inside->addWidget(m_pLogo);
    connect(
        m_pLogoButton, &QPushButton::clicked, this,
        [this] { m_server.OnButton(kIdcConnectedUsers); }, Qt::QueuedConnection);

    const std::pair<int, const char*> indicators[] = {
        {1101, "SW message monitor"}, {1102, "SMDR/UCD monitor"}, {1105, "SMDR/UCD send"}};
    for (int i = 0; i < 3; ++i) {
        m_pIndicators[i] = new QCheckBox(QString::fromUtf8(indicators[i].second), window);
        m_pIndicators[i]->setObjectName(QString::number(indicators[i].first));
        m_pIndicators[i]->setEnabled(false);
    }
    m_server.SetDialogHost(this);
}

ShellDialogsUi::~ShellDialogsUi() {
    m_server.SetDialogHost(nullptr);
    RemoveTrayIcon();
}

QString ShellDialogsUi::Text(int id, const char* fallback) const {
    const std::string text = m_server.ResString(id);
    return text.empty() ? QString::fromUtf8(fallback) : QString::fromStdString(text);
}

QCheckBox* ShellDialogsUi::Indicator(int id) const {
    for (QCheckBox* box : m_pIndicators)
        if (box != nullptr && box->objectName() == QString::number(id))
            return box;
    return nullptr;
}

// --- dialogs ---

bool ShellDialogsUi::RunConnEnvDialog(ConnEnvDialogModel& model) {
    return RunConnEnvDlg(m_pWindow, model, [this](int id, const char* f) { return Text(id, f); });
}

bool ShellDialogsUi::RunOptionsDialog(OptionsDialogModel& model) {
    return RunOptionValuesDlg(m_pWindow, model,
                              [this](int id, const char* f) { return Text(id, f); });
}

void ShellDialogsUi::RunUserListDialog(UserListModel& model) {
    RunUserListDlg(m_pWindow, model, [this](int id, const char* f) { return Text(id, f); });
}

void ShellDialogsUi::RunDeviceMapDialog(DeviceMapModel& model) {
    RunDeviceMapDlg(m_pWindow, model, [this](int id, const char* f) { return Text(id, f); });
}

void ShellDialogsUi::RunConnectedUsersDialog(ConnectedUsersModel& model) {
    if (m_pConnectedUsers != nullptr)
        return;
    ConnectedUsersDlg dialog(
        m_pWindow, model, [this](int id, const char* f) { return Text(id, f); },
        [this] { return m_server.Dialogs().Prompts().Ask(kIdsDisconnect); });
    m_pConnectedUsers = &dialog;
    dialog.exec();
    m_pConnectedUsers = nullptr;
}

bool ShellDialogsUi::RunDisconnectDialog(const ClientRow& row) {
    return RunClientDisconnectDlg(
        m_pWindow, row, [this](int id, const char* f) { return Text(id, f); },
        [this] { return m_server.Dialogs().Prompts().Ask(kIdsDisconnect); });
}

void ShellDialogsUi::RefreshConnectedUsers() {
    if (m_pConnectedUsers != nullptr)
        m_pConnectedUsers->Refresh();
    if (m_bTrayShown && m_pTray != nullptr)
        m_pTray->setToolTip(TrayTip());
}

void ShellDialogsUi::ShowAbout() {
    RunAboutDlg(m_pWindow, [this](int id, const char* f) { return Text(id, f); });
}

void ShellDialogsUi::ShowSplash() {
    // Beside the program (or in an installed program's library folder), and in the language
    // library's folder.
    std::vector<std::string> folders = platform::ProgramLibraryFolders();
    folders.push_back(m_server.m_strDllPath);
    SplashWindow::Show(folders, kSplashVisibleMs);
}

// --- logo and indicators ---

void ShellDialogsUi::OpenLogo(const std::string& path) {
    m_pLogo->Open(path);
}

void ShellDialogsUi::SetLogoPlaying(bool play) {
    m_pLogo->Play(play);
}

void ShellDialogsUi::SetMonitorIndicators(bool msg, bool smdr, bool send) {
    m_pIndicators[0]->setChecked(msg);
    m_pIndicators[1]->setChecked(smdr);
    m_pIndicators[2]->setChecked(send);
}

void ShellDialogsUi::RegisterService(bool on) {
    RegisterServiceByOption(on, QCoreApplication::applicationFilePath().toStdString());
}

// --- tray ---

QString ShellDialogsUi::TrayTip() const {
    return QString::fromStdString(m_server.Dialogs().TrayTip());
}

bool ShellDialogsUi::HideToTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return false;
    if (m_pTray == nullptr) {
        m_pTray = new QSystemTrayIcon(m_pWindow->windowIcon(), this);
        m_pTrayMenu = std::make_unique<QMenu>();
        QAction* restore = m_pTrayMenu->addAction(QStringLiteral("Restore"));
        restore->setData(kTrayRestore);
        QAction* exit = m_pTrayMenu->addAction(QStringLiteral("Exit"));
        exit->setData(kTrayExit);
        connect(restore, &QAction::triggered, this, [this] { RestoreFromTray(); });
        connect(exit, &QAction::triggered, this, [this] {
            RestoreFromTray();
            // The orderly exit with its question, once the menu has closed.
            QMetaObject::invokeMethod(
                &m_server, [this] { m_server.OnOK(); }, Qt::QueuedConnection);
        });
        m_pTray->setContextMenu(m_pTrayMenu.get());
        connect(m_pTray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    m_pTray->setToolTip(TrayTip());
                    if (reason == QSystemTrayIcon::Trigger)
                        RestoreFromTray();
                });
    }
    if (m_pWindow->windowIcon().isNull())
        m_pTray->setIcon(m_pWindow->style()->standardIcon(QStyle::SP_ComputerIcon));
    m_pTray->setToolTip(TrayTip());
    m_pTray->show();
    m_bTrayShown = true;
    m_pWindow->hide();
    return true;
}

void ShellDialogsUi::RemoveTrayIcon() {
    if (!m_bTrayShown)
        return;
    m_bTrayShown = false;
    if (m_pTray != nullptr)
        m_pTray->hide();
}

void ShellDialogsUi::RestoreFromTray() {
    RemoveTrayIcon();
    m_pWindow->showNormal();
    m_pWindow->raise();
    m_pWindow->activateWindow();
}

} // namespace shell
