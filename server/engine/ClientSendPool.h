#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace engine {

class ClientSendBuffer;

using SendWakeList = std::vector<std::shared_ptr<ClientSendBuffer>>;

// A few threads that help write the clients' queued records, so that a large fan-out is shared
// and one slow socket or busy core holds up no other client. The thread delivering events sends
// itself (SendNow) and wakes threads only for the share of a fan-out it would take too long
// over: a hand-off costs a wait for a core, on a loaded machine more than the sends it saves.
// Nothing waits on purpose: what comes for a client while its send is on the way gathers behind
// it and leaves with the next. Buffers handed in through Submit can still be held back for a
// gathering delay. Each buffer gets one send per turn, and one that filled up again meanwhile goes
// to the back of the line.
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
    void Submit(SendWakeList& buffers, bool gathered = false);
    // The same for buffers that were given enough to go at once, but only queued: the calling
    // thread never sends (it may hold locks a send's failure report takes). After Stop the
    // buffers stay in the list for Submit.
    void Hand(SendWakeList& buffers);
    // Sends the buffers (the list is left empty) on the calling thread, with the threads' help for
    // more than kCallerShare of them, together with whatever else waits for a sender; returns when
    // no buffer waits any more (a thread may still be sending). Not under locks a send's failure
    // report takes.
    void SendNow(SendWakeList& buffers);
    // What the calling thread of SendNow sends alone; each share beyond it wakes a thread.
    static constexpr std::size_t kCallerShare = 16;
    // Ends the threads; what they had not reached yet is sent on this thread.
    void Stop();

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
    bool Queue(SendWakeList& buffers, bool gathered);
    // The caller holds `lock` on m_Lock.
    void StartThreads(std::unique_lock<std::mutex>& lock);
    void Run();
    // The caller holds m_Lock: entries of both lines due by `now`, at most `limit`.
    std::size_t DueCount(Clock::time_point now, std::size_t limit) const;

    const int m_nThreads;
    const std::chrono::microseconds m_Gathering;
    std::mutex m_Lock;
    std::condition_variable m_Wake;
    std::condition_variable m_Started;
    int m_nStarted = 0; // threads that have begun to wait
    // Buffers that go when a thread is free, and those that wait out the gathering delay; both
    // in the order they fall due, the first before the second.
    Line m_Now;
    Line m_Later;
    std::vector<std::thread> m_Threads;
    bool m_bStop = false;
};

} // namespace engine
