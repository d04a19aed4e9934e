#include "OrbSWEventHandler.h"

#include "ClientSendPool.h"
#include "LinkState.h"
#include "MonitorFeed.h"
#include "OrbClientConnectionManager.h"
#include "OrbIOQueue.h"
#include "OrbManagerDlg.h"
#include "SwitchDeviceTable.h"
#include "SwitchEventRecord.h"
#include "TraceLog.h"

#include <protocol/CtiEvent.h>
#include <protocol/CtiRecord.h>
#include <protocol/MessageLetters.h>
#include <protocol/Supervision.h>

#include <optional>

#include <utility>

namespace engine {

using protocol::ByteView;
using protocol::CtiEvent;
using protocol::CtiRecord;

namespace {

// Parameter and sub-codes of the device-information answer ('i').
constexpr std::uint8_t kInfoFirLink = 9;
constexpr std::uint8_t kFirStartAnswer = 1;
constexpr std::uint8_t kFirCheckAnswer = 2;
constexpr std::uint8_t kFirResultOk = 0;
constexpr std::uint8_t kFirResultRefused = 5;
constexpr int kFirIntervalRefused = -1;
constexpr int kFirIntervalFailed = -2;

bool IsStoredType(std::uint8_t type) {
    switch (type) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 12:
    case 13:
        return true;
    default:
        return false;
    }
}

} // namespace

COrbSWEventHandler::COrbSWEventHandler(COrbManagerDlg* owner) : m_pOwner(owner) {
    // The link start makes the queue and the table before the handler.
    if (m_pOwner != nullptr) {
        m_pQueue = m_pOwner->m_pIOQueue;
        m_pTable = m_pOwner->m_pDeviceTable;
    }
}

COrbSWEventHandler::~COrbSWEventHandler() {
    // The table is not touched here: the link stop has emptied it through Stop already.
    m_bRunning = 0;
    m_Thread.RequestStop();
    Join();
}

int COrbSWEventHandler::Start() {
    if (m_pOwner != nullptr) {
        m_pQueue = m_pOwner->m_pIOQueue;
        m_pTable = m_pOwner->m_pDeviceTable;
    }
    // Up before the thread runs, so an early end of the thread is not overwritten.
    m_bRunning = 1;
    m_bAlive = 1;
    if (!m_Thread.Start([this](platform::Event&) {
            EventHandlerThread();
            return 0;
        })) {
        m_bRunning = 0;
        m_bAlive = 0;
        return 0;
    }
    return 1;
}

int COrbSWEventHandler::Stop() {
    SwitchDeviceTable* table = m_pTable;
    if (table == nullptr && m_pOwner != nullptr)
        table = m_pOwner->m_pDeviceTable;
    if (table != nullptr)
        table->ClearDevices();
    m_bRunning = 0;
    m_Thread.RequestStop();
    return 1;
}

void COrbSWEventHandler::Join() {
    m_Thread.Join();
}

bool COrbSWEventHandler::Join(int timeoutMs) {
    return m_Thread.Join(timeoutMs);
}

void COrbSWEventHandler::SetDelivery(Delivery delivery) {
    m_Delivery = std::move(delivery);
}

void COrbSWEventHandler::End() {
    // The reader handles nothing more once the thread is gone: what it would deliver through may
    // go with it.
    if (m_pQueue != nullptr)
        m_pQueue->SetInlineHandler(nullptr);
    m_bRunning = 0;
    m_bAlive = 0;
}

bool COrbSWEventHandler::FewClients() const {
    if (m_pOwner == nullptr)
        return true;
    std::size_t clients = 0;
    for (COrbClientConnectionManager* manager :
         {m_pOwner->m_pClientManager, m_pOwner->m_pBypassClientManager}) {
        if (manager == nullptr)
            continue;
        platform::CriticalSectionLock guard(manager->ClientListLock());
        clients += manager->GetClients().size();
    }
    return clients <= ClientSendPool::kCallerShare;
}

bool COrbSWEventHandler::HandleBatch(
    const std::vector<std::unique_ptr<std::vector<std::uint8_t>>>& records) {
    if (m_bRunning.load() == 0)
        return false;
    SwitchDeviceTable::DeliveryBatch batch(m_Delivery ? nullptr : m_pTable);
    for (const auto& record : records) {
        // A record that came after Stop would refill the table Stop has just emptied.
        if (m_bRunning.load() == 0)
            break;
        HandleRecord(*record);
    }
    return true;
}

