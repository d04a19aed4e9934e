#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class ClientSendBuffer;

using SendWakeList = std::vector<std::shared_ptr<ClientSendBuffer>>;

// A few threads that write the clients' queued records, so that the thread delivering an event
// only copies it and one slow socket or busy core holds up no other client. Each buffer handed
// in gets one send per turn; one that filled up again meanwhile goes to the back of the line.
class ClientSendPool {
public:
    // Half the cores, at least one and at most four.
    static int DefaultThreads();

    explicit ClientSendPool(int threads = DefaultThreads());
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
    void Run();

    const int m_nThreads;
    std::mutex m_Lock;
    std::condition_variable m_Wake;
    SendWakeList m_Ready; // from m_nHead on
    std::size_t m_nHead = 0;
    std::vector<std::thread> m_Threads;
    bool m_bStop = false;
};
