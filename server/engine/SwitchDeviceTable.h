#pragma once

#include "ClientSendPool.h"
#include "LineDeviceList.h"

#include <protocol/Bytes.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace engine {

class COrbClientConnectionManager;
class COrbClientSocketUser;
class COrbManagerDlg;
class SendBatch;

// What the server knows of the switch's devices: the devices of the download and after it, counted
// by type, each kept as a LineDeviceEntry in the locked list. Filled by the switch's event handling
// (the event handler thread, or the link reader while it holds the queue's handler turn); the
// logins, the link start and stop and the user dialogs read it. It also delivers the switch's
// events to the clients, with the sender pool it owns.
class SwitchDeviceTable {
public:
    // The counters in the order the main dialog copies them (m_nDeviceCountByType).
    enum CounterSlot : int {
        kOtherTypes, // types 6 to 11
        kType5,
        kType4,
        kType3,
        kType13,
        kType12,
        kType2,
        kType1,
        kCounterCount
    };

    explicit SwitchDeviceTable(COrbManagerDlg* owner);
    ~SwitchDeviceTable();
    SwitchDeviceTable(const SwitchDeviceTable&) = delete;
    SwitchDeviceTable& operator=(const SwitchDeviceTable&) = delete;

    // The counter a mapped device type is counted in; -1 for a type that is not counted.
    static int CounterSlotOf(int type);
    // Raises the type's counter; false for a type that is not counted.
    bool RaiseTypeCounter(int type);
    // Raises the total; the result is the new device's sequence number.
    int RaiseTotal();
    int GetCounter(int slot) const;
    int GetTotal() const { return m_nTotal.load(); }
    std::array<int, kCounterCount> GetCounters() const;

    // Both add an entry made from the 'A' body (result 1) unless one with this device ID exists
    // (result 0).
    int AddDevice(const std::string& deviceId, protocol::ByteView body, std::uint8_t type,
                  int number);
    // After the download: the new entry takes its end record from the first entry.
    int AddDeviceAfterDownload(const std::string& deviceId, protocol::ByteView body,
                               std::uint8_t type, int number);
    LineDeviceEntry* FindDevice(const std::string& deviceId);
    // Bytes 0 to 9 of the download's end record into every entry.
    void SetEndRecord(protocol::ByteView body);
    // The device renumbered by the switch ('m'): the entry gets the new ID, its line name and the
    // new number in its record; sequence number, kind and end record stay.
    void UpdateDevice(const std::string& oldDeviceId, const std::string& newDeviceId);
    // Empties the list and the total; the per-type counters stay as they are.
    void ClearDevices();

    LineDeviceList& GetDevices() { return m_Devices; }

    // Delivers one switch event body to the registered clients of the first port whose peer is
    // still there, through the own-line filter of those that have it, and to every client of the
    // second port. The two texts are the device numbers the filter compares (their leading
    // digits); allFlag 1 lets the event past it. The event is copied once, into a batch the
    // clients' queues refer to. For up to ClientSendPool::kCallerShare clients of a port this
    // thread queues it, and sends it unless the pool has more waiting; for more, or while a
    // fanout is still being queued, the sender threads queue it for their own clients and send
    // it. A client sent to a moment ago waits out the gathering delay, unless the delivery has
    // kGatheredEvents or more.
    void SendEventToClient(const std::string& deviceText, const std::uint8_t* body, int length,
                           const std::string& secondText, int allFlag);
    // The same for an event still in its frame (two length bytes, then the body), which goes out
    // to every client as it is.
    void SendFramedEventToClient(const std::string& deviceText, protocol::ByteView frame,
                                 const std::string& secondText, int allFlag);

    // While one lives, the events its thread delivers through this table are held and go out
    // together when it ends, or before when the batch has no room for the next: their frames are
    // copied into one batch, each client's queue is locked once for all of them, and they leave
    // with one send to each client as far as the socket takes them. Each client still gets its
    // events in the order they were delivered, and every trace of a single delivery is still
    // written. One thread at a time; a null table holds nothing.
    class DeliveryBatch {
    public:
        explicit DeliveryBatch(SwitchDeviceTable* table);
        ~DeliveryBatch();
        DeliveryBatch(const DeliveryBatch&) = delete;
        DeliveryBatch& operator=(const DeliveryBatch&) = delete;

        // Holds enough: more would keep the first events waiting, or overfill a client's queue
        // before anybody sends it.
        bool Full() const;

    private:
        SwitchDeviceTable* m_pTable;
    };
    // Events of one delivery, deliverable or not, that are enough for a send: no client waits
    // out the gathering delay for more, and those already waiting go with them.
    static constexpr std::size_t kGatheredEvents = 8;
    // What makes a batch Full.
    static constexpr std::size_t kBatchEvents = 256;
    static constexpr std::size_t kBatchBytes = 16 * 1024;

private:
    // One event of a delivery: its frame at `offset` of the batch (length 0 when it cannot be
    // delivered) and what the own-line filter compares.
    struct HeldEvent {
        std::size_t offset;
        int length;
        long number1;
        long number2;
        bool allClients;
    };

    // One delivery on its way to the clients.
    struct Delivery;

    // `frame` is empty when the event cannot be delivered; that is traced for each client.
    void DeliverFrame(const std::string& deviceText, protocol::ByteView frame,
                      const std::string& secondText, int allFlag);
    // The events lie in `batch`; the clients' queues keep it as long as they need it.
    void Deliver(const std::shared_ptr<const SendBatch>& batch, const HeldEvent* events,
                 std::size_t count);
    // The steps of a delivery, in order.
    static Delivery& BeginDelivery(const std::shared_ptr<const SendBatch>& batch,
                                   const HeldEvent* events, std::size_t count);
    void DeliverToFirstPort(COrbClientConnectionManager& manager, Delivery& delivery);
    void DeliverToSecondPort(COrbClientConnectionManager& manager, Delivery& delivery);
    void HandToSenders(Delivery& delivery);
    // The steps for a port's clients: whether the sender threads queue for them (the fanout is
    // made then), the share of a client that filters, and one client's events.
    bool FansOut(Delivery& delivery, std::size_t clients);
    static void PickOwnLine(const COrbClientSocketUser& client, Delivery& delivery);
    static void DeliverToClient(COrbClientSocketUser& client, bool all, Delivery& delivery);
    // The held events go out, and the next ones start a new batch.
    void DeliverHeld();
    int Add(const std::string& deviceId, protocol::ByteView body, std::uint8_t type, int number,
            bool endRecordFromFirst);

    std::array<std::atomic<int>, kCounterCount> m_nCounters{};
    COrbManagerDlg* m_pOwner;
    std::atomic<int> m_nTotal{0};
    LineDeviceList m_Devices;
    ClientSendPool m_Senders; // every delivery enters it once, through HandToSenders
    // What a DeliveryBatch holds; its thread's alone until delivered.
    std::shared_ptr<SendBatch> m_pHeld;
    std::vector<HeldEvent> m_HeldEvents;
};

} // namespace engine
