#include "OrbClientConnectionManager.h"

#include "LineDeviceList.h"
#include "OrbClientSocketUser.h"
#include "OrbManagerDlg.h"
#include "SwitchDeviceTable.h"
#include "TraceLog.h"

#include <protocol/CtiEvent.h>
#include <protocol/CtiRecord.h>
#include <protocol/FrameHead.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace engine {

namespace {

constexpr std::size_t kKindOffset = 10; // the argument byte of 'a' and 'k'
constexpr int kKindRecordSize = 11;

constexpr std::uint8_t kNoReply = 0;

using protocol::CtiEvent;

// The login reply's body: the head of an event, FF x 4, the kind byte, the result.
constexpr std::size_t kReplyKindOffset = CtiEvent::kSignedOffset;
constexpr std::size_t kReplyResultOffset = CtiEvent::kSignedOffset + 1;
constexpr std::size_t kLoginReplySize = protocol::FrameHead::Framed(kReplyResultOffset + 1);
constexpr std::size_t kKind10ReplySize = kLoginReplySize + 3;

// How a login line is written.
enum class LoginLine {
    ClientPort, // log list and TraceLog "[USER LOG] %s"
    UserLog,    // TraceLog "[USER LOG] %s"
    User,       // TraceLog "[USER] %s"
};

// One kind of a port: its flag, count, replies and lines.
struct LoginKind {
    int code;
    std::atomic<int> COrbClientSocketUser::*flag;
    int countSlot;
    bool refusedWhenRepeated;
    std::uint8_t replyLetter; // kNoReply: no reply to an accepted login
    std::uint8_t acceptedB9;
    int acceptedResource;
    std::uint8_t refusedLetter; // kNoReply: no reply to a refused login
    std::uint8_t refusedB9;
    int refusedResource;
    LoginLine style;
};

const LoginKind kClientPortKinds[] = {
    {1, &COrbClientSocketUser::m_bRowan, kCountRowanSpruce, false, kNoReply, 0, 274, kNoReply, 0, 0,
     LoginLine::ClientPort},
    {2, &COrbClientSocketUser::m_bElm, kCountElm, false, kNoReply, 0, 275, kNoReply, 0, 0,
     LoginLine::ClientPort},
    {3, &COrbClientSocketUser::m_bPoplar, kCountPoplar, false, kNoReply, 0, 276, kNoReply, 0, 0,
     LoginLine::ClientPort},
    {5, &COrbClientSocketUser::m_bFir, kCountFir, true, kNoReply, 0, 278, kNoReply, 0, 272,
     LoginLine::ClientPort},
    {6, &COrbClientSocketUser::m_bHazel, kCountHazel, true, '6', 0x00, 279, '6', 0x00, 273,
     LoginLine::ClientPort},
    {7, &COrbClientSocketUser::m_bSpruce, kCountRowanSpruce, false, kNoReply, 0, 291, kNoReply, 0,
     0, LoginLine::ClientPort},
    {8, &COrbClientSocketUser::m_bDogwood, kCountDogwood, true, 'a', 0x00, 297, 'a', 0x00, 305,
     LoginLine::ClientPort},
    {10, &COrbClientSocketUser::m_bKind10, kCountKind10, true, '9', 0x0A, 309, '9', 0x0A, 308,
     LoginLine::ClientPort},
};

const LoginKind kBypassPortKinds[] = {
    {4, &COrbClientSocketUser::m_bOak, kCountOak, true, 'a', 4, 277, kNoReply, 0, 271,
     LoginLine::UserLog},
    {9, &COrbClientSocketUser::m_bMaple, kCountMaple, true, '9', 9, 294, '9', 9, 306,
     LoginLine::UserLog},
    {26, &COrbClientSocketUser::m_bDogwood, kCountBypassDogwood, true, 'a', 26, 297, 'a', 0x00, 305,
     LoginLine::UserLog},
    {66, &COrbClientSocketUser::m_bJuniper, kCountJuniper, true, 'a', 66, 382, 'a', 66, 384,
     LoginLine::User},
    {67, &COrbClientSocketUser::m_bMsJuniper, kCountMsJuniper, true, 'a', 67, 374, 'a', 67, 376,
     LoginLine::User},
    {68, &COrbClientSocketUser::m_bIbmJuniper, kCountIbmJuniper, true, 'a', 68, 378, 'a', 68, 380,
     LoginLine::User},
};

constexpr int kKind10 = 10;
constexpr int kOakCode = 4;
constexpr int kAlderCode = 0;
constexpr int kAlderAcceptedResource = 319;
constexpr int kRefusedKindResource = 286;
constexpr int kEmptyDeviceListResource = 216;
constexpr int kFirstNumberedAccepted = 324;
constexpr int kFirstNumberedRefused = 326;

const LoginKind* FindKind(const LoginKind* begin, const LoginKind* end, int code) {
    for (const LoginKind* kind = begin; kind != end; ++kind)
        if (kind->code == code)
            return kind;
    return nullptr;
}

std::string AddressSuffix(const std::string& address, int port) {
    return "[IP Address : " + address + ", Port No : " + std::to_string(port) + "]";
}

// The letter, FF x 6, b9, the result.
void SendLoginReply(COrbClientSocketUser* client, std::uint8_t letter, std::uint8_t b9,
                    std::uint8_t result, std::size_t frameSize = kLoginReplySize) {
    using namespace protocol::FrameHead;
    protocol::Bytes reply = Event(letter, frameSize);
    Fill(reply, Framed(CtiEvent::kDeviceOffset), protocol::DeviceDigits::kSize, 0xFF);
    reply.at(Framed(kReplyKindOffset)) = b9;
    reply.at(Framed(kReplyResultOffset)) = result;
    int error = 0;
    client->SendRecord(reply.data(), static_cast<int>(reply.size()), error);
}

// The kind-10 reply carries three status bytes more when accepted (zero); its length says what
// follows.
void SendKind10Reply(COrbClientSocketUser* client, std::uint8_t result) {
    SendLoginReply(client, '9', kKind10, result, result == 0 ? kLoginReplySize : kKind10ReplySize);
}

void SendReply(COrbClientSocketUser* client, const LoginKind& kind, bool accepted) {
    const std::uint8_t letter = accepted ? kind.replyLetter : kind.refusedLetter;
    if (letter == kNoReply)
        return;
    if (kind.code == kKind10 && kind.style == LoginLine::ClientPort) {
        SendKind10Reply(client, accepted ? 1 : 0);
        return;
    }
    SendLoginReply(client, letter, accepted ? kind.acceptedB9 : kind.refusedB9, accepted ? 1 : 0);
}

} // namespace

