#include "OrbSWServiceController.h"

#include "LinkState.h"
#include "OrbIOQueue.h"
#include "OrbManagerDlg.h"
#include "SerialPort.h"
#include "SwitchDeviceTable.h"
#include "TraceLog.h"

#include <protocol/SwitchCommand.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace engine {

namespace {

// Resource strings of the language library used here.
constexpr int kIdsLinkLost = 210;
constexpr int kIdsLinkLostRecovery = 211;
constexpr int kIdsLinkBackAfterRestarts = 215;
constexpr int kIdsLinkUp = 103;

// The switch's prompt of the scripted start; only its length is checked.
constexpr const char kSwitchPrompt[] = "QMXData>";
constexpr const char kCtiCommand[] = "CTI\r";
constexpr const char kCtiEcho[] = "CTI";

// The first device the server's own status query names; empty when there is none.
std::string FirstQueryDeviceId(SwitchDeviceTable* table) {
    if (table == nullptr)
        return std::string();
    LineDeviceList& devices = table->GetDevices();
    platform::CriticalSectionLock guard(devices.Lock());
    const LineDeviceEntry* entry = devices.FindFirstQueryDevice();
    return entry ? entry->m_strDeviceId : std::string();
}

void Queue(COrbIOQueue* queue, const protocol::SwitchCommand& command) {
    if (queue != nullptr)
        queue->IOQueueWrite(command.Body().data(), static_cast<int>(command.Length()));
}

} // namespace

COrbSWServiceController::COrbSWServiceController(COrbManagerDlg* owner) : m_pOwner(owner) {}

COrbSWServiceController::~COrbSWServiceController() {
    Stop();
    Join();
}

int COrbSWServiceController::Start() {
    // Up before the thread runs, so an early end of the thread is not overwritten.
    m_bRunning = 1;
    m_bAlive = 1;
    if (!m_Thread.Start([this](platform::Event&) { return SupervisionLoop(); })) {
        m_bRunning = 0;
        m_bAlive = 0;
        return 0;
    }
    return 1;
}

int COrbSWServiceController::Stop() {
    m_bRunning = 0;
    m_Thread.RequestStop();
    return 1;
}

void COrbSWServiceController::Join() {
    m_Thread.Join();
}

bool COrbSWServiceController::Join(int timeoutMs) {
    return m_Thread.Join(timeoutMs);
}

bool COrbSWServiceController::StopRequested() {
    return m_Thread.StopRequested();
}

bool COrbSWServiceController::Pause(int milliseconds) {
    return m_Thread.StopEvent().Wait(milliseconds) == platform::Event::WaitResult::TimedOut;
}

void COrbSWServiceController::LinkLost() {
    for (const int id : {kIdsLinkLost, kIdsLinkLostRecovery}) {
        const std::string text = m_pOwner->ResString(id);
        m_pOwner->AddLogLine(1, text);
        TraceLog("%s", text.c_str());
    }
    g_bSwitchLinkUp = 0;
    End();
}

void COrbSWServiceController::End() {
    m_bAlive = 0;
    m_bRunning = 0;
}

