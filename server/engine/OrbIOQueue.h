#pragma once

#include <platform/CriticalSection.h>
#include <platform/Event.h>
#include <platform/Mutex.h>
#include <platform/WorkerThread.h>
#include <protocol/SerialFrameReader.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace engine {

class COrbManagerDlg;
class COrbSocket;
class SerialPort;

// A body waiting to be sent to the switch; the queue owns its copy.
struct LinkQueueItem {
    std::vector<std::uint8_t> body;
};

// A record received from the switch: [L high][L low][body]. Whoever IOQueueRead hands it to owns
// it.
using LinkRecord = std::vector<std::uint8_t>;

// Serial line bytes.
enum : std::uint8_t {
    kSTX = protocol::serial::kSTX,
    kETX = protocol::serial::kETX,
    kENQ = protocol::serial::kENQ,
    kACK = protocol::serial::kACK,
    kNAK = protocol::serial::kNAK
};

// Serial line replies to our ENQ or frame.
enum AckResult : int { kAckNone = 0, kAckAck = 1, kAckNak = 2 };

// Decouples everybody who talks to the switch from the link: any thread writes request bodies,
// the writer thread sends them one by one, the reader thread queues what the switch sends for the
// event handler thread, and the sanity thread ends the link when the switch falls silent.
// Serves a TCP link (g_pSwitchSocket) or a serial one (the owner's m_pSerialPort), by the owner's
// link type.
class COrbIOQueue {
public:
    explicit COrbIOQueue(COrbManagerDlg* owner);
    // Closes the queue, ends and joins every thread, then frees what is left (retired sockets too).
    ~COrbIOQueue();
    COrbIOQueue(const COrbIOQueue&) = delete;
    COrbIOQueue& operator=(const COrbIOQueue&) = delete;

    void IOQueueStartThreads();
    // Copies the body (to the switch-traffic monitors too, but for link supervision); 1, or 0
    // (traced) when the queue already holds kMaxOutputCount bodies or kMaxOutputBytes.
    int IOQueueWrite(const std::uint8_t* body, int length);
    // The link-clear at a stop: drops every body still waiting (traced with its count) and puts
    // this one at the head, so it does not wait behind a backlog the switch is not reading.
    int IOQueueWriteFirst(const std::uint8_t* body, int length);
    // Waits for a received record or the close; null after the close.
    std::unique_ptr<LinkRecord> IOQueueRead();
    // The next received record if one is waiting, else null at once. The close empties the
    // queue, so the next IOQueueRead is the one that sees it.
    std::unique_ptr<LinkRecord> IOQueueTake();
    // Waits until a received record is waiting (true) or the queue is closed (false); takes
    // nothing.
    bool IOQueueWaitInput();
    // Empties both queues and clears their not-empty events.
    void IOQueueReset();

    // Handles a few records the TCP reader has just received, on the reader's thread; false
    // leaves them to the queue.
    using InlineHandler = std::function<bool(std::vector<std::unique_ptr<LinkRecord>>&)>;
    // The event handler's turn: whoever handles received records holds it, the handler thread
    // while it takes records from the queue and handles them, the reader while it handles its
    // own. The reader handles records only when it gets the turn at once and nothing waits in
    // the queue, so the records keep their order and an idle handler is not woken for them.
    platform::Mutex& HandlerTurn() { return m_HandlerTurn; }
    // Null ends it; set and cleared under the turn, so no call is under way once it returns.
    void SetInlineHandler(InlineHandler handler) EXCLUDES(m_HandlerTurn);
    // At most this many records of one receive are handled on the reader's thread: more go to
    // the handler, so that the reader reads on meanwhile.
    static constexpr std::size_t kInlineMax = 8;
    void IOQueueClose();
    void IOQueueStartSanity();
    // Ends the sanity thread (through its stop event) and joins it.
    void IOQueueStopSanity();
    bool HasSanityThread() const;

    // Waits up to the time given until the writer has sent everything queued; true when it has.
    bool WaitOutputDrained(int timeoutMs);
    // Ends and joins the reader and writer (after IOQueueClose): sets the close event and shuts
    // the switch socket down so a blocked receive returns; true when both ended within the time.
    bool JoinThreads(int timeoutMs = kJoinTimeoutMs);

