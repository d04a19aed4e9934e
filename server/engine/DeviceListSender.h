#pragma once

#include "LineDeviceEntry.h"

#include <platform/Mutex.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace engine {

class COrbClientConnectionManager;
class COrbClientSocketUser;

// Sends the paced device lists of a client port on a thread of its own, so the pauses between
// records never hold up the window thread. The lists of different clients go out side by side:
// each client keeps its own pause after each record, and while it waits the others take their
// turns. A client's own lists go out one after another. Each record goes out under the
// client-list lock and only while its client is still in the list; a closed client's list is
// dropped.
class DeviceListSender {
public:
    using Record = std::array<std::uint8_t, 2 + LineDeviceEntry::kSentSize>;

    explicit DeviceListSender(COrbClientConnectionManager& manager);
    ~DeviceListSender();
    DeviceListSender(const DeviceListSender&) = delete;
    DeviceListSender& operator=(const DeviceListSender&) = delete;

    void Queue(COrbClientSocketUser* client, std::vector<Record> records, const Record& endRecord)
        EXCLUDES(m_Mutex);
    // Drops what is left of the client's lists. Called under the client-list lock, before the
    // client is disposed of.
    void Cancel(const COrbClientSocketUser* client) EXCLUDES(m_Mutex);
    void CancelAll() EXCLUDES(m_Mutex);
    // Ends the thread; a pause under way ends at once.
    void Stop() EXCLUDES(m_Mutex);
    // No list queued or going out.
    bool Idle() const EXCLUDES(m_Mutex);

private:
    using Clock = std::chrono::steady_clock;

    struct Job {
        COrbClientSocketUser* client;
        std::vector<Record> records;
        Record endRecord;
        std::string address;
        int port;
        std::size_t next = 0; // records.size(): the end record is next
        int count = 0;
        // Under m_Mutex, which a member of the job cannot name.
        Clock::time_point due{}; // set as the job joins m_Jobs
        std::uint64_t order = 0; // among jobs due at once, the longer waiting goes first
        bool cancelled = false;
    };

    void Run() EXCLUDES(m_Mutex);
    // Sends the job's next record: the pause it then wants in milliseconds, or -1 when it is
    // done or dropped.
    int SendNext(Job& job) EXCLUDES(m_Mutex);
    // The earliest due of m_Jobs.
    std::shared_ptr<Job> Earliest() const REQUIRES(m_Mutex);
    // Ends the job and moves its client's next list, if any, into m_Jobs.
    void Finish(const std::shared_ptr<Job>& job) REQUIRES(m_Mutex);

    COrbClientConnectionManager& m_Manager;
    mutable platform::Mutex m_Mutex;
    std::condition_variable m_Wake;
    // One per client, the list going out.
    std::deque<std::shared_ptr<Job>> m_Jobs GUARDED_BY(m_Mutex);
    // Later lists of those clients, in order.
    std::deque<std::shared_ptr<Job>> m_Waiting GUARDED_BY(m_Mutex);
    // Sending outside m_Mutex.
    std::shared_ptr<Job> m_Current GUARDED_BY(m_Mutex);
    std::uint64_t m_nOrder GUARDED_BY(m_Mutex) = 0;
    bool m_bStop GUARDED_BY(m_Mutex) = false;
    // Started in Queue under m_Mutex and joined in Stop without it, both on the UI thread.
    std::thread m_Thread;
};

} // namespace engine