int COrbSWServiceController::SupervisionLoop() {
    TraceLog("Switch Service Controller : Started!!!");
    const protocol::KeepAlivePollCommand poll(0);
    platform::Event& stop = m_Thread.StopEvent();
    // Once up, a link this thread finds down has failed, whether or not the failure has been
    // announced yet: bringing it up again would open a second connection beside the failing one.
    bool broughtUp = false;

    while (m_bRunning.load() == 1 && !StopRequested()) {
        // Read once: a link that goes down between two reads would be taken for one not up yet.
        const bool up = g_bSwitchLinkUp.load() == 1;
        if (!up && broughtUp) {
            LinkLost();
            return 0;
        }
        if (up) {
            const int signaled = platform::Event::WaitAny({&stop, &g_hLinkFailureEvent},
                                                          m_pOwner->m_timings.keepAliveIntervalMs);
            if (signaled == 0) {
                TraceLog("Terminating Switch Service Controller!!!");
                g_bSwitchLinkUp = 0;
                End();
                return 0;
            }
            if (signaled == 1) {
                LinkLost();
                return 0;
            }
            if (g_bSwitchLinkUp.load() != 1 || g_bDeviceListAvailable.load() != 1 ||
                m_bRunning.load() != 1)
                continue;
            if (m_pOwner->m_nRetryCount.load() > 0) {
                m_pOwner->m_nRetryCount = 0;
                const std::string text = m_pOwner->ResString(kIdsLinkBackAfterRestarts);
                m_pOwner->AddLogLine(0, text);
                TraceLog("%s", text.c_str());
                m_pOwner->ShowStatusText(kIdsLinkUp);
                m_pOwner->PlayLogoAnimation();
            }
            COrbIOQueue* queue = m_pOwner->m_pIOQueue;
            Queue(queue, poll);
            m_pOwner->PurgeDeadClients();
            if (m_pOwner->m_nConnType.load() == kConnTypeTcp) {
                const std::string device = FirstQueryDeviceId(m_pOwner->m_pDeviceTable);
                if (!device.empty())
                    Queue(queue, protocol::DeviceQueryCommand(
                                     0, device, protocol::DeviceQueryCommand::kServerSubLetter));
            }
            continue;
        }

        COrbIOQueue* queue = m_pOwner->m_pIOQueue;
        if (queue != nullptr && queue->HasSanityThread()) {
            queue->IOQueueStopSanity();
            queue->IOQueueReset();
        }
        if (!InitializeSW()) {
            if (StopRequested())
                break;
            m_pOwner->m_bRestartRequest = 1;
            End();
            return 0;
        }
        if (!BringLinkUp(m_pOwner->m_nConnType.load()))
            break;
        broughtUp = true;
    }

    TraceLog("Terminating the Switch Service Controller!!!");
    End();
    return 0;
}

bool COrbSWServiceController::BringLinkUp(int connType) {
    COrbIOQueue* queue = m_pOwner->m_pIOQueue;
    // Emptied before the link is marked up: a reset after it would drop what the switch sends
    // first, and the link clear request queued below.
    if (connType != kConnTypeTcp) {
        if (SerialPort* port = m_pOwner->m_pSerialPort) {
            PurgeRx(*port);
            PurgeTx(*port);
        }
        if (!Pause(m_pOwner->m_timings.serialSettleMs))
            return false;
        if (SerialPort* port = m_pOwner->m_pSerialPort) {
            port->ApplyTimeouts();
            port->SetEventMask(kEvRxFlag | kEvBreak | kEvErr);
        }
    }
    if (queue != nullptr)
        queue->IOQueueReset();
    g_bSwitchLinkUp = 1;
    g_hLinkAvailableEvent.Set();

    if (connType == kConnTypeDirectSerial) {
        TraceLog("Clearing the previous Link Information. Please, Wait...");
        if (queue != nullptr)
            queue->IOQueueWrite(protocol::LinkClearRequest::kSerial.data(),
                                static_cast<int>(protocol::LinkClearRequest::kSerial.size()));
        if (!Pause(m_pOwner->m_timings.linkClearWaitMs))
            return false;
    }

    const protocol::IAmAliveCommand alive;
    TraceLog("Sending I Am Alive Command to Switch!!!");
    Queue(queue, alive);
    if (queue != nullptr)
        queue->IOQueueStartSanity();
    return true;
}

int COrbSWServiceController::InitializeSW() {
    TraceLog("Initializing the Switch Connection for CTI Link!!!");
    const int connType = m_pOwner->m_nConnType.load();
    switch (connType) {
    case kConnTypeTcp:
        if (g_pSwitchSocket.load() == nullptr) {
            TraceLog("InitializeSW() --> Socket Handler is NULL!!!");
            if (!m_pOwner->OpenConnection()) {
                TraceLog("[ERROR] InitializeSW() --> Fail to make the new connection handle!!!");
                return 0;
            }
        }
        return 1;
    case kConnTypeSim:
    case kConnTypeDirectSerial:
        return InitializeSerial(connType);
    default:
        TraceLog("[ERROR] Unknown Link Type!!!");
        return 0;
    }
}

