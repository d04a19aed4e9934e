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

ClientSendPool::ClientSendPool(int threads) : m_nThreads(std::max(1, threads)) {}

ClientSendPool::~ClientSendPool() {
    Stop();
}

void ClientSendPool::Submit(SendWakeList& buffers) {
    if (buffers.empty())
        return;
    std::size_t count = buffers.size();
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (m_bStop) {
            // Not under the lock: a send may report a failure that traces.
            count = 0;
        } else {
            if (m_Threads.empty()) {
                m_Threads.reserve(static_cast<std::size_t>(m_nThreads));
                for (int i = 0; i < m_nThreads; ++i)
                    m_Threads.emplace_back([this] { Run(); });
            }
            std::move(buffers.begin(), buffers.end(), std::back_inserter(m_Ready));
            buffers.clear();
        }
    }
    if (count == 0) {
        SendHere(buffers);
        return;
    }
    if (count > 1)
        m_Wake.notify_all();
    else
        m_Wake.notify_one();
}

void ClientSendPool::Run() {
    SendWakeList turn;
    SendWakeList again;
    turn.reserve(kTurnSize);
    again.reserve(kTurnSize);
    std::unique_lock<std::mutex> lock(m_Lock);
    for (;;) {
        m_Wake.wait(lock, [this] { return m_bStop || m_nHead < m_Ready.size(); });
        if (m_bStop)
            return;
        const std::size_t waiting = m_Ready.size() - m_nHead;
        const std::size_t share = (waiting + static_cast<std::size_t>(m_nThreads) - 1) /
                                  static_cast<std::size_t>(m_nThreads);
        const std::size_t take = std::min(kTurnSize, share);
        const auto first = m_Ready.begin() + static_cast<std::ptrdiff_t>(m_nHead);
        std::move(first, first + static_cast<std::ptrdiff_t>(take), std::back_inserter(turn));
        m_nHead += take;
        if (m_nHead == m_Ready.size()) {
            m_Ready.clear();
            m_nHead = 0;
        } else if (m_nHead > 1024 && m_nHead * 2 > m_Ready.size()) {
            m_Ready.erase(m_Ready.begin(), m_Ready.begin() + static_cast<std::ptrdiff_t>(m_nHead));
            m_nHead = 0;
        }
        lock.unlock();
        for (auto& buffer : turn)
            if (buffer->FlushOnce())
                again.push_back(std::move(buffer));
        turn.clear();
        lock.lock();
        if (!again.empty()) {
            std::move(again.begin(), again.end(), std::back_inserter(m_Ready));
            again.clear();
        }
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
        left.assign(std::make_move_iterator(m_Ready.begin() + static_cast<std::ptrdiff_t>(m_nHead)),
                    std::make_move_iterator(m_Ready.end()));
        m_Ready.clear();
        m_nHead = 0;
    }
    SendHere(left);
}
