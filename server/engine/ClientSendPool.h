#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class ClientSendBuffer;

using SendWakeList = std::vector<std::shared_ptr<ClientSendBuffer>>;

// A few threads that write the clients' queued records, so that the thread delivering an event
// only copies it and one slow socket or busy core holds up no other client. A buffer handed in
// is sent a moment later (the gathering delay), so the records that follow it within that moment
// leave in the same send; each buffer gets one send per turn, and one that filled up again
// meanwhile goes to the back of the line.
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

    // Takes the buffers (the list is left empty, its room kept). The threads start with the first
    // call; after Stop the calling thread sends them itself.
    void Submit(SendWakeList& buffers);
    // Ends the threads; what they had not reached yet is sent on this thread.
    void Stop();
    int Threads() const { return m_nThreads; }

private:
    struct Entry {
        std::shared_ptr<ClientSendBuffer> buffer;
        Clock::time_point due;
    };

    void Run();
    // The caller holds m_Lock.
    void Append(std::shared_ptr<ClientSendBuffer>&& buffer, Clock::time_point due);

    const int m_nThreads;
    const std::chrono::microseconds m_Gathering;
    std::mutex m_Lock;
    std::condition_variable m_Wake;
    std::vector<Entry> m_Ready; // from m_nHead on, in the order they fall due
    std::size_t m_nHead = 0;
    std::vector<std::thread> m_Threads;
    bool m_bStop = false;
};