int COrbSWServiceController::InitializeSerial(int connType) {
    SerialPort* port = m_pOwner->m_pSerialPort;
    if (port != nullptr) {
        port->DropDtr();
    } else {
        TraceLog("InitializeSW() --> COM Port Handle is NULL!!!");
        if (!m_pOwner->OpenConnection() || (port = m_pOwner->m_pSerialPort) == nullptr) {
            TraceLog("[ERROR] InitializeSW() --> Fail to make the new connection handle!!!");
            return 0;
        }
        PurgeRx(*port);
        PurgeTx(*port);
        port->DropDtr();
    }
    port->RaiseDtr();

    // The direct cable's link clear request follows once the link is marked up (BringLinkUp).
    if (connType == kConnTypeDirectSerial) {
        TraceLog("Link Initialization Success!!!");
        return 1;
    }

    const LinkTimings& timings = m_pOwner->m_timings;
    TraceLog("Clearing the previous Link Information. Please, Wait...");
    const std::uint8_t clear[] = {0x02, 0x19, 0x05};
    port->WriteBlock(clear, static_cast<int>(sizeof clear));
    if (!Pause(timings.linkClearWaitMs))
        return 0;

    TraceLog("Sending the Initial Setup Command to Switch!!!");
    port->WriteByte('A');
    if (!Pause(timings.dialoguePauseMs))
        return 0;
    port->WriteByte('T');
    if (!Pause(timings.dialogueLongPauseMs))
        return 0;
    port->WriteByte(0x0D);

    platform::Event& stop = m_Thread.StopEvent();
    std::string reply;
    if (!port->ReadBlock(static_cast<int>(std::strlen(kSwitchPrompt)), reply, &stop)) {
        if (!StopRequested())
            TraceLog("[ERROR] Unable to get Response from the Switch!!!");
        return 0;
    }
    TraceLog("Received the Response [QMXData>]!!!");

    port->WriteBlock(reinterpret_cast<const std::uint8_t*>(kCtiCommand),
                     static_cast<int>(std::strlen(kCtiCommand)));
    TraceLog("Waiting for CTI Echo!!!");
    std::string echo;
    if (!port->ReadBlock(static_cast<int>(std::strlen(kCtiEcho)), echo, &stop)) {
        if (!StopRequested())
            TraceLog("[ERROR] Unable to receive CTI Echo!!!");
        return 0;
    }
    TraceLog("Link Initialization Success!!!");
    return 1;
}

void COrbSWServiceController::PurgeRx(SerialPort& port) {
    if (!port.Purge(kPurgeRx)) {
        const int error = errno;
        TraceLog("[ERROR] COM Port RX Buffer Clearing Failure. Error Code [%lu : %s]!!!",
                 static_cast<unsigned long>(error), SystemErrorText(error).c_str());
    }
}

void COrbSWServiceController::PurgeTx(SerialPort& port) {
    if (!port.Purge(kPurgeTx)) {
        const int error = errno;
        TraceLog("[ERROR] COM Port TX Buffer Clearing Failure. Error Code [%lu : %s]!!!",
                 static_cast<unsigned long>(error), SystemErrorText(error).c_str());
    }
}

int COrbSWServiceController::SendFirStartRequest() {
    COrbIOQueue* queue = m_pOwner->m_pIOQueue;
    if (queue == nullptr)
        return 0;
    const protocol::FirStartRequestCommand request(1, "201", m_pOwner->m_strSysInfoPassword);
    TraceLog("Sending Fir Start Request Command to Switch!!!");
    Queue(queue, request);
    return 1;
}

int COrbSWServiceController::SendFirLinkCheck() {
    COrbIOQueue* queue = m_pOwner->m_pIOQueue;
    if (queue == nullptr)
        return 0;
    Queue(queue, protocol::FirLinkCheckCommand(0, "201"));
    return 1;
}

} // namespace engine
