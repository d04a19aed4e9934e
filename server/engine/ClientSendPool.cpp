#include "ClientSendPool.h"

#include "ClientSendBuffer.h"

#include <algorithm>
#include <iterator>

namespace {

// Buffers a thread takes at once: few enough that the others share a large fan-out.
constexpr std::size_t kTurnSize = 16;

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

void ClientSendPool::Append(std::shared_ptr<ClientSendBuffer>&& buffer, Clock::time_point due) {
    if (m_nHead > 1024 && m_nHead * 2 > m_Ready.size()) {
        m_Ready.erase(m_Ready.begin(), m_Ready.begin() + static_cast<std::ptrdiff_t>(m_nHead));
        m_nHead = 0;
    }
    m_Ready.push_back({std::move(buffer), due});
}

void ClientSendPool::Submit(SendWakeList& buffers) {
    if (buffers.empty())
        return;
    bool wasIdle = false;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (!m_bStop) {
            if (m_Threads.empty()) {
                m_Threads.reserve(static_cast<std::size_t>(m_nThreads));
                for (int i = 0; i < m_nThreads; ++i)
                    m_Threads.emplace_back([this] { Run(); });
            }
            wasIdle = m_nHead == m_Ready.size();
            const Clock::time_point due = Clock::now() + m_Gathering;
            for (auto& buffer : buffers)
                Append(std::move(buffer), due);
            buffers.clear();
        }
    }
    // Not under the lock: a send may report a failure that traces.
    if (!buffers.empty()) {
        SendHere(buffers);
        return;
    }
    // Threads already waiting for an earlier entry reach these after it.
    if (wasIdle)
        m_Wake.notify_one();
}

void ClientSendPool::Run() {
    SendWakeList turn;
    SendWakeList again;
    turn.reserve(kTurnSize);
    again.reserve(kTurnSize);
    std::unique_lock<std::mutex> lock(m_Lock);
    for (;;) {
        Clock::time_point now = Clock::now();
        while (!m_bStop && (m_nHead == m_Ready.size() || m_Ready[m_nHead].due > now)) {
            if (m_nHead == m_Ready.size()) {
                m_Wake.wait(lock);
            } else {
                // A copy: the list may grow, and move, while this thread waits.
                const Clock::time_point due = m_Ready[m_nHead].due;
                m_Wake.wait_until(lock, due);
            }
            now = Clock::now();
        }
        if (m_bStop)
            return;
        std::size_t due = 0;
        while (m_nHead + due < m_Ready.size() && due < kTurnSize * m_nThreads &&
               m_Ready[m_nHead + due].due <= now)
            ++due;
        const std::size_t share =
            (due + static_cast<std::size_t>(m_nThreads) - 1) / static_cast<std::size_t>(m_nThreads);
        const std::size_t take = std::min(kTurnSize, share);
        for (std::size_t i = 0; i < take; ++i)
            turn.push_back(std::move(m_Ready[m_nHead + i].buffer));
        m_nHead += take;
        if (m_nHead == m_Ready.size()) {
            m_Ready.clear();
            m_nHead = 0;
        }
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
            Append(std::move(buffer), now);
        again.clear();
    }
}

void ClientSendPool::Stop() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_bStop = true;
        threads.swap(m_Threads);
    }
    m_Wake.notify_all();
    for (std::thread& thread : threads)
        thread.join();
    // Taken after the joins: a thread may hand a buffer back on its way out.
    SendWakeList left;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        for (std::size_t i = m_nHead; i < m_Ready.size(); ++i)
            left.push_back(std::move(m_Ready[i].buffer));
        m_Ready.clear();
        m_nHead = 0;
    }
    SendHere(left);
}
