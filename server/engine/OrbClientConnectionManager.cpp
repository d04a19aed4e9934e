#include "OrbClientConnectionManager.h"

#include "FormatNow.h"
#include "LinkState.h"
#include "OrbClientSocketUser.h"
#include "OrbListenSocket.h"
#include "OrbManagerDlg.h"
#include "TraceLog.h"
#include "UserList.h"

#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <new>

namespace engine {

namespace {

// How a kind's close line is written.
enum class LineStyle {
    LogListAndUserLog, // log list, and TraceLog "[USER LOG] %s"
    LogListAndUser,    // log list, and TraceLog "[USER] %s"
    UserLog,           // TraceLog "[USER LOG] %s" only
    User,              // TraceLog "[USER] %s" only
};

struct KindRule {
    std::atomic<int> COrbClientSocketUser::*flag;
    int countSlot;
    int resourceId;
    LineStyle style;
};

// The client port's kinds in the order their close lines are written.
const KindRule kClientPortKinds[] = {
    {&COrbClientSocketUser::m_bKind10, kCountKind10, 310, LineStyle::LogListAndUserLog},
    {&COrbClientSocketUser::m_bDogwood, kCountDogwood, 298, LineStyle::LogListAndUserLog},
    {&COrbClientSocketUser::m_bSpruce, kCountRowanSpruce, 292, LineStyle::LogListAndUserLog},
    {&COrbClientSocketUser::m_bRowan, kCountRowanSpruce, 280, LineStyle::LogListAndUserLog},
    {&COrbClientSocketUser::m_bElm, kCountElm, 281, LineStyle::LogListAndUserLog},
    {&COrbClientSocketUser::m_bPoplar, kCountPoplar, 282, LineStyle::LogListAndUserLog},
    {&COrbClientSocketUser::m_bFir, kCountFir, 284, LineStyle::LogListAndUserLog},
    {&COrbClientSocketUser::m_bHazel, kCountHazel, 285, LineStyle::LogListAndUserLog},
    {&COrbClientSocketUser::m_bCedar, kCountCedar, 367, LineStyle::LogListAndUser},
    {&COrbClientSocketUser::m_bBirch, kCountBirch, 371, LineStyle::LogListAndUser},
};

const KindRule kOak = {&COrbClientSocketUser::m_bOak, kCountOak, 283, LineStyle::UserLog};
const KindRule kMaple = {&COrbClientSocketUser::m_bMaple, kCountMaple, 295, LineStyle::UserLog};
const KindRule kBypassDogwood = {&COrbClientSocketUser::m_bDogwood, kCountBypassDogwood, 298,
                                 LineStyle::UserLog};
const KindRule kJunipers[] = {
    {&COrbClientSocketUser::m_bJuniper, kCountJuniper, 383, LineStyle::User},
    {&COrbClientSocketUser::m_bMsJuniper, kCountMsJuniper, 375, LineStyle::User},
    {&COrbClientSocketUser::m_bIbmJuniper, kCountIbmJuniper, 379, LineStyle::User},
};

constexpr int kAlderResource = 320;
constexpr int kFirstNumberedKindResource = 325;

std::string AddressSuffix(const std::string& address, int port) {
    return "[IP Address : " + address + ", Port No : " + std::to_string(port) + "]";
}

} // namespace

COrbClientConnectionManager::COrbClientConnectionManager(COrbManagerDlg* owner)
    : m_pOwner(owner), m_pListenSocket(new COrbListenSocket(this)) {}

COrbClientConnectionManager::~COrbClientConnectionManager() {
    m_DeviceLists.Stop();
    {
        // A client left behind would keep notifying a manager that is gone.
        platform::CriticalSectionLock guard(m_csClientList);
        for (COrbClientSocketUser* client : m_ClientList)
            client->Dispose();
        m_ClientList.clear();
    }
    if (m_pListenSocket) {
        m_pListenSocket->Close();
        delete m_pListenSocket;
        m_pListenSocket = nullptr;
    }
}

int COrbClientConnectionManager::StartClientListen(int port, int bypass) {
    m_nMode = bypass != 0 ? kBypassPort : kClientPort;
    if (!m_pListenSocket)
        m_pListenSocket = new COrbListenSocket(this);
    if (!m_pListenSocket->Create(static_cast<unsigned>(port))) {
        const int err = m_pListenSocket->GetLastError();
        TraceLog("[ERROR] Fail to create the listen port. Port No[%d], Error Code[%d : %s]", port,
                 err, SystemErrorText(err).c_str());
        return 0;
    }
    TraceLog("Create Linsten Port Success!!!");
    if (!m_pListenSocket->Listen(AcceptPause::kListenBacklog)) {
        const int err = m_pListenSocket->GetLastError();
        TraceLog("[ERROR] Fail to make a listen state. Port No[%d], Error Code[%d : %s]", port, err,
                 SystemErrorText(err).c_str());
        // Closed, so a later start can bind the port again.
        m_pListenSocket->Close();
        return 0;
    }
    TraceLog("Waiting the Client Connection!!!");
    return 1;
}

void COrbClientConnectionManager::AcceptPending() {
    if (!m_pListenSocket)
        return;
    platform::CriticalSectionLock guard(m_csAccept);
    m_pListenSocket->Accepts().AcceptAll([this] { ClientAccept(); });
}

void COrbClientConnectionManager::ClientAccept() {
    if (!m_pListenSocket)
        return;
    AcceptPause& accepts = m_pListenSocket->Accepts();
    auto* client = new (std::nothrow) COrbClientSocketUser(this);
    if (!client) {
        // Still taken and dropped: an untaken request would silence the listen socket.
        platform::AsyncSocket refused;
        if (accepts.Accept(refused))
            refused.Close();
        if (accepts.ReportFailure())
            TraceLog("[ERROR] Client Socket Handler Creation Failed!!!");
        return;
    }
    if (g_bSwitchLinkUp.load() == 0 || g_bDeviceListAvailable.load() == 0) {
        const bool taken = accepts.Accept(*client);
        if (taken)
            client->Close();
        delete client;
        if (taken || accepts.ReportFailure())
            TraceLog("[ERROR] Veltrane Link can't accept this connection request because of "
                     "Device List Not Available.!!!");
        return;
    }
    if (!accepts.Accept(*client)) {
        delete client;
        if (accepts.ReportFailure())
            TraceLog("[ERROR] Client Acception Fail!!!");
        return;
    }
    std::string address;
    unsigned port = 0;
    if (!client->GetPeerName(address, port)) {
        client->Close();
        delete client;
        TraceLog("[ERROR] Veltrane Link can't get the Client IP Address and Port No from the peer "
                 "system. Rejected!!!");
        return;
    }
    TraceLog("[USER] Accepted Client Information[IP Address %s - Port No %d] !!!", address.c_str(),
             static_cast<int>(port));
    client->m_strPeerAddress = address;
    client->m_nPeerPort = static_cast<int>(port);
    client->m_strConnectTime = FormatNow(0);
    // Its records are already gathered into one send per turn; holding a small send back until
    // the last one is acknowledged would only delay it.
    client->SetSockOpt(IPPROTO_TCP, TCP_NODELAY, 1);

    {
        platform::CriticalSectionLock guard(m_csClientList);
        m_ClientList.push_back(client);
    }
    // The second port's clients get every event without a login. Bound to the client: gone
    // with it when it closes first.
    if (m_nMode == kClientPort)
        QTimer::singleShot(s_nLoginTimeoutMs.load(), client,
                           [this, client] { CloseIfNotLoggedIn(client); });
}

void COrbClientConnectionManager::CloseIfNotLoggedIn(COrbClientSocketUser* client) {
    {
        platform::CriticalSectionLock guard(m_csClientList);
        if (std::find(m_ClientList.begin(), m_ClientList.end(), client) == m_ClientList.end() ||
            client->m_bRegistered.load() == 1)
            return;
    }
    TraceLog("[ERROR] The client has not logged in within %d seconds. Closed!!![IP Address : %s, "
             "Port No : %d]",
             s_nLoginTimeoutMs.load() / 1000, client->m_strPeerAddress.c_str(),
             client->m_nPeerPort);
    CloseUserConnection(client);
}

void COrbClientConnectionManager::CloseUserConnection(COrbClientSocketUser* client) {
    CloseClient(client, false);
}

void COrbClientConnectionManager::CloseDeadUserConnection(COrbClientSocketUser* client) {
    CloseClient(client, true);
}

void COrbClientConnectionManager::CloseClient(COrbClientSocketUser* client, bool peerGone) {
    platform::CriticalSectionLock closeGuard(m_csClose);
    {
        // A client closed twice (a handler and its caller both closing it) is closed once.
        platform::CriticalSectionLock listGuard(m_csClientList);
        if (!client ||
            std::find(m_ClientList.begin(), m_ClientList.end(), client) == m_ClientList.end())
            return;
    }
    const std::string address = client->m_strPeerAddress;
    const int port = client->m_nPeerPort;
    std::string name = "Unknown";
    if (m_pOwner) {
        platform::CriticalSectionLock userGuard(m_pOwner->m_UserList.Lock());
        name = m_pOwner->m_UserList.GetUserNameByIPAddress(address);
    }
    const std::string disconnected = "Connected User[Name : " + name + ", IP Address : " + address +
                                     ", Port No : " + std::to_string(port) + "] is disconnected!!!";
    if (!peerGone)
        TraceLog("%s", ("[INFO] " + disconnected).c_str());

    ReleaseKinds(client, peerGone, address, port);
    ReleaseRepeatedLogins(client);

    if (peerGone)
        TraceLog("%s", disconnected.c_str());
    client->m_IMDevices.clear();
    {
        platform::CriticalSectionLock listGuard(m_csClientList);
        const auto it = std::find(m_ClientList.begin(), m_ClientList.end(), client);
        if (it != m_ClientList.end())
            m_ClientList.erase(it);
        m_DeviceLists.Cancel(client);
    }
    client->Dispose();
    AfterClientsChanged();
}

void COrbClientConnectionManager::ReleaseKinds(COrbClientSocketUser* client, bool peerGone,
                                               const std::string& address, int port) {
    if (!m_pOwner)
        return;
    COrbManagerDlg& owner = *m_pOwner;
    const std::string suffix = AddressSuffix(address, port);

    auto writeLine = [&](int resourceId, LineStyle style) {
        const std::string line = owner.ResString(resourceId) + suffix;
        switch (style) {
        case LineStyle::LogListAndUserLog:
            owner.AddLogLine(0, line);
            TraceLog("[USER LOG] %s", line.c_str());
            break;
        case LineStyle::LogListAndUser:
            owner.AddLogLine(0, line);
            TraceLog("[USER] %s", line.c_str());
            break;
        case LineStyle::UserLog:
            TraceLog("[USER LOG] %s", line.c_str());
            break;
        case LineStyle::User:
            TraceLog("[USER] %s", line.c_str());
            break;
        }
    };
    std::atomic<int>& clientCount =
        m_nMode == kBypassPort ? owner.m_nBypassClientCount : owner.m_nClientCount;
    // A count already at 0 stays there and writes no line.
    auto release = [&](const std::atomic<int>& flag, int countSlot, int resourceId,
                       LineStyle style) {
        if (flag.load() != 1)
            return;
        std::atomic<unsigned>& count =
            owner.m_nKindLoginCounts[static_cast<std::size_t>(countSlot)];
        if (count.load() == 0)
            return;
        --count;
        if (clientCount.load() > 0)
            --clientCount;
        writeLine(resourceId, style);
    };
    auto releaseRule = [&](const KindRule& rule) {
        release(client->*rule.flag, rule.countSlot, rule.resourceId, rule.style);
    };
    auto releaseNumbered = [&]() {
        for (int i = 0; i < COrbClientSocketUser::kNumberedKindCount; ++i)
            release(client->m_bNumberedKind[static_cast<std::size_t>(i)], kCountKind33 + i,
                    kFirstNumberedKindResource + 3 * i, LineStyle::UserLog);
    };

    const bool alderLine = m_nMode == kClientPort || !peerGone;
    if (alderLine && client->m_bAlder.load() == 1)
        writeLine(kAlderResource, LineStyle::LogListAndUserLog);

    if (m_nMode == kClientPort) {
        for (const KindRule& rule : kClientPortKinds)
            releaseRule(rule);
        return;
    }
    if (peerGone) {
        releaseRule(kMaple);
        releaseRule(kBypassDogwood);
        releaseRule(kOak);
    } else {
        releaseRule(kOak);
        releaseRule(kMaple);
        releaseRule(kBypassDogwood);
    }
    for (const KindRule& rule : kJunipers)
        releaseRule(rule);
    releaseNumbered();
}

void COrbClientConnectionManager::ReleaseRepeatedLogins(COrbClientSocketUser* client) {
    if (!m_pOwner)
        return;
    std::atomic<int>& clientCount =
        m_nMode == kBypassPort ? m_pOwner->m_nBypassClientCount : m_pOwner->m_nClientCount;
    for (std::size_t slot = 0; slot < client->m_nRepeatedLogins.size(); ++slot) {
        std::atomic<unsigned>& count = m_pOwner->m_nKindLoginCounts[slot];
        for (unsigned extra = client->m_nRepeatedLogins[slot]; extra > 0 && count.load() > 0;
             --extra) {
            --count;
            if (clientCount.load() > 0)
                --clientCount;
        }
        client->m_nRepeatedLogins[slot] = 0;
    }
}

void COrbClientConnectionManager::AfterClientsChanged() {
    if (!m_pOwner)
        return;
    if (m_nMode == kClientPort)
        m_pOwner->RefreshClientList();
    else
        m_pOwner->NotifyClientsChanged();
}

int COrbClientConnectionManager::PurgeDeadClients() {
    std::vector<COrbClientSocketUser*> dead;
    {
        platform::CriticalSectionLock guard(m_csClientList);
        for (COrbClientSocketUser* client : m_ClientList) {
            std::string address;
            unsigned port = 0;
            if (!client->GetPeerName(address, port))
                dead.push_back(client);
        }
    }
    // Closed outside the list lock: the close takes the close section first.
    for (COrbClientSocketUser* client : dead)
        CloseDeadUserConnection(client);
    return static_cast<int>(dead.size());
}

void COrbClientConnectionManager::CloseAllClients() {
    TraceLog("All Client Connections will be closed!!!");
    {
        platform::CriticalSectionLock guard(m_csClientList);
        std::vector<COrbClientSocketUser*> clients;
        clients.swap(m_ClientList);
        m_DeviceLists.CancelAll();
        for (COrbClientSocketUser* client : clients)
            client->Dispose();
    }
    if (m_pOwner) {
        auto& counts = m_pOwner->m_nKindLoginCounts;
        auto zero = [&counts](int slot) { counts[static_cast<std::size_t>(slot)] = 0; };
        if (m_nMode == kBypassPort) {
            m_pOwner->m_nBypassClientCount = 0;
            for (int slot : {kCountOak, kCountMaple, kCountBypassDogwood, kCountJuniper,
                             kCountMsJuniper, kCountIbmJuniper})
                zero(slot);
            for (int slot = kCountKind33; slot <= kCountKind41; ++slot)
                zero(slot);
        } else {
            m_pOwner->m_nClientCount = 0;
            for (int slot : {kCountRowanSpruce, kCountElm, kCountPoplar, kCountFir, kCountHazel,
                             kCountDogwood, kCountKind10, kCountCedar, kCountBirch})
                zero(slot);
        }
    }
    if (m_pListenSocket) {
        m_pListenSocket->Close();
        delete m_pListenSocket;
        m_pListenSocket = nullptr;
    }
}

} // namespace engine
