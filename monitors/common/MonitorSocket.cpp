#include "MonitorSocket.h"

MonitorSocket::MonitorSocket(MonitorSocketOwner* owner, std::size_t bufferSize)
    : m_owner(owner), m_buffer(bufferSize) {}

MonitorSocket::~MonitorSocket() {
    m_owner = nullptr;
}

void MonitorSocket::OnReceive(int err) {
    AsyncSocket::OnReceive(err);
    const int count = Receive(m_buffer.data(), static_cast<int>(m_buffer.size()));
    // Nothing or an error: the close notification tells of a lost connection.
    if (count > 0 && m_owner != nullptr)
        m_owner->ParseMonitorRecords(m_buffer.data(), count);
}

void MonitorSocket::OnClose(int err) {
    AsyncSocket::OnClose(err);
    if (m_owner != nullptr)
        m_owner->OnServerClosed();
}
