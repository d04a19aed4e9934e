#include "OrbIOQueue.h"

#include "LinkState.h"
#include "MonitorFeed.h"
#include "OrbManagerDlg.h"
#include "OrbSocket.h"
#include "SwitchEventRecord.h"
#include "TraceLog.h"

#include <protocol/CtiRecord.h>
#include <protocol/Supervision.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <optional>
#include <thread>
#include <utility>

namespace engine {

using platform::CriticalSectionLock;
using platform::Event;

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

constexpr int kDrainPollMs = 5;

} // namespace

COrbIOQueue::COrbIOQueue(COrbManagerDlg* owner) : m_pOwner(owner) {}

COrbIOQueue::~COrbIOQueue() {
    IOQueueReset();
    SetClosed();
    EndSanityThread(false);
    JoinThreads();
    // A thread that did not end in time is waited for here, while the events it uses still exist.
    {
        CriticalSectionLock guard(m_csSanity);
        m_pSanityThread.reset();
    }
    m_pReaderThread.reset();
    m_pWriterThread.reset();
    CriticalSectionLock guard(m_csRetired);
    m_RetiredSockets.clear();
}

bool COrbIOQueue::IsTcp() const {
    return m_pOwner != nullptr && m_pOwner->m_nConnType.load() == kConnTypeTcp;
}

void COrbIOQueue::StartWorker(std::unique_ptr<platform::WorkerThread>& slot,
                              std::atomic<int>& running, void (COrbIOQueue::*body)(),
                              const char* failure) {
    if (slot && slot->IsRunning())
        return;
    slot.reset(); // an ended thread is joined before its slot is reused
    auto thread = std::make_unique<platform::WorkerThread>();
    running = 1;
    if (!thread->Start([this, body](Event&) {
            (this->*body)();
            return 0;
        })) {
        running = 0;
        TraceLog("%s", failure);
        return;
    }
    slot = std::move(thread);
}

void COrbIOQueue::IOQueueStartThreads() {
    m_bClosed = false;
    m_hCloseEvent.Reset();
    {
        CriticalSectionLock input(m_csInput);
        CriticalSectionLock output(m_csOutput);
        if (m_OutputQueue.empty())
            m_hOutputNotEmptyEvent.Reset();
        else
            m_hOutputNotEmptyEvent.Set();
        if (m_InputQueue.empty())
            m_hInputNotEmptyEvent.Reset();
        else
            m_hInputNotEmptyEvent.Set();
        UpdateDrainedLocked();
    }
    StartWorker(m_pReaderThread, m_bReaderRunning, &COrbIOQueue::ReaderThread,
                "[ERROR] Failed to create the Reader Thread in COrbIOQueue!!!");
    StartWorker(m_pWriterThread, m_bWriterRunning, &COrbIOQueue::WriterThread,
                "[ERROR] Failed to create the Writer Thread in COrbIOQueue!!!");
}

int COrbIOQueue::IOQueueWrite(const std::uint8_t* body, int length) {
    // A body always starts with 0x02; the length field cannot carry more than 65535.
    if (body == nullptr || length <= 0 || length > 0xFFFF || body[0] == 0) {
        TraceLog("[ERROR] Write -> the passed buffer is null. there is nothing to be sent.");
        return 1;
    }
    {
        CriticalSectionLock guard(m_csOutput);
        if (m_OutputQueue.size() >= kMaxOutputCount ||
            m_nOutputBytes + static_cast<std::size_t>(length) > kMaxOutputBytes) {
            // Once per filling: the writer of the flood is told, not the log flooded.
            if (!m_bOutputFullTraced)
                TraceLog("[ERROR] The queue to the switch is full[%zu requests, %zu bytes]. The "
                         "request is refused!!!",
                         m_OutputQueue.size(), m_nOutputBytes);
            m_bOutputFullTraced = true;
            return 0;
        }
    }
    if (m_pOwner != nullptr && !protocol::IsSupervisionRequest(
                                   protocol::ByteView(body, static_cast<std::size_t>(length)))) {
        if (MonitorFeed* feed = m_pOwner->m_pMonitorFeed.load())
            feed->SendNormalMsgToMonitor(body, length);
    }
    try {
        LinkQueueItem item;
        item.body.assign(body, body + length);
        CriticalSectionLock guard(m_csOutput);
        // The event is set exactly while the queue holds something, so only the first body
        // needs to set it.
        const bool wasEmpty = m_OutputQueue.empty();
        m_OutputQueue.push_back(std::move(item));
        m_nOutputBytes += static_cast<std::size_t>(length);
        if (wasEmpty)
            m_hOutputNotEmptyEvent.Set();
        UpdateDrainedLocked();
    } catch (const std::bad_alloc&) {
        // A body that cannot be copied is dropped.
    }
    return 1;
}

