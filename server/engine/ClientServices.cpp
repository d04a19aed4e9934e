#include "OrbClientConnectionManager.h"

#include "OrbClientSocketUser.h"
#include "OrbManagerDlg.h"
#include "SwitchEventRecord.h"
#include "TraceLog.h"

#include <protocol/CtiEvent.h>
#include <protocol/CtiRecord.h>
#include <protocol/CtiRequest.h>
#include <protocol/FrameHead.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace engine {

namespace {

using protocol::CtiRequest;

// Offsets in a client's request body.
constexpr std::size_t kFillerOffset = CtiRequest::kFillerOffset;
constexpr std::size_t kDeviceOffset = CtiRequest::kDeviceOffset;
constexpr std::size_t kApplicationOffset = CtiRequest::kParameterOffset; // also the IM's mode
constexpr std::size_t kTargetOffset = CtiRequest::kDataOffset;
constexpr std::size_t kMessageDataOffset = CtiRequest::kDataOffset + 4;

constexpr int kOwnLineSize = 12;
constexpr int kIMDeviceSize = 11;
constexpr int kLarchLookupSize = 12;
// The relay reads up to the target digits; the relayed record (L + 1 bytes) must fit its buffer.
constexpr int kRelayReplySize = 11;
constexpr int kRelayMinSize = 16;
constexpr int kRelayBufferSize = 204;

constexpr std::uint8_t kLarchApplication = 2;

using protocol::CtiEvent;

// Bodies of the replies: the head of an event, four digit bytes, then the request's argument
// byte and the result; the Larch reply has the address length where the result stands, then the
// application and the address.
constexpr std::size_t kReplyArgumentOffset = CtiEvent::kSignedOffset;
constexpr std::size_t kReplyResultOffset = CtiEvent::kSignedOffset + 1;
constexpr std::size_t kLarchApplicationOffset = kReplyResultOffset + 1;
constexpr std::size_t kLarchAddressOffset = kLarchApplicationOffset + 1;
constexpr std::size_t kResultReplySize = protocol::FrameHead::Framed(kReplyResultOffset + 1);
constexpr std::size_t kAlderEchoSize = protocol::FrameHead::Framed(kReplyArgumentOffset + 1);

// The body of the framed record a client sent; the sizes below count its length bytes too.
CtiRequest View(const std::uint8_t* buffer, int length) {
    return CtiRequest::OfFrame(protocol::ByteView(buffer, static_cast<std::size_t>(length)));
}

int Number(const CtiRequest& record, std::size_t offset, std::string& text) {
    return ParseDialNumber(record.Digits(offset), text);
}

bool TooShort(int length, int needed) {
    if (length >= needed)
        return false;
    TraceLog("[ERROR] Client Request is too short[Length : %d]. Dropped!!!", length);
    return true;
}

void Send(COrbClientSocketUser* client, const std::uint8_t* data, std::size_t size) {
    int error = 0;
    client->SendRecord(data, static_cast<int>(size), error);
}

void Send(COrbClientSocketUser* client, const protocol::Bytes& frame) {
    Send(client, frame.data(), frame.size());
}

// The letter, FF FF, the request's digits, its argument byte, the result.
void SendResult(COrbClientSocketUser* client, std::uint8_t letter, const CtiRequest& record,
                std::uint8_t result) {
    using namespace protocol::FrameHead;
    protocol::Bytes reply = Event(letter, kResultReplySize);
    Put(reply, Framed(CtiEvent::kDeviceOffset), record.Device());
    reply.at(Framed(kReplyArgumentOffset)) = record.Argument();
    reply.at(Framed(kReplyResultOffset)) = result;
    Send(client, reply);
}

bool IsPoplarOrElm(const COrbClientSocketUser* client) {
    return client->m_bPoplar.load() == 1 || client->m_bElm.load() == 1;
}

std::string Label(const char* name, int line) {
    return std::string("[") + name + " : " + std::to_string(line) + "]";
}

} // namespace

