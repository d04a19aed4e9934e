#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <platform/Mutex.h>

#include "ClientSendBuffer.h"

namespace engine {

// The way of a client's bytes out, and who owns what on it.
//
//   thread                   owns                                  sends
//   deliverer: the event     the table's held batch and the        a small delivery's buffers
//   handler thread, or the   delivery it builds (its lists; the    (SendNow, at most
//   link reader while it     fanout until HandOver); one of them   kCallerShare); in full one
//   holds the handler turn   at a time                             past half its limit that
//                                                                  nobody sends (HandOver)
//   sender thread i (one     share i: its lines and jobs (under    a turn: kTurnSize buffers due,
//   per core, at most 8)     m_Lock); its turn and jobs once       or those a fanout's jobs woke;
//                            taken, a held-up share's too          its share first
//   UI thread                the client, its socket and record;    replies (SendRecord); what a
//                            Detach as the client goes             full socket held (OnWritable)
//   Stop's caller (the       what is left after the joins          all of it, in full (SendHere)
//   table's destructor)
//
//   lock                       guards                                       taken inside it
//   a manager's client list    the list; its clients live while it is held   a buffer's, traces
//   ClientSendPool::m_Lock     the shares, m_nNextShare, the threads,        none
//                              m_bStop, and each buffer's PoolShare
//   ClientSendBuffer::m_Lock   one client's queue, its send flags and sink   none
// Nothing is sent under any of them, and nothing traced or reported under the last two: the
// buffer lets its lock go for the socket call, the report of the records and the failure.
//
// Who frees a batch (SendBatch, shared): whoever lets go of its last reference. That is the
// deliverer when no client took any of it; whoever drops the last job of its fanout (a sender
// thread; after Stop the caller); the thread whose send consumes the last span referring to
// it or finds the connection broken; or the UI thread at Detach. A buffer's own chunk goes with
// its queue the same way. A buffer is shared by its client and the lines it waits in: a line
// may outlive the client, but a detached buffer sends nothing.

using SendWakeList = std::vector<std::shared_ptr<ClientSendBuffer>>;

// A few threads that help write the clients' queued records, so that a large fan-out is shared.
// Each thread has its own share of the buffers and is woken once for all of them that a delivery
// concerns: no thread waits for another to pass the work on, and a buffer stays with one thread.
// A share whose thread is held up (the machine took its core) is taken over by a free thread
// once its first entry has waited kHeldUp, so one busy core holds up no client for long. The
// thread delivering events queues and sends a small fan-out itself (SendNow), since a hand-off
// costs a wait for a core, and hands a large one to the threads as it is (Fan): each queues the
// records for its own clients and sends them, so that the queueing is shared, the deliverer is
// free for the next delivery at once, and a client's buffer is filled on the thread that sends it.
// What comes for a client while its send is on the way gathers behind it and leaves with the
// next. Events for a client sent to a moment ago go through Submit and wait out the gathering
// delay, so a busy client gets one send per delay; a quiet one's go at once, and so do those of
// a client that has gathered enough for a send meanwhile (handed on again, its waiting entry
// spent). Each buffer gets one send per turn, and one that filled up again meanwhile goes to the
// back of the line.
class ClientSendPool {
public:
    using Clock = std::chrono::steady_clock;

    // One per core, at most eight: a thread sleeps while its share has nothing due, and the fewer
    // clients a share has, the sooner the last of them is sent to (on loopback a send also pays
    // the receiving side's kernel work); a delivery wakes every thread whose share it concerns,
    // hence the bound.
    static int DefaultThreads();
    static constexpr int kMaxThreads = 64; // the shares are the bits of one word
    static constexpr std::chrono::microseconds kDefaultGathering{1000};

    explicit ClientSendPool(int threads = DefaultThreads(),
                            std::chrono::microseconds gathering = kDefaultGathering);
    ~ClientSendPool();
    ClientSendPool(const ClientSendPool&) = delete;
    ClientSendPool& operator=(const ClientSendPool&) = delete;

