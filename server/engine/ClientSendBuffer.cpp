#include "ClientSendBuffer.h"

#include "SendBatch.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace engine {

int ClientSendSink::SendPieces(const Piece* pieces, int count, int& error) {
    if (count == 1)
        return SendBytes(pieces[0].data, static_cast<int>(pieces[0].length), error);
    thread_local std::vector<std::uint8_t> joined;
    joined.clear();
    for (int i = 0; i < count; ++i)
        joined.insert(joined.end(), pieces[i].data, pieces[i].data + pieces[i].length);
    return SendBytes(joined.data(), static_cast<int>(joined.size()), error);
}

ClientSendBuffer::ClientSendBuffer(ClientSendSink& sink)
    : m_pSink(&sink), m_pMarks(new Mark[kRecordLimit]) {}

ClientSendBuffer::Result ClientSendBuffer::Admit(const void* data, int length, int tag,
                                                 int& error) const {
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
    // The limit is on what waits: the bytes a send is writing at this moment are as good as gone.
    if (m_bBlocked || m_MarkCount == kRecordLimit ||
        (m_nQueued != 0 && m_nQueued - m_nInFlight + size > kByteLimit)) {
        error = EWOULDBLOCK;
        return kRefused;
    }
    return kAccepted;
}

void ClientSendBuffer::AddMark(std::size_t size, int tag) {
    m_pMarks[(m_MarkHead + m_MarkCount) % kRecordLimit] =
        static_cast<Mark>(size) | static_cast<Mark>(tag) << kTagShift;
    ++m_MarkCount;
    m_nQueued += size;
}

void ClientSendBuffer::CopyIn(const std::uint8_t* data, std::size_t size) {
    // Behind the last copy when that is still the end of the queue: a send may be reading the
    // bytes before it, which stay where they are.
    if (m_pOwn && !m_Spans.empty() && m_Spans.back().batch == m_pOwn &&
        m_Spans.back().end == m_pOwn->Size() && m_pOwn->Room() >= size) {
        m_pOwn->Append(data, size);
        m_Spans.back().end += size;
        return;
    }
    // A chunk nothing refers to any more is taken again, unless a long record made it large.
    if (!m_pOwn || m_pOwn.use_count() > 1 || m_pOwn->Capacity() < size ||
        m_pOwn->Capacity() > kOwnChunk)
        m_pOwn = std::make_shared<SendBatch>(std::max(kOwnChunk, size));
    else
        m_pOwn->Clear();
    m_pOwn->Append(data, size);
    m_Spans.push_back({m_pOwn, 0, size});
}

void ClientSendBuffer::ReferTo(const std::shared_ptr<const SendBatch>& batch, std::size_t offset,
                               std::size_t size) {
    if (!m_Spans.empty() && m_Spans.back().batch == batch && m_Spans.back().end == offset) {
        m_Spans.back().end += size;
        return;
    }
    m_Spans.push_back({batch, offset, offset + size});
}

ClientSendBuffer::Result ClientSendBuffer::PostLocked(const void* data, int length, int tag,
                                                      int& error) {
    const Result result = Admit(data, length, tag, error);
    if (result != kAccepted)
        return result;
    const auto size = static_cast<std::size_t>(length);
    CopyIn(static_cast<const std::uint8_t*>(data), size);
    AddMark(size, tag);
    return kAccepted;
}

ClientSendBuffer::Need ClientSendBuffer::NeedAfterPost(bool events) {
    const bool enough = m_MarkCount >= kEnoughToSend;
    if (!m_bScheduled && !m_bSending) {
        m_bScheduled = true;
        m_bWaiting = events && !enough && m_LastSend &&
                     std::chrono::steady_clock::now() - *m_LastSend < kRecentSend;
        return m_bWaiting ? kSenderSoon : kSender;
    }
    if (m_bWaiting && enough && !m_bSending) {
        // Its entry among those waiting out the delay is spent; it goes with the senders now.
        m_bWaiting = false;
        m_nWaitTicket.fetch_add(1, std::memory_order_release);
        return kSender;
    }
    if (!m_bSending && m_nQueued > kByteLimit / 2)
        return kHelp;
    return kNothing;
}

