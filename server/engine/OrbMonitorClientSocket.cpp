#include "OrbMonitorClientSocket.h"

#include "MonitorConnectionManager.h"

COrbMonitorClientSocket::COrbMonitorClientSocket(MonitorConnectionManager* manager)
    : m_pManager(manager), m_Sender(*this) {}

COrbMonitorClientSocket::~COrbMonitorClientSocket() = default;

HeldTailSender::Result COrbMonitorClientSocket::SendRecord(const void* data, int length,
                                                           int& error) {
    return m_Sender.SendRecord(data, length, error);
}

void COrbMonitorClientSocket::Dispose() {
    if (m_bDisposed)
        return;
    m_bDisposed = true;
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
    // May remove and dispose of this socket; nothing of it is used afterwards.
    m_pManager->CheckMonitorConnectRequest(this, m_ReceiveBuffer.data(), n);
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