void COrbClientConnectionManager::Pause(int milliseconds) {
    if (m_Pause)
        m_Pause(milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void COrbClientConnectionManager::ClientLogin(COrbClientSocketUser* client,
                                              const std::uint8_t* buffer, int length,
                                              const std::string& address, int port) {
    if (!client || !buffer)
        return;
    if (length < kKindRecordSize) {
        TraceLog("[ERROR] Client Request is too short[Length : %d]. Dropped!!!", length);
        return;
    }
    const std::uint8_t kind = buffer[kKindOffset];
    if (m_nMode == kBypassPort)
        ClientLoginBypassPort(client, kind, address, port);
    else
        ClientLoginClientPort(client, kind, address, port);
}

void COrbClientConnectionManager::ClientLoginClientPort(COrbClientSocketUser* client,
                                                        std::uint8_t code,
                                                        const std::string& address, int port) {
    const std::string suffix = AddressSuffix(address, port);
    auto acceptedLine = [&](int resource) {
        const std::string line = (m_pOwner ? m_pOwner->ResString(resource) : "") + suffix;
        if (m_pOwner)
            m_pOwner->AddLogLine(0, line);
        TraceLog("[USER LOG] %s", line.c_str());
    };
    auto refusedLine = [&](int resource) {
        const std::string text = m_pOwner ? m_pOwner->ResString(resource) : "";
        if (m_pOwner)
            m_pOwner->AddLogLine(1, text);
        TraceLog("[USER LOG] %s", (text + suffix).c_str());
    };

    if (code == kAlderCode) {
        if (client->m_bAlder.load() == 1) {
            CloseUserConnection(client);
            TraceLog("[USER LOG ERROR] %s", ("Alder is already connected." + suffix).c_str());
            return;
        }
        const bool listSent = client->m_bRegistered.load() == 1;
        client->m_bRegistered = 1;
        client->m_bAlder = 1;
        SendLoginReply(client, '1', 0x00, 0xFF);
        if (m_pOwner)
            m_pOwner->RefreshClientList();
        acceptedLine(kAlderAcceptedResource);
        if (!listSent)
            SendDeviceListToClient(client, address);
        return;
    }

    const LoginKind* kind =
        FindKind(std::begin(kClientPortKinds), std::end(kClientPortKinds), code);
    if (!kind) {
        CloseUserConnection(client);
        refusedLine(kRefusedKindResource);
        return;
    }
    std::atomic<int>& flag = client->*kind->flag;
    const bool carried = flag.load() == 1;
    if (carried && kind->refusedWhenRepeated) {
        SendReply(client, *kind, false);
        CloseUserConnection(client);
        refusedLine(kind->refusedResource);
        return;
    }

    if (carried) {
        // The connection already has this kind and its device list: a flood of the same login
        // must not cost a list each.
        TraceLog("[USER LOG ERROR] %s", ("Repeated login is ignored." + suffix).c_str());
        return;
    }
    const bool listSent = client->m_bRegistered.load() == 1;
    client->m_bRegistered = 1;
    if (m_pOwner)
        ++m_pOwner->m_nKindLoginCounts[static_cast<std::size_t>(kind->countSlot)];
    flag = 1;
    if (m_pOwner) {
        ++m_pOwner->m_nClientCount;
        m_pOwner->RefreshClientList();
    }
    SendReply(client, *kind, true);
    acceptedLine(kind->acceptedResource);
    if (!listSent)
        SendDeviceListToClient(client, address);
}

void COrbClientConnectionManager::ClientLoginBypassPort(COrbClientSocketUser* client,
                                                        std::uint8_t code,
                                                        const std::string& address, int port) {
    const std::string suffix = AddressSuffix(address, port);
    auto writeLine = [&](int resource, LoginLine style) {
        const std::string line = (m_pOwner ? m_pOwner->ResString(resource) : "") + suffix;
        TraceLog(style == LoginLine::User ? "[USER] %s" : "[USER LOG] %s", line.c_str());
    };

    // Kinds 33 to 41 follow one rule.
    LoginKind numbered{};
    const LoginKind* kind =
        FindKind(std::begin(kBypassPortKinds), std::end(kBypassPortKinds), code);
    if (!kind && code >= COrbClientSocketUser::kFirstNumberedKind &&
        code <
            COrbClientSocketUser::kFirstNumberedKind + COrbClientSocketUser::kNumberedKindCount) {
        const int i = code - COrbClientSocketUser::kFirstNumberedKind;
        numbered = {code,
                    nullptr,
                    kCountKind33 + i,
                    true,
                    '9',
                    code,
                    kFirstNumberedAccepted + 3 * i,
                    '9',
                    code,
                    kFirstNumberedRefused + 3 * i,
                    LoginLine::UserLog};
        kind = &numbered;
    }
    if (!kind) {
        CloseUserConnection(client);
        writeLine(kRefusedKindResource, LoginLine::UserLog);
        return;
    }
    std::atomic<int>& flag = kind->flag ? client->*kind->flag
                                        : client->m_bNumberedKind[static_cast<std::size_t>(
                                              code - COrbClientSocketUser::kFirstNumberedKind)];
    if (flag.load() == 1) {
        SendReply(client, *kind, false);
        CloseUserConnection(client);
        writeLine(kind->refusedResource, kind->style);
        return;
    }

    const bool listSent = client->m_bRegistered.load() == 1;
    client->m_bRegistered = 1;
    if (m_pOwner)
        ++m_pOwner->m_nKindLoginCounts[static_cast<std::size_t>(kind->countSlot)];
    flag = 1;
    if (m_pOwner) {
        ++m_pOwner->m_nBypassClientCount;
        m_pOwner->NotifyClientsChanged();
    }
    if (code == kOakCode) {
        TraceLog("Enterting the Wait Routine for Oak.");
        Pause(kOakLoginPauseMs);
        TraceLog("Wait Completed.");
    }
    SendReply(client, *kind, true);
    writeLine(kind->acceptedResource, kind->style);
    if (!listSent)
        SendDeviceListToClient(client, address);
}

void COrbClientConnectionManager::ClientLogout(COrbClientSocketUser* client,
                                               const std::uint8_t* buffer, int length,
                                               const std::string&) {
    if (!client || !buffer)
        return;
    if (m_nMode == kClientPort) {
        if (length < kKindRecordSize) {
            TraceLog("[ERROR] Client Request is too short[Length : %d]. Dropped!!!", length);
            return;
        }
        switch (buffer[kKindOffset]) {
        case 0:
        case 3:
        case 4:
        case 11:
            return;
        default:
            break;
        }
    }
    CloseUserConnection(client);
}

void COrbClientConnectionManager::SendDeviceListToClient(COrbClientSocketUser* client,
                                                         const std::string&) {
    if (!client)
        return;
    const std::string address = client->m_strPeerAddress;
    const int port = client->m_nPeerPort;
    TraceLog("Sending the device list  to the connected client[IP Address : %s, Port No : %d]",
             address.c_str(), port);

    using Record = DeviceListSender::Record;
    auto frame = [](const LineDeviceEntry::Record& from) {
        Record record;
        protocol::CtiRecord::PutLength(record.data(),
                                       static_cast<std::uint16_t>(LineDeviceEntry::kSentSize));
        for (std::size_t i = 0; i < LineDeviceEntry::kSentSize; ++i)
            record[2 + i] = from[i];
        return record;
    };

    // Copied under the lock and sent without it: the table may change while the list goes out,
    // and the end record is already in hand.
    std::vector<Record> records;
    Record endRecord{};
    bool empty = true;
    try {
        SwitchDeviceTable* table = m_pOwner ? m_pOwner->m_pDeviceTable : nullptr;
        if (table) {
            LineDeviceList& devices = table->GetDevices();
            platform::CriticalSectionLock guard(devices.Lock());
            records.reserve(devices.GetCount());
            const LineDeviceEntry* last = nullptr;
            for (const auto& entry : devices.Items()) {
                records.push_back(frame(entry->m_Record));
                last = entry.get();
            }
            if (last) {
                endRecord = frame(last->m_EndRecord);
                empty = false;
            }
        }
    } catch (const std::bad_alloc&) {
        CloseUserConnection(client);
        TraceLog("[ERROR] Fatal Error. SendDeviceListToClient : malloc() failed. insufficient "
                 "memory availabel.!!!");
        return;
    }
    if (empty) {
        TraceLog("[ERROR] Veltrane Link can't search the Assigned Device ID from the download "
                 "device list. Rejected!!!");
        CloseUserConnection(client);
        if (m_pOwner)
            m_pOwner->AddLogLine(1, m_pOwner->ResString(kEmptyDeviceListResource));
        return;
    }

    // Paced off the window thread: other clients, accepts, timers and a stop never wait on it.
    m_DeviceLists.Queue(client, std::move(records), endRecord);
}

} // namespace engine
