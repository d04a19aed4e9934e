#include "OrbMonitorClientSocket.h"

#include "MonitorConnectionManager.h"

namespace engine {

COrbMonitorClientSocket::COrbMonitorClientSocket(MonitorConnectionManager* manager)
    : m_pManager(manager), m_Assembler(
                               protocol::RecordAssembler::BadLengthPolicy::SkipBody,
                               [this](const protocol::CtiRecord& record) { HandRecord(record); },
                               [this](std::uint16_t length) { RefuseLength(length); }),
      m_Sender(*this) {}

COrbMonitorClientSocket::~COrbMonitorClientSocket() = default;

void COrbMonitorClientSocket::SendRecord(const void* data, int length) {
    int error = 0;
    m_Sender.SendRecord(data, length, error);
}

void COrbMonitorClientSocket::Dispose() {
    if (m_bDisposed)
        return;
    m_bDisposed = true;
    m_Assembler.Reset();
    if (m_nDepth > 0) {
        DeleteLater();
    } else {
        Close();
        delete this;
    }
}

void COrbMonitorClientSocket::OnReceive(int) {
    NotificationScope scope(*this);
    const int n = Receive(m_ReceiveBuffer.data(), kReceiveBufferSize);
    // Nothing read: a close comes through OnClose, a failure needs no answer.
    if (n <= 0 || m_bDisposed || !m_pManager)
        return;
    m_Assembler.Feed(protocol::ByteView(m_ReceiveBuffer.data(), static_cast<std::size_t>(n)));
}

void COrbMonitorClientSocket::HandRecord(const protocol::CtiRecord& record) {
    if (m_bDisposed || !m_pManager)
        return;
    const protocol::ByteView frame = record.Frame();
    // May remove and dispose of this socket (deferred, as a notification is running).
    m_pManager->CheckMonitorConnectRequest(this, frame.data(), static_cast<int>(frame.size()));
}

void COrbMonitorClientSocket::RefuseLength(std::uint16_t) {
    if (m_bDisposed || !m_pManager)
        return;
    // No request has such a length: judged as one without its message ID.
    m_pManager->CheckMonitorConnectRequest(this, nullptr, 0);
}

void COrbMonitorClientSocket::OnSend(int err) {
    NotificationScope scope(*this);
    if (err != 0)
        return;
    m_Sender.OnWritable();
}

void COrbMonitorClientSocket::OnClose(int) {
    NotificationScope scope(*this);
    if (m_pManager)
        m_pManager->RemoveMonitor(this);
}

} // namespace engine