void COrbSWEventHandler::EventHandlerThread() {
    TraceLog("Switch Event Handler Thread Started!!!");
    g_hDeviceDownloadDoneEvent.Reset();
    // While this thread waits, the reader handles what it has just received itself, which
    // saves waking this thread for every record of a switch that sends them one by one. Only
    // for a few clients: a large fan-out would hold up the reading of the switch.
    if (m_pQueue != nullptr)
        m_pQueue->SetInlineHandler([this](std::vector<std::unique_ptr<LinkRecord>>& records) {
            return FewClients() && HandleBatch(records);
        });
    for (;;) {
        if (m_bRunning.load() == 0) {
            End();
            return;
        }
        if (m_pQueue == nullptr || !m_pQueue->IOQueueWaitInput()) {
            TraceLog("Switch Event Handler Thread Terminated!!");
            End();
            return;
        }
        // Whatever else has arrived is handled with it, and its deliveries leave together.
        bool stopped = false;
        {
            platform::LockGuard turn(m_pQueue->HandlerTurn());
            SwitchDeviceTable::DeliveryBatch batch(m_Delivery ? nullptr : m_pTable);
            std::unique_ptr<LinkRecord> item = m_pQueue->IOQueueTake();
            while (item) {
                if (m_bRunning.load() == 0) {
                    stopped = true;
                    break;
                }
                HandleRecord(*item);
                item = batch.Full() ? nullptr : m_pQueue->IOQueueTake();
            }
        }
        if (stopped) {
            End();
            return;
        }
    }
}

void COrbSWEventHandler::HandleRecord(const std::vector<std::uint8_t>& item) {
    // The record must also hold the body it announces, or the body would be read past.
    const std::optional<CtiRecord> record = CtiRecord::At(ByteView(item));
    if (!record || record->Length() < 1 || record->Length() > CtiRecord::kMaxSentBodyLength) {
        TraceLog("[ERROR] Fatal Error. EventHandlerThread : message length is wrong.!!!");
        return;
    }
    const ByteView body = record->Body();
    if (g_bDeviceListAvailable.load() == 1) {
        // The frame goes to the clients as it came; only the body is read here.
        m_CurrentFrame = record->Frame();
        DispatchSwitchEvent(body.data(), record->Length());
        m_CurrentFrame = {};
    } else if (body[0] == 'A')
        OnDeviceDownloadEvent(body);
    // Anything else that comes before the download has ended is dropped.
}

void COrbSWEventHandler::DispatchSwitchEvent(const std::uint8_t* data, int length) {
    if (data == nullptr || length < 1)
        return;
    const ByteView body(data, static_cast<std::size_t>(length));
    switch (body[0]) {
    case 'A':
        OnDeviceRecordEvent(body);
        break;
    case 'Q':
        OnStatusReplyEvent(body);
        break;
    case 'i':
        OnDeviceInfoEvent(body);
        break;
    case 'm':
        OnDeviceNumberChangedEvent(body);
        break;
    case 'U':
    case 'Z':
    case 'a':
    case 'u':
        break;
    default:
        OnSwitchEvent(body);
        break;
    }
    CopyToMonitors(body);
}

void COrbSWEventHandler::CopyToMonitors(ByteView body) {
    if (m_pOwner == nullptr)
        return;
    MonitorFeed* feed = m_pOwner->m_pMonitorFeed.load();
    if (feed == nullptr)
        return;
    const int length = static_cast<int>(body.size());
    const std::uint8_t letter = CtiEvent(body).Letter();
    if (letter == protocol::EventLetter::UcdRecordEvent ||
        letter == protocol::EventLetter::SmdrRecordEvent) {
        if (IsMonitorPortOn(*m_pOwner, MonitorPort::SmdrUcd))
            feed->SendSMDRUCDMsgToMonitor(body.data(), length);
        if (IsMonitorPortOn(*m_pOwner, MonitorPort::SmdrUcdSend))
            feed->SendSMDRUCDMsgToPort(body.data(), length);
        return;
    }
    if (!protocol::IsSupervisionEvent(body) && IsMonitorPortOn(*m_pOwner, MonitorPort::Message))
        feed->SendNormalMsgToMonitor(body.data(), length);
}

void COrbSWEventHandler::Deliver(const SwitchEventRecord& record, ByteView body,
                                 const std::string& secondText, int allFlag) {
    if (m_Delivery) {
        m_Delivery(record.m_strDeviceText, body, secondText, allFlag);
        return;
    }
    if (m_pTable == nullptr)
        return;
    // The body of the record being dispatched still sits in its frame: that goes out as it is.
    const bool framed = m_CurrentFrame.size() == body.size() + CtiRecord::kLengthSize &&
                        m_CurrentFrame.data() + CtiRecord::kLengthSize == body.data();
    if (framed)
        m_pTable->SendFramedEventToClient(record.m_strDeviceText, m_CurrentFrame, secondText,
                                          allFlag);
    else
        m_pTable->SendEventToClient(record.m_strDeviceText, body.data(),
                                    static_cast<int>(body.size()), secondText, allFlag);
}