ClientSendBuffer::Result ClientSendBuffer::Post(const void* data, int length, int tag, int& error,
                                                Need& need) {
    platform::LockGuard guard(m_Lock);
    const Result result = PostLocked(data, length, tag, error);
    need = result == kAccepted ? NeedAfterPost() : kNothing;
    return result;
}

void ClientSendBuffer::PostAll(const Record* records, std::size_t count, int tag, int* errors,
                               Need& need) {
    need = kNothing;
    bool accepted = false;
    platform::LockGuard guard(m_Lock);
    for (std::size_t i = 0; i < count; ++i)
        accepted |= PostLocked(records[i].data, records[i].length, tag, errors[i]) == kAccepted;
    if (accepted)
        need = NeedAfterPost();
}

void ClientSendBuffer::PostAll(const std::shared_ptr<const SendBatch>& batch, const Record* records,
                               std::size_t count, int tag, int* errors, Need& need) {
    platform::LockGuard guard(m_Lock);
    PostBatchLocked(batch, records, count, tag, errors, need);
}

void ClientSendBuffer::PostAllReported(const std::shared_ptr<const SendBatch>& batch,
                                       const Record* records, std::size_t count, int tag,
                                       int* errors, Need& need) {
    platform::UniqueLock lock(m_Lock);
    PostBatchLocked(batch, records, count, tag, errors, need);
    ClientSendSink* sink = m_pSink;
    if (!sink)
        return;
    if (std::none_of(errors, errors + count, [](int error) { return error != 0; }) &&
        !sink->WantsTakenReport())
        return;
    // The report may trace; Detach waits until it is done.
    ++m_nReporting;
    lock.unlock();
    sink->RecordsPosted(tag, errors, count);
    lock.lock();
    if (--m_nReporting == 0)
        m_TurnEnded.notify_all();
}

void ClientSendBuffer::PostBatchLocked(const std::shared_ptr<const SendBatch>& batch,
                                       const Record* records, std::size_t count, int tag,
                                       int* errors, Need& need) {
    need = kNothing;
    std::size_t accepted = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (Admit(records[i].data, records[i].length, tag, errors[i]) != kAccepted)
            continue;
        const auto size = static_cast<std::size_t>(records[i].length);
        AddMark(size, tag);
        accepted += size;
    }
    if (accepted == 0)
        return;
    // A client that takes only a small part of the batch gets a copy of that part: whatever it
    // refers to then has at least a quarter of its bytes waiting in it, so a client that has
    // stopped reading holds on to no more than a few times its own queue.
    const bool refer = batch && 4 * accepted >= batch->Size();
    for (std::size_t i = 0; i < count; ++i) {
        if (errors[i] != 0)
            continue;
        const Record& record = records[i];
        const auto size = static_cast<std::size_t>(record.length);
        if (refer)
            ReferTo(batch, static_cast<std::size_t>(record.data - batch->Data()), size);
        else
            CopyIn(record.data, size);
    }
    need = NeedAfterPost(true);
}

void ClientSendBuffer::Consume(std::size_t sent) {
    m_nQueued -= sent;
    for (std::size_t left = sent; left > 0;) {
        Span& front = m_Spans.front();
        const std::size_t taken = std::min(left, front.end - front.begin);
        front.begin += taken;
        left -= taken;
        if (front.begin == front.end)
            m_Spans.pop_front();
    }
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
    if (m_MarkCount == 0)
        m_MarkHead = 0;
}

void ClientSendBuffer::DropQueued() {
    m_Spans.clear();
    m_pOwn.reset();
    m_nQueued = 0;
    m_MarkCount = 0;
    m_MarkHead = 0;
    m_bTorn = false;
}

bool ClientSendBuffer::CanSend() const {
    return m_pSink && m_nQueued != 0 && !m_bBlocked && m_nFailed == 0;
}