void COrbClientConnectionManager::RegisterOwnLine(COrbClientSocketUser* client,
                                                  const std::uint8_t* buffer, int length) {
    if (!client || !buffer || TooShort(length, kOwnLineSize))
        return;
    const CtiRequest record = View(buffer, length);
    std::string text;
    const int line = Number(record, kDeviceOffset, text);
    if (line == 0)
        return;
    auto userLog = [](const std::string& text) { TraceLog("[USER LOG] %s", text.c_str()); };
    const std::string onLine = "uses the Line[" + std::to_string(line) + "] for its own line";

    switch (record.At(kApplicationOffset)) {
    case 0:
        if (client->m_bRowan.load() == 1) {
            client->m_nOwnLine = line;
            if (!IsPoplarOrElm(client))
                client->m_bOwnLineFilter = 0;
            client->m_strRowanLabel = Label("Rowan", line);
            userLog("Veltrane Rowan " + onLine);
        }
        break;
    case 1:
        if (client->m_bElm.load() == 1) {
            if (client->m_bOwnLineFilter.load() == 1)
                client->m_bOwnLineFilter = 0;
            client->m_strElmLabel = Label("Elm", line);
            userLog("Veltrane Elm " + onLine);
        }
        break;
    case kLarchApplication:
        client->m_strLarchLabel = Label("Larch", line);
        userLog("Veltrane Larch " + onLine);
        break;
    case 4:
        if (client->m_bCedar.load() == 1) {
            if (!IsPoplarOrElm(client))
                client->m_bOwnLineFilter = 0;
            client->m_strCedarLabel = Label("Cedar", line);
            TraceLog("[USER] Veltrane Cedar uses the Line[%d] for its own line", line);
        } else {
            TraceLog("[USER] No Cedar Connection");
        }
        break;
    case 5:
        if (client->m_bBirch.load() == 1) {
            if (client->m_bOwnLineFilter.load() == 1)
                client->m_bOwnLineFilter = 0;
            client->m_strBirchLabel = Label("Birch", line);
            TraceLog("[USER] Veltrane Birch uses the Line[%d] for its own line", line);
        } else {
            TraceLog("[USER] No Birch Connection");
        }
        break;
    default:
        client->m_strUnknownLabel = Label("Unknown", line);
        userLog("Unknown Application " + onLine);
        break;
    }
    if (m_pOwner)
        m_pOwner->RefreshClientList();
}

void COrbClientConnectionManager::RegisterIMDevice(COrbClientSocketUser* client,
                                                   const std::uint8_t* buffer, int length) {
    if (!client || !buffer || TooShort(length, kIMDeviceSize))
        return;
    const CtiRequest record = View(buffer, length);
    std::string text;
    if (Number(record, kDeviceOffset, text) != 0) {
        client->AddIMDevice(text);
        SendResult(client, '9', record, 1);
        TraceLog("Device ID - %s is registered to VL for IM", text.c_str());
    } else {
        SendResult(client, '9', record, 0);
    }
    if (m_pOwner && m_pOwner->m_bUseDebugMsgPrint.load() != 0)
        client->TraceIMDevices();
}

void COrbClientConnectionManager::UnregisterIMDevice(COrbClientSocketUser* client,
                                                     const std::uint8_t* buffer, int length) {
    if (!client || !buffer || TooShort(length, kIMDeviceSize))
        return;
    const CtiRequest record = View(buffer, length);
    std::string text;
    if (Number(record, kDeviceOffset, text) != 0) {
        client->RemoveIMDevice(text);
        // Answered with the register letter, as the clients expect.
        SendResult(client, '9', record, 1);
        TraceLog("Device ID - %s is unregistered from VL for IM", text.c_str());
        if (m_pOwner && m_pOwner->m_bUseDebugMsgPrint.load() != 0)
            client->TraceIMDevices();
    } else {
        SendResult(client, '9', record, 0);
        TraceLog("[ERROR] Device ID - %s is failed to unregister from VL for IM", text.c_str());
    }
}