void COrbSWEventHandler::OnSwitchEvent(ByteView body) {
    const std::uint8_t letter = body[0];
    std::unique_ptr<SwitchEventRecord> record = MakeSwitchEventRecord(letter);
    if (!record)
        return;
    record->Parse(body);
    Deliver(*record, body, record->SecondDeliveryText(), IsAllClientsEvent(letter) ? 1 : 0);
}

void COrbSWEventHandler::TraceDownloadComplete() {
    TraceLog("Device Download Complete!!! --> Total Downloaded Device Count : %d",
             m_pTable ? m_pTable->GetTotal() : 0);
}

void COrbSWEventHandler::OnDeviceDownloadEvent(ByteView body) {
    DeviceDownloadRecord record;
    record.Parse(body);
    if (record.m_nType == 0) {
        if (m_pTable != nullptr)
            m_pTable->SetEndRecord(body);
        // The flag before the event, so whoever the event wakes finds the list available.
        g_bDeviceListAvailable = 1;
        g_hDeviceDownloadDoneEvent.Set();
        TraceDownloadComplete();
        return;
    }
    if (m_pTable == nullptr)
        return;
    if (IsStoredType(record.m_nType)) {
        m_pTable->RaiseTypeCounter(record.m_nType);
        const int number = m_pTable->RaiseTotal();
        m_pTable->AddDevice(record.m_strDeviceText, body, record.m_nType, number);
    } else {
        // Types 6 to 11 count as other types; 14 and above are not counted.
        m_pTable->RaiseTypeCounter(record.m_nType);
    }
}

void COrbSWEventHandler::OnDeviceRecordEvent(ByteView body) {
    DeviceDownloadRecord record;
    record.Parse(body);
    Deliver(record, body, std::string(), 0);
    if (m_pTable == nullptr)
        return;
    if (m_pTable->FindDevice(record.m_strDeviceText) != nullptr) {
        TraceLog("this device[%s] is existing in the current list!!!",
                 record.m_strDeviceText.c_str());
        return;
    }
    const CtiEvent event(body);
    switch (record.m_nType) {
    case 0:
        if (event.At(1) == 0xFF && event.At(2) == 0xFF) {
            m_pTable->SetEndRecord(body);
            TraceDownloadComplete();
        }
        return;
    case 1:
    case 2:
        m_pTable->RaiseTypeCounter(record.m_nType);
        break;
    case 3:
    case 4:
    case 5:
    case 12:
    case 13:
        break;
    default:
        return;
    }
    const int number = m_pTable->RaiseTotal();
    m_pTable->AddDeviceAfterDownload(record.m_strDeviceText, body, record.m_nType, number);
}

void COrbSWEventHandler::OnDeviceNumberChangedEvent(ByteView body) {
    SecondNumberTextEventRecord record;
    record.Parse(body);
    Deliver(record, body, record.m_strSecondText, 0);
    // Without its new number (a short body) the renumbering would bind the device to "".
    if (m_pTable != nullptr && !record.m_strSecondText.empty())
        m_pTable->UpdateDevice(record.m_strDeviceText, record.m_strSecondText);
}

bool COrbSWEventHandler::DogwoodLoggedIn() const {
    if (m_pOwner == nullptr)
        return false;
    return m_pOwner->m_nKindLoginCounts[kCountDogwood].load() >= 1 ||
           m_pOwner->m_nKindLoginCounts[kCountBypassDogwood].load() >= 1;
}

void COrbSWEventHandler::OnStatusReplyEvent(ByteView body) {
    StatusReplyEventRecord record;
    record.Parse(body);
    // Only a Dogwood client asks for the hold state.
    if (record.m_nSubCode == 'H' && !DogwoodLoggedIn())
        return;
    Deliver(record, body, record.SecondDeliveryText(), 0);
}

void COrbSWEventHandler::OnDeviceInfoEvent(ByteView body) {
    DeviceInfoEventRecord record;
    record.Parse(body);
    if (record.Parameter() == kInfoFirLink) {
        if (record.SubCode() == kFirStartAnswer) {
            // The setup tool's answer is the server's own; no client asked for it.
            int interval = kFirIntervalFailed;
            if (record.m_nTextSize >= 1) {
                if (record.ResultByte() == kFirResultOk)
                    interval = record.ValueByte();
                else if (record.ResultByte() == kFirResultRefused)
                    interval = kFirIntervalRefused;
            }
            if (m_pOwner != nullptr)
                m_pOwner->m_nFirCheckInterval = interval;
            g_hFirLinkCheckEvent.Set();
            return;
        }
        if (record.SubCode() == kFirCheckAnswer)
            return; // its arrival alone has kept the link's sanity timer alive
    }
    Deliver(record, body, std::string(), 0);
}

} // namespace engine
