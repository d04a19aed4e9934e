#include "SwitchDeviceTable.h"

#include "ClientSendBuffer.h"
#include "OrbClientConnectionManager.h"
#include "OrbClientSocketUser.h"
#include "OrbManagerDlg.h"
#include "SendBatch.h"
#include "TraceLog.h"

#include <protocol/CtiRecord.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

namespace engine {

namespace {

// The value of the text's leading decimal digits; 0 when it starts with none.
long LeadingNumber(const std::string& text) {
    long value = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            break;
        if (value > 100000000L)
            break; // far beyond any device number; stop before it can overflow
        value = value * 10 + (c - '0');
    }
    return value;
}

bool Deliverable(std::size_t length) {
    return length > 0 && length <= protocol::CtiRecord::kMaxSentBodyLength;
}

} // namespace

void SwitchDeviceTable::SendEventToClient(const std::string& deviceText, const std::uint8_t* body,
                                          int length, const std::string& secondText, int allFlag) {
    // One frame for every client; an undeliverable length (or no body) builds none and is
    // reported per client.
    std::array<std::uint8_t,
               protocol::CtiRecord::kLengthSize + protocol::CtiRecord::kMaxSentBodyLength>
        frame{};
    protocol::ByteView framed;
    if (body != nullptr && length > 0 && Deliverable(static_cast<std::size_t>(length))) {
        protocol::CtiRecord::PutLength(frame.data(), static_cast<std::uint16_t>(length));
        std::copy(body, body + length, frame.begin() + protocol::CtiRecord::kLengthSize);
        framed = protocol::ByteView(frame).first(protocol::CtiRecord::kLengthSize +
                                                 static_cast<std::size_t>(length));
    }
    DeliverFrame(deviceText, framed, secondText, allFlag);
}

void SwitchDeviceTable::SendFramedEventToClient(const std::string& deviceText,
                                                protocol::ByteView frame,
                                                const std::string& secondText, int allFlag) {
    const std::optional<protocol::CtiRecord> record = protocol::CtiRecord::At(frame);
    const bool deliverable = record && Deliverable(record->Length());
    DeliverFrame(deviceText, deliverable ? record->Frame() : protocol::ByteView{}, secondText,
                 allFlag);
}

namespace {

// A batch leaves room in a client's queue for what it already holds.
static_assert(SwitchDeviceTable::kBatchBytes <= ClientSendBuffer::kByteLimit / 4);

// The table whose deliveries this thread holds in a batch.
thread_local const SwitchDeviceTable* t_pBatching = nullptr;

} // namespace

SwitchDeviceTable::DeliveryBatch::DeliveryBatch(SwitchDeviceTable* table) : m_pTable(table) {
    if (m_pTable)
        t_pBatching = m_pTable;
}

SwitchDeviceTable::DeliveryBatch::~DeliveryBatch() {
    if (!m_pTable)
        return;
    t_pBatching = nullptr;
    m_pTable->DeliverHeld();
}

bool SwitchDeviceTable::DeliveryBatch::Full() const {
    return m_pTable && (m_pTable->m_HeldEvents.size() >= kBatchEvents ||
                        (m_pTable->m_pHeld && m_pTable->m_pHeld->Size() >= kBatchBytes));
}

void SwitchDeviceTable::DeliverHeld() {
    // The clients' queues keep the batch as long as they need it.
    const std::shared_ptr<SendBatch> held = std::move(m_pHeld);
    if (!m_HeldEvents.empty())
        Deliver(held, m_HeldEvents.data(), m_HeldEvents.size());
    m_HeldEvents.clear();
}