    // Takes the switch socket out of use (g_pSwitchSocket := null): closes it, which wakes a
    // reader blocked on it, and keeps the object until the queue is destroyed. The writer does
    // this on a send failure; the link stop uses it instead of deleting the socket while the
    // threads may still run.
    void RetireSwitchSocket();

    static constexpr int kJoinTimeoutMs = 5000;
    // Far above what clients ask of a switch that reads; a switch that stops reading fills it
    // in a moment instead of growing the server without bound.
    static constexpr std::size_t kMaxOutputCount = 8192;
    static constexpr std::size_t kMaxOutputBytes = 1 << 20;
    // Records received and not yet taken by the event handler. At the bound the reader stops
    // reading until the handler has taken half of them, so a switch faster than the handler is
    // held back by the link's own flow control instead of growing the server; nothing read is
    // dropped.
    static constexpr std::size_t kMaxInputCount = 4096;
    // Records in a row that are no event (no letter, or shorter than their letter needs) after
    // which the framing is taken to be out of step and the link is reset.
    static constexpr int kMalformedRunLimit = 32;
    // How long the sanity thread rests after a sign of life before it listens for the next.
    static constexpr int kAlivePauseMs = 100;
    // Records the TCP reader holds before it hands them over even while more keep arriving, so
    // a flood neither waits long for the handler nor gathers past the input bound.
    static constexpr std::size_t kReadBatchMax = 64;

    // Whether the reader passes a received record on: false (traced) for a record too short
    // for its letter or without a letter; a run of them ends the link.
    bool ScreenRecord(const LinkRecord& record);
    // Takes the link down at once (the recovery brings it back): what the writer does on a send
    // failure, the reader on a receive failure and on a run of malformed records.
    void FailLink(const char* who);
    // One more malformed record in a row; false when the run has reset the link.
    bool CountMalformed();
    // The stream from the switch is out of step: the link fails now and is started again.
    void ResetOutOfStep();

    bool IsReaderRunning() const { return m_bReaderRunning.load() != 0; }
    bool IsWriterRunning() const { return m_bWriterRunning.load() != 0; }
    int LastReadOk() const { return m_bLastReadOk.load(); }

    // Serial frame: STX, LEN high, LEN low, data, XOR check of LEN and data, ETX; returns its size.
    static int BuildSerialFrame(std::uint8_t* out, const std::uint8_t* body, int length);
    int SendENQThenReceive();
    int SendFrameWaitAck(const std::uint8_t* frame, int size);

private:
    void ReaderThread();
    // The serial reader's answers: purge with its trace; queue, trace and acknowledge a frame.
    void PurgeReceived(SerialPort& port);
    void DeliverSerialFrame(SerialPort& port, protocol::ByteView data, bool etx, std::uint8_t last);
    void WriterThread();
    void ReadSocketThread();
    void WriteSocketThread();
    void ReadComPortThread();
    void WriterComPortThread();
    void SanityThread(platform::Event& stop);

    bool SendMsgThenReceiveThroughSocket(const std::uint8_t* frame, int size);
    // Reads exactly `count` bytes; false (with the traces) when the peer closed or failed.
    bool ReceiveBody(COrbSocket& socket, std::uint8_t* buffer, int count, bool traceShort);
    // One receive of the link reader, served from what an earlier receive took ahead: up to
    // `length` bytes of what has arrived, waiting only when nothing has.
    int ReceiveLink(COrbSocket& socket, std::uint8_t* buffer, int length);
    // Appends a received record and sets the input-not-empty event, first waiting while the
    // queue is at its bound; false when it could not (or the queue was closed meanwhile).
    bool QueueInput(LinkRecord record);
    // The same for several records at once, in order, with at most one wake-up of the handler:
    // `records` is empty afterwards, whatever the result.
    bool QueueInputs(std::vector<std::unique_ptr<LinkRecord>>& records);
    // The TCP reader's records go to the handler together: those of one receive once it is
    // used up, before the reader asks the socket again (or at kReadBatchMax). The reader hands
    // them over before it traces a fault of the stream too, so its traces and the handler's
    // records keep their order.
    void AddToReadBatch(LinkRecord record);
    void HandOverReadBatch();
    // After a record was taken: lets a waiting reader go on once the queue has come down to half
    // its bound.
    void TakenInputLocked() REQUIRES(m_csInput);
    // Takes the oldest body to send (the writer then holds it); false, with the output-not-empty
    // event cleared, when there is none.
    bool TakeOutput(LinkQueueItem& item);
    // The writer is done with the body it took: clears output-not-empty when nothing is left.
    void DoneWithOutput();
    // Whether everything queued has left the writer.
    void UpdateDrainedLocked() REQUIRES(m_csOutput);
    // Empties the output queue alone (serial resend): the switch's records waiting to be read
    // are kept. Added for the serial writer.
    void ResetOutput();

