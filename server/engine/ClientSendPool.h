#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <thread>
#include <vector>

#include <platform/Mutex.h>

namespace engine {

class ClientSendBuffer;

using SendWakeList = std::vector<std::shared_ptr<ClientSendBuffer>>;

// A few threads that help write the clients' queued records, so that a large fan-out is shared
// and one slow socket or busy core holds up no other client. The thread delivering events sends
// a small fan-out itself (SendNow), since a hand-off costs a wait for a core, and leaves a large
// one to the threads, so that it can take the next delivery meanwhile.
// What comes for a client while its send is on the way gathers behind it and leaves with the
// next. Events for a client sent to a moment ago go through Submit and wait out the gathering
// delay, so a busy client gets one send per delay; a quiet one's go at once. Each buffer gets one
// send per turn, and one that filled up again meanwhile goes to the back of the line.
class ClientSendPool {
public:
    using Clock = std::chrono::steady_clock;

    // Half the cores, at least one and at most four: the rest is left to the link, the event
    // handler and whatever else the machine runs.
    static int DefaultThreads();
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
    // The same for buffers that were given enough to go at once, but only queued: the calling
    // thread never sends (it may hold locks a send's failure report takes). After Stop the
    // buffers stay in the list for Submit.
    void Hand(SendWakeList& buffers) EXCLUDES(m_Lock);
    // The buffers go at once (the list is left empty), together with whatever else waits for a
    // sender and, when `gathered` says the caller has just given them enough for a send, the
    // buffers waiting out their delay. At most kCallerShare of them are sent on the calling
    // thread before it returns; more are left to the threads, one woken for each share, and the
    // call returns at once, free for the next delivery. Not under locks a send's failure report
    // takes.
    void SendNow(SendWakeList& buffers, bool gathered = false) EXCLUDES(m_Lock);
    // What the calling thread of SendNow sends alone.
    static constexpr std::size_t kCallerShare = 16;
    // Ends the threads; what they had not reached yet is sent on this thread.
    void Stop() EXCLUDES(m_Lock);

private:
    struct Entry {
        std::shared_ptr<ClientSendBuffer> buffer;
        Clock::time_point due;
    };

    // Entries in the order they fall due, taken from the front.
    class Line {
    public:
        bool Empty() const { return m_nHead == m_Entries.size(); }
        std::size_t Size() const { return m_Entries.size() - m_nHead; }
        const Entry& operator[](std::size_t i) const { return m_Entries[m_nHead + i]; }
        void Push(std::shared_ptr<ClientSendBuffer>&& buffer, Clock::time_point due);
        std::shared_ptr<ClientSendBuffer> Pop();
        void Clear();

    private:
        std::vector<Entry> m_Entries;
        std::size_t m_nHead = 0;
    };

    // Queues them; false, with the list untouched, after Stop.
    bool Queue(SendWakeList& buffers, bool gathered) EXCLUDES(m_Lock);
    void StartThreads(platform::UniqueLock& lock) REQUIRES(m_Lock);
    void Run() EXCLUDES(m_Lock);
    // Entries of both lines due by `now`, at most `limit`.
    std::size_t DueCount(Clock::time_point now, std::size_t limit) const REQUIRES(m_Lock);

    const int m_nThreads;
    const std::chrono::microseconds m_Gathering;
    platform::Mutex m_Lock;
    std::condition_variable m_Wake;
    std::condition_variable m_Started;
    int m_nStarted GUARDED_BY(m_Lock) = 0; // threads that have begun to wait
    // Buffers that go when a thread is free, and those that wait out the gathering delay; both
    // in the order they fall due, the first before the second.
    Line m_Now GUARDED_BY(m_Lock);
    Line m_Later GUARDED_BY(m_Lock);
    std::vector<std::thread> m_Threads GUARDED_BY(m_Lock);
    bool m_bStop GUARDED_BY(m_Lock) = false;
};

} // namespace engine
