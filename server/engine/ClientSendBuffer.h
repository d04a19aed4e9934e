#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include <platform/Mutex.h>

namespace engine {

class SendBatch;

// Where a client's outgoing bytes go: its socket, or a fake in tests.
class ClientSendSink {
public:
    static constexpr int kTagCount = 3; // what a record lost to a broken connection reports

    // One piece of a gathered send.
    struct Piece {
        const std::uint8_t* data;
        std::size_t length;
    };
    static constexpr int kMaxPieces = 128;

    virtual ~ClientSendSink() = default;
    // One non-blocking send: the bytes taken, or -1 with `error` (EWOULDBLOCK when full).
    virtual int SendBytes(const std::uint8_t* data, int length, int& error) = 0;
    // The same for the pieces one after the other (at most kMaxPieces, less than 2 GB in all),
    // as one send. By default they are joined and go through SendBytes.
    virtual int SendPieces(const Piece* pieces, int count, int& error);
    // OnWritable is wanted once the socket can take more.
    virtual void RequestWritable() = 0;
    // The connection broke; lost[tag] whole records queued with that tag will never go out.
    virtual void SendFailed(int error, const std::array<int, kTagCount>& lost) = 0;
    // What became of records a sender thread queued for `tag` (errors[i] is 0 for one taken),
    // for a sink that reports losses. Called outside the buffer's lock, the sink held meanwhile.
    virtual void RecordsPosted(int /*tag*/, const int* /*errors*/, std::size_t /*count*/) {}
    // Whether RecordsPosted is wanted when every record was taken (a run of losses ends).
    virtual bool WantsTakenReport() const { return false; }
};

// The records waiting for one client, written with one send per turn however many there are.
//
// The buffer holds no bytes of its own for events: it refers to the parts of the shared batches
// that are for this client, and a send gathers them. Only what it takes from a batch in small
// part (a client that filters most events out), and replies, are copied into chunks of its own,
// so a stalled client never pins much more of the batches than it has waiting.
//
// Records are only ever cut where the socket itself takes part of one; the rest of that record
// (the held tail) goes first when the socket is writable again, and until it has gone every new
// record is refused, so the peer never sees a torn or interleaved record. Whole records queue up
// to a byte and a record limit, so a client that stops reading holds a bounded amount.
//
// Any thread may post; one thread at a time sends, and never while holding the buffer's lock.
class ClientSendBuffer {
public:
    enum Result {
        kAccepted, // queued (or already sent); it will go out whole unless the connection breaks
        kRefused,  // the socket is full or the queue at its limit: nothing of it goes out
        kFailed,   // the connection is broken (or the record is empty); `error` says why
    };

    // What the poster should do once it has left its own locks.
    enum Need {
        kNothing,    // a sender is on its way or at work
        kSender,     // hand the buffer to a sender
        kHelp,       // the queue is past half its limit and nobody is sending: send it yourself
        kSenderSoon, // events for a client sent to a moment ago: hand it to a sender after the
                     // gathering delay, so that what follows goes with them (a later post says
                     // kSender if enough gathers before then)
    };

    // One record of a PostAll.
    struct Record {
        const std::uint8_t* data;
        int length;
    };

    // A sender that falls behind for a few milliseconds must not cost a reading client records,
    // at the rate the link reader takes a backlog from the switch (well over 100 MB/s). Bytes a
    // send is writing at the moment do not count; one send writes at most this much.
    static constexpr std::size_t kByteLimit = 256 * 1024;
    static constexpr std::size_t kRecordLimit = 8192;
    // Events for a client whose last send began less than this ago may wait as long for more:
    // a busy client then gets one send per delay instead of one per event, and an event for
    // a quiet one still goes at once.
    static constexpr std::chrono::microseconds kRecentSend{1000};
    // Records queued that are worth a send of their own: they never wait out the delay, and a
    // client waiting when they have gathered goes at once, so a fast flow of events is not held
    // back by a delay meant for a slow one.
    static constexpr std::size_t kEnoughToSend = 8;

    explicit ClientSendBuffer(ClientSendSink& sink);
    ClientSendBuffer(const ClientSendBuffer&) = delete;
    ClientSendBuffer& operator=(const ClientSendBuffer&) = delete;

    // Appends one whole record; any thread. `need` says whether somebody is about to send it: if
    // not the caller hands the buffer to a sender (FlushOnce) or calls Flush itself. A record
    // longer than the byte limit is taken only into an empty queue.
    Result Post(const void* data, int length, int tag, int& error, Need& need);
    // Several records in order under one lock, each as Post would take it: errors[i] is 0 for
    // one accepted, else Post's error for it. `need` covers them all.
    void PostAll(const Record* records, std::size_t count, int tag, int* errors, Need& need);
    // The same for events that lie in a shared batch, which the buffer then refers to instead
    // of copying them (unless they are a small part of it). `need` may be kSenderSoon.
    void PostAll(const std::shared_ptr<const SendBatch>& batch, const Record* records,
                 std::size_t count, int tag, int* errors, Need& need);
    // The same, and the sink is told what became of the records (RecordsPosted). For a poster
    // that holds nothing of the sink's owner: a detached buffer reports nothing.
    void PostAllReported(const std::shared_ptr<const SendBatch>& batch, const Record* records,
                         std::size_t count, int tag, int* errors, Need& need);
    // Sends on the calling thread until everything has gone or the socket is full. When another
    // thread is sending, that thread sends this too.
    void Flush();
    // A sender's turn: one send of everything queued. True when more came meanwhile and the
    // buffer must be handed to a sender again.
    bool FlushOnce();
    // The socket can take more: the held tail, then what waits behind it.
    void OnWritable();
    // A sender drops the buffer without sending (it stops); the next post wakes again.
    void Unschedule();
    // The socket goes: nothing is sent any more. Waits for a send running on another thread.
    void Detach();

