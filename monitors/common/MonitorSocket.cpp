#include "MonitorSocket.h"

#include <algorithm>

MonitorSocket::MonitorSocket(MonitorSocketOwner* owner, std::size_t bufferSize)
    : m_owner(owner), m_blockSize(bufferSize),
      m_buffer(std::max(bufferSize, kMaxNoticeBytes / bufferSize * bufferSize)) {}

MonitorSocket::~MonitorSocket() {
    m_owner = nullptr;
}

void MonitorSocket::OnReceive(int err) {
    AsyncSocket::OnReceive(err);
    m_sizes.clear();
    std::size_t total = 0;
    // Nothing or an error ends the reading: the close notification tells of a lost connection.
    while (total + m_blockSize <= m_buffer.size()) {
        const int count = Receive(m_buffer.data() + total, static_cast<int>(m_blockSize));
        if (count <= 0)
            break;
        m_sizes.push_back(count);
        total += static_cast<std::size_t>(count);
        // A short block took all there was.
        if (static_cast<std::size_t>(count) < m_blockSize)
            break;
    }
    if (!m_sizes.empty() && m_owner != nullptr)
        m_owner->ParseMonitorBlocks(m_buffer.data(), m_sizes);
}

void MonitorSocket::OnClose(int err) {
    AsyncSocket::OnClose(err);
    if (m_owner != nullptr)
        m_owner->OnServerClosed();
}
