#pragma once

// The least a relay can do, for comparison: one thread reads the switch stream, cuts it into
// records and sends each record to every client socket in turn.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class BaselineRelay {
public:
    BaselineRelay() = default;
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
