#pragma once

// Simple relays for comparison. One thread reads the switch stream and cuts it into records. The
// naive one sends each record to every client socket in turn; the batching one sends every whole
// record of one read to each client with a single send (the strongest one-thread relay). The
// parallel one hands each read's records to as many threads as the server has senders, each of
// which sends everything that came since its last pass to its own slice of the clients with one
// send per client: a relay with no queue per client, which shows what the machine allows.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class BaselineRelay {
public:
    enum class Mode { Naive, Batching, Parallel };

    explicit BaselineRelay(Mode mode = Mode::Naive) : m_Mode(mode) {}
    ~BaselineRelay();
    BaselineRelay(const BaselineRelay&) = delete;
    BaselineRelay& operator=(const BaselineRelay&) = delete;

    // Listens on an ephemeral loopback port, connects to the switch and, on its own thread,
    // accepts `clients` connections before relaying.
    bool Start(const std::string& switchHost, int switchPort, int clients, std::string& error);
    int Port() const { return m_Port; }
    bool WaitAccepted(int timeoutMs) const;
    // CPU time of the relay's threads so far.
    double CpuSeconds() const;
    void Stop();

private:
    using Batch = std::shared_ptr<const std::vector<std::uint8_t>>;

    void Run();
    void SendBatch(const std::vector<std::uint8_t>& batch);
    void SendTo(int fd, const std::uint8_t* data, std::size_t size);
    // Parallel: what the reader hands over, and a sender's loop.
    void Publish(std::vector<std::uint8_t>&& bytes);
    void Sender(std::size_t index);

    Mode m_Mode;
    int m_Listen = -1;
    int m_Switch = -1;
    int m_Port = 0;
    int m_Wanted = 0;
    std::vector<int> m_Clients;
    std::atomic<int> m_Accepted{0};
    std::atomic<bool> m_Stop{false};
    std::thread m_Thread;

    std::mutex m_BatchLock;
    std::condition_variable m_BatchReady;
    std::deque<Batch> m_Batches;            // from the number m_FirstBatch on
    std::uint64_t m_FirstBatch = 0;         // the number of the first one kept
    std::vector<std::uint64_t> m_NextBatch; // per sender, the first it has not sent
    std::vector<std::thread> m_Senders;
};

} // namespace bench
