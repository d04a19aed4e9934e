#include "OrbManagerServer.h"
#include "RegistryConfig.h"

#include <engine/OrbManagerTracer.h>
#include <engine/TraceLog.h>

#include <platform/SocketInit.h>

#include <memory>
#include <optional>
#include <string>

namespace shell {

using namespace engine;

namespace {

constexpr int kIdsStopped = 102;
constexpr int kIdsListsReady = 105;
constexpr int kIdsSocketsFailed = 131;
constexpr int kIdsTimeColumn = 132;
constexpr int kIdsTextColumn = 133;
constexpr int kIdsListenPortMissing = 175;
constexpr int kIdsConnTypeSim = 126;
constexpr int kIdsConnTypeDirect = 127;
constexpr int kIdsConnTypeTcp = 128;

} // namespace

void OrbManagerServer::StartTracer() {
    auto started = std::make_shared<TracerStartedEvent>();
    auto tracer = std::make_unique<COrbManagerTracer>();
    tracer->SetStartedEvent(started);
    if (tracer->CreateThread() && started->Wait(m_shellTimings.tracerReadyWaitMs)) {
        m_pTracer = std::move(tracer);
        return;
    }
    TraceLog("[ERROR] Failed to initialize the Veltrane Link V3 Message Tracer.");
    COrbManagerTracer::Abandon(std::move(tracer));
}

bool OrbManagerServer::OnInitDialog() {
    const ShowMessageBox box = [this](int id) { ShowBox(id); };
    // A stop asked for while a box of the start-up is open waits for the start-up to end.
    std::optional<TransitionScope> startUp(std::in_place, *this);

    ShowSplash();
    AddAboutMenu();

    m_strInstallPath = ReadInstallPath(box);
    DetectOSVersion();
    LoadOptionValues(*this, box);

    StartTracer();

    TraceLog("Veltrane Link Started...");
    ShowStatus(kIdsStopped);
    if (m_pView)
        m_pView->SetClientCountText(std::to_string(m_nClientCount.load()));
    EnableControl(kIdcUserManager, false);

    LoadStoredUsers();

    if (ReadListenPort(*this, box) == 0)
        LogRes(0, kIdsListenPortMissing, true);

    SetupClientListColumns();
    SetupLogListColumns();
    LogRes(0, kIdsListsReady, true);

    m_nConnType = ReadConnType(box);
    ShowConnTypeText(m_nConnType.load());
    m_nSwitchType = ReadSwitchType(box);

    m_bSocketsReady = platform::InitSockets() ? 1 : 0;
    if (m_bSocketsReady == 0) {
        ShowBox(kIdsSocketsFailed);
        LogRes(1, kIdsSocketsFailed, false);
        TraceLog("[ERROR] Socket Initialization Failed. Cannot run this program!!!");
        EnableControl(kIdcStartStop, false);
    }

    CreateLogoControl();
    ApplyMonitorOptions();
    WriteSystemReport();
    startUp.reset();

    // Without a window nobody could press the button, so the service always starts the link. A
    // stop or a press of the button during the start-up comes first.
    if (m_bPendingOrderlyStop || m_bPendingStartStop)
        return true;
    if (m_bUseAutoConnect.load() == 1 || m_bHeadless)
        OnStartStop();
    return true;
}

void OrbManagerServer::SetupClientListColumns() {
    if (m_pView)
        m_pView->SetupClientList(ClientListTitles());
}

void OrbManagerServer::SetupLogListColumns() {
    if (m_pView)
        m_pView->SetupLogList(ResString(kIdsTimeColumn), ResString(kIdsTextColumn));
}

void OrbManagerServer::ShowConnTypeText(int connType) {
    int id = kIdsConnTypeSim;
    if (connType == kConnTypeDirectSerial)
        id = kIdsConnTypeDirect;
    else if (connType == kConnTypeTcp)
        id = kIdsConnTypeTcp;
    if (m_pView)
        m_pView->SetConnTypeText(ResString(id));
}

} // namespace shell
