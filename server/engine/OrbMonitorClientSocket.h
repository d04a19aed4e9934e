#pragma once

#include "HeldTailSender.h"

#include <platform/AsyncSocket.h>
#include <protocol/RecordAssembler.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace engine {

class MonitorConnectionManager;

// One connected monitor. Lives on the UI thread; the senders reach it from other threads only
// through its manager's list, under the list lock, and only to call SendRecord.
class COrbMonitorClientSocket : public platform::AsyncSocket {
public:
    static constexpr int kReceiveBufferSize = 2048;

    explicit COrbMonitorClientSocket(MonitorConnectionManager* manager);
    ~COrbMonitorClientSocket() override;

    // Any thread. One whole record or nothing of it: a record that finds the socket full, or an
    // earlier record's tail still waiting, is lost for this monitor.
    void SendRecord(const void* data, int length);
    std::size_t PendingSendBytes() const { return m_Sender.PendingBytes(); }

    // Closes the socket and deletes the object, deferred when it runs inside one of this
    // object's own notifications. The caller has taken it out of its manager's list.
    void Dispose();

    // 1 once a valid start request or setup-tool connect request has come; counted then.
    std::atomic<int> m_bAccepted{0};

protected:
    void OnReceive(int err) override;
    void OnSend(int err) override;
    void OnClose(int err) override;

private:
    struct NotificationScope {
        explicit NotificationScope(COrbMonitorClientSocket& socket) : owner(socket) {
            ++owner.m_nDepth;
        }
        ~NotificationScope() { --owner.m_nDepth; }
        COrbMonitorClientSocket& owner;
    };

    void HandRecord(const protocol::CtiRecord& record);
    void RefuseLength(std::uint16_t length);

    MonitorConnectionManager* m_pManager;
    // A request may come over several segments; a refused length's bytes are passed over.
    protocol::RecordAssembler m_Assembler;
    std::array<std::uint8_t, kReceiveBufferSize> m_ReceiveBuffer{};
    HeldTailSender m_Sender;
    int m_nDepth = 0;
    bool m_bDisposed = false;
};

} // namespace engine
