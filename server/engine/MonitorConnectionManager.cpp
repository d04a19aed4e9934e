#include "MonitorConnectionManager.h"

#include "OrbManagerDlg.h"
#include "OrbMonitorClientSocket.h"
#include "OrbMonitorListenSocket.h"
#include "TraceLog.h"

#include <platform/Mutex.h>
#include <protocol/MonitorStartRequest.h>

#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace engine {

using platform::CriticalSectionLock;

namespace {

namespace StartRequest = protocol::MonitorStartRequest;

// The byte at the offset of what a monitor sent, or -1 beyond its `count` bytes.
int ByteAt(const std::uint8_t* buffer, int count, std::size_t offset) {
    return static_cast<int>(offset) < count ? buffer[offset] : -1;
}

constexpr std::size_t kMaxExceptionText = 255;

// Wrong access codes by address, shared by every monitor port.
struct CodeFailures {
    unsigned count = 0;
    std::chrono::steady_clock::time_point nextTry{}; // set with the first failure that makes it
};
constexpr std::size_t kMaxFailingAddresses = 4096;
platform::Mutex g_FailuresLock;
std::map<std::string, CodeFailures> g_Failures GUARDED_BY(g_FailuresLock);

std::chrono::milliseconds CodeDelay(unsigned failures) {
    const long long base = MonitorConnectionManager::s_nCodeDelayMs.load();
    const long long most = MonitorConnectionManager::s_nMaxCodeDelayMs.load();
    long long delay = base;
    for (unsigned i = 1; i < failures && delay < most; ++i)
        delay *= 2;
    return std::chrono::milliseconds(std::min(delay, most));
}

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
    if (!m_pListenSocket->Listen(AcceptPause::kListenBacklog)) {
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

void MonitorConnectionManager::AcceptPending() {
    if (m_pListenSocket)
        m_pListenSocket->Accepts().AcceptAll([this] { MonitorAccept(); });
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
    // Bound to the socket: gone with it when it closes first.
    QTimer::singleShot(s_nStartTimeoutMs.load(), socket, [this, socket] {
        if (socket->m_bAccepted.load())
            return;
        TraceLog(">>> Monitor Client sent no start request within %d seconds. Closed!!!",
                 s_nStartTimeoutMs.load() / 1000);
        RemoveMonitor(socket);
    });
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
    if (ByteAt(buffer, count, StartRequest::kMessageIdOffset) != StartRequest::kMessageId) {
        TraceLog(">>> Unknown Connection Request with the wrong message ID is rejected from "
                 "[%s]!!!",
                 address.c_str());
        RemoveMonitor(socket);
        return;
    }
    const int eventId = ByteAt(buffer, count, StartRequest::kEventIdOffset);
    if (eventId != StartRequest::kMonitorStart && eventId != StartRequest::kFirModuleConnect) {
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
    if (eventId == StartRequest::kFirModuleConnect) {
        Admit(socket);
        TraceLog(">>> Fir Module is connected from[%s]!!!", address.c_str());
        return;
    }
    const int codeLength = ByteAt(buffer, count, StartRequest::kCodeLengthOffset);
    if (codeLength < 0 || !StartRequest::IsValidCodeLength(static_cast<std::size_t>(codeLength))) {
        TraceLog(">>> Monitor Passcode Length from [%s]is not matched!!!", address.c_str());
        RemoveMonitor(socket);
        return;
    }
    CheckAccessCode(socket, buffer, count, address);
}

void MonitorConnectionManager::CheckAccessCode(COrbMonitorClientSocket* socket,
                                               const std::uint8_t* buffer, int count,
                                               const std::string& address) {
    constexpr int kCodeOffset = static_cast<int>(StartRequest::kCodeOffset);
    const int codeLength = buffer[StartRequest::kCodeLengthOffset];
    const int present = std::clamp(count - kCodeOffset, 0, codeLength);
    std::string given(reinterpret_cast<const char*>(buffer + kCodeOffset),
                      static_cast<std::size_t>(present));
    if (present < codeLength)
        given.append(1, '\0'); // never matches, traced as what came
    std::chrono::milliseconds wait{0};
    {
        platform::LockGuard guard(g_FailuresLock);
        const auto it = g_Failures.find(address);
        const auto now = std::chrono::steady_clock::now();
        if (it != g_Failures.end() && it->second.nextTry > now) {
            wait = std::chrono::duration_cast<std::chrono::milliseconds>(it->second.nextTry - now);
            // Tries that come together are spaced out, not judged in one go.
            it->second.nextTry += CodeDelay(it->second.count);
        }
    }
    if (wait.count() <= 0) {
        JudgeAccessCode(socket, given, address);
        return;
    }
    // Bound to the socket: dropped if it closes while it waits.
    QTimer::singleShot(wait, socket,
                       [this, socket, given, address] { JudgeAccessCode(socket, given, address); });
}

void MonitorConnectionManager::JudgeAccessCode(COrbMonitorClientSocket* socket,
                                               const std::string& given,
                                               const std::string& address) {
    CriticalSectionLock shared(m_csShared);
    if (!socket->m_bAccepted.load() && IsFull()) {
        TraceLog(">>> There is no available count for this Monitor Utility.");
        RemoveMonitor(socket);
        return;
    }
    if (given != m_pOwner->m_strMonitorAccessCode) {
        unsigned failures = 0;
        {
            platform::LockGuard guard(g_FailuresLock);
            if (g_Failures.size() >= kMaxFailingAddresses && !g_Failures.contains(address))
                g_Failures.erase(g_Failures.begin());
            CodeFailures& entry = g_Failures[address];
            failures = ++entry.count;
            const auto next = std::chrono::steady_clock::now() + CodeDelay(failures);
            entry.nextTry = std::max(entry.nextTry, next);
        }
        const std::string shown = given.substr(0, given.find('\0'));
        TraceLog(">>> Delivered Monitor Passcode[%s] from [%s]is not matched!!!", shown.c_str(),
                 address.c_str());
        TraceLog(">>> Wrong Monitor Passcode %u time(s) from [%s]; the next try waits %lld ms!!!",
                 failures, address.c_str(), static_cast<long long>(CodeDelay(failures).count()));
        RemoveMonitor(socket);
        return;
    }
    {
        platform::LockGuard guard(g_FailuresLock);
        g_Failures.erase(address);
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
            socket->SendRecord(data, length);
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

} // namespace engine
