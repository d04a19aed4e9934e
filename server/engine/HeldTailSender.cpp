#include "HeldTailSender.h"

#include <cerrno>

namespace engine {

bool HeldTailSender::FlushLocked() {
    while (!m_Tail.empty()) {
        const int n = m_Socket.Send(m_Tail.data(), static_cast<int>(m_Tail.size()));
        if (n < 0) {
            const int err = m_Socket.GetLastError();
            if (err == EWOULDBLOCK || err == EINTR)
                return false;
            // Broken: the rest can never arrive, and the close notification follows.
            m_Tail.clear();
            return true;
        }
        m_Tail.erase(m_Tail.begin(), m_Tail.begin() + n);
    }
    return true;
}

HeldTailSender::Result HeldTailSender::SendRecord(const void* data, int length, int& error) {
    error = 0;
    if (!data || length <= 0) {
        error = EINVAL;
        return kFailed;
    }
    platform::LockGuard guard(m_lock);
    if (!FlushLocked()) {
        error = EWOULDBLOCK;
        return kRefused;
    }
    const int n = m_Socket.Send(data, length);
    if (n < 0) {
        error = m_Socket.GetLastError();
        return (error == EWOULDBLOCK || error == EINTR) ? kRefused : kFailed;
    }
    if (n < length) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        m_Tail.assign(bytes + n, bytes + length);
        // Only now is there something to wait for.
        m_Socket.RequestWriteNotification();
    }
    return kSent;
}

void HeldTailSender::OnWritable() {
    platform::LockGuard guard(m_lock);
    if (!FlushLocked())
        m_Socket.RequestWriteNotification();
}

std::size_t HeldTailSender::PendingBytes() const {
    platform::LockGuard guard(m_lock);
    return m_Tail.size();
}

} // namespace engine
