#include "MonitorConnectionManager.h"

#include "OrbManagerDlg.h"
#include "OrbMonitorClientSocket.h"
#include "OrbMonitorListenSocket.h"
#include "TraceLog.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <new>
#include <string>

using platform::CriticalSectionLock;

namespace {

constexpr std::size_t kMaxExceptionText = 255;
constexpr int kListenBacklog = 5;

} // namespace

MonitorConnectionManager::MonitorConnectionManager(COrbManagerDlg* owner,
                                                   platform::CriticalSection& sharedLock)
    : m_pOwner(owner), m_csShared(sharedLock) {
    m_Monitors.reserve(10);
}

MonitorConnectionManager::~MonitorConnectionManager() {
    CloseEverything();
}

int MonitorConnectionManager::CreateMonitorListen(int port) {
    m_nListenPort = port;
    if (!m_pListenSocket)
        m_pListenSocket = new COrbMonitorListenSocket(this);
    const bool portValid = port >= 0 && port <= 0xFFFF;
    if (!portValid || !m_pListenSocket->Create(static_cast<unsigned>(port))) {
        const int err = portValid ? m_pListenSocket->GetLastError() : EINVAL;
        TraceLog("[ERROR] Fail to make the listen state for Monitor Client Connection. Port "
                 "No[%d], Error Code[%d]",
                 port, err);
        m_pListenSocket->Close();
        return 0;
    }
    TraceLog("Create Listen Port Success!!!");
    if (!m_pListenSocket->Listen(kListenBacklog)) {
        const int err = m_pListenSocket->GetLastError();
        TraceLog("[ERROR] Listen() Fail for Monitor Client Connection. Port No[%d], Error "
                 "Code[%d : %s]",
                 port, err, SystemErrorText(err).c_str());
        // Released, so a later start can bind the port again.
        m_pListenSocket->Close();
        return 0;
    }
    TraceLog("Waiting the Monitor Client Connection!!!");
    return 1;
}

void MonitorConnectionManager::CloseAllMonitors() {
    TraceLog("All Monitor Client Connection will be closed!!!");
    CloseEverything();
}

void MonitorConnectionManager::CloseEverything() {
    std::vector<COrbMonitorClientSocket*> gone;
    {
        CriticalSectionLock shared(m_csShared);
        CriticalSectionLock list(m_csList);
        gone.swap(m_Monitors);
        for (COrbMonitorClientSocket* socket : gone) {
            if (socket->m_bAccepted.load() && m_pOwner && m_pOwner->m_nMonitorCount.load() > 0)
                --m_pOwner->m_nMonitorCount;
        }
    }
    for (COrbMonitorClientSocket* socket : gone)
        socket->Dispose();
    if (m_pListenSocket) {
        m_pListenSocket->Close();
        delete m_pListenSocket;
        m_pListenSocket = nullptr;
    }
}

bool MonitorConnectionManager::IsFull() const {
    return m_pOwner && m_pOwner->m_nMonitorCount.load() >= kMaxMonitors;
}

void MonitorConnectionManager::MonitorAccept() {
    if (!m_pListenSocket)
        return;
    COrbMonitorClientSocket* socket = nullptr;
    try {
        socket = new COrbMonitorClientSocket(this);
    } catch (const std::bad_alloc&) {
        TraceLog(">>> Monitor Socket Handle Creation Failed!!!");
        // Taken and dropped, or the listener would hear of no later connection.
        platform::AsyncSocket refused;
        if (m_pListenSocket->Accepts().Accept(refused))
            refused.Close();
        return;
    }
    if (!m_pListenSocket->Accepts().Accept(*socket)) {
        delete socket;
        if (m_pListenSocket->Accepts().ReportFailure())
            TraceLog(">>> Monitor Client Acception Fail!!!");
        return;
    }
    bool full;
    {
        CriticalSectionLock shared(m_csShared);
        full = IsFull();
        if (!full) {
            CriticalSectionLock list(m_csList);
            m_Monitors.push_back(socket);
        }
    }
    if (full) {
        socket->Close();
        delete socket;
        return;
    }
    TraceLog(">>> Monitor Client Accepted!!!");
}

void MonitorConnectionManager::Admit(COrbMonitorClientSocket* socket) {
    CriticalSectionLock list(m_csList);
    if (std::find(m_Monitors.begin(), m_Monitors.end(), socket) == m_Monitors.end())
        return;
    if (!socket->m_bAccepted.load()) {
        ++m_pOwner->m_nMonitorCount;
        socket->m_bAccepted = 1;
    }
}