    // Takes the buffers (the list is left empty, its room kept), to be sent after the gathering
    // delay, or at once when `gathered` says the caller has just given them enough for a send;
    // then the buffers still waiting out their delay go at once as well.
    // The threads start with the first call; after Stop the calling thread sends them itself.
    void Submit(SendWakeList& buffers, bool gathered = false) EXCLUDES(m_Lock);
    // The buffers go at once (the list is left empty), together with whatever else waits for a
    // sender and, when `gathered` says the caller has just given them enough for a send, the
    // buffers waiting out their delay. At most kCallerShare of them are sent on the calling
    // thread before it returns; more are left to the threads, each woken whose share has some,
    // and the call returns at once, free for the next delivery. Not under locks a send's failure
    // report takes.
    void SendNow(SendWakeList& buffers, bool gathered = false) EXCLUDES(m_Lock);
    // What the calling thread of SendNow sends alone.
    static constexpr std::size_t kCallerShare = 16;
    // How long a buffer due to go waits for its own thread before a free one takes it.
    static constexpr std::chrono::microseconds kHeldUp{1000};
    // Buffers a thread takes at once: what a thread that the machine stops in a send holds up.
    static constexpr std::size_t kTurnSize = 8;
    // Ends the threads; what they had not reached yet is sent on this thread.
    void Stop() EXCLUDES(m_Lock);

    // Events of one batch for many clients, each client's part of `records` given by its
    // target.
    struct Fanout {
        std::shared_ptr<const SendBatch> batch;
        std::vector<ClientSendBuffer::Record> records;
        std::size_t events = 0; // for a client that takes them all
        bool gathered = false;  // enough for a send: nobody waits out the delay for it
    };
    struct FanoutTarget {
        std::shared_ptr<ClientSendBuffer> buffer;
        std::uint32_t first;
        std::uint32_t count;
        int tag;
    };
    using FanoutTargets = std::vector<FanoutTarget>;
    // Each buffer's own thread queues its part (PostAllReported) and sends it, so that the caller
    // does not queue for every client one after the other, and a client's records are queued by
    // the thread that sends them. The caller sends none itself: waiting for its own share, it
    // would hold up the next delivery.
    // Each buffer gets the fanouts in the order given; the list is left empty. After Stop all on
    // the calling thread, which must not hold locks a send's failure report takes.
    // A share queued for less than the gathering delay ago waits out the rest of it for more,
    // unless the fanouts waiting for it are enough for a send; then its clients go at once.
    void Fan(const std::shared_ptr<const Fanout>& fanout, FanoutTargets& targets) EXCLUDES(m_Lock);
    // Some fanout is not queued in full yet. A caller that delivers to a buffer both ways gives
    // its next records through Fan too until it is not, so that they keep their order.
    bool Fanning() const { return m_nFanning.load(std::memory_order_acquire) != 0; }

    // What one delivery hands to the pool; the caller's alone until then.
    struct Handover {
        std::shared_ptr<Fanout> fanout; // for the threads to queue, if any
        FanoutTargets targets;          // its clients
        SendWakeList now;               // queued by the caller, wanting a sender
        SendWakeList later;             // ... may wait out the gathering delay
        SendWakeList help;              // ... the pool is behind: the caller sends them in full
        bool gathered = false;          // enough for a send: nobody waits out the delay for it
    };
    // The one way in for a delivery: the fanout to the threads (Fan), the caller's buffers as
    // SendNow and Submit take them, then `help` on the calling thread. Everything is left empty.
    // Not under locks a send's failure report takes.
    void HandOver(Handover& handover) EXCLUDES(m_Lock);

private:
    struct Entry {
        std::shared_ptr<ClientSendBuffer> buffer;
        Clock::time_point due; // always set: only Push makes an entry
        std::uint32_t ticket;  // the buffer's wait ticket when it began to wait out the delay
    };

