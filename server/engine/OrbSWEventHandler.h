#pragma once

#include <platform/WorkerThread.h>
#include <protocol/Bytes.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace engine {

class COrbIOQueue;
class COrbManagerDlg;
class SwitchDeviceTable;
class SwitchEventRecord;

// The thread that consumes everything the switch sends: it reads each record from the I/O queue,
// takes the device download (every other event is dropped until the download's end record), and
// then dispatches every event by its letter: the handler updates the device table or the link
// state, delivers the event to the clients and the event is copied to the monitors.
//
// The thread blocks in the queue's read, so it ends when the queue is closed (as the link stop
// does) or, at the next record, after Stop.
class COrbSWEventHandler {
public:
    // Who receives a delivered event; by default the device table's SendEventToClient.
    using Delivery = std::function<void(const std::string& deviceText, protocol::ByteView body,
                                        const std::string& secondText, int allFlag)>;

    explicit COrbSWEventHandler(COrbManagerDlg* owner);
    // Asks the thread to end and waits for it: the owner's I/O queue must be closed (or be absent)
    // by then, or the wait lasts until the next record.
    virtual ~COrbSWEventHandler();
    COrbSWEventHandler(const COrbSWEventHandler&) = delete;
    COrbSWEventHandler& operator=(const COrbSWEventHandler&) = delete;

    // Takes the owner's I/O queue and device table as they are now (as the constructor did) and
    // starts the thread; 1 when it runs. A handler runs one thread in its life.
    int Start();
    // Empties the device table and asks the thread to end; always 1.
    int Stop();
    // Waits for the thread to end (at once when it never ran); never from the thread itself.
    void Join();
    // As Join, but gives up after the time-out; true when the thread has ended.
    bool Join(int timeoutMs);

    // Read by the main dialog's liveness check.
    int IsAlive() const { return m_bAlive.load(); }
    int IsRunning() const { return m_bRunning.load(); }

    // Replaces the delivery to the clients; set it before Start.
    void SetDelivery(Delivery delivery);

    // The thread's body; returns when the queue is closed or the handler stopped.
    void EventHandlerThread();
    // One event of the live phase: body holds exactly the length bytes received.
    void DispatchSwitchEvent(const std::uint8_t* body, int length);
    // One 'A' record while the download runs.
    void OnDeviceDownloadEvent(protocol::ByteView body);

private:
    // One record taken from the queue.
    void HandleRecord(const std::vector<std::uint8_t>& item);
    void OnSwitchEvent(protocol::ByteView body);
    void OnDeviceRecordEvent(protocol::ByteView body);
    void OnDeviceNumberChangedEvent(protocol::ByteView body);
    void OnStatusReplyEvent(protocol::ByteView body);
    void OnDeviceInfoEvent(protocol::ByteView body);
    void CopyToMonitors(protocol::ByteView body);
    void Deliver(const SwitchEventRecord& record, protocol::ByteView body,
                 const std::string& secondText, int allFlag);
    void TraceDownloadComplete();
    bool DogwoodLoggedIn() const;
    void End();
    // At most as many clients as a delivery sends to on its own thread.
    bool FewClients() const;
    // Handles records in order within one delivery batch; false, having handled none, once the
    // handler is stopping.
    bool HandleBatch(const std::vector<std::unique_ptr<std::vector<std::uint8_t>>>& records);

    COrbManagerDlg* m_pOwner;
    COrbIOQueue* m_pQueue = nullptr;
    SwitchDeviceTable* m_pTable = nullptr;
    Delivery m_Delivery;
    // The framed record whose body is being dispatched (handler thread); empty otherwise.
    protocol::ByteView m_CurrentFrame;
    std::atomic<int> m_bAlive{0};
    std::atomic<int> m_bRunning{0};
    platform::WorkerThread m_Thread;
};

} // namespace engine
