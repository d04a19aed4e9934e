#pragma once

#include "OrbManagerDlg.h"

#include <platform/AsyncSocket.h>
#include <platform/Mutex.h>
#include <protocol/RecordAssembler.h>

#include "ClientSendBuffer.h"
#include "ClientSendPool.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace engine {

class COrbClientConnectionManager;

// One connected client: its socket and its record. Lives on the UI thread; the event handler
// thread reaches it only through its manager's client list, under the client-list lock, and only
// to read the delivery fields and to call SendRecord; a sender thread only through its send
// buffer, which holds it off meanwhile (Detach waits).
class COrbClientSocketUser : public platform::AsyncSocket, private ClientSendSink {
public:
    static constexpr int kReceiveBufferSize = 2048;
    static constexpr int kFirstNumberedKind = 33; // kinds 33 (Hemlock) to 41
    static constexpr int kNumberedKindCount = 9;

    explicit COrbClientSocketUser(COrbClientConnectionManager* manager);
    ~COrbClientSocketUser() override;

    // What a record lost to a broken connection traces (QueueEvents).
    enum LossTrace : int { kSilent = 0, kClientPortEvent = 1, kSecondPortData = 2 };

    // Sends one whole record now, on the calling thread, behind whatever is queued for this
    // client; any thread. The result is the record's length, or -1 with the socket error in
    // `error`. A record the kernel takes only in part is completed from a held tail when the
    // socket is writable again; until then every further record fails with EWOULDBLOCK, so the
    // peer never sees a torn or interleaved record.
    int SendRecord(const void* data, int length, int& error);
    // The same rules, but the records are only queued, in order and under one lock: errors[i]
    // is 0 for one queued, else why it was not. When the client's buffer wants a sender it is
    // added to `wake` for the sender pool, to `later` when it may wait out the gathering delay,
    // and to `help` when the pool is so far behind that the caller should send it itself. The
    // records keep their place among the replies. The records lie in `batch`, which the client's
    // buffer refers to while they wait.
    void QueueEvents(const std::shared_ptr<const SendBatch>& batch,
                     const ClientSendBuffer::Record* records, std::size_t count, LossTrace trace,
                     int* errors, SendWakeList& wake, SendWakeList& later, SendWakeList& help);
    // The client's send buffer, for a sender thread to queue its events in (PostAllReported
    // tells this client what became of them).
    const std::shared_ptr<ClientSendBuffer>& SendBuffer() const { return m_pSender; }
    // Bytes of a torn record still waiting to go out (never more than one record).
    std::size_t PendingSendBytes() const;
    // Every byte queued for this client and not sent yet.
    std::size_t QueuedSendBytes() const;
    // A send found the connection gone (no peer any more): nothing is delivered to it now.
    bool PeerGone() const { return m_bPeerGone.load(); }
    // One record of this client lost (refused or failed). A run of losses is traced once when
    // it starts, with its count once a second while it lasts, and with its count when it ends:
    // a client that stops reading would otherwise fill the log with one line per event. Any
    // thread.
    void TraceUndelivered(LossTrace trace, int error);
    // One record of this client queued: ends a run of losses of that kind.
    void NoteDelivered(LossTrace trace);
    // Records lost for this client so far, of every kind.
    std::uint64_t LostRecords() const { return m_nLost.load(); }
    // Bytes of an incomplete request record waiting for the rest. UI thread.
    std::size_t BufferedReceiveBytes() const { return m_Assembler.Buffered(); }

    // Closes the socket, stops handing out buffered records and deletes the object, deferred
    // when it runs inside one of this object's own notifications. The caller has taken it out of
    // its manager's list.
    void Dispose();

    // Record fields. Peer address and port are written once, before the client enters the list.
    int m_nPeerPort = 0;
    std::string m_strPeerAddress;
    std::string m_strLarchLabel;
    std::string m_strRowanLabel;
    std::string m_strElmLabel;
    std::string m_strUnknownLabel;
    std::string m_strConnectTime;
    std::string m_strCedarLabel;
    std::string m_strBirchLabel;
    // Read by the event handler thread while the UI thread's logins change them.
    std::atomic<int> m_bRegistered{0};
    std::atomic<int> m_bOwnLineFilter{0};
    std::atomic<int> m_nOwnLine{0};