int COrbIOQueue::IOQueueWriteFirst(const std::uint8_t* body, int length) {
    if (body == nullptr || length <= 0 || length > 0xFFFF)
        return 0;
    try {
        LinkQueueItem item;
        item.body.assign(body, body + length);
        CriticalSectionLock guard(m_csOutput);
        if (!m_OutputQueue.empty())
            TraceLog("[ERROR] The link is stopping: %zu requests[%zu bytes] not sent to the switch "
                     "are dropped!!!",
                     m_OutputQueue.size(), m_nOutputBytes);
        m_OutputQueue.clear();
        m_OutputQueue.push_back(std::move(item));
        m_nOutputBytes = static_cast<std::size_t>(length);
        m_bOutputFullTraced = false;
        m_hOutputNotEmptyEvent.Set();
        UpdateDrainedLocked();
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

std::unique_ptr<LinkRecord> COrbIOQueue::IOQueueRead() {
    while (IOQueueWaitInput()) {
        // Another reader of the queue may have taken it meanwhile: wait on.
        if (std::unique_ptr<LinkRecord> record = IOQueueTake())
            return record;
    }
    return nullptr;
}

bool COrbIOQueue::IOQueueWaitInput() {
    for (;;) {
        const int which = Event::WaitAny({&m_hCloseEvent, &m_hInputNotEmptyEvent});
        if (which != 1) {
            TraceLog(which == 0 ? "[ERROR] Read() Function returns NULL or Called Thread Close()!!!"
                                : "[ERROR] Signal is not matched. return NULL!!!");
            m_bLastReadOk = 0;
            return false;
        }
        CriticalSectionLock guard(m_csInput);
        if (!m_InputQueue.empty()) {
            m_bLastReadOk = 1;
            return true;
        }
        m_hInputNotEmptyEvent.Reset();
    }
}

std::unique_ptr<LinkRecord> COrbIOQueue::IOQueueTake() {
    std::unique_ptr<LinkRecord> record;
    CriticalSectionLock guard(m_csInput);
    if (m_InputQueue.empty())
        return record;
    record = std::move(m_InputQueue.front());
    m_InputQueue.pop_front();
    TakenInputLocked();
    return record;
}

void COrbIOQueue::TakenInputLocked() {
    if (m_InputQueue.empty()) {
        m_hInputNotEmptyEvent.Reset();
        m_bInputFullTraced = false;
    }
    if (m_bInputFull && m_InputQueue.size() <= kMaxInputCount / 2) {
        m_bInputFull = false;
        m_hInputRoomEvent.Set();
    }
}

void COrbIOQueue::IOQueueReset() {
    CriticalSectionLock input(m_csInput);
    m_InputQueue.clear();
    m_hInputNotEmptyEvent.Reset();
    m_bInputFull = false;
    m_bInputFullTraced = false;
    m_hInputRoomEvent.Set();
    CriticalSectionLock output(m_csOutput);
    m_OutputQueue.clear();
    m_nOutputBytes = 0;
    m_bOutputFullTraced = false;
    m_hOutputNotEmptyEvent.Reset();
    UpdateDrainedLocked();
}

void COrbIOQueue::IOQueueClose() {
    IOQueueReset();
    TraceLog("Send CLOSE Signal to IO-Thread !!!");
    SetClosed();
}

bool COrbIOQueue::QueueInput(LinkRecord record) {
    std::vector<std::unique_ptr<LinkRecord>> records;
    try {
        records.push_back(std::make_unique<LinkRecord>(std::move(record)));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return QueueInputs(records);
}

bool COrbIOQueue::QueueInputs(std::vector<std::unique_ptr<LinkRecord>>& records) {
    std::size_t next = 0;
    bool ok = true;
    while (next < records.size()) {
        bool signal = false;
        bool full = false;
        bool trace = false;
        {
            CriticalSectionLock guard(m_csInput);
            const bool wasEmpty = m_InputQueue.empty();
            try {
                while (next < records.size() && m_InputQueue.size() < kMaxInputCount)
                    m_InputQueue.push_back(std::move(records[next++]));
            } catch (const std::bad_alloc&) {
                ok = false;
            }
            // The event is set while the queue holds something, so only the records that find it
            // empty need to set it.
            signal = wasEmpty && !m_InputQueue.empty();
            full = ok && next < records.size();
            if (full) {
                m_bInputFull = true;
                m_hInputRoomEvent.Reset();
                trace = !m_bInputFullTraced;
                m_bInputFullTraced = true;
            }
        }
        // After the lock: the handler it wakes would otherwise wait for the lock at once. The
        // handler resets the event only with the queue empty and under the lock, so a record
        // queued before its reset has been taken, and one queued after it is signalled again.
        if (signal)
            m_hInputNotEmptyEvent.Set();
        if (!full)
            break;
        if (trace)
            TraceLog("The event handler has %zu records from the switch to take. Reading from "
                     "the switch waits!!!",
                     kMaxInputCount);
        // Only a close ends the wait without room: the records go with everything the close
        // drops.
        if (Event::WaitAny({&m_hCloseEvent, &m_hInputRoomEvent}) != 1) {
            ok = false;
            break;
        }
        // The switch was read from just before; the wait is the handler's, not its silence.
        m_hAliveEvent.Set();
    }
    records.clear();
    return ok;
}

void COrbIOQueue::AddToReadBatch(LinkRecord record) {
    try {
        m_ReadBatch.push_back(std::make_unique<LinkRecord>(std::move(record)));
    } catch (const std::bad_alloc&) {
        TraceLog("[ERROR] It is not possible to insert the received message into the Input "
                 "Queue.");
        return;
    }
    if (m_ReadBatch.size() >= kReadBatchMax)
        HandOverReadBatch();
}

void COrbIOQueue::SetInlineHandler(InlineHandler handler) {
    platform::LockGuard turn(m_HandlerTurn);
    m_InlineHandler = std::move(handler);
}

void COrbIOQueue::HandOverReadBatch() {
    if (m_ReadBatch.empty())
        return;
    if (m_ReadBatch.size() <= kInlineMax && m_HandlerTurn.try_lock()) {
        bool handled = false;
        if (m_InlineHandler) {
            bool waiting;
            {
                CriticalSectionLock guard(m_csInput);
                waiting = !m_InputQueue.empty();
            }
            handled = !waiting && m_InlineHandler(m_ReadBatch);
        }
        m_HandlerTurn.unlock();
        if (handled) {
            m_ReadBatch.clear();
            return;
        }
    }
    if (!QueueInputs(m_ReadBatch))
        TraceLog("[ERROR] It is not possible to insert the received message into the Input "
                 "Queue.");
}

bool COrbIOQueue::TakeOutput(LinkQueueItem& item) {
    CriticalSectionLock guard(m_csOutput);
    if (m_OutputQueue.empty()) {
        m_hOutputNotEmptyEvent.Reset();
        UpdateDrainedLocked();
        return false;
    }
    item = std::move(m_OutputQueue.front());
    m_OutputQueue.pop_front();
    m_nOutputBytes -= item.body.size();
    if (m_OutputQueue.empty())
        m_bOutputFullTraced = false;
    m_bSending = 1;
    UpdateDrainedLocked();
    return true;
}

void COrbIOQueue::DoneWithOutput() {
    CriticalSectionLock guard(m_csOutput);
    if (m_OutputQueue.empty())
        m_hOutputNotEmptyEvent.Reset();
    m_bSending = 0;
    UpdateDrainedLocked();
}

void COrbIOQueue::UpdateDrainedLocked() {
    const bool drained = m_OutputQueue.empty() && m_bSending.load() == 0;
    if (drained == m_bDrained)
        return;
    m_bDrained = drained;
    if (drained)
        m_hOutputDrainedEvent.Set();
    else
        m_hOutputDrainedEvent.Reset();
}

void COrbIOQueue::SetClosed() {
    m_bClosed = true;
    m_hCloseEvent.Set();
}

COrbIOQueue::LinkWait COrbIOQueue::WaitForLink() {
    // The reader asks before every record: while the link is up that must cost no system call.
    if (!m_bClosed.load() && g_hLinkAvailableEvent.IsSet())
        return kLinkWaitAvailable;
    // The close event comes first so a closed queue never waits for a link that stays down.
    switch (Event::WaitAny({&m_hCloseEvent, &g_hLinkAvailableEvent})) {
    case 0:
        return kLinkWaitClosed;
    case 1:
        return kLinkWaitAvailable;
    default:
        return kLinkWaitFailed;
    }
}

void COrbIOQueue::ClearLinkAvailable() {
    // The link is marked up before its event is set; a link-up that came between our test of
    // the flag and this reset must not be undone.
    g_hLinkAvailableEvent.Reset();
    if (g_bSwitchLinkUp.load() != 0)
        g_hLinkAvailableEvent.Set();
}

bool COrbIOQueue::WaitOutputDrained(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    Event::WaitAny({&m_hOutputDrainedEvent, &m_hCloseEvent}, timeoutMs);
    if (!m_hOutputDrainedEvent.IsSet())
        return false;
    if (!IsTcp())
        return true;
    // Sent means handed to the system; an abortive close would still drop what the switch has
    // not acknowledged.
    COrbSocket* socket = g_pSwitchSocket.load();
    while (socket != nullptr && socket->UnacknowledgedBytes() > 0) {
        const int left = timeoutMs < 0 ? kDrainPollMs : RemainingMs(deadline);
        if (left == 0)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, kDrainPollMs)));
    }
    return true;
}