    // Bytes of a record the socket took only in part (never more than one record).
    std::size_t TornBytes() const;
    // Every byte not sent yet, torn tail included.
    std::size_t QueuedBytes() const;
    std::size_t QueuedRecords() const;
    // The connection broke: the error, else 0.
    int FailedError() const;
    // The sender pool's share it belongs to, -1 until the pool first sees it. Only the pool uses
    // it, under its own lock.
    int PoolShare() const { return m_nPoolShare.load(std::memory_order_relaxed); }
    void SetPoolShare(int share) { m_nPoolShare.store(share, std::memory_order_relaxed); }
    // Changes when a buffer waiting out the delay is handed on at once instead: the sender
    // pool's entry for that wait is then spent and dropped when it falls due.
    std::uint32_t WaitTicket() const { return m_nWaitTicket.load(std::memory_order_acquire); }

private:
    // A record's bytes not sent yet in the low bits, its tag above.
    using Mark = std::uint32_t;
    static constexpr int kTagShift = 24;
    static constexpr Mark kRemainingMask = (Mark{1} << kTagShift) - 1;

    // A run of bytes of one batch, in the order they go out.
    struct Span {
        std::shared_ptr<const SendBatch> batch;
        std::size_t begin;
        std::size_t end;
    };
    // Chunks of its own are this large, or as large as the record that needs one.
    static constexpr std::size_t kOwnChunk = 16 * 1024;

    // The caller holds m_Lock. Whether the record may be queued; `error` says why not.
    Result Admit(const void* data, int length, int tag, int& error) const REQUIRES(m_Lock);
    // The caller holds m_Lock and Admit has taken the record.
    void AddMark(std::size_t size, int tag) REQUIRES(m_Lock);
    void CopyIn(const std::uint8_t* data, std::size_t size) REQUIRES(m_Lock);
    void ReferTo(const std::shared_ptr<const SendBatch>& batch, std::size_t offset,
                 std::size_t size) REQUIRES(m_Lock);
    Result PostLocked(const void* data, int length, int tag, int& error) REQUIRES(m_Lock);
    void PostBatchLocked(const std::shared_ptr<const SendBatch>& batch, const Record* records,
                         std::size_t count, int tag, int* errors, Need& need) REQUIRES(m_Lock);
    Need NeedAfterPost(bool events = false) REQUIRES(m_Lock);
    void DropQueued() REQUIRES(m_Lock);
    // The caller has the sending turn. One send, with the lock let go meanwhile; true when it
    // may go on at once.
    bool SendOnce() REQUIRES(m_Lock);
    bool CanSend() const REQUIRES(m_Lock);
    void Consume(std::size_t sent) REQUIRES(m_Lock);
    std::size_t FrontRemaining() const REQUIRES(m_Lock) {
        return m_pMarks[m_MarkHead] & kRemainingMask;
    }
    void EndTurn() REQUIRES(m_Lock);

    std::atomic<int> m_nPoolShare{-1};
    std::atomic<std::uint32_t> m_nWaitTicket{0};
    mutable platform::Mutex m_Lock;
    std::condition_variable m_TurnEnded;
    ClientSendSink* m_pSink GUARDED_BY(m_Lock);
    std::deque<Span> m_Spans GUARDED_BY(m_Lock);  // whole records (the first maybe begun), in order
    std::size_t m_nQueued GUARDED_BY(m_Lock) = 0; // their bytes
    // The chunk copies go into; also in m_Spans while used.
    std::shared_ptr<SendBatch> m_pOwn GUARDED_BY(m_Lock);
    // A ring, left untouched until used; its entries are read and written under the lock.
    const std::unique_ptr<Mark[]> m_pMarks;
    // Only the thread with the sending turn uses them, and outside the lock.
    ClientSendSink::Piece m_Pieces[ClientSendSink::kMaxPieces];
    std::size_t m_MarkHead GUARDED_BY(m_Lock) = 0;
    std::size_t m_MarkCount GUARDED_BY(m_Lock) = 0;
    std::size_t m_nInFlight GUARDED_BY(m_Lock) = 0; // the front bytes a send is writing now
    bool m_bTorn GUARDED_BY(m_Lock) = false;        // the front record went out in part
    bool m_bSending GUARDED_BY(m_Lock) = false;     // a thread has the sending turn
    bool m_bScheduled GUARDED_BY(m_Lock) = false;   // a sender will come for it
    bool m_bWaiting GUARDED_BY(m_Lock) = false;     // ... after the gathering delay
    bool m_bBlocked GUARDED_BY(m_Lock) = false;     // the socket is full: only OnWritable sends
    int m_nReporting GUARDED_BY(m_Lock) = 0;        // posters telling the sink, which Detach awaits
    int m_nFailed GUARDED_BY(m_Lock) = 0;
    // The last send's start, if it ever sent.
    std::optional<std::chrono::steady_clock::time_point> m_LastSend GUARDED_BY(m_Lock);
};

} // namespace engine