    // Entries in the order they fall due, taken from the front.
    class Line {
    public:
        bool Empty() const { return m_nHead == m_Entries.size(); }
        std::size_t Size() const { return m_Entries.size() - m_nHead; }
        const Entry& operator[](std::size_t i) const { return m_Entries[m_nHead + i]; }
        void Push(std::shared_ptr<ClientSendBuffer>&& buffer, Clock::time_point due);
        // Takes them all; the list is left empty.
        void PushAll(SendWakeList& buffers, Clock::time_point due);
        std::shared_ptr<ClientSendBuffer> Pop();
        // The front entry's wait ended early: the buffer went on at once meanwhile.
        bool FrontSpent() const;
        void Clear();

    private:
        std::vector<Entry> m_Entries;
        std::size_t m_nHead = 0;
    };

    // One share's targets of one fanout.
    struct Job {
        std::shared_ptr<const Fanout> fanout;
        FanoutTargets targets;
    };

    // One thread's buffers: those that go when it is free, and those that wait out the gathering
    // delay; both in the order they fall due, the first before the second. And the fanouts for
    // them not queued yet.
    struct Share {
        Line now;
        Line later;
        std::vector<Job> jobs;                        // fanouts not queued yet, in order
        std::optional<Clock::time_point> jobsDue;     // when they go; none while none wait
        std::size_t jobEvents = 0;                    // in them
        std::optional<Clock::time_point> lastPosting; // when its jobs were last taken, if ever
        bool posting = false;  // a thread queues its jobs: nobody else may meanwhile
        bool jobsLast = false; // its last turn was its jobs: the buffers go next
    };

    // Queues them; false, with the list untouched, after Stop.
    bool Queue(SendWakeList& buffers, bool gathered) EXCLUDES(m_Lock);
    void StartThreads(platform::UniqueLock& lock) REQUIRES(m_Lock);
    void Run(std::size_t index) EXCLUDES(m_Lock);
    std::size_t HomeOf(ClientSendBuffer& buffer) REQUIRES(m_Lock);
    // Every share's buffers waiting out the delay go at once; the bits of the shares they were in.
    std::uint64_t TakeAlongLater(Clock::time_point now) REQUIRES(m_Lock);
    // The bits of the shares with buffers to go at once.
    std::uint64_t SharesWithWork() const REQUIRES(m_Lock);
    // Fills `turn` with buffers due by `now`, or `jobs` with a share's fanouts (`jobsOf` says
    // whose): its own first; else those of the share held up longest, if past kHeldUp. Else the
    // time to wait until, or max() for no limit.
    Clock::time_point TakeTurn(std::size_t index, Clock::time_point now, SendWakeList& turn,
                               std::vector<Job>& jobs, std::size_t& jobsOf) REQUIRES(m_Lock);
    // Queues the jobs' records; the buffers that want a sender go to `send`. True when one of
    // them was gathered.
    static bool Post(const std::vector<Job>& jobs, SendWakeList& send);
    // Queues the jobs (counted in m_nFanning) and sends every buffer in full on this thread: what
    // is left after Stop. Both lists are left empty.
    void SendLeft(std::vector<Job>& jobs, SendWakeList& buffers) EXCLUDES(m_Lock);
    // The share's buffers waiting out the delay go at once.
    void TakeAlongLater(Share& share, Clock::time_point now) REQUIRES(m_Lock);
    // The threads the bits name (bit i for share i).
    void Wake(std::uint64_t shares);

    const int m_nThreads;
    const std::chrono::microseconds m_Gathering;
    platform::Mutex m_Lock;
    // One per thread, each woken for its own share.
    const std::unique_ptr<std::condition_variable[]> m_Wakes;
    std::condition_variable m_Started;
    int m_nStarted GUARDED_BY(m_Lock) = 0; // threads that have begun to wait
    std::vector<Share> m_Shares GUARDED_BY(m_Lock);
    std::size_t m_nNextShare GUARDED_BY(m_Lock) = 0; // the share the next new buffer goes to
    std::vector<std::thread> m_Threads GUARDED_BY(m_Lock);
    bool m_bStop GUARDED_BY(m_Lock) = false;
    std::atomic<std::size_t> m_nFanning{0}; // jobs taken by Fan and not queued yet
};

} // namespace engine
