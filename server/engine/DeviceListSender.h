#pragma once

#include "LineDeviceEntry.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class COrbClientConnectionManager;
class COrbClientSocketUser;

// Sends the paced device lists of a client port on a thread of its own, one list after another,
// so the pauses between records never hold up the window thread. Each record goes out under the
// client-list lock and only while its client is still in the list; a closed client's list is
// dropped.
class DeviceListSender {
public:
    using Record = std::array<std::uint8_t, 2 + LineDeviceEntry::kSentSize>;

    explicit DeviceListSender(COrbClientConnectionManager& manager);
    ~DeviceListSender();
    DeviceListSender(const DeviceListSender&) = delete;
    DeviceListSender& operator=(const DeviceListSender&) = delete;

    void Queue(COrbClientSocketUser* client, std::vector<Record> records, const Record& endRecord);
    // Drops what is left of the client's lists. Called under the client-list lock, before the
    // client is disposed of.
    void Cancel(const COrbClientSocketUser* client);
    void CancelAll();
    // Ends the thread; a pause under way ends at once.
    void Stop();
    // No list queued or going out.
    bool Idle() const;

private:
    struct Job {
        COrbClientSocketUser* client;
        std::vector<Record> records;
        Record endRecord;
        std::string address;
        int port;
        bool cancelled = false; // under the client-list lock
    };

    void Run();
    void Send(Job& job);
    void Pause(int milliseconds);

    COrbClientConnectionManager& m_Manager;
    mutable std::mutex m_Mutex;
    std::condition_variable m_Wake;
    std::deque<std::shared_ptr<Job>> m_Jobs;
    std::shared_ptr<Job> m_Current;
    bool m_bStop = false;
    std::thread m_Thread;
};