bool ClientSendBuffer::SendOnce() {
    if (!CanSend())
        return false;
    ClientSendSink* sink = m_pSink;
    // The pieces refer to spans nobody else removes while this thread has the turn; posts only
    // add behind them.
    int pieces = 0;
    std::size_t size = 0;
    for (auto span = m_Spans.begin();
         span != m_Spans.end() && pieces < ClientSendSink::kMaxPieces && size < kByteLimit;
         ++span) {
        const std::size_t length = std::min(span->end - span->begin, kByteLimit - size);
        m_Pieces[pieces++] = {span->batch->Data() + span->begin, length};
        size += length;
    }
    m_nInFlight = size;
    m_LastSend = std::chrono::steady_clock::now();
    m_Lock.unlock();
    int error = 0;
    const int n = sink->SendPieces(m_Pieces, pieces, error);
    m_Lock.lock();
    m_nInFlight = 0;
    if (n > 0)
        Consume(static_cast<std::size_t>(n));
    if ((n >= 0 && static_cast<std::size_t>(n) < size) || (n < 0 && error == EWOULDBLOCK)) {
        m_bBlocked = true;
        // Asked only now: the notification may come at once, on another thread, and it must
        // find the buffer blocked. If it has already unblocked it, this turn goes on sending.
        m_Lock.unlock();
        sink->RequestWritable();
        m_Lock.lock();
    } else if (n < 0 && error != EINTR) {
        // Broken: nothing queued can arrive any more, and the close notification follows.
        std::array<int, ClientSendSink::kTagCount> lost{};
        for (std::size_t i = 0; i < m_MarkCount; ++i)
            ++lost[m_pMarks[(m_MarkHead + i) % kRecordLimit] >> kTagShift];
        DropQueued();
        m_nFailed = error != 0 ? error : EPIPE;
        const int failed = m_nFailed;
        m_Lock.unlock();
        sink->SendFailed(failed, lost);
        m_Lock.lock();
    }
    return CanSend();
}

void ClientSendBuffer::EndTurn() {
    m_bSending = false;
    m_TurnEnded.notify_all();
}

void ClientSendBuffer::Flush() {
    platform::LockGuard guard(m_Lock);
    if (m_bSending)
        return;
    m_bSending = true;
    while (SendOnce()) {
    }
    EndTurn();
}

bool ClientSendBuffer::FlushOnce() {
    platform::LockGuard guard(m_Lock);
    m_bScheduled = false;
    m_bWaiting = false;
    // A thread already sending sends what came meanwhile too.
    if (m_bSending)
        return false;
    m_bSending = true;
    const bool more = SendOnce();
    EndTurn();
    if (!more || m_bScheduled)
        return false;
    m_bScheduled = true;
    return true;
}

void ClientSendBuffer::OnWritable() {
    {
        platform::LockGuard guard(m_Lock);
        // Records may queue behind the tail again while it goes.
        m_bBlocked = false;
    }
    Flush();
}

void ClientSendBuffer::Unschedule() {
    platform::LockGuard guard(m_Lock);
    m_bScheduled = false;
    m_bWaiting = false;
}

void ClientSendBuffer::Detach() {
    platform::UniqueLock lock(m_Lock);
    m_pSink = nullptr;
    m_TurnEnded.wait(lock.Native(),
                     [this]() REQUIRES(m_Lock) { return !m_bSending && m_nReporting == 0; });
    // The batches it referred to are the other clients' now.
    DropQueued();
}

std::size_t ClientSendBuffer::TornBytes() const {
    platform::LockGuard guard(m_Lock);
    return m_bTorn && m_MarkCount > 0 ? FrontRemaining() : 0;
}

std::size_t ClientSendBuffer::QueuedBytes() const {
    platform::LockGuard guard(m_Lock);
    return m_nQueued;
}

std::size_t ClientSendBuffer::QueuedRecords() const {
    platform::LockGuard guard(m_Lock);
    return m_MarkCount;
}

int ClientSendBuffer::FailedError() const {
    platform::LockGuard guard(m_Lock);
    return m_nFailed;
}

} // namespace engine
