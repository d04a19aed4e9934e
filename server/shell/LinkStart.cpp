#include "HeadlessView.h"
#include "OrbManagerServer.h"
#include "WaitDialogModel.h"

#include <engine/LinkState.h>
#include <engine/OrbClientConnectionManager.h>
#include <engine/OrbIOQueue.h>
#include <engine/OrbSWEventHandler.h>
#include <engine/OrbSWServiceController.h>
#include <engine/SwitchDeviceTable.h>
#include <engine/TraceLog.h>

#include <protocol/SwitchCommand.h>

#include <string>
#include <utility>

namespace shell {

using namespace engine;

namespace {

// Resource strings of the language library used by the start.
constexpr int kIdsStop = 108;
constexpr int kIdsStarting = 104;
constexpr int kIdsRunning = 103;
constexpr int kIdsStartFailed = 142;
constexpr int kIdsAskStart = 168;
constexpr int kIdsLinkStarting = 138;
constexpr int kIdsWaitingForDownload = 140;
constexpr int kIdsDownloadDone = 141;
constexpr int kIdsNoDeviceList = 143;
constexpr int kIdsClientPortsOpen = 179;
constexpr int kIdsStartComplete = 180;
constexpr int kIdsClientPortsFailed = 207;
constexpr int kIdsRestartCount = 212;
constexpr int kIdsRecoveryArmed = 315;

const char* TrueFalse(int flag) {
    return flag == 1 ? "TRUE" : "FALSE";
}

} // namespace

void OrbManagerServer::OnStartStop() {
    if (m_bEnded)
        return;
    if (IsInTransition()) {
        m_bPendingStartStop = true;
        return;
    }
    if (m_bLinkRunning.load() != 0)
        StopLink(StopKind::Button);
    else
        StartLink(StartKind::Button);
}

void OrbManagerServer::SwitchLinkControl(int mode) {
    if (m_bEnded)
        return;
    if (mode == 0)
        StopLink(StopKind::Control);
    else
        StartLink(StartKind::Control);
}

void OrbManagerServer::CopyDeviceCounters() {
    SwitchDeviceTable* table = m_pDeviceTable;
    if (table == nullptr)
        return;
    const auto counters = table->GetCounters();
    for (std::size_t i = 0; i < counters.size() && i < m_nDeviceCountByType.size(); ++i)
        m_nDeviceCountByType[i] = counters[i];
    m_nDownLoadedDeviceCount = table->GetTotal();
}

void OrbManagerServer::ArmRecovery() {
    if (IsTimerRunning(kRecoveryTimer))
        return;
    TraceLog("Veltrane Link's Auto Recovery Routine is activated");
    StartTimer(kRecoveryTimer, m_nAutoRecoverTimePeriod.load() * m_shellTimings.recoveryMinuteMs);
}

void OrbManagerServer::FailedStart(StartKind kind, bool transportOpened) {
    StopLogoAnimation();
    const char* line = kind == StartKind::Button
                           ? "[ERROR] Initialization Failed : g_bDeviceListAvailable : %s, "
                             "m_nDownLoadedDeviceCount : %d"
                           : "Initialization Failed : g_bDeviceListAvailable : %s, "
                             "m_nDownLoadedDeviceCount : %d";
    TraceLog(line, TrueFalse(g_bDeviceListAvailable.load()), m_nDownLoadedDeviceCount.load());
    ShowStatus(kIdsStartFailed);
    if (kind == StartKind::Button && transportOpened) {
        LogRes(0, kIdsNoDeviceList, true);
    } else {
        LogText(0, FormatWithNumber(ResString(kIdsRecoveryArmed), m_nAutoRecoverTimePeriod.load()),
                true);
        ArmRecovery();
    }
    SetWaitCursor(false);
}

void OrbManagerServer::RunWait(WaitDialogModel& model) {
    m_pActiveWait = &model;
    if (m_bPendingOrderlyStop)
        model.Abort();
    if (m_pView)
        m_pView->RunWaitDialog(model, m_shellTimings.waitTickMs);
    else
        HeadlessView::RunWaitLoop(model, m_shellTimings.waitTickMs);
    m_pActiveWait = nullptr;
}

void OrbManagerServer::WaitForSetupToolAnswer() {
    COrbSWServiceController* controller = m_pServiceController;
    if (controller == nullptr || m_bPendingOrderlyStop)
        return;
    g_hFirLinkCheckEvent.Reset();
    controller->SendFirStartRequest();
    // The event handler thread sets the event; nothing on this thread has to run meanwhile.
    if (g_hFirLinkCheckEvent.Wait(m_shellTimings.firStartWaitMs) ==
            platform::Event::WaitResult::Signaled &&
        m_nFirCheckInterval.load() > 0)
        StartTimer(kFirCheckTimer, m_nFirCheckInterval.load() * m_shellTimings.firCheckSecondMs);
}

bool OrbManagerServer::OpenClientPorts(StartKind kind) {
    const bool trace = kind == StartKind::Button;
    m_pClientManager = new COrbClientConnectionManager(this);
    m_pBypassClientManager = new COrbClientConnectionManager(this);
    const bool listening =
        m_pClientManager->StartClientListen(m_nListenPort.load(),
                                            COrbClientConnectionManager::kClientPort) == 1 &&
        m_pBypassClientManager->StartClientListen(m_nBypassListenPort.load(),
                                                  COrbClientConnectionManager::kBypassPort) == 1;
    if (listening)
        return true;
    LogRes(1, kIdsClientPortsFailed, trace);
    // Neither port may take clients on a start that has failed: a port that did open is closed.
    for (COrbClientConnectionManager** manager : {&m_pClientManager, &m_pBypassClientManager}) {
        (*manager)->CloseAllClients();
        m_RetiredClientManagers.push_back(std::exchange(*manager, nullptr));
    }
    return false;
}

void OrbManagerServer::StartLink(StartKind kind) {
    TransitionScope transition(*this);
    const bool byButton = kind == StartKind::Button;

    if (byButton) {
        WriteSystemReport();
        m_bStartResult = 1;
        if (m_bUseAutoConnect.load() == 0 && !m_bHeadless && !Ask(kIdsAskStart, false))
            return;
        StartTimer(kLivenessTimer, m_shellTimings.livenessTimerMs);
        StartMonitorListeners();
    } else {
        StartTimer(kLivenessTimer, m_shellTimings.livenessTimerMs);
        TraceLog("Veltrane Link's Auto Recovery Routine is deactivated.[NEWCONN MODE]");
        const std::string text = ResString(kIdsRestartCount);
        const int count = m_nRetryCount.load();
        LogText(0,
                m_nExtension.load() == 0 ? std::to_string(count) + " " + text
                                         : text + " [" + std::to_string(count) + "]",
                false);
        WriteSystemReport();
        m_bStartResult = 1;
        StartMonitorListeners();
    }

    LogRes(0, kIdsLinkStarting, byButton);
    m_bLinkRunning = 1;
    SetWaitCursor(true);
    if (m_pView)
        m_pView->SetStartStopText(ResString(kIdsStop));
    ShowStatus(kIdsStarting);
    TraceLog("Starting the Each Handler!!!");

    m_bStartResult = OpenConnection();
    if (m_bStartResult.load() == 0) {
        FailedStart(kind, false);
        return;
    }

    // Cleared before the link's threads run, not after the wait: a request they make during the
    // wait is this link's failure and is carried out below.
    m_bRestartRequest = 0;
    m_pDeviceTable = new SwitchDeviceTable(this);
    TraceLog("Starting the Line Handler!!!");
    m_pIOQueue = new COrbIOQueue(this);
    m_pIOQueue->IOQueueStartThreads();
    TraceLog("Starting the IOQueue Handler!!!");
    m_pServiceController = new COrbSWServiceController(this);
    if (m_pServiceController->Start() != 1)
        TraceLog("[ERROR] The Service Controller Thread can't be started!!!");
    TraceLog("Starting the Service Controller Handler!!!");
    m_pEventHandler = new COrbSWEventHandler(this);
    if (m_pEventHandler->Start() != 1)
        TraceLog("[ERROR] The Event Handler Thread can't be started!!!");
    TraceLog("Starting the Event Handler!!!");

    LogRes(0, kIdsWaitingForDownload, true);
    {
        WaitDialogModel model(*this, [this] { return LinkThreadsAlive() == 1; });
        RunWait(model);
    }

    CopyDeviceCounters();
    if (m_nSwitchType.load() == 1 && LinkThreadsAlive() == 1)
        WaitForSetupToolAnswer();

    if (g_bDeviceListAvailable.load() == 1 && m_nDownLoadedDeviceCount.load() > 0) {
        LogRes(0, kIdsDownloadDone, byButton);
        if (m_nConnType.load() == kConnTypeTcp && m_pDeviceTable != nullptr) {
            std::string device;
            {
                LineDeviceList& devices = m_pDeviceTable->GetDevices();
                platform::CriticalSectionLock guard(devices.Lock());
                if (const LineDeviceEntry* entry = devices.FindFirstQueryDevice())
                    device = entry->m_strDeviceId;
            }
            if (!device.empty()) {
                const protocol::DeviceQueryCommand query(
                    0, device, protocol::DeviceQueryCommand::kServerSubLetter);
                m_pIOQueue->IOQueueWrite(query.Body().data(), static_cast<int>(query.Length()));
            }
        }
        if (OpenClientPorts(kind)) {
            LogRes(0, kIdsClientPortsOpen, byButton);
            EnableControl(kIdcUserManager, m_bUseUserManager.load() == 1);
            ShowStatus(kIdsRunning);
            StartTimer(kSecondTimer, m_shellTimings.secondTimerMs);
            SetWaitCursor(false);
            LogRes(0, kIdsStartComplete, byButton);
            AnimateLogo();
            if (kind == StartKind::Control && IsTimerRunning(kRecoveryTimer)) {
                KillTimer(kRecoveryTimer);
                TraceLog("Veltrane Link's Auto Recovery Routine is deactivated.[TIMER OFF MODE]");
            }
            ShowClientList();
            return;
        }
        m_bStartResult = 0;
    }
    FailedStart(kind, true);
    // The link failed during the start and asked to be started again: the second timer does so
    // as promptly as for a link that was up.
    if (m_bRestartRequest.load() == 1)
        StartTimer(kSecondTimer, m_shellTimings.secondTimerMs);
}

} // namespace shell
