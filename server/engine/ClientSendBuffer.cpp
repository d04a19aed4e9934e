#include "ClientSendBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace engine {

ClientSendBuffer::ClientSendBuffer(ClientSendSink& sink)
    : m_pSink(&sink), m_pMarks(new Mark[kRecordLimit]) {
    // Appends while a send runs must never move the bytes being sent: a send takes at most the
    // limit, and as much again may wait behind it.
    m_Bytes.reserve(2 * kByteLimit);
}

ClientSendBuffer::Result ClientSendBuffer::PostLocked(const void* data, int length, int tag,
                                                      int& error) {
    error = 0;
    if (!data || length <= 0 || static_cast<std::size_t>(length) > kRemainingMask || tag < 0 ||
        tag >= ClientSendSink::kTagCount) {
        error = EINVAL;
        return kFailed;
    }
    if (!m_pSink) {
        error = EBADF;
        return kFailed;
    }
    if (m_nFailed != 0) {
        error = m_nFailed;
        return kFailed;
    }
    const auto size = static_cast<std::size_t>(length);
    const bool empty = m_Bytes.empty();
    // The limit is on what waits: the bytes a send is writing at this moment are as good as gone.
    if (m_bBlocked || m_MarkCount == kRecordLimit ||
        (!empty && (m_Bytes.size() - m_nInFlight + size > kByteLimit ||
                    m_Bytes.size() + size > m_Bytes.capacity()))) {
        error = EWOULDBLOCK;
        return kRefused;
    }
    // Only an empty queue may grow past its reserve: nobody is sending from it then.
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_Bytes.insert(m_Bytes.end(), bytes, bytes + size);
    m_pMarks[(m_MarkHead + m_MarkCount) % kRecordLimit] =
        static_cast<Mark>(size) | static_cast<Mark>(tag) << kTagShift;
    ++m_MarkCount;
    return kAccepted;
}

ClientSendBuffer::Need ClientSendBuffer::NeedAfterPost() {
    if (!m_bScheduled && !m_bSending) {
        m_bScheduled = true;
        return kSender;
    }
    if (!m_bSending && m_Bytes.size() > kByteLimit / 2)
        return kHelp;
    return kNothing;
}

ClientSendBuffer::Result ClientSendBuffer::Post(const void* data, int length, int tag, int& error,
                                                Need& need) {
    std::lock_guard<std::mutex> guard(m_Lock);
    const Result result = PostLocked(data, length, tag, error);
    need = result == kAccepted ? NeedAfterPost() : kNothing;
    return result;
}

void ClientSendBuffer::PostAll(const Record* records, std::size_t count, int tag, int* errors,
                               Need& need) {
    need = kNothing;
    bool accepted = false;
    std::lock_guard<std::mutex> guard(m_Lock);
    for (std::size_t i = 0; i < count; ++i)
        accepted |= PostLocked(records[i].data, records[i].length, tag, errors[i]) == kAccepted;
    if (accepted)
        need = NeedAfterPost();
}

void ClientSendBuffer::Consume(std::size_t sent) {
    m_Bytes.erase(m_Bytes.begin(), m_Bytes.begin() + static_cast<std::ptrdiff_t>(sent));
    while (sent > 0 && m_MarkCount > 0) {
        const std::size_t remaining = FrontRemaining();
        if (sent < remaining) {
            m_pMarks[m_MarkHead] -= static_cast<Mark>(sent);
            m_bTorn = true;
            return;
        }
        sent -= remaining;
        m_MarkHead = (m_MarkHead + 1) % kRecordLimit;
        --m_MarkCount;
        m_bTorn = false;
    }
    if (m_MarkCount == 0) {
        m_MarkHead = 0;
        // A record longer than the limit made room of its own; give it back.
        if (m_Bytes.capacity() > 2 * kByteLimit) {
            std::vector<std::uint8_t> fresh;
            fresh.reserve(2 * kByteLimit);
            m_Bytes.swap(fresh);
        }
    }
}

bool ClientSendBuffer::CanSend() const {
    return m_pSink && !m_Bytes.empty() && !m_bBlocked && m_nFailed == 0;
}

bool ClientSendBuffer::SendOnce(std::unique_lock<std::mutex>& lock) {
    if (!CanSend())
        return false;
    ClientSendSink* sink = m_pSink;
    const std::uint8_t* data = m_Bytes.data();
    const std::size_t size = std::min(m_Bytes.size(), kByteLimit);
    m_nInFlight = size;
    lock.unlock();
    int error = 0;
    const int n = sink->SendBytes(data, static_cast<int>(size), error);
    lock.lock();
    m_nInFlight = 0;
    if (n > 0)
        Consume(static_cast<std::size_t>(n));
    if ((n >= 0 && static_cast<std::size_t>(n) < size) || (n < 0 && error == EWOULDBLOCK)) {
        m_bBlocked = true;
        // Asked only now: the notification may come at once, on another thread, and it must
        // find the buffer blocked. If it has already unblocked it, this turn goes on sending.
        lock.unlock();
        sink->RequestWritable();
        lock.lock();
    } else if (n < 0 && error != EINTR) {
        // Broken: nothing queued can arrive any more, and the close notification follows.
        std::array<int, ClientSendSink::kTagCount> lost{};
        for (std::size_t i = 0; i < m_MarkCount; ++i)
            ++lost[m_pMarks[(m_MarkHead + i) % kRecordLimit] >> kTagShift];
        m_Bytes.clear();
        m_MarkCount = 0;
        m_MarkHead = 0;
        m_bTorn = false;
        m_nFailed = error != 0 ? error : EPIPE;
        const int failed = m_nFailed;
        lock.unlock();
        sink->SendFailed(failed, lost);
        lock.lock();
    }
    return CanSend();
}

void ClientSendBuffer::EndTurn() {
    m_bSending = false;
    m_TurnEnded.notify_all();
}

void ClientSendBuffer::Flush() {
    std::unique_lock<std::mutex> lock(m_Lock);
    if (m_bSending)
        return;
    m_bSending = true;
    while (SendOnce(lock)) {
    }
    EndTurn();
}

bool ClientSendBuffer::FlushOnce() {
    std::unique_lock<std::mutex> lock(m_Lock);
    m_bScheduled = false;
    // A thread already sending sends what came meanwhile too.
    if (m_bSending)
        return false;
    m_bSending = true;
    const bool more = SendOnce(lock);
    EndTurn();
    if (!more || m_bScheduled)
        return false;
    m_bScheduled = true;
    return true;
}

void ClientSendBuffer::OnWritable() {
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        // Records may queue behind the tail again while it goes.
        m_bBlocked = false;
    }
    Flush();
}

void ClientSendBuffer::Unschedule() {
    std::lock_guard<std::mutex> guard(m_Lock);
    m_bScheduled = false;
}

void ClientSendBuffer::Detach() {
    std::unique_lock<std::mutex> lock(m_Lock);
    m_pSink = nullptr;
    m_TurnEnded.wait(lock, [this] { return !m_bSending; });
    m_Bytes.clear();
    m_MarkCount = 0;
    m_MarkHead = 0;
    m_bTorn = false;
}

std::size_t ClientSendBuffer::TornBytes() const {
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_bTorn && m_MarkCount > 0 ? FrontRemaining() : 0;
}

std::size_t ClientSendBuffer::QueuedBytes() const {
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Bytes.size();
}

std::size_t ClientSendBuffer::QueuedRecords() const {
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_MarkCount;
}

int ClientSendBuffer::FailedError() const {
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_nFailed;
}

} // namespace engine
