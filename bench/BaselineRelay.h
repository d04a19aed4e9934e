#pragma once

// Simple relays for comparison, on one thread: it reads the switch stream and cuts it into
// records. The naive one sends each record to every client socket in turn; the batching one
// sends every whole record of one read to each client with a single send (the strongest simple
// relay).

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class BaselineRelay {
public:
    enum class Mode { Naive, Batching };

    explicit BaselineRelay(Mode mode = Mode::Naive) : m_Mode(mode) {}
    ~BaselineRelay();
    BaselineRelay(const BaselineRelay&) = delete;
    BaselineRelay& operator=(const BaselineRelay&) = delete;

    // Listens on an ephemeral loopback port, connects to the switch and, on its own thread,
    // accepts `clients` connections before relaying.
    bool Start(const std::string& switchHost, int switchPort, int clients, std::string& error);
    int Port() const { return m_Port; }
    bool WaitAccepted(int timeoutMs) const;
    // CPU time of the relay thread so far.
    double CpuSeconds() const;
    void Stop();

private:
    void Run();
    void SendBatch(const std::vector<std::uint8_t>& batch);

    Mode m_Mode;
    int m_Listen = -1;
    int m_Switch = -1;
    int m_Port = 0;
    int m_Wanted = 0;
    std::vector<int> m_Clients;
    std::atomic<int> m_Accepted{0};
    std::atomic<bool> m_Stop{false};
    std::thread m_Thread;
};

} // namespace bench
