#include "OrbClientConnectionManager.h"

#include "OrbClientSocketUser.h"
#include "OrbIOQueue.h"
#include "OrbManagerDlg.h"
#include "TraceLog.h"

#include <protocol/CtiEvent.h>
#include <protocol/CtiRecord.h>
#include <protocol/CtiRequest.h>
#include <protocol/FrameHead.h>

#include <cstdint>
#include <string>

namespace engine {

namespace {

using protocol::CtiEvent;
using protocol::CtiRequest;

// The least record sizes (length bytes included) the local handlers read up to.
constexpr int kLetterSize = 4;
constexpr int kDeviceInfoAnswerSize = 12;

constexpr std::uint8_t kDeviceInfoLocalType = 9;
constexpr std::uint8_t kDeviceInfoCause = 0x05;
constexpr std::size_t kDeviceInfoResultSize =
    protocol::FrameHead::Framed(CtiEvent::kCauseOffset + 1);

} // namespace

void COrbClientConnectionManager::DispatchClientMessage(COrbClientSocketUser* client,
                                                        const std::uint8_t* buffer, int length) {
    if (m_DispatchHook) {
        m_DispatchHook(client, buffer, length);
        return;
    }
    if (!client || !buffer || length <= 0)
        return;

    std::string address;
    unsigned peerPort = 0;
    if (!client->GetPeerName(address, peerPort)) {
        TraceLog("[ERROR] Veltrane Link can't get the Client IP Address and Port No from the peer "
                 "system. Rejected!!!");
        CloseUserConnection(client);
        return;
    }
    const int port = static_cast<int>(peerPort);

    const CtiRequest record =
        CtiRequest::OfFrame(protocol::ByteView(buffer, static_cast<std::size_t>(length)));
    if (!record.HasStartByte()) {
        TraceLog("[ERROR] Wrong Message ID. This is not CTI Type Message!!!");
        return;
    }
    if (length < kLetterSize) {
        TraceLog("[ERROR] Client Request is too short[Length : %d]. Dropped!!!", length);
        return;
    }

    const std::uint8_t letter = record.Letter();
    switch (letter) {
    case '4':
        LarchLookup(client, buffer, length);
        return;
    case '5':
        RegisterOwnLine(client, buffer, length);
        return;
    case '7':
        RelayInstantMessage(client, buffer, length);
        return;
    case '8':
        UnregisterIMDevice(client, buffer, length);
        return;
    case '9':
        RegisterIMDevice(client, buffer, length);
        return;
    case 'a':
        ClientLogin(client, buffer, length, address, port);
        return;
    case 'k':
        ClientLogout(client, buffer, length, address);
        return;
    case 'u':
        AlderAnnounce(client, address);
        return;
    case 'i':
        // A record too short to carry the type code is not the local case: it goes on whole.
        if (length >= kDeviceInfoAnswerSize && record.Parameter() == kDeviceInfoLocalType &&
            m_pOwner && m_pOwner->m_nSwitchType.load() == 0) {
            // A request result with its cause, the signed byte 0.
            using namespace protocol::FrameHead;
            protocol::Bytes answer = Event('F', kDeviceInfoResultSize);
            Put(answer, Framed(CtiEvent::kDeviceOffset), record.Device());
            answer.at(Framed(CtiEvent::kCauseOffset)) = kDeviceInfoCause;
            int error = 0;
            client->SendRecord(answer.data(), static_cast<int>(answer.size()), error);
            return;
        }
        break;
    case 'c':
        if (!m_pOwner || m_pOwner->m_bUseLinnetPlusMsg.load() == 0)
            return;
        break;
    default:
        break;
    }

    if (client->m_bRegistered.load() == 1) {
        if (!ProcessSendCommandToSwitch(buffer, length)) {
            // A client that outruns the switch would otherwise take all memory; the others are
            // served on.
            TraceLog("[ERROR] The queue to the switch is full. The client that floods it is "
                     "closed!!!");
            CloseUserConnection(client);
        }
        return;
    }
    CloseUserConnection(client);
    TraceLog("[ERROR] This client is nor registered. Reject it!!!");
}

bool COrbClientConnectionManager::ProcessSendCommandToSwitch(const std::uint8_t* buffer,
                                                             int length) {
    if (!buffer || length < 1)
        return true;
    const std::size_t size = static_cast<std::size_t>(length);
    std::size_t p = 0;
    while (p < size) {
        if (size - p < protocol::CtiRecord::kLengthSize) {
            TraceLog("[ERROR] Client Request is cut short[Length : -, Received : %ld]. "
                     "Dropped!!!",
                     static_cast<long>(size - p));
            return true;
        }
        const std::uint16_t bodyLength =
            protocol::CtiRecord::PeekLength(protocol::ByteView(buffer + p, size - p));
        if (!protocol::CtiRecord::IsAcceptedLength(bodyLength)) {
            TraceLog("[ERROR] Message Length is over 400 bytes[%ld]. Something Wrong!!!",
                     static_cast<long>(bodyLength));
            return true;
        }
        // Only a whole record goes to the switch.
        if (size - p - protocol::CtiRecord::kLengthSize < bodyLength) {
            TraceLog("[ERROR] Client Request is cut short[Length : %ld, Received : %ld]. "
                     "Dropped!!!",
                     static_cast<long>(bodyLength),
                     static_cast<long>(size - p - protocol::CtiRecord::kLengthSize));
            return true;
        }
        COrbIOQueue* queue = m_pOwner ? m_pOwner->m_pIOQueue : nullptr;
        if (!queue) {
            TraceLog("[ERROR] The switch link is not available. Client Request is dropped!!!");
            return true;
        }
        if (queue->IOQueueWrite(buffer + p + protocol::CtiRecord::kLengthSize, bodyLength) == 0)
            return false;
        p += protocol::CtiRecord::kLengthSize + bodyLength;
    }
    return true;
}

} // namespace engine
