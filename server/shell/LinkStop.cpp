#include "OrbManagerServer.h"

#include <engine/LinkState.h>
#include <engine/OrbClientConnectionManager.h>
#include <engine/OrbIOQueue.h>
#include <engine/OrbSWEventHandler.h>
#include <engine/OrbSWServiceController.h>
#include <engine/SwitchDeviceTable.h>
#include <engine/TraceLog.h>

namespace shell {

using namespace engine;

namespace {

// Resource strings of the language library used by the stop.
constexpr int kIdsStart = 107;
constexpr int kIdsStopped = 102;
constexpr int kIdsStopping = 144;
constexpr int kIdsAskStop = 137;
constexpr int kIdsLinkStopping = 150;
constexpr int kIdsLinkStopped = 145;

// How long a link thread may take to end before its object is given up rather than freed.
constexpr int kThreadJoinMs = COrbIOQueue::kJoinTimeoutMs;

} // namespace

void OrbManagerServer::StopLink(StopKind kind) {
    TransitionScope transition(*this);

    if (kind == StopKind::Button) {
        // Asked first: a Cancel leaves the link as it was, supervision included.
        if (m_bRestartRequest.load() == 0 && !m_bHeadless && !Ask(kIdsAskStop, true))
            return;
        KillTimer(kRecoveryTimer);
        KillTimer(kLivenessTimer);
        WriteSystemReport();
        m_nRetryCount = 0;
        m_bStartResult = 1;
    } else {
        KillTimer(kLivenessTimer);
        if (IsTimerRunning(kRecoveryTimer)) {
            KillTimer(kRecoveryTimer);
            if (kind == StopKind::Control)
                TraceLog("Veltrane Link's Auto Recovery Routine is deactivated.[DISCONN MODE]");
        }
        m_bStartResult = 1;
    }
    const bool trace = kind == StopKind::Button;

    StopLogoAnimation();
    m_bLinkRunning = 0;
    ShowStatus(kIdsStopping);
    LogRes(0, kIdsLinkStopping, trace);
    KillTimer(kSecondTimer);
    // Nothing is left for the setup-tool check to talk to; the next start that needs it arms it.
    KillTimer(kFirCheckTimer);
    SetWaitCursor(true);

    TearDownEngine();

    g_hDeviceDownloadDoneEvent.Reset();
    g_hLinkAvailableEvent.Reset();
    g_hLinkFailureEvent.Reset();
    g_hFirLinkCheckEvent.Reset();
    g_bDeviceListAvailable = 0;
    g_bSwitchLinkUp = 0;

    ShowClientList();
    for (auto& count : m_nDeviceCountByType)
        count = 0;
    m_nDownLoadedDeviceCount = 0;
    SetWaitCursor(false);

    if (m_pView) {
        m_pView->SetStartStopText(ResString(kIdsStart));
        m_pView->SetClientCountText("0");
    }
    ShowStatus(kIdsStopped);
    EnableControl(kIdcConnEnv, true);
    EnableControl(kIdcUserManager, false);
    LogRes(0, kIdsLinkStopped, trace);
}

void OrbManagerServer::TearDownEngine() {
    StopMonitorListeners();

    // Clients first: nothing may reach the switch or wait for an event from here on.
    if (m_pClientManager)
        m_pClientManager->CloseAllClients();
    if (m_pBypassClientManager)
        m_pBypassClientManager->CloseAllClients();

    // The close request leaves first; the transport goes once the controller (stopped and joined
    // inside) can no longer reopen it.
    SendLinkClose();
    DeleteLinkHandle();

    bool controllerEnded = true;
    if (m_pServiceController) {
        m_pServiceController->Stop();
        controllerEnded = m_pServiceController->Join(kThreadJoinMs);
    }
    // The handler blocks in the queue's read: it ends when the queue is closed.
    if (m_pEventHandler)
        m_pEventHandler->Stop();
    if (m_pIOQueue)
        m_pIOQueue->IOQueueClose();
    bool handlerEnded = true;
    if (m_pEventHandler)
        handlerEnded = m_pEventHandler->Join(kThreadJoinMs);
    bool queueEnded = true;
    if (m_pIOQueue)
        queueEnded = m_pIOQueue->JoinThreads(kThreadJoinMs);
    m_nFirCheckInterval = 0;

    // The event handler delivers through both managers' pointers, so they outlive its thread.
    const std::pair<COrbClientConnectionManager**, const char*> managers[] = {
        {&m_pClientManager, "Close the Client Connection Manager!!!"},
        {&m_pBypassClientManager, "Close the Bypass Client Connection Manager!!!"}};
    for (const auto& [manager, line] : managers) {
        if (*manager == nullptr)
            continue;
        if (handlerEnded)
            delete *manager;
        else
            TraceLog("[ERROR] The Event Handler Thread is still running. The Client Connection "
                     "Manager is released without deleting!!!");
        *manager = nullptr;
        TraceLog("%s", line);
    }

    if (handlerEnded) {
        for (COrbClientConnectionManager* manager : m_RetiredClientManagers)
            delete manager;
        m_RetiredClientManagers.clear();
    }

    if (m_pServiceController) {
        if (controllerEnded)
            delete m_pServiceController;
        else
            TraceLog("[ERROR] The Service Controller Thread is still running. Its handle is "
                     "released without deleting!!!");
        m_pServiceController = nullptr;
        TraceLog("Deleted Service Controller Handle!!!");
    }
    if (m_pEventHandler) {
        if (handlerEnded)
            delete m_pEventHandler;
        else
            TraceLog("[ERROR] The Event Handler Thread is still running. Its handle is released "
                     "without deleting!!!");
        m_pEventHandler = nullptr;
        TraceLog("Deleted EventHandler Handle !!!");
    }
    // Every link thread reads the queue and the table.
    const bool linkThreadsEnded = controllerEnded && handlerEnded && queueEnded;
    if (m_pIOQueue) {
        if (linkThreadsEnded)
            delete m_pIOQueue;
        else
            TraceLog("[ERROR] The Link Threads are still running. IOQueue Handle is released "
                     "without deleting!!!");
        m_pIOQueue = nullptr;
        TraceLog("Deleted IOQueue Handle!!!");
    }
    if (m_pDeviceTable) {
        {
            LineDeviceList& devices = m_pDeviceTable->GetDevices();
            platform::CriticalSectionLock guard(devices.Lock());
            devices.DeleteAll();
        }
        if (linkThreadsEnded)
            delete m_pDeviceTable;
        else
            TraceLog("[ERROR] The Link Threads are still running. LineHandler Handle is released "
                     "without deleting!!!");
        m_pDeviceTable = nullptr;
        TraceLog("Deleted LineHandler Handle!!!");
    }
}

} // namespace shell
