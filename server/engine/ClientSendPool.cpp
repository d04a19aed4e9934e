#include "ClientSendPool.h"

#include "ClientSendBuffer.h"

#include <algorithm>
#include <iterator>

namespace engine {

namespace {

// Buffers a thread takes at once: few enough that the others share a large fan-out, and that a
// thread the machine takes its core from holds up few clients.
constexpr std::size_t kTurnSize = 2;

void SendHere(SendWakeList& buffers) {
    for (const auto& buffer : buffers) {
        buffer->Unschedule();
        buffer->Flush();
    }
    buffers.clear();
}

} // namespace

int ClientSendPool::DefaultThreads() {
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(cores / 2, 1, 4);
}

ClientSendPool::ClientSendPool(int threads, std::chrono::microseconds gathering)
    : m_nThreads(std::max(1, threads)), m_Gathering(gathering) {}

ClientSendPool::~ClientSendPool() {
    Stop();
}

void ClientSendPool::Line::Push(std::shared_ptr<ClientSendBuffer>&& buffer, Clock::time_point due) {
    if (m_nHead > 1024 && m_nHead * 2 > m_Entries.size()) {
        m_Entries.erase(m_Entries.begin(),
                        m_Entries.begin() + static_cast<std::ptrdiff_t>(m_nHead));
        m_nHead = 0;
    }
    m_Entries.push_back({std::move(buffer), due});
}

std::shared_ptr<ClientSendBuffer> ClientSendPool::Line::Pop() {
    std::shared_ptr<ClientSendBuffer> buffer = std::move(m_Entries[m_nHead++].buffer);
    if (Empty())
        Clear();
    return buffer;
}

void ClientSendPool::Line::Clear() {
    m_Entries.clear();
    m_nHead = 0;
}

std::size_t ClientSendPool::DueCount(Clock::time_point now, std::size_t limit) const {
    std::size_t due = std::min(m_Now.Size(), limit);
    for (std::size_t i = 0; due < limit && i < m_Later.Size() && m_Later[i].due <= now; ++i)
        ++due;
    return due;
}

void ClientSendPool::StartThreads(platform::UniqueLock& lock) {
    if (!m_Threads.empty())
        return;
    m_Threads.reserve(static_cast<std::size_t>(m_nThreads));
    for (int i = 0; i < m_nThreads; ++i)
        m_Threads.emplace_back([this] { Run(); });
    // Until they wait to be woken, so that a new thread does not take what the caller of
    // SendNow is about to send itself.
    m_Started.wait(lock.Native(), [this]() REQUIRES(m_Lock) { return m_nStarted == m_nThreads; });
}

bool ClientSendPool::Queue(SendWakeList& buffers, bool gathered) {
    bool added = false;
    {
        platform::UniqueLock lock(m_Lock);
        if (m_bStop)
            return false;
        StartThreads(lock);
        const Clock::time_point now = Clock::now();
        // Entries that wait fall due after those already waiting, which a thread is timed for.
        const bool timed = !gathered && !m_Later.Empty();
        // What waits out the delay has been given enough to send meanwhile: it goes too.
        added = gathered && !m_Later.Empty();
        while (gathered && !m_Later.Empty())
            m_Now.Push(m_Later.Pop(), now);
        for (auto& buffer : buffers) {
            if (gathered)
                m_Now.Push(std::move(buffer), now);
            else
                m_Later.Push(std::move(buffer), now + m_Gathering);
        }
        added = added || (!buffers.empty() && !timed);
        buffers.clear();
    }
    // One thread is enough to learn of them, it wakes the next when there is more than its
    // share; none for entries behind a thread already timed for the first.
    if (added)
        m_Wake.notify_one();
    return true;
}

void ClientSendPool::Submit(SendWakeList& buffers, bool gathered) {
    if (buffers.empty() && !gathered)
        return;
    // Not under the lock: a send may report a failure that traces.
    if (!Queue(buffers, gathered))
        SendHere(buffers);
}

void ClientSendPool::Hand(SendWakeList& buffers) {
    if (!buffers.empty())
        Queue(buffers, true);
}

void ClientSendPool::SendNow(SendWakeList& buffers, bool gathered) {
    std::size_t waiting = 0;
    {
        platform::UniqueLock lock(m_Lock);
        if (m_bStop) {
            lock.unlock();
            SendHere(buffers);
            return;
        }
        StartThreads(lock);
        const Clock::time_point now = Clock::now();
        while (gathered && !m_Later.Empty())
            m_Now.Push(m_Later.Pop(), now);
        for (auto& buffer : buffers)
            m_Now.Push(std::move(buffer), now);
        buffers.clear();
        waiting = m_Now.Size();
    }
    const std::size_t helpers =
        waiting > kCallerShare
            ? std::min(static_cast<std::size_t>(m_nThreads), (waiting - 1) / kCallerShare)
            : 0;
    for (std::size_t i = 0; i < helpers; ++i)
        m_Wake.notify_one();
    if (helpers > 0)
        return;
    // One at a time, so that a thread that comes late finds the rest. A buffer that keeps
    // filling up is left to the threads after a while.
    std::size_t budget = 2 * waiting + kCallerShare;
    platform::UniqueLock lock(m_Lock);
    while (!m_Now.Empty()) {
        if (budget-- == 0) {
            lock.unlock();
            m_Wake.notify_one();
            return;
        }
        std::shared_ptr<ClientSendBuffer> buffer = m_Now.Pop();
        lock.unlock();
        const bool again = buffer->FlushOnce();
        lock.lock();
        if (again)
            m_Now.Push(std::move(buffer), Clock::now());
    }
}

void ClientSendPool::Run() {
    SendWakeList turn;
    SendWakeList again;
    turn.reserve(kTurnSize);
    again.reserve(kTurnSize);
    const std::size_t threads = static_cast<std::size_t>(m_nThreads);
    platform::UniqueLock lock(m_Lock);
    // Held until the first wait lets go of it.
    ++m_nStarted;
    m_Started.notify_all();
    for (;;) {
        Clock::time_point now = Clock::now();
        while (!m_bStop && m_Now.Empty() && (m_Later.Empty() || m_Later[0].due > now)) {
            if (m_Later.Empty()) {
                m_Wake.wait(lock.Native());
            } else {
                // A copy: the line may grow, and move, while this thread waits.
                const Clock::time_point due = m_Later[0].due;
                m_Wake.wait_until(lock.Native(), due);
            }
            now = Clock::now();
        }
        if (m_bStop)
            return;
        const std::size_t due = DueCount(now, kTurnSize * threads);
        const std::size_t take = std::min(kTurnSize, (due + threads - 1) / threads);
        for (std::size_t i = 0; i < take; ++i)
            turn.push_back(m_Now.Empty() ? m_Later.Pop() : m_Now.Pop());
        // More is due: another thread shares it.
        if (due > take)
            m_Wake.notify_one();
        lock.unlock();
        for (auto& buffer : turn)
            if (buffer->FlushOnce())
                again.push_back(std::move(buffer));
        turn.clear();
        lock.lock();
        // What filled up during its send has waited long enough already.
        now = Clock::now();
        for (auto& buffer : again)
            m_Now.Push(std::move(buffer), now);
        again.clear();
    }
}

void ClientSendPool::Stop() {
    std::vector<std::thread> threads;
    {
        platform::LockGuard guard(m_Lock);
        m_bStop = true;
        threads.swap(m_Threads);
    }
    m_Wake.notify_all();
    for (std::thread& thread : threads)
        thread.join();
    // Taken after the joins: a thread may hand a buffer back on its way out.
    SendWakeList left;
    {
        platform::LockGuard guard(m_Lock);
        while (!m_Now.Empty())
            left.push_back(m_Now.Pop());
        while (!m_Later.Empty())
            left.push_back(m_Later.Pop());
    }
    SendHere(left);
}

} // namespace engine
