#pragma once

// The clients of one bench run: plain TCP sockets on loopback that log in (or just connect, for
// the baseline relay) and then, phase by phase, receive the bench's events on a few receiver
// threads, timing each one and checking its order and its bytes. One client may be left stalled:
// it takes its login but reads nothing during the phases, until it is resumed or set to read along
// (then it only drains: its stream is checked across phases, kept out of their figures).

#include "LatencyHistogram.h"
#include "SequenceTracker.h"

#include <testsupport/RecordReader.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bench {

struct PhaseStats {
    LatencyHistogram latency; // switch send -> client receive, every event at every client
    LatencyHistogram fanOut;  // first to last client, events that reached every reading client
    std::uint64_t lost = 0;   // events sent but never received, summed over reading clients
    int clientsWithLoss = 0;
    std::uint64_t duplicates = 0; // events received again, summed over reading clients
    int clientsWithDuplicates = 0;
    std::uint64_t damaged = 0; // records that are not whole bench events
    std::uint64_t outOfOrder = 0;
    int closed = 0; // reading clients whose connection ended
    std::int64_t lastReceiveNs = 0;
    std::uint64_t minReceived = 0; // events the worst reading client received

    // Adds a later phase of the same clients (client counts take the larger).
    void Add(const PhaseStats& other);
};

struct StallReport {
    std::uint64_t received = 0; // distinct events over every phase
    std::uint64_t damaged = 0;
    std::uint64_t duplicates = 0;
    std::uint64_t outOfOrder = 0;
    std::size_t pendingBytes = 0; // a record left half-arrived at the end
    bool closed = false;
};

class ClientFleet {
public:
    ClientFleet() = default;
    ~ClientFleet();
    ClientFleet(const ClientFleet&) = delete;
    ClientFleet& operator=(const ClientFleet&) = delete;

    // Adds `count` clients on the port. With a kind (0..255) each sends the login record for it
    // and is ready once the device list has ended; a negative kind only connects. The first of
    // them is the stalled client when `stallFirst` (its receive buffer is kept small so the
    // sender feels the stall at once).
    bool Join(int port, int count, int kind, bool stallFirst, std::string& error);

    // Receives on `threads` threads until EndPhase, expecting sequence numbers from
    // `firstSequence` on; fan-out is tracked for the first `fanOutCapacity` of them.
    // With `spin` the receivers never sleep in their wait (no wake-up cost on the send side).
    void BeginPhase(std::uint64_t firstSequence, std::size_t fanOutCapacity, int threads,
                    bool spin = false);
    void EndPhase();
    // Events the slowest reading client has received in this phase. Any thread.
    std::uint64_t MinReceived() const;
    // Until done() holds, asked again after every receive of the phase, or the limit is up;
    // done()'s last answer. Any thread but a receiver.
    bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) const;
    int ReadingClients() const;
    // After EndPhase, for a phase in which `sent` events went out.
    PhaseStats Stats(std::uint64_t sent) const;
    // Lets the stalled client read until nothing has come for `quietMs`, between phases; the
    // report covers everything it had since it joined.
    StallReport ResumeStalled(int quietMs);
    // Whether the stalled client reads along in the phases to come.
    void SetStalledReading(bool reading) { m_StalledReads = reading; }

    void CloseAll();

private:
    struct Client {
        int fd = -1;
        bool stalled = false;
        testsupport::RecordReader stream;
        SequenceTracker sequences;
        std::uint64_t damaged = 0;
        bool closed = false;
        // Distinct, for other threads; published once a receive, on a line of its own, as the
        // sending thread reads it all the time.
        alignas(64) std::atomic<std::uint64_t> received{0};
        char pad[64 - sizeof(std::atomic<std::uint64_t>)];
    };
    struct Receiver {
        int epoll = -1;
        std::vector<Client*> clients;
        LatencyHistogram latency;
        std::vector<std::int64_t> first, last;
        std::vector<std::uint32_t> count;
        std::int64_t lastReceiveNs = 0;
        std::thread thread;
    };

    void Receive(Receiver& receiver);
    // Feeds what a receive brought; a refused record length counts as damage.
    void Feed(Receiver* receiver, Client& client, const std::uint8_t* data, std::size_t size,
              std::int64_t now);
    void Take(Receiver* receiver, Client& client, const std::uint8_t* body, std::size_t length,
              std::int64_t now);

    std::vector<std::unique_ptr<Client>> m_Clients;
    std::vector<std::unique_ptr<Receiver>> m_Receivers;
    std::atomic<bool> m_Stop{false};
    std::uint64_t m_FirstSequence = 0;
    std::size_t m_FanOutCapacity = 0;
    bool m_Spin = false;
    bool m_StalledReads = false;
    // The receivers wake a WaitUntil, and take the lock only while one waits.
    mutable std::atomic<int> m_Waiting{0};
    mutable std::mutex m_ProgressLock;
    mutable std::condition_variable m_Progress;
};

} // namespace bench
