#include "OrbManagerServer.h"

#include "DialogHost.h"
#include "ShellDialogs.h"
#include "SystemInfoReport.h"
#include "WaitDialogModel.h"

#include <engine/LinkState.h>
#include <engine/OrbManagerTracer.h>
#include <engine/TraceLog.h>

#include <QMetaObject>

#include <string_view>

namespace shell {

using namespace engine;

OrbManagerServer::OrbManagerServer(ShellTimings timings)
    : m_shellTimings(timings), m_pDialogs(std::make_unique<ShellDialogs>(*this)) {
    const std::pair<QTimer*, int> timers[] = {{&m_secondTimer, kSecondTimer},
                                              {&m_livenessTimer, kLivenessTimer},
                                              {&m_firCheckTimer, kFirCheckTimer},
                                              {&m_recoveryTimer, kRecoveryTimer}};
    for (const auto& [timer, id] : timers)
        connect(timer, &QTimer::timeout, this, [this, id = id] { OnTimer(id); });
    SetShellHooks(&m_shellHooks);
}

OrbManagerServer::~OrbManagerServer() {
    SetShellHooks(nullptr);
    // The window may be gone already; nothing below may reach it.
    m_pView = nullptr;
    m_pActiveWait = nullptr;
    KillAllTimers();
    if (m_bLinkRunning.load() != 0 || m_pIOQueue != nullptr || m_pDeviceTable != nullptr ||
        m_pServiceController != nullptr || m_pEventHandler != nullptr ||
        m_pClientManager != nullptr || m_pBypassClientManager != nullptr ||
        m_pSerialPort != nullptr || g_pSwitchSocket.load() != nullptr) {
        StopLink(StopKind::Shutdown);
    }
    StopMonitorListeners();
    StopTracer();
}

void OrbManagerServer::SetView(MainView* view) {
    m_pView = view;
}

void OrbManagerServer::SetDialogHost(DialogHost* host) {
    m_pDialogs->SetHost(host);
}

void OrbManagerServer::OnButton(int id) {
    if (m_bEnded)
        return;
    const ModalScope action(*this);
    switch (id) {
    case kIdcStartStop:
        OnStartStop();
        break;
    case kIdcConnEnv:
        m_pDialogs->OnConnEnv();
        break;
    case kIdcUserList:
        m_pDialogs->OnUserList();
        break;
    case kIdcUserManager:
        m_pDialogs->OnDeviceMap();
        break;
    case kIdcOptions:
        m_pDialogs->OnOptions();
        break;
    case kIdcConnectedUsers:
        m_pDialogs->OnConnectedUsers();
        break;
    default:
        break;
    }
}

// --- transitions ---

OrbManagerServer::TransitionScope::TransitionScope(OrbManagerServer& server) : m_server(server) {
    ++m_server.m_nTransitionDepth;
}

OrbManagerServer::TransitionScope::~TransitionScope() {
    if (--m_server.m_nTransitionDepth == 0)
        m_server.SchedulePending();
}

OrbManagerServer::ModalScope::ModalScope(OrbManagerServer& server) : m_server(server) {
    ++m_server.m_nModalDepth;
}

OrbManagerServer::ModalScope::~ModalScope() {
    if (--m_server.m_nModalDepth == 0)
        m_server.SchedulePending();
}

void OrbManagerServer::SchedulePending() {
    if (m_bPendingScheduled)
        return;
    if (!m_bPendingStartStop && !m_bPendingOrderlyStop && !m_bPendingTimer1 && !m_bPendingTimer8 &&
        !m_bPendingTimer99)
        return;
    m_bPendingScheduled = true;
    // Run from the event loop, not from inside the handler that has just ended its transition.
    QMetaObject::invokeMethod(
        this, [this] { RunPending(); }, Qt::QueuedConnection);
}

void OrbManagerServer::RunPending() {
    m_bPendingScheduled = false;
    if (IsInTransition() || (m_bPendingOrderlyStop && m_nModalDepth > 0)) {
        // A new transition or box began before this ran; it schedules again when it is over.
        return;
    }
    if (m_bEnded) {
        m_bPendingOrderlyStop = m_bPendingStartStop = false;
        m_bPendingTimer1 = m_bPendingTimer8 = m_bPendingTimer99 = false;
        return;
    }
    if (m_bPendingOrderlyStop) {
        m_bPendingOrderlyStop = m_bPendingStartStop = false;
        m_bPendingTimer1 = m_bPendingTimer8 = m_bPendingTimer99 = false;
        RequestOrderlyStop();
        return;
    }
    if (m_bPendingStartStop) {
        m_bPendingStartStop = false;
        // The ticks held back belong to the link that the button now changes.
        m_bPendingTimer1 = m_bPendingTimer8 = m_bPendingTimer99 = false;
        OnStartStop();
        return;
    }
    // A tick of a timer that the transition killed means nothing any more. Each of these may
    // start a transition of its own, which holds back the rest again.
    const std::pair<bool*, int> ticks[] = {{&m_bPendingTimer1, kSecondTimer},
                                           {&m_bPendingTimer8, kLivenessTimer},
                                           {&m_bPendingTimer99, kRecoveryTimer}};
    for (const auto& [pending, id] : ticks) {
        if (!*pending)
            continue;
        *pending = false;
        if (IsTimerRunning(id))
            OnTimer(id);
        if (IsInTransition() || m_bEnded)
            return;
    }
}

// --- view helpers ---

void OrbManagerServer::ShowStatus(int id) {
    SetStatusLine(ResString(id));
}

void OrbManagerServer::ShowBox(int id) {
    ShowBox(id, std::string());
}

void OrbManagerServer::ShowBox(int id, const std::string& detail) {
    const std::string text = detail.empty() ? ResString(id) : ResString(id) + "\n\n" + detail;
    // Once the server is ending, a box would hold the stop up until someone pressed OK.
    if (m_pView && !m_bEnded) {
        const ModalScope open(*this);
        m_pView->ShowMessageBox(id, text);
    } else
        TraceLog("[USER] %s", text.c_str());
}

bool OrbManagerServer::Ask(int id, bool cancelIsDefault) {
    const std::string text = ResString(id);
    if (!m_pView) {
        // Nobody to ask: nothing is done on a question nobody answered.
        TraceLog("[USER] %s", text.c_str());
        return false;
    }
    const ModalScope open(*this);
    return m_pView->AskOkCancel(id, text, cancelIsDefault);
}

void OrbManagerServer::SetWaitCursor(bool on) {
    if (m_pView)
        m_pView->SetWaitCursor(on);
}

void OrbManagerServer::EnableControl(int id, bool enabled) {
    if (m_pView)
        m_pView->EnableControl(id, enabled);
}

void OrbManagerServer::LogRes(int image, int id, bool trace) {
    LogText(image, ResString(id), trace);
}

void OrbManagerServer::LogText(int image, const std::string& text, bool trace) {
    AppendLogLine(image, text);
    if (trace)
        TraceLog("%s", text.c_str());
}

void OrbManagerServer::SetStatusLine(const std::string& text) {
    if (m_pView)
        m_pView->SetStatusText(text);
}

std::string OrbManagerServer::FormatWithNumber(const std::string& format, long long value) {
    std::string out;
    out.reserve(format.size() + 20);
    bool filled = false;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        if (format[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // One conversion of the integer kinds takes the number: flags, width, length, d/i/u.
        std::size_t j = i + 1;
        while (j < format.size() && std::string_view("-+ #0").find(format[j]) != std::string::npos)
            ++j;
        while (j < format.size() && format[j] >= '0' && format[j] <= '9')
            ++j;
        while (j < format.size() && (format[j] == 'l' || format[j] == 'h'))
            ++j;
        if (!filled && j < format.size() &&
            (format[j] == 'd' || format[j] == 'i' || format[j] == 'u')) {
            // Flags and width are dropped: the number is written as it is.
            out += std::to_string(value);
            filled = true;
            i = j;
            continue;
        }
        // Anything else stays as it is written.
        out += format[i];
    }
    return out;
}

// --- through the dialogs object ---

void OrbManagerServer::ShowSplash() {
    m_pDialogs->ShowSplash();
}
// The about dialog is the window's own; it has no system menu to add it to.
void OrbManagerServer::AddAboutMenu() {}
void OrbManagerServer::DetectOSVersion() {
    shell::DetectOSVersion(*this);
}
void OrbManagerServer::LoadStoredUsers() {
    m_pDialogs->LoadStoredUsers();
}
void OrbManagerServer::CreateLogoControl() {
    m_pDialogs->CreateLogo();
}
void OrbManagerServer::ApplyMonitorOptions() {
    m_pDialogs->ApplyMonitorOptions();
}
void OrbManagerServer::AnimateLogo() {
    m_pDialogs->PlayLogo(true);
}
void OrbManagerServer::StopLogoAnimation() {
    m_pDialogs->PlayLogo(false);
}
void OrbManagerServer::WriteSystemReport() {
    m_pDialogs->WriteSystemReport();
}

} // namespace shell
