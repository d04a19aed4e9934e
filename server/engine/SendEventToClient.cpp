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

void SwitchDeviceTable::Deliver(const std::shared_ptr<const SendBatch>& batch,
                                const HeldEvent* events, std::size_t count) {
    // The clients whose buffers want a sender, those this thread sends itself because the pool
    // is behind, and one client's share of the events; kept per thread so their room is made
    // once.
    thread_local SendWakeList wake;
    thread_local SendWakeList later;
    thread_local SendWakeList help;
    thread_local std::vector<ClientSendBuffer::Record> picked;
    thread_local std::vector<ClientSendBuffer::Record> every;
    thread_local std::vector<int> errors;
    thread_local ClientSendPool::FanoutTargets targets;

    const std::uint8_t* const bytes = batch->Data();
    const bool gathered = count >= kGatheredEvents;
    every.clear();
    for (std::size_t i = 0; i < count; ++i)
        if (events[i].length != 0)
            every.push_back({bytes + events[i].offset, events[i].length});
    const std::size_t undeliverable = count - every.size();

    // With more clients than this thread sends to itself, each sender thread queues the events
    // for its own clients, so that they do not wait for this thread to queue them for every
    // client one after the other. While one of those is still being queued, the rest go that
    // way too, so that every client gets them in order.
    std::shared_ptr<ClientSendPool::Fanout> fanout;
    const auto fanning = [&](std::size_t clients) {
        if (clients <= ClientSendPool::kCallerShare && !m_Senders.Fanning())
            return false;
        if (!fanout) {
            fanout = std::make_shared<ClientSendPool::Fanout>();
            fanout->batch = batch;
            fanout->records = every;
            fanout->events = every.size();
            fanout->gathered = gathered;
        }
        return true;
    };
    // `all` when the client takes every deliverable event, else its share is in `picked`.
    const auto fan = [&](COrbClientSocketUser& client, COrbClientSocketUser::LossTrace trace,
                         bool all) {
        std::uint32_t first = 0;
        auto taken = static_cast<std::uint32_t>(every.size());
        if (!all) {
            first = static_cast<std::uint32_t>(fanout->records.size());
            taken = static_cast<std::uint32_t>(picked.size());
            // The fanout is nobody else's until it is handed to the pool.
            fanout->records.insert(fanout->records.end(), picked.begin(), picked.end());
        }
        if (taken != 0)
            targets.push_back({client.SendBuffer(), first, taken, trace});
    };
    const auto queue = [&](COrbClientSocketUser& client, COrbClientSocketUser::LossTrace trace,
                           const std::vector<ClientSendBuffer::Record>& records) {
        if (records.empty())
            return;
        errors.resize(records.size());
        // A large delivery has gathered enough already.
        client.QueueEvents(batch, records.data(), records.size(), trace, errors.data(), wake,
                           gathered ? wake : later, help);
        for (const int error : errors)
            if (error != 0)
                client.TraceUndelivered(trace, error);
            else
                client.NoteDelivered(trace);
    };

    if (COrbClientConnectionManager* manager = m_pOwner->m_pClientManager) {
        platform::CriticalSectionLock guard(manager->ClientListLock());
        const bool fans = fanning(manager->GetClients().size());
        for (COrbClientSocketUser* client : manager->GetClients()) {
            if (!client || client->m_bRegistered.load() != 1) {
                for (std::size_t i = 0; i < count; ++i)
                    TraceLog("[ERROR] The connected User's Socket Handle is a null or There is "
                             "no right for this type of event. Something Wrong!!!");
                continue;
            }
            if (client->PeerGone())
                continue;
            for (std::size_t i = 0; i < undeliverable; ++i)
                TraceLog("[ERROR] Switch Event Length is too big or too small[<= 0 or > "
                         "400]. This event can't be delivered!!!");
            const bool all = client->m_bOwnLineFilter.load() != 1;
            if (!all) {
                picked.clear();
                const long ownLine = client->m_nOwnLine.load();
                const bool alder = client->m_bAlder.load() == 1;
                for (std::size_t i = 0; i < count; ++i) {
                    const HeldEvent& event = events[i];
                    if (event.length != 0 &&
                        (event.allClients ||
                         ((ownLine == event.number1 || ownLine == event.number2) && !alder)))
                        picked.push_back({bytes + event.offset, event.length});
                }
            }
            if (fans) {
                fan(*client, COrbClientSocketUser::kClientPortEvent, all);
                continue;
            }
            queue(*client, COrbClientSocketUser::kClientPortEvent, all ? every : picked);
        }
    }

    if (COrbClientConnectionManager* manager = m_pOwner->m_pBypassClientManager) {
        platform::CriticalSectionLock guard(manager->ClientListLock());
        const bool fans = fanning(manager->GetClients().size());
        for (COrbClientSocketUser* client : manager->GetClients()) {
            if (!client) {
                for (std::size_t i = 0; i < count; ++i)
                    TraceLog("[ERROR] The connected User's Socket Handle is a null. Something "
                             "Wrong!!!");
                continue;
            }
            for (std::size_t i = 0; i < undeliverable; ++i)
                TraceLog("[ERROR] Send Message Length is more than 400 bytes. This message "
                         "can't be delivered!!!");
            if (fans)
                fan(*client, COrbClientSocketUser::kSecondPortData, true);
            else
                queue(*client, COrbClientSocketUser::kSecondPortData, every);
        }
    }
    // Sent outside every client-list lock.
    if (fanout) {
        // The sender threads take along what waits out the delay in their shares themselves.
        m_Senders.Fan(fanout, targets);
        if (!wake.empty())
            m_Senders.SendNow(wake);
    } else {
        m_Senders.SendNow(wake, gathered);
    }
    m_Senders.Submit(later);
    for (const auto& buffer : help)
        buffer->Flush();
    help.clear();
}

} // namespace engine
