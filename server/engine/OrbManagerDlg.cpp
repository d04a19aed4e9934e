#include "OrbManagerDlg.h"

#include "LinkState.h"
#include "TraceSettings.h"

#include <platform/UiThread.h>

namespace engine {

COrbManagerDlg::COrbManagerDlg() : m_hooks(std::make_shared<HookSlot>()) {
    g_nTraceLevel = 2;
    g_nMaxLogFileSizeMB = 5;
    g_nLogFileCount = 30;
    g_nDebugMsgPrint = 2;
    ResetLinkState();
}

COrbManagerDlg::~COrbManagerDlg() {
    SetShellHooks(nullptr);
}

void COrbManagerDlg::SetShellHooks(ShellHooks* hooks) {
    platform::LockGuard guard(m_hooks->lock);
    m_hooks->hooks = hooks;
    ++m_hooks->generation;
}

template <typename Call> void COrbManagerDlg::ToUi(Call call) {
    std::shared_ptr<HookSlot> slot = m_hooks;
    unsigned generation;
    {
        platform::LockGuard guard(slot->lock);
        if (slot->hooks == nullptr)
            return;
        generation = slot->generation;
    }
    auto run = [slot, generation, call]() {
        ShellHooks* hooks;
        {
            platform::LockGuard guard(slot->lock);
            if (slot->generation != generation || slot->hooks == nullptr)
                return;
            hooks = slot->hooks;
        }
        call(*hooks);
    };
    if (platform::IsUiThread())
        run();
    else
        platform::PostToUiThread(run);
}

void COrbManagerDlg::AddLogLine(int image, const std::string& text) {
    ToUi([image, text](ShellHooks& hooks) { hooks.AppendLogLine(image, text); });
}

void COrbManagerDlg::RefreshClientList() {
    ToUi([](ShellHooks& hooks) { hooks.RefreshClientList(); });
}

void COrbManagerDlg::PurgeDeadClients() {
    ToUi([](ShellHooks& hooks) { hooks.PurgeDeadClients(); });
}

void COrbManagerDlg::PlayLogoAnimation() {
    ToUi([](ShellHooks& hooks) { hooks.PlayLogoAnimation(); });
}

void COrbManagerDlg::NotifyClientsChanged() {
    ToUi([](ShellHooks& hooks) { hooks.ClientsChanged(); });
}

void COrbManagerDlg::ShowStatusText(int id) {
    ToUi([text = ResString(id)](ShellHooks& hooks) { hooks.ShowStatusText(text); });
}

void COrbManagerDlg::SetResourceLookup(std::function<std::string(int)> lookup) {
    m_resourceLookup = std::move(lookup);
}

std::string COrbManagerDlg::ResString(int id) const {
    return m_resourceLookup ? m_resourceLookup(id) : std::string();
}

} // namespace engine
