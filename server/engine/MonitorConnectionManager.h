#pragma once

#include <platform/CriticalSection.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace engine {

class COrbManagerDlg;
class COrbMonitorClientSocket;
class COrbMonitorListenSocket;

// One monitor port: its listen socket and its connected monitors, in order of acceptance.
// Accepting, receiving and closing run on the UI thread; the senders walk the list from any
// thread. Lock order: the shared lock (the manager pointers and the monitor count, common to the
// three ports), this manager's list lock, a monitor's send lock.
class MonitorConnectionManager {
public:
    static constexpr int kMaxMonitors = 20;
    // A monitor that has sent no valid start request by then is closed. Tests lower it.
    static inline std::atomic<int> s_nStartTimeoutMs{30000};
    // After a wrong access code the next request from that address waits, twice as long after
    // each further wrong code, up to the most. Tests lower them.
    static inline std::atomic<int> s_nCodeDelayMs{250};
    static inline std::atomic<int> s_nMaxCodeDelayMs{8000};

    MonitorConnectionManager(COrbManagerDlg* owner, platform::CriticalSection& sharedLock);
    // Closes whatever is still open, as CloseAllMonitors does but without its log line.
    virtual ~MonitorConnectionManager();
    MonitorConnectionManager(const MonitorConnectionManager&) = delete;
    MonitorConnectionManager& operator=(const MonitorConnectionManager&) = delete;

    // 1 when the port listens, 0 on failure (logged; the port is released again).
    int CreateMonitorListen(int port);
    // Every monitor (uncounting the accepted ones) and the listen socket.
    void CloseAllMonitors() EXCLUDES(m_csList);

    // Takes one pending connection; it joins the list unless 20 monitors are counted.
    void MonitorAccept() EXCLUDES(m_csList);
    // What a notice of the listen socket does: every pending connection through MonitorAccept.
    void AcceptPending();
    // Judges what a monitor sent: admits it, or removes it with the message of the first failing
    // test. Bytes beyond `count` are never read.
    void CheckMonitorConnectRequest(COrbMonitorClientSocket* socket, const std::uint8_t* buffer,
                                    int count);
    // Uncounts, closes and disposes of a monitor of this manager; one not in the list is left
    // alone. The shared lock may be held already.
    void RemoveMonitor(COrbMonitorClientSocket* socket) EXCLUDES(m_csList);

    // Any thread, under the shared lock (the feed's, which the analysis cannot tell is this
    // manager's). One record to every monitor of the list (to the accepted ones only when
    // acceptedOnly); `portName` names the port in the failure message.
    void SendToMonitors(const std::uint8_t* data, int length, bool acceptedOnly,
                        const char* portName) EXCLUDES(m_csList);

    COrbMonitorListenSocket* GetListenSocket() const { return m_pListenSocket; }
    // A copy of the list, in order of acceptance.
    std::vector<COrbMonitorClientSocket*> GetMonitors() const EXCLUDES(m_csList);

private:
    void CloseEverything() EXCLUDES(m_csList);
    bool IsFull() const REQUIRES(m_csShared);
    // Held from the count test to here, so two monitors cannot both take the last slot.
    void Admit(COrbMonitorClientSocket* socket) REQUIRES(m_csShared) EXCLUDES(m_csList);
    // Judges the access code of a start request, now or after the address's delay.
    void CheckAccessCode(COrbMonitorClientSocket* socket, const std::uint8_t* buffer, int count,
                         const std::string& address);
    void JudgeAccessCode(COrbMonitorClientSocket* socket, const std::string& given,
                         const std::string& address);

    COrbManagerDlg* m_pOwner;
    platform::CriticalSection& m_csShared;
    mutable platform::CriticalSection m_csList;
    // UI thread only.
    COrbMonitorListenSocket* m_pListenSocket = nullptr;
    std::vector<COrbMonitorClientSocket*> m_Monitors GUARDED_BY(m_csList);
};

} // namespace engine