    // Kind flags; independent, a client may carry several.
    std::atomic<int> m_bAlder{0};
    std::atomic<int> m_bKind10{0};
    std::atomic<int> m_bMaple{0};
    std::atomic<int> m_bDogwood{0};
    std::atomic<int> m_bHazel{0};
    std::atomic<int> m_bFir{0};
    std::atomic<int> m_bOak{0};
    std::atomic<int> m_bPoplar{0};
    std::atomic<int> m_bElm{0};
    std::atomic<int> m_bRowan{0};
    std::atomic<int> m_bSpruce{0};
    std::atomic<int> m_bCedar{0};
    std::atomic<int> m_bBirch{0};
    std::atomic<int> m_bMsJuniper{0};
    std::atomic<int> m_bIbmJuniper{0};
    std::atomic<int> m_bJuniper{0};
    // Kind k at [k - kFirstNumberedKind].
    std::array<std::atomic<int>, kNumberedKindCount> m_bNumberedKind{};

    // Device numbers, as decimal text, registered for instant messages. UI thread.
    std::vector<std::string> m_IMDevices;
    // 1 when added, 0 when the text was already there.
    int AddIMDevice(const std::string& device);
    void RemoveIMDevice(const std::string& device);
    int IsIMDeviceRegistered(const std::string& device) const;
    void TraceIMDevices() const;

    // Logins counted again for a kind this client already carried, by login-count slot; the
    // close takes them back along with the one count per kind flag. UI thread.
    std::array<unsigned, kKindCountSlots> m_nRepeatedLogins{};

protected:
    void OnReceive(int err) override;
    void OnSend(int err) override;
    void OnClose(int err) override;

private:
    // Counts the notifications running on this object, so Dispose knows when to defer.
    struct NotificationScope {
        explicit NotificationScope(COrbClientSocketUser& user) : owner(user) { ++owner.m_nDepth; }
        ~NotificationScope() { --owner.m_nDepth; }
        COrbClientSocketUser& owner;
    };

    void HandRecord(const protocol::CtiRecord& record);
    int SendBytes(const std::uint8_t* data, int length, int& error) override;
    int SendPieces(const Piece* pieces, int count, int& error) override;
    void RequestWritable() override;
    void SendFailed(int error, const std::array<int, kTagCount>& lost) override;
    void RecordsPosted(int tag, const int* errors, std::size_t count) override;
    bool WantsTakenReport() const override { return m_bRunOpen.load(std::memory_order_relaxed); }
    void DropBuffered(std::uint16_t length);
    void TraceRunEnd(LossTrace trace) REQUIRES(m_RunLock);
    void EndLossRuns();

    struct LossRun {
        unsigned long count = 0;
        std::chrono::steady_clock::time_point lastLine{}; // read only once count is set
    };

    COrbClientConnectionManager* m_pManager;
    std::array<std::uint8_t, kReceiveBufferSize> m_ReceiveBuffer{};
    protocol::RecordAssembler m_Assembler;
    int m_nDepth = 0;
    bool m_bDisposed = false;
    std::atomic<bool> m_bPeerGone{false};
    platform::Mutex m_RunLock;
    std::array<LossRun, kTagCount> m_Runs GUARDED_BY(m_RunLock){}; // by LossTrace
    std::atomic<bool> m_bRunOpen{false};                           // some run has a count
    std::atomic<std::uint64_t> m_nLost{0};

    // Shared with the sender pool, which may still hold it after this object is gone; detached
    // before the socket closes.
    std::shared_ptr<ClientSendBuffer> m_pSender =
        std::make_shared<ClientSendBuffer>(static_cast<ClientSendSink&>(*this));
};

} // namespace engine
