#include "SwitchDeviceTable.h"

#include "OrbClientConnectionManager.h"
#include "OrbClientSocketUser.h"
#include "OrbManagerDlg.h"
#include "TraceLog.h"

#include <protocol/CtiRecord.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

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

void SwitchDeviceTable::DeliverFrame(const std::string& deviceText, protocol::ByteView frame,
                                     const std::string& secondText, int allFlag) {
    if (!m_pOwner)
        return;
    const long number1 = LeadingNumber(deviceText);
    const long number2 = LeadingNumber(secondText);
    const bool deliverable = !frame.empty();
    const int frameLength = static_cast<int>(frame.size());
    // The clients whose buffers want a sender, and those this thread sends itself because the
    // pool is behind; kept per thread so their room is made once.
    thread_local SendWakeList wake;
    thread_local SendWakeList help;

    if (COrbClientConnectionManager* manager = m_pOwner->m_pClientManager) {
        platform::CriticalSectionLock guard(manager->ClientListLock());
        for (COrbClientSocketUser* client : manager->GetClients()) {
            if (!client || client->m_bRegistered.load() != 1) {
                TraceLog("[ERROR] The connected User's Socket Handle is a null or There is no "
                         "right for this type of event. Something Wrong!!!");
                continue;
            }
            if (client->PeerGone())
                continue;
            if (!deliverable) {
                TraceLog("[ERROR] Switch Event Length is too big or too small[<= 0 or > 400]. "
                         "This event can't be delivered!!!");
                continue;
            }
            bool send = allFlag == 1 || client->m_bOwnLineFilter.load() != 1;
            if (!send) {
                const long ownLine = client->m_nOwnLine.load();
                send = (ownLine == number1 || ownLine == number2) && client->m_bAlder.load() != 1;
            }
            if (!send)
                continue;
            int error = 0;
            if (client->QueueEvent(frame.data(), frameLength,
                                   COrbClientSocketUser::kClientPortEvent, error, wake, help) < 0)
                client->TraceUndelivered(COrbClientSocketUser::kClientPortEvent, error);
        }
    }

    if (COrbClientConnectionManager* manager = m_pOwner->m_pBypassClientManager) {
        platform::CriticalSectionLock guard(manager->ClientListLock());
        for (COrbClientSocketUser* client : manager->GetClients()) {
            if (!client) {
                TraceLog("[ERROR] The connected User's Socket Handle is a null. Something "
                         "Wrong!!!");
                continue;
            }
            if (!deliverable) {
                TraceLog("[ERROR] Send Message Length is more than 400 bytes. This message can't "
                         "be delivered!!!");
                continue;
            }
            int error = 0;
            if (client->QueueEvent(frame.data(), frameLength, COrbClientSocketUser::kSecondPortData,
                                   error, wake, help) < 0)
                client->TraceUndelivered(COrbClientSocketUser::kSecondPortData, error);
        }
    }
    // Sent outside every client-list lock.
    m_Senders.Submit(wake);
    for (const auto& buffer : help)
        buffer->Flush();
    help.clear();
}