bool COrbIOQueue::JoinThreads(int timeoutMs) {
    SetClosed();
    if (IsTcp()) {
        if (COrbSocket* socket = g_pSwitchSocket.load())
            socket->Shutdown();
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    bool ended = true;
    for (platform::WorkerThread* thread : {m_pReaderThread.get(), m_pWriterThread.get()}) {
        if (thread == nullptr)
            continue;
        thread->RequestStop();
        if (!thread->Join(timeoutMs < 0 ? -1 : RemainingMs(deadline)))
            ended = false;
    }
    return ended;
}

void COrbIOQueue::RetireSwitchSocket() {
    COrbSocket* socket = g_pSwitchSocket.exchange(nullptr);
    if (socket == nullptr)
        return;
    socket->Close();
    CriticalSectionLock guard(m_csRetired);
    m_RetiredSockets.emplace_back(socket);
}

void COrbIOQueue::IOQueueStartSanity() {
    CriticalSectionLock guard(m_csSanity);
    // One sanity thread at a time.
    if (!EndSanityThread(false)) {
        TraceLog("[ERROR] Failed to create the Sanity Check Thread!!!");
        return;
    }
    m_hAliveEvent.Reset();
    auto thread = std::make_unique<platform::WorkerThread>();
    if (!thread->Start([this](Event& stop) {
            SanityThread(stop);
            return 0;
        })) {
        TraceLog("[ERROR] Failed to create the Sanity Check Thread!!!");
        return;
    }
    m_pSanityThread = std::move(thread);
}

void COrbIOQueue::IOQueueStopSanity() {
    EndSanityThread(true);
}

bool COrbIOQueue::HasSanityThread() const {
    CriticalSectionLock guard(m_csSanity);
    return m_pSanityThread != nullptr;
}

bool COrbIOQueue::EndSanityThread(bool trace) {
    CriticalSectionLock guard(m_csSanity);
    if (!m_pSanityThread)
        return true;
    if (trace)
        TraceLog("Stopping Sanity Thread");
    m_pSanityThread->RequestStop();
    if (!m_pSanityThread->Join(kJoinTimeoutMs)) {
        if (trace)
            TraceLog("[ERROR] Unable to stop the Sanity Thread!!!");
        return false;
    }
    m_pSanityThread.reset();
    return true;
}

void COrbIOQueue::SanityThread(Event& stop) {
    TraceLog("Starting Sanity Thread");
    const int timeoutMs = m_pOwner != nullptr ? m_pOwner->m_timings.sanityTimeoutMs : 25000;
    for (;;) {
        switch (Event::WaitAny({&m_hCloseEvent, &stop, &m_hAliveEvent}, timeoutMs)) {
        case 0:
            TraceLog("Exiting Sanity Thread!!!");
            return;
        case 1:
            // Stopped by IOQueueStopSanity, which reports it.
            return;
        case 2:
            m_hAliveEvent.Reset();
            // The switch is alive: listening for the next sign of it at once would wake this
            // thread for every record. A pause far shorter than the time-out costs nothing.
            switch (
                Event::WaitAny({&m_hCloseEvent, &stop}, std::min(kAlivePauseMs, timeoutMs / 10))) {
            case 0:
                TraceLog("Exiting Sanity Thread!!!");
                return;
            case 1:
                return;
            default:
                break;
            }
            break;
        case Event::kFailed:
            TraceLog("[ERROR] Sanity Thread : Wait Failed!!! Exiting Sanity Thread");
            return;
        case Event::kTimedOut:
            TraceLog("[ERROR] Sanity Checker TimeOut because of No Response Message from Switch. "
                     "This Switch Link will be lost!!!");
            g_hLinkAvailableEvent.Reset();
            IOQueueReset();
            g_bSwitchLinkUp = 0;
            g_bDeviceListAvailable = 0;
            g_hLinkFailureEvent.Set();
            TraceLog("Exiting Sanity Thread!!!");
            return;
        default:
            TraceLog("[ERROR] Sanity Checker detects the unknown return value. anyway, run it.!!!");
            m_hAliveEvent.Reset();
            break;
        }
    }
}

void COrbIOQueue::ReaderThread() {
    TraceLog("Staring ReaderThread!!!");
    if (IsTcp())
        ReadSocketThread();
    else
        ReadComPortThread();
    m_bReaderRunning = 0;
    TraceLog("Terminating ReaderThread!!!");
}

void COrbIOQueue::WriterThread() {
    TraceLog("Starting the WriterThread!!!");
    if (IsTcp())
        WriteSocketThread();
    else
        WriterComPortThread();
    m_bWriterRunning = 0;
    TraceLog("Terminating WriterThread!!!");
}

void COrbIOQueue::FailLink(const char* who) {
    g_hLinkAvailableEvent.Reset();
    IOQueueReset(); // clears the output-not-empty event with the queue
    g_bSwitchLinkUp = 0;
    g_bDeviceListAvailable = 0;
    // The other link thread may be inside a call on this socket: it is shut down, not freed.
    // Before the failure is announced, so whoever handles it finds the socket gone.
    RetireSwitchSocket();
    TraceLog("Link Fail Event Signaled by %s !!!", who);
    g_hLinkFailureEvent.Set();
}

// The one rule both readers apply to what the switch sends, whatever the line.
bool COrbIOQueue::ScreenRecord(const LinkRecord& record) {
    const std::optional<protocol::CtiRecord> framed =
        protocol::CtiRecord::At(protocol::ByteView(record));
    const std::size_t length = framed ? framed->Length() : 0;
    const std::uint8_t letter = length > 0 ? framed->Body()[0] : 0;
    const std::size_t needed = MinimumEventLength(letter);
    if (needed != 0 && length >= needed) {
        m_nMalformedRun = 0;
        return true;
    }
    HandOverReadBatch();
    if (needed == 0)
        TraceLog("[ERROR] The switch sent a record without an event letter[%02X, %zu bytes]. "
                 "Dropped!!!",
                 letter, length);
    else
        TraceLog("[ERROR] The switch sent a record too short for its letter[%c : %zu bytes, "
                 "%zu needed]. Dropped!!!",
                 letter, length, needed);
    CountMalformed();
    return false;
}

bool COrbIOQueue::CountMalformed() {
    if (++m_nMalformedRun < kMalformedRunLimit)
        return true;
    // Random bytes read as lengths would keep the link "alive" out of step for ever.
    TraceLog("[ERROR] %d records in a row from the switch are no events. The link is out of "
             "step and is reset!!!",
             m_nMalformedRun);
    m_nMalformedRun = 0;
    ResetOutOfStep();
    return false;
}

void COrbIOQueue::ResetOutOfStep() {
    // Nothing read from this stream can be trusted again: the link starts anew at the next
    // tick instead of when the liveness check notices the ended controller. Asked before the
    // failure is announced, so whoever handles the failure finds the request.
    if (m_pOwner != nullptr)
        m_pOwner->m_bRestartRequest = 1;
    FailLink(IsTcp() ? "ReadSocketThread" : "ReadComPortThread");
}

} // namespace engine
