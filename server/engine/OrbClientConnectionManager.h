#pragma once

#include "DeviceListSender.h"

#include <platform/CriticalSection.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace engine {

class COrbClientSocketUser;
class COrbListenSocket;
class COrbManagerDlg;

// One client port: its listen socket and its connected clients. Everything runs on the UI thread
// except the event delivery, which walks the client list from the event handler thread under
// ClientListLock(). Where several locks are held the order is: close section, the user list's
// lock, the client-list lock.
class COrbClientConnectionManager {
public:
    enum Mode : int { kClientPort = 0, kBypassPort = 1 };

    using DispatchHook =
        std::function<void(COrbClientSocketUser* client, const std::uint8_t* record, int length)>;

    explicit COrbClientConnectionManager(COrbManagerDlg* owner);
    // Closes the listen socket and any client still connected (without their bookkeeping).
    virtual ~COrbClientConnectionManager();
    COrbClientConnectionManager(const COrbClientConnectionManager&) = delete;
    COrbClientConnectionManager& operator=(const COrbClientConnectionManager&) = delete;

    // 1 when the port listens, 0 on failure (logged).
    int StartClientListen(int port, int bypass);
    // Takes one pending connection; it becomes a client only while the link is up and the
    // device download is complete, otherwise it is closed at once.
    void ClientAccept() EXCLUDES(m_csClientList);
    // What a notice of the listen socket does: every pending connection through ClientAccept.
    void AcceptPending() EXCLUDES(m_csAccept);
    // Closes a client with its log lines and count changes. A client that is not in this
    // manager's list (already closed) is left alone.
    void CloseUserConnection(COrbClientSocketUser* client);
    // The same for a client whose peer has gone.
    void CloseDeadUserConnection(COrbClientSocketUser* client);
    // Closes every client whose socket has no peer any more: collects them under the client-list
    // lock, then closes each with CloseDeadUserConnection. The result is how many were closed.
    int PurgeDeadClients() EXCLUDES(m_csClientList);
    // Every client and the listen socket, and the counts of this manager's port go to 0.
    void CloseAllClients() EXCLUDES(m_csClientList);

    // One complete request record (length bytes included) from a client: handled here (logins,
    // logout, local services) or forwarded to the switch for a registered client. An
    // unregistered client that sends a forwarded request is closed. Every handler reads only the
    // `length` bytes given; a record too short for what its handler reads is dropped.
    void DispatchClientMessage(COrbClientSocketUser* client, const std::uint8_t* buffer,
                               int length);
    // Writes the bodies of the records in the buffer to the link I/O queue, in order; stops at a
    // bad length or at a record that runs past the buffer. False when the queue to the switch
    // refused a request (it is full).
    bool ProcessSendCommandToSwitch(const std::uint8_t* buffer, int length);
    // Test seam: when set, DispatchClientMessage hands every record to it instead.
    void SetDispatchHook(DispatchHook hook) { m_DispatchHook = std::move(hook); }

    // The login ('a') and logout ('k') of this manager's port.
    void ClientLogin(COrbClientSocketUser* client, const std::uint8_t* buffer, int length,
                     const std::string& address, int port);
    void ClientLogout(COrbClientSocketUser* client, const std::uint8_t* buffer, int length,
                      const std::string& address);
    // Every device of the device table, then the end record. Sent from a copy taken under the
    // device list's lock, so the table may change meanwhile. An empty table closes the client.
    void SendDeviceListToClient(COrbClientSocketUser* client, const std::string& address);

    // Local services.
    void RegisterOwnLine(COrbClientSocketUser* client, const std::uint8_t* buffer, int length);
    void RegisterIMDevice(COrbClientSocketUser* client, const std::uint8_t* buffer, int length);
    void UnregisterIMDevice(COrbClientSocketUser* client, const std::uint8_t* buffer, int length);
    void RelayInstantMessage(COrbClientSocketUser* client, const std::uint8_t* buffer, int length);
    void LarchLookup(COrbClientSocketUser* client, const std::uint8_t* buffer, int length);
    void AlderAnnounce(COrbClientSocketUser* client, const std::string& address);
    // Mode 1: every client of this port; otherwise the clients that registered the device text.
    // The result is how many clients it was sent to, whatever each send's result.
    int SendIMMsgToClient(int mode, const std::string& deviceText, const std::uint8_t* record,
                          int length) EXCLUDES(m_csClientList);

    // The pauses of the device-list send (10 ms) and of the Oak login (500 ms) go through this;
    // the default sleeps. Tests shorten it.
    using PauseFunction = std::function<void(int milliseconds)>;
    void SetPauseFunction(PauseFunction pause) { m_Pause = std::move(pause); }

    static constexpr int kDeviceListPauseMs = 10;
    static constexpr int kDeviceListPauseSkipEvery = 50;
    static constexpr int kOakLoginPauseMs = 500;
    // A connection to the first client port that has not logged in by then is closed, so idle
    // sockets cannot hold every descriptor. Tests lower it.
    static inline std::atomic<int> s_nLoginTimeoutMs{30000};

    int GetMode() const { return m_nMode; }
    COrbListenSocket* GetListenSocket() const { return m_pListenSocket; }

    platform::CriticalSection& ClientListLock() RETURN_CAPABILITY(m_csClientList) {
        return m_csClientList;
    }
    // The connected clients in accept order.
    const std::vector<COrbClientSocketUser*>& GetClients() const REQUIRES(m_csClientList) {
        return m_ClientList;
    }
    // The paced device lists going out off the window thread.
    DeviceListSender& DeviceLists() { return m_DeviceLists; }

private:
    friend class DeviceListSender;

    void CloseClient(COrbClientSocketUser* client, bool peerGone);
    void ReleaseKinds(COrbClientSocketUser* client, bool peerGone, const std::string& address,
                      int port);
    void AfterClientsChanged();
    // Takes back what repeated logins of kinds that are never refused counted for this client.
    void ReleaseRepeatedLogins(COrbClientSocketUser* client);

    void ClientLoginClientPort(COrbClientSocketUser* client, std::uint8_t kind,
                               const std::string& address, int port);
    void ClientLoginBypassPort(COrbClientSocketUser* client, std::uint8_t kind,
                               const std::string& address, int port);
    void Pause(int milliseconds);
    void CloseIfNotLoggedIn(COrbClientSocketUser* client) EXCLUDES(m_csClientList);
    // UI thread: the list's only writer reads it without the lock.
    const std::vector<COrbClientSocketUser*>& OwnClients() const NO_THREAD_SAFETY_ANALYSIS {
        return m_ClientList;
    }

    COrbManagerDlg* m_pOwner;
    COrbListenSocket* m_pListenSocket;
    int m_nMode = kClientPort;
    // Changed on the UI thread only, under m_csClientList; other threads read it under the lock,
    // the UI thread may read it without (OwnClients()).
    std::vector<COrbClientSocketUser*> m_ClientList GUARDED_BY(m_csClientList);
    platform::CriticalSection m_csAccept;
    platform::CriticalSection m_csClose;
    platform::CriticalSection m_csClientList;
    DispatchHook m_DispatchHook;
    PauseFunction m_Pause;
    DeviceListSender m_DeviceLists{*this}; // last: its thread stops before the rest goes
};

} // namespace engine