    enum LinkWait { kLinkWaitClosed, kLinkWaitAvailable, kLinkWaitFailed };
    // Waits for g_hLinkAvailableEvent or the close event (close first).
    LinkWait WaitForLink();
    // Clears g_hLinkAvailableEvent for a thread that found the link down, without losing a
    // link-up that raced with it.
    static void ClearLinkAvailable();
    // Stops and joins the sanity thread; false when it did not end in time.
    bool EndSanityThread(bool trace);
    bool IsTcp() const;
    // The close event, and its mirror that the reader can test without a system call.
    void SetClosed();
    void StartWorker(std::unique_ptr<platform::WorkerThread>& slot, std::atomic<int>& running,
                     void (COrbIOQueue::*body)(), const char* failure);

    COrbManagerDlg* m_pOwner;
    std::atomic<int> m_nAckResult{kAckNone};
    protocol::SerialFrameReader m_serialRx; // the reader thread's alone

    std::unique_ptr<platform::WorkerThread> m_pSanityThread GUARDED_BY(m_csSanity);
    mutable platform::CriticalSection m_csSanity;
    std::unique_ptr<platform::WorkerThread> m_pWriterThread;
    std::unique_ptr<platform::WorkerThread> m_pReaderThread;

    // Input before output where both are taken.
    platform::CriticalSection m_csOutput;
    platform::CriticalSection m_csInput;
    std::deque<LinkQueueItem> m_OutputQueue GUARDED_BY(m_csOutput);
    // Body bytes in m_OutputQueue.
    std::size_t m_nOutputBytes GUARDED_BY(m_csOutput) = 0;
    bool m_bOutputFullTraced GUARDED_BY(m_csOutput) = false;
    int m_nMalformedRun = 0; // the reader's alone
    // The link reader's own: bytes taken from `m_pReadAheadSocket` ahead of the record being
    // read, from m_nReadAheadAt to m_nReadAheadEnd.
    const COrbSocket* m_pReadAheadSocket = nullptr;
    std::unique_ptr<std::uint8_t[]> m_pReadAhead;
    std::size_t m_nReadAheadAt = 0;
    std::size_t m_nReadAheadEnd = 0;
    std::deque<std::unique_ptr<LinkRecord>> m_InputQueue GUARDED_BY(m_csInput);
    std::vector<std::unique_ptr<LinkRecord>> m_ReadBatch; // the TCP reader's alone
    platform::Mutex m_HandlerTurn;
    InlineHandler m_InlineHandler GUARDED_BY(m_HandlerTurn);

    std::atomic<int> m_bWriterRunning{0};
    std::atomic<int> m_bReaderRunning{0};
    std::atomic<int> m_bSending{0}; // the writer holds an item it has not finished with

    platform::Event m_hAliveEvent{true, false};
    platform::Event m_hAckEvent{true, false};
    platform::Event m_hOutputNotEmptyEvent{true, false};
    platform::Event m_hInputNotEmptyEvent{true, false};
    platform::Event m_hInputRoomEvent{true, true}; // reset while the reader waits for room
    bool m_bInputFull GUARDED_BY(m_csInput) = false;
    // Once until the handler catches up.
    bool m_bInputFullTraced GUARDED_BY(m_csInput) = false;
    platform::Event m_hCloseEvent{true, false};
    std::atomic<bool> m_bClosed{false};
    platform::Event m_hOutputDrainedEvent{true, true};
    // The drained event's state.
    bool m_bDrained GUARDED_BY(m_csOutput) = true;
    std::atomic<int> m_bLastReadOk{1};

    std::vector<std::unique_ptr<COrbSocket>> m_RetiredSockets GUARDED_BY(m_csRetired);
    platform::CriticalSection m_csRetired;
};

} // namespace engine