void COrbClientConnectionManager::RelayInstantMessage(COrbClientSocketUser* client,
                                                      const std::uint8_t* buffer, int length) {
    if (!client || !buffer || TooShort(length, kRelayReplySize))
        return;
    const CtiRequest record = View(buffer, length);
    // A message too short for its target or too long for the relay buffer is refused whole.
    if (length < kRelayMinSize || length - 1 > kRelayBufferSize) {
        SendResult(client, '7', record, 0);
        return;
    }
    std::string sender;
    if (Number(record, kDeviceOffset, sender) == 0) {
        SendResult(client, '7', record, 0);
        return;
    }
    std::string target;
    const int targetNumber = Number(record, kTargetOffset, target);
    const std::uint8_t mode = record.At(kApplicationOffset);
    if (mode == 2 && targetNumber == 0) {
        SendResult(client, '7', record, 0);
        return;
    }
    if (!client->IsIMDeviceRegistered(sender)) {
        SendResult(client, '7', record, 0);
        return;
    }

    // The body less its 0x02, with the letter '8' and the two numbers exchanged.
    const int bodyLength = length - 2; // L
    std::array<std::uint8_t, kRelayBufferSize> relayed{};
    const int relayedLength = bodyLength + 1;
    protocol::CtiRecord::PutLength(relayed.data(), static_cast<std::uint16_t>(bodyLength - 1));
    relayed[2] = '8';
    relayed[3] = record.At(kFillerOffset);
    relayed[4] = record.At(kFillerOffset + 1);
    for (std::size_t i = 0; i < 4; ++i) {
        relayed[5 + i] = record.At(kTargetOffset + i);
        relayed[11 + i] = record.At(kDeviceOffset + i);
    }
    relayed[9] = record.Argument();
    relayed[10] = mode;
    for (std::size_t i = kMessageDataOffset; i < record.Size(); ++i)
        relayed[i + 1] = record.At(i);

    const int sent = SendIMMsgToClient(mode == 1 ? 1 : 2, target, relayed.data(), relayedLength);
    SendResult(client, '7', record, sent > 0 ? 1 : 0);
}

int COrbClientConnectionManager::SendIMMsgToClient(int mode, const std::string& deviceText,
                                                   const std::uint8_t* record, int length) {
    TraceLog("COrbClientConnectionManager::SendIMMsgToClient --> Instant Message Send "
             "Function!!!");
    if (!record || length <= 0)
        return 0;
    int count = 0;
    platform::CriticalSectionLock guard(m_csClientList);
    for (COrbClientSocketUser* client : m_ClientList) {
        if (!client)
            continue;
        if (mode != 1 && !client->IsIMDeviceRegistered(deviceText))
            continue;
        int error = 0;
        client->SendRecord(record, length, error);
        ++count;
    }
    return count;
}

void COrbClientConnectionManager::LarchLookup(COrbClientSocketUser* client,
                                              const std::uint8_t* buffer, int length) {
    if (!client || !buffer || TooShort(length, kLarchLookupSize))
        return;
    const CtiRequest record = View(buffer, length);
    std::string text;
    const int line = Number(record, kDeviceOffset, text);
    const std::uint8_t application = record.At(kApplicationOffset);

    std::string found;
    if (line != 0 && application == kLarchApplication) {
        // The key carries the digits as sent, the label the number: "0201" never finds 201.
        const std::string key = "[Larch : " + text + "]";
        for (COrbClientSocketUser* other : OwnClients()) {
            if (other == client || other->m_bPoplar.load() != 1 || other->m_strLarchLabel != key)
                continue;
            unsigned port = 0;
            if (!other->GetPeerName(found, port))
                found.clear();
            break;
        }
    }

    using namespace protocol::FrameHead;
    protocol::Bytes reply = Event('4', Framed(kLarchAddressOffset) + found.size());
    Put(reply, Framed(CtiEvent::kDeviceOffset), record.Device());
    reply.at(Framed(kReplyArgumentOffset)) = 0xFF;
    reply.at(Framed(kReplyResultOffset)) = static_cast<std::uint8_t>(found.size());
    reply.at(Framed(kLarchApplicationOffset)) = application;
    std::copy(found.begin(), found.end(),
              reply.begin() + static_cast<std::ptrdiff_t>(Framed(kLarchAddressOffset)));
    Send(client, reply);
}

void COrbClientConnectionManager::AlderAnnounce(COrbClientSocketUser* client, const std::string&) {
    if (!client)
        return;
    using namespace protocol::FrameHead;
    protocol::Bytes echo = Event('u', kAlderEchoSize);
    Fill(echo, Framed(CtiEvent::kDeviceOffset), protocol::DeviceDigits::kSize, 0xFF);
    Send(client, echo);
    if (client->m_bAlder.load() != 1)
        return;
    protocol::Bytes reply = Event('1', kResultReplySize);
    Fill(reply, Framed(CtiEvent::kDeviceOffset), protocol::DeviceDigits::kSize, 0xFF);
    reply.at(Framed(kReplyResultOffset)) = 0xFF;
    Send(client, reply);
    const std::string text = "The Current Alder at [IP Address : " + client->m_strPeerAddress +
                             ", Port No : " + std::to_string(client->m_nPeerPort) +
                             "] is running without any qorvell cti software.";
    TraceLog("[USER LOG] %s", text.c_str());
}

} // namespace engine
