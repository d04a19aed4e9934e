#include "ShellDialogs.h"

#include "ConnEnvDialogModel.h"
#include "DialogHost.h"
#include "OptionsDialogModel.h"
#include "OrbManagerServer.h"
#include "RegistryConfig.h"
#include "SystemInfoReport.h"
#include "UserDialogsModel.h"
#include "UserStore.h"

#include <engine/LinkState.h>
#include <engine/TraceLog.h>
#include <platform/ProgramInfo.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace shell {

using namespace engine;

namespace {

constexpr int kBoxLanguageChanged = 232;
constexpr int kBoxOptionsNotSaved = 204;
constexpr int kIdsStopped = 102;
constexpr int kIdsRunning = 103;
constexpr int kIdsClients = 237;
constexpr std::size_t kTipMax = 63;

// At most `max` bytes without cutting a character in two.
std::string CutUtf8(std::string text, std::size_t max) {
    if (text.size() <= max)
        return text;
    std::size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    text.resize(cut);
    return text;
}

} // namespace

ShellDialogs::ShellDialogs(OrbManagerServer& server) : m_server(server) {}

ShellDialogs::~ShellDialogs() = default;

DialogPrompts ShellDialogs::Prompts() const {
    DialogPrompts prompts;
    prompts.box = [this](int id) { m_server.ShowBox(id); };
    prompts.detailBox = [this](int id, const std::string& detail) { m_server.ShowBox(id, detail); };
    prompts.ask = [this](int id) { return m_server.Ask(id, true); };
    return prompts;
}

void ShellDialogs::OnConnEnv() {
    if (m_pHost == nullptr)
        return;
    const ShowSystemErrorBox errorBox = [this](int code) {
        if (m_server.m_pView)
            m_server.m_pView->ShowMessageBox(0, std::strerror(code));
        else
            TraceLog("[USER] %s", std::strerror(code));
    };
    ConnEnvDialogModel model(m_server.m_bLinkRunning.load() == 1, Prompts(), errorBox);
    model.Init();
    if (!m_pHost->RunConnEnvDialog(model))
        return;
    m_server.m_nSwitchType = static_cast<int>(model.Settings().switchType);
    m_server.m_nConnType = static_cast<int>(model.Settings().connType);
    m_server.ShowConnTypeText(m_server.m_nConnType.load());
    WriteReportAfterSettings();
}

void ShellDialogs::OnOptions() {
    if (m_pHost == nullptr)
        return;
    OptionsDialogModel model(m_server, Prompts());
    const bool confirmed = m_pHost->RunOptionsDialog(model);
    AfterOptions(confirmed, model.LanguageCode());
}

void ShellDialogs::AfterOptions(bool confirmed, int languageCode) {
    if (confirmed) {
        if (languageCode != m_server.m_nExtension.load()) {
            m_server.m_nExtension = languageCode;
            m_server.ShowBox(kBoxLanguageChanged);
        }
        if (m_pHost != nullptr)
            m_pHost->RegisterService(m_server.m_bUseSystemServiceMode.load() == 1);
        if (SaveOptionValues(m_server, [this](int id) { m_server.ShowBox(id); }) == 0)
            m_server.ShowBox(kBoxOptionsNotSaved);
    }
    ApplyMonitorOptions();
    if (g_bDeviceListAvailable.load() == 0)
        m_server.ShowClientList();
    WriteReportAfterSettings();
}

void ShellDialogs::ApplyMonitorOptions() {
    const bool msg = m_server.m_bUseMsgMonitor.load() == 1;
    const bool smdr = m_server.m_bUseSMDRUCDMonitor.load() == 1;
    const bool send = m_server.m_bUseSMDRUCDSend.load() == 1;
    msg ? m_server.StartMsgMonitorListener() : m_server.StopMsgMonitorListener();
    smdr ? m_server.StartSMDRUCDMonitorListener() : m_server.StopSMDRUCDMonitorListener();
    send ? m_server.StartSMDRUCDSendListener() : m_server.StopSMDRUCDSendListener();
    if (m_pHost != nullptr)
        m_pHost->SetMonitorIndicators(msg, smdr, send);
}

void ShellDialogs::OnUserList() {
    if (m_pHost == nullptr)
        return;
    UserListModel model(m_server, Store(), Prompts());
    m_pHost->RunUserListDialog(model);
    WriteReportAfterSettings();
}

void ShellDialogs::OnDeviceMap() {
    if (m_pHost == nullptr)
        return;
    DeviceMapModel model(m_server, Store(), Prompts());
    m_pHost->RunDeviceMapDialog(model);
    WriteReportAfterSettings();
}

void ShellDialogs::OnConnectedUsers() {
    if (m_pHost == nullptr)
        return;
    ConnectedUsersModel model(m_server);
    m_pHost->RunConnectedUsersDialog(model);
}

void ShellDialogs::OnClientRowActivated(const ClientRow& row) {
    if (m_pHost == nullptr || m_server.m_pClientManager == nullptr)
        return;
    const OrbManagerServer::ModalScope action(m_server);
    if (m_pHost->RunDisconnectDialog(row))
        ConnectedUsersModel::Disconnect(m_server.m_pClientManager, row.ipAddress,
                                        std::atoi(row.port.c_str()));
}

void ShellDialogs::LoadStoredUsers() {
    m_pStore =
        std::make_unique<UserStore>(m_server.m_UserList, m_server.m_strInstallPath, Prompts());
    m_pStore->LoadAtStartup();
}

UserStore& ShellDialogs::Store() {
    if (!m_pStore)
        m_pStore =
            std::make_unique<UserStore>(m_server.m_UserList, m_server.m_strInstallPath, Prompts());
    return *m_pStore;
}

int ShellDialogs::StoredUserCount() const {
    return m_pStore ? m_pStore->Count() : 0;
}

int ShellDialogs::WriteSystemReport() {
    return WriteSystemInfoReport(m_server, StoredUserCount(), Prompts());
}

void ShellDialogs::WriteReportAfterSettings() {
    if (WriteSystemReport() == 0)
        TraceLog("[ERROR] Veltrane Link System Information Save Error...");
}

void ShellDialogs::ShowSplash() {
    if (m_pHost != nullptr)
        m_pHost->ShowSplash();
}

void ShellDialogs::CreateLogo() {
    if (m_pHost == nullptr)
        return;
    // An install folder without its own clip plays the one installed with the programs.
    std::string path = m_server.m_strInstallPath + "/OrbLogo.avi";
    std::error_code error;
    if (const std::string data = platform::ProgramDataFolder();
        !data.empty() && !std::filesystem::exists(path, error))
        path = data + "/OrbLogo.avi";
    m_pHost->OpenLogo(path);
}

void ShellDialogs::PlayLogo(bool play) {
    if (m_pHost != nullptr)
        m_pHost->SetLogoPlaying(play);
}

void ShellDialogs::ClientsChanged() {
    if (m_pHost != nullptr)
        m_pHost->RefreshConnectedUsers();
}

std::string ShellDialogs::TrayTip() const {
    std::string tip = "VeltraneLink - ";
    if (m_server.m_bLinkRunning.load() != 0)
        tip += m_server.ResString(kIdsRunning) + "[" + m_server.ResString(kIdsClients) + " " +
               std::to_string(m_server.m_nClientCount.load()) + " / " +
               std::to_string(m_server.m_nBypassClientCount.load()) + "]";
    else
        tip += m_server.ResString(kIdsStopped);
    return CutUtf8(tip, kTipMax);
}

} // namespace shell