void SwitchDeviceTable::DeliverFrame(const std::string& deviceText, protocol::ByteView frame,
                                     const std::string& secondText, int allFlag) {
    if (!m_pOwner)
        return;
    HeldEvent event{0, static_cast<int>(frame.size()), LeadingNumber(deviceText),
                    LeadingNumber(secondText), allFlag == 1};
    if (t_pBatching != this) {
        auto batch = std::make_shared<SendBatch>(frame.size());
        batch->Append(frame.data(), frame.size());
        Deliver(batch, &event, 1);
        return;
    }
    // A batch is full before it runs out of room; one filled without a check goes out as it is.
    constexpr std::size_t kRoom =
        kBatchBytes + protocol::CtiRecord::kLengthSize + protocol::CtiRecord::kMaxSentBodyLength;
    if (m_pHeld && m_pHeld->Room() < frame.size())
        DeliverHeld();
    if (!m_pHeld)
        m_pHeld = std::make_shared<SendBatch>(kRoom);
    event.offset = m_pHeld->Size();
    m_pHeld->Append(frame.data(), frame.size());
    m_HeldEvents.push_back(event);
}

// One delivery on its way to the clients. One per deliverer thread, so that the room of its
// lists is made once; it lets go of the batch once handed to the senders.
struct SwitchDeviceTable::Delivery {
    std::shared_ptr<const SendBatch> batch;
    const HeldEvent* events = nullptr;
    std::size_t count = 0;
    std::vector<ClientSendBuffer::Record> every; // the deliverable events
    std::size_t undeliverable = 0;
    // The port being delivered to: what a loss traces, and whether the threads queue for it.
    COrbClientSocketUser::LossTrace trace = COrbClientSocketUser::kSilent;
    bool fans = false;
    std::vector<ClientSendBuffer::Record> picked; // the share of a client that filters
    std::vector<int> errors;
    ClientSendPool::Handover handover; // its `gathered`: enough for a send
};

void SwitchDeviceTable::Deliver(const std::shared_ptr<const SendBatch>& batch,
                                const HeldEvent* events, std::size_t count) {
    Delivery& delivery = BeginDelivery(batch, events, count);
    if (COrbClientConnectionManager* manager = m_pOwner->m_pClientManager)
        DeliverToFirstPort(*manager, delivery);
    if (COrbClientConnectionManager* manager = m_pOwner->m_pBypassClientManager)
        DeliverToSecondPort(*manager, delivery);
    HandToSenders(delivery);
}

SwitchDeviceTable::Delivery&
SwitchDeviceTable::BeginDelivery(const std::shared_ptr<const SendBatch>& batch,
                                 const HeldEvent* events, std::size_t count) {
    thread_local Delivery delivery;
    delivery.batch = batch;
    delivery.events = events;
    delivery.count = count;
    delivery.every.clear();
    const std::uint8_t* const bytes = batch->Data();
    for (std::size_t i = 0; i < count; ++i)
        if (events[i].length != 0)
            delivery.every.push_back({bytes + events[i].offset, events[i].length});
    delivery.undeliverable = count - delivery.every.size();
    delivery.handover.gathered = count >= kGatheredEvents;
    return delivery;
}

void SwitchDeviceTable::DeliverToFirstPort(COrbClientConnectionManager& manager,
                                           Delivery& delivery) {
    platform::CriticalSectionLock guard(manager.ClientListLock());
    delivery.trace = COrbClientSocketUser::kClientPortEvent;
    delivery.fans = FansOut(delivery, manager.GetClients().size());
    for (COrbClientSocketUser* client : manager.GetClients()) {
        if (!client || client->m_bRegistered.load() != 1) {
            for (std::size_t i = 0; i < delivery.count; ++i)
                TraceLog("[ERROR] The connected User's Socket Handle is a null or There is "
                         "no right for this type of event. Something Wrong!!!");
            continue;
        }
        if (client->PeerGone())
            continue;
        for (std::size_t i = 0; i < delivery.undeliverable; ++i)
            TraceLog("[ERROR] Switch Event Length is too big or too small[<= 0 or > "
                     "400]. This event can't be delivered!!!");
        const bool all = client->m_bOwnLineFilter.load() != 1;
        if (!all)
            PickOwnLine(*client, delivery);
        DeliverToClient(*client, all, delivery);
    }
}