void MonitorConnectionManager::CheckMonitorConnectRequest(COrbMonitorClientSocket* socket,
                                                          const std::uint8_t* buffer, int count) {
    if (!socket || !m_pOwner)
        return;
    if (!buffer)
        count = 0;
    std::string address;
    unsigned port = 0;
    if (!socket->GetPeerName(address, port)) {
        RemoveMonitor(socket);
        TraceLog("[ERROR] Veltrane Link V3 can't get the Client IP Address and Port No from the "
                 "peer system. Rejected!!!");
        return;
    }
    if (count < 3 || buffer[2] != kMessageId) {
        TraceLog(">>> Unknown Connection Request with the wrong message ID is rejected from "
                 "[%s]!!!",
                 address.c_str());
        RemoveMonitor(socket);
        return;
    }
    const int eventId = count > 3 ? buffer[3] : -1;
    if (eventId != kMonitorStart && eventId != kFirModuleConnect) {
        TraceLog(">>> Unknown Connection Request with the wrong Event ID is rejected from "
                 "[%s]!!!",
                 address.c_str());
        RemoveMonitor(socket);
        return;
    }

    // Held from the count test to the admission, so two monitors cannot both take the last slot.
    CriticalSectionLock shared(m_csShared);
    // The limit is for admitting new monitors; one already counted may repeat its request.
    if (!socket->m_bAccepted.load() && IsFull()) {
        TraceLog(">>> There is no available count for this Monitor Utility.");
        RemoveMonitor(socket);
        return;
    }
    if (eventId == kFirModuleConnect) {
        Admit(socket);
        TraceLog(">>> Fir Module is connected from[%s]!!!", address.c_str());
        return;
    }
    const int codeLength = count > 6 ? buffer[6] : -1;
    if (codeLength < kMinCodeLength || codeLength > kMaxCodeLength) {
        TraceLog(">>> Monitor Passcode Length from [%s]is not matched!!!", address.c_str());
        RemoveMonitor(socket);
        return;
    }
    const int present = std::clamp(count - 7, 0, codeLength);
    const std::string given(reinterpret_cast<const char*>(buffer + 7),
                            static_cast<std::size_t>(present));
    if (present < codeLength || given != m_pOwner->m_strMonitorAccessCode) {
        TraceLog(">>> Delivered Monitor Passcode[%s] from [%s]is not matched!!!", given.c_str(),
                 address.c_str());
        RemoveMonitor(socket);
        return;
    }
    Admit(socket);
    TraceLog(">>> Monitor Utility is connected from[%s]!!!", address.c_str());
}

void MonitorConnectionManager::RemoveMonitor(COrbMonitorClientSocket* socket) {
    if (!socket)
        return;
    {
        CriticalSectionLock shared(m_csShared);
        CriticalSectionLock list(m_csList);
        const auto it = std::find(m_Monitors.begin(), m_Monitors.end(), socket);
        if (it == m_Monitors.end())
            return;
        m_Monitors.erase(it);
        if (socket->m_bAccepted.load() && m_pOwner && m_pOwner->m_nMonitorCount.load() > 0)
            --m_pOwner->m_nMonitorCount;
    }
    // Out of the list, so no sender reaches it any more.
    socket->Dispose();
}

void MonitorConnectionManager::SendToMonitors(const std::uint8_t* data, int length,
                                              bool acceptedOnly, const char* portName) {
    CriticalSectionLock list(m_csList);
    for (COrbMonitorClientSocket* socket : m_Monitors) {
        if (acceptedOnly && !socket->m_bAccepted.load())
            continue;
        try {
            // A record the monitor has no room for is lost for it alone; nobody waits.
            int error = 0;
            socket->SendRecord(data, length, error);
        } catch (const std::exception& e) {
            std::string what = e.what();
            if (what.size() > kMaxExceptionText)
                what.resize(kMaxExceptionText);
            TraceLog("[ERROR] Send() failed for %s[Error - %s]", portName, what.c_str());
        }
    }
}

std::vector<COrbMonitorClientSocket*> MonitorConnectionManager::GetMonitors() const {
    CriticalSectionLock list(m_csList);
    return m_Monitors;
}
