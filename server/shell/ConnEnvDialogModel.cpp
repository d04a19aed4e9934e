#include "ConnEnvDialogModel.h"

namespace shell {

using namespace engine;

namespace {

constexpr int kAllControls[] = {
    kIdcConnSim,        kIdcConnDirect, kIdcConnTcp,       kIdcCommPort,   kIdcBaudRate,
    kIdcByteSize,       kIdcStopBits,   kIdcSwitchAddress, kIdcSwitchPort, kIdcSwitchNormal,
    kIdcSwitchVeltrane, kIdcListenPort, kIdcPassword,      kIdcOk};

} // namespace

ConnEnvDialogModel::ConnEnvDialogModel(bool linkRunning, DialogPrompts prompts,
                                       ShowSystemErrorBox errorBox)
    : m_bRunning(linkRunning), m_prompts(std::move(prompts)), m_errorBox(std::move(errorBox)) {}

void ConnEnvDialogModel::Init() {
    ConnEnvSettings loaded;
    m_Settings = LoadConnEnv(loaded, m_errorBox) ? loaded : ConnEnvSettings{};
    if (m_bRunning) {
        for (int id : kAllControls)
            m_Enabled[id] = false;
        return;
    }
    for (int id : {kIdcConnSim, kIdcConnDirect, kIdcConnTcp, kIdcSwitchNormal, kIdcSwitchVeltrane,
                   kIdcListenPort, kIdcOk})
        m_Enabled[id] = true;
    ApplyTypeEnabling();
    m_Enabled[kIdcPassword] = m_Settings.switchType != 0;
}

bool ConnEnvDialogModel::IsEnabled(int id) const {
    const auto it = m_Enabled.find(id);
    return it != m_Enabled.end() && it->second;
}

void ConnEnvDialogModel::ApplyTypeEnabling() {
    const bool tcp = m_Settings.connType == 2;
    for (int id : {kIdcCommPort, kIdcBaudRate, kIdcByteSize, kIdcStopBits})
        m_Enabled[id] = !tcp;
    m_Enabled[kIdcSwitchAddress] = tcp;
    m_Enabled[kIdcSwitchPort] = tcp;
}

void ConnEnvDialogModel::OnConnType(int type) {
    if (m_bRunning)
        return;
    m_Settings.connType = static_cast<std::uint32_t>(type);
    ApplyTypeEnabling();
}

void ConnEnvDialogModel::OnSwitchType(int type) {
    if (m_bRunning)
        return;
    m_Settings.switchType = static_cast<std::uint32_t>(type);
    m_Enabled[kIdcPassword] = type != 0;
}

bool ConnEnvDialogModel::OnOK(const ConnEnvSettings& fields) {
    if (m_bRunning)
        return false;
    ConnEnvSettings settings = fields;
    // Carried through unchanged; the dialog has no control for it.
    settings.debugType = m_Settings.debugType;
    settings.connType = m_Settings.connType;
    settings.switchType = m_Settings.switchType;
    if (settings.portNo.size() > kPortChars)
        settings.portNo.resize(kPortChars);
    if (settings.listenPortNo.size() > kPortChars)
        settings.listenPortNo.resize(kPortChars);
    if (settings.sysInfoPassword.size() > kPasswordChars)
        settings.sysInfoPassword.resize(kPasswordChars);
    switch (SaveConnEnv(settings, m_errorBox)) {
    case ConnEnvSaveResult::Saved:
        m_Settings = settings;
        return true;
    case ConnEnvSaveResult::KeyNotCreated:
        m_prompts.Box(kBoxSaveFailed);
        return false;
    case ConnEnvSaveResult::BadSwitchPort:
        m_prompts.Box(kBoxBadSwitchPort);
        return false;
    case ConnEnvSaveResult::BadListenPort:
        m_prompts.Box(kBoxBadListenPort);
        return false;
    case ConnEnvSaveResult::WriteFailed:
        m_prompts.Box(kBoxSaveFailed);
        return false;
    }
    return false;
}

} // namespace shell