void SwitchDeviceTable::DeliverToSecondPort(COrbClientConnectionManager& manager,
                                            Delivery& delivery) {
    platform::CriticalSectionLock guard(manager.ClientListLock());
    delivery.trace = COrbClientSocketUser::kSecondPortData;
    delivery.fans = FansOut(delivery, manager.GetClients().size());
    for (COrbClientSocketUser* client : manager.GetClients()) {
        if (!client) {
            for (std::size_t i = 0; i < delivery.count; ++i)
                TraceLog("[ERROR] The connected User's Socket Handle is a null. Something "
                         "Wrong!!!");
            continue;
        }
        for (std::size_t i = 0; i < delivery.undeliverable; ++i)
            TraceLog("[ERROR] Send Message Length is more than 400 bytes. This message "
                     "can't be delivered!!!");
        DeliverToClient(*client, true, delivery);
    }
}

void SwitchDeviceTable::HandToSenders(Delivery& delivery) {
    // Outside every client-list lock: a send may report a failure that traces.
    m_Senders.HandOver(delivery.handover);
    delivery.batch.reset();
    delivery.events = nullptr;
    delivery.every.clear();
    delivery.picked.clear();
}

bool SwitchDeviceTable::FansOut(Delivery& delivery, std::size_t clients) {
    // With more clients than this thread sends to itself, each sender thread queues the events
    // for its own clients, so that they do not wait for this thread to queue them for every
    // client one after the other. While one of those is still being queued, the rest go that
    // way too, so that every client gets them in order.
    if (clients <= ClientSendPool::kCallerShare && !m_Senders.Fanning())
        return false;
    std::shared_ptr<ClientSendPool::Fanout>& fanout = delivery.handover.fanout;
    if (!fanout) {
        fanout = std::make_shared<ClientSendPool::Fanout>();
        fanout->batch = delivery.batch;
        fanout->records = delivery.every;
        fanout->events = delivery.every.size();
        fanout->gathered = delivery.handover.gathered;
    }
    return true;
}

void SwitchDeviceTable::PickOwnLine(const COrbClientSocketUser& client, Delivery& delivery) {
    delivery.picked.clear();
    const long ownLine = client.m_nOwnLine.load();
    const bool alder = client.m_bAlder.load() == 1;
    const std::uint8_t* const bytes = delivery.batch->Data();
    for (std::size_t i = 0; i < delivery.count; ++i) {
        const HeldEvent& event = delivery.events[i];
        if (event.length != 0 &&
            (event.allClients ||
             ((ownLine == event.number1 || ownLine == event.number2) && !alder)))
            delivery.picked.push_back({bytes + event.offset, event.length});
    }
}

void SwitchDeviceTable::DeliverToClient(COrbClientSocketUser& client, bool all,
                                        Delivery& delivery) {
    ClientSendPool::Handover& handover = delivery.handover;
    if (delivery.fans) {
        std::uint32_t first = 0;
        auto taken = static_cast<std::uint32_t>(delivery.every.size());
        if (!all) {
            std::vector<ClientSendBuffer::Record>& records = handover.fanout->records;
            first = static_cast<std::uint32_t>(records.size());
            taken = static_cast<std::uint32_t>(delivery.picked.size());
            // The fanout is nobody else's until it is handed over.
            records.insert(records.end(), delivery.picked.begin(), delivery.picked.end());
        }
        if (taken != 0)
            handover.targets.push_back({client.SendBuffer(), first, taken, delivery.trace});
        return;
    }
    const std::vector<ClientSendBuffer::Record>& records = all ? delivery.every : delivery.picked;
    if (records.empty())
        return;
    delivery.errors.resize(records.size());
    // A large delivery has gathered enough already.
    client.QueueEvents(delivery.batch, records.data(), records.size(), delivery.trace,
                       delivery.errors.data(), handover.now,
                       handover.gathered ? handover.now : handover.later, handover.help);
    for (const int error : delivery.errors)
        if (error != 0)
            client.TraceUndelivered(delivery.trace, error);
        else
            client.NoteDelivered(delivery.trace);
}

} // namespace engine
