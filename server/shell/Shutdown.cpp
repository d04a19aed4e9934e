#include "OrbManagerServer.h"
#include "RegistryConfig.h"
#include "WaitDialogModel.h"

#include <engine/LinkState.h>
#include <engine/OrbManagerTracer.h>
#include <engine/TraceLog.h>

namespace shell {

using namespace engine;

namespace {

constexpr int kIdsAskEnd = 106;

} // namespace

void OrbManagerServer::StopTracer() {
    // Lines traced from here on reach only the debugger output.
    StopMessageTracer(m_pTracer);
}

void OrbManagerServer::EndServer(int result, bool clearRunCheck) {
    WriteSystemReport();
    KillAllTimers();
    if (m_bLinkRunning.load() != 0 || m_pIOQueue != nullptr || m_pDeviceTable != nullptr ||
        m_pSerialPort != nullptr || g_pSwitchSocket.load() != nullptr)
        StopLink(StopKind::Shutdown);
    // The monitor managers go with their listeners.
    StopMonitorListeners();
    {
        platform::CriticalSectionLock guard(m_UserList.Lock());
        m_UserList.DeleteAll();
    }
    TraceLog("Veltrane Link Terminated by User Request...");
    StopTracer();
    if (clearRunCheck && OsTypeCode <= 1)
        ClearRunCheck();
    m_bEnded = true;
    emit Ended(result);
}

bool OrbManagerServer::OnCloseServer() {
    if (m_bEnded)
        return true;
    if (m_bLinkRunning.load() != 0 && g_bDeviceListAvailable.load() == 1) {
        // The server goes on in the background.
        if (m_pView)
            m_pView->HideToBackground();
        return false;
    }
    if (IsInTransition())
        return false;
    if (!Ask(kIdsAskEnd, true))
        return false;
    if (IsInTransition() || m_bEnded)
        return m_bEnded;
    EndServer(kResultCancel, false);
    return true;
}

void OrbManagerServer::OnOK() {
    if (m_bEnded || IsInTransition())
        return;
    if (!Ask(kIdsAskEnd, true))
        return;
    if (IsInTransition() || m_bEnded)
        return;
    EndServer(kResultOk, true);
}

void OrbManagerServer::RequestOrderlyStop() {
    if (m_bEnded)
        return;
    if (IsInTransition() || m_nModalDepth > 0) {
        m_bPendingOrderlyStop = true;
        if (m_pActiveWait != nullptr)
            m_pActiveWait->Abort();
        return;
    }
    EndServer(kResultOk, true);
}

} // namespace shell
