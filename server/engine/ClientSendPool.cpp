#include "ClientSendPool.h"

#include "ClientSendBuffer.h"

#include <algorithm>
#include <iterator>

namespace engine {

namespace {

constexpr std::uint64_t Bit(std::size_t share) {
    return std::uint64_t{1} << share;
}

// One turn each; those that filled up again meanwhile go to `again`.
void FlushEach(SendWakeList& buffers, SendWakeList& again) {
    for (auto& buffer : buffers)
        if (buffer->FlushOnce())
            again.push_back(std::move(buffer));
    buffers.clear();
}

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
    return std::clamp(cores, 1, 8);
}

ClientSendPool::ClientSendPool(int threads, std::chrono::microseconds gathering)
    : m_nThreads(std::clamp(threads, 1, kMaxThreads)), m_Gathering(gathering),
      m_Wakes(new std::condition_variable[static_cast<std::size_t>(m_nThreads)]),
      m_Shares(static_cast<std::size_t>(m_nThreads)) {}

ClientSendPool::~ClientSendPool() {
    Stop();
}

void ClientSendPool::Line::Push(std::shared_ptr<ClientSendBuffer>&& buffer, Clock::time_point due) {
    if (m_nHead > 1024 && m_nHead * 2 > m_Entries.size()) {
        m_Entries.erase(m_Entries.begin(),
                        m_Entries.begin() + static_cast<std::ptrdiff_t>(m_nHead));
        m_nHead = 0;
    }
    const std::uint32_t ticket = buffer->WaitTicket();
    m_Entries.push_back({std::move(buffer), due, ticket});
}

void ClientSendPool::Line::PushAll(SendWakeList& buffers, Clock::time_point due) {
    for (auto& buffer : buffers)
        Push(std::move(buffer), due);
    buffers.clear();
}

bool ClientSendPool::Line::FrontSpent() const {
    const Entry& front = m_Entries[m_nHead];
    return front.ticket != front.buffer->WaitTicket();
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

std::size_t ClientSendPool::HomeOf(ClientSendBuffer& buffer) {
    int share = buffer.PoolShare();
    if (share < 0 || share >= m_nThreads) {
        // In turn, so that every thread gets as many of the clients.
        share = static_cast<int>(m_nNextShare++ % static_cast<std::size_t>(m_nThreads));
        buffer.SetPoolShare(share);
    }
    return static_cast<std::size_t>(share);
}

void ClientSendPool::TakeAlongLater(Share& share, Clock::time_point now) {
    while (!share.later.Empty()) {
        const bool spent = share.later.FrontSpent();
        std::shared_ptr<ClientSendBuffer> buffer = share.later.Pop();
        if (!spent)
            share.now.Push(std::move(buffer), now);
    }
}

std::uint64_t ClientSendPool::TakeAlongLater(Clock::time_point now) {
    std::uint64_t taken = 0;
    for (std::size_t i = 0; i < m_Shares.size(); ++i) {
        if (!m_Shares[i].later.Empty())
            taken |= Bit(i);
        TakeAlongLater(m_Shares[i], now);
    }
    return taken;
}

std::uint64_t ClientSendPool::SharesWithWork() const {
    std::uint64_t shares = 0;
    for (std::size_t i = 0; i < m_Shares.size(); ++i)
        if (!m_Shares[i].now.Empty())
            shares |= Bit(i);
    return shares;
}

void ClientSendPool::Wake(std::uint64_t shares) {
    for (std::size_t i = 0; shares != 0; ++i, shares >>= 1)
        if (shares & 1)
            m_Wakes[i].notify_one();
}

ClientSendPool::Clock::time_point ClientSendPool::TakeTurn(std::size_t index, Clock::time_point now,
                                                           SendWakeList& turn,
                                                           std::vector<Job>& jobs,
                                                           std::size_t& jobsOf) {
    const auto take = [&](std::size_t i) REQUIRES(m_Lock) {
        Share& share = m_Shares[i];
        // What is not queued yet first, as the buffers it concerns would be sent twice
        // otherwise; but the buffers waiting for a turn take every other one, so that a steady
        // flow of fanouts does not keep them waiting.
        const bool jobsDue = !share.posting && share.jobsDue && *share.jobsDue <= now;
        if (jobsDue && (share.now.Empty() || !share.jobsLast)) {
            jobs.swap(share.jobs);
            share.jobsDue.reset();
            share.posting = true;
            share.jobsLast = true;
            share.lastPosting = now;
            share.jobEvents = 0;
            jobsOf = i;
            return;
        }
        share.jobsLast = false;
        while (turn.size() < kTurnSize && !share.now.Empty())
            turn.push_back(share.now.Pop());
        while (turn.size() < kTurnSize && !share.later.Empty() && share.later[0].due <= now) {
            const bool spent = share.later.FrontSpent();
            std::shared_ptr<ClientSendBuffer> buffer = share.later.Pop();
            if (!spent)
                turn.push_back(std::move(buffer));
        }
    };
    Share& own = m_Shares[index];
    take(index);
    if (!turn.empty() || !jobs.empty())
        return now;
    Clock::time_point until = own.later.Empty() ? Clock::time_point::max() : own.later[0].due;
    if (!own.posting && own.jobsDue)
        until = std::min(until, *own.jobsDue);
    // The share whose first buffer or job has waited longest for its own thread.
    std::size_t heldUp = m_Shares.size();
    Clock::time_point oldest = Clock::time_point::max();
    for (std::size_t i = 0; i < m_Shares.size(); ++i) {
        Share& share = m_Shares[i];
        if (i == index)
            continue;
        Clock::time_point front = Clock::time_point::max();
        if (!share.now.Empty())
            front = share.now[0].due;
        if (!share.posting && share.jobsDue)
            front = std::min(front, *share.jobsDue);
        // A buffer still waiting out its delay sets no timer here: its own thread is timed for
        // it, and a free thread woken for every one would cost more than the rare hold-up.
        if (!share.later.Empty() && share.later[0].due + kHeldUp <= now)
            front = std::min(front, share.later[0].due);
        if (front == Clock::time_point::max())
            continue;
        if (front + kHeldUp <= now) {
            if (front < oldest) {
                oldest = front;
                heldUp = i;
            }
        } else {
            until = std::min(until, front + kHeldUp);
        }
    }
    if (heldUp < m_Shares.size())
        take(heldUp);
    return turn.empty() && jobs.empty() ? until : now;
}

bool ClientSendPool::Post(const std::vector<Job>& jobs, SendWakeList& send) {
    thread_local std::vector<int> errors;
    bool gathered = false;
    for (const Job& job : jobs) {
        const Fanout& fanout = *job.fanout;
        gathered |= fanout.gathered;
        for (const FanoutTarget& target : job.targets) {
            errors.resize(target.count);
            ClientSendBuffer::Need need = ClientSendBuffer::kNothing;
            target.buffer->PostAllReported(fanout.batch, fanout.records.data() + target.first,
                                           target.count, target.tag, errors.data(), need);
            // The share has waited out the gathering delay already.
            if (need != ClientSendBuffer::kNothing)
                send.push_back(target.buffer);
        }
    }
    return gathered;
}

void ClientSendPool::SendLeft(std::vector<Job>& jobs, SendWakeList& buffers) {
    Post(jobs, buffers);
    m_nFanning.fetch_sub(jobs.size(), std::memory_order_release);
    jobs.clear();
    SendHere(buffers);
}

void ClientSendPool::StartThreads(platform::UniqueLock& lock) {
    if (!m_Threads.empty())
        return;
    m_Threads.reserve(static_cast<std::size_t>(m_nThreads));
    for (std::size_t i = 0; i < static_cast<std::size_t>(m_nThreads); ++i)
        m_Threads.emplace_back([this, i] { Run(i); });
    // Until they wait to be woken, so that a new thread does not take what the caller of
    // SendNow is about to send itself.
    m_Started.wait(lock.Native(), [this]() REQUIRES(m_Lock) { return m_nStarted == m_nThreads; });
}

bool ClientSendPool::Queue(SendWakeList& buffers, bool gathered) {
    std::uint64_t wake = 0;
    {
        platform::UniqueLock lock(m_Lock);
        if (m_bStop)
            return false;
        StartThreads(lock);
        const Clock::time_point now = Clock::now();
        // What waits out the delay has been given enough to send meanwhile: it goes too.
        if (gathered)
            wake = TakeAlongLater(now);
        for (auto& buffer : buffers) {
            const std::size_t home = HomeOf(*buffer);
            Share& share = m_Shares[home];
            if (gathered) {
                share.now.Push(std::move(buffer), now);
                wake |= Bit(home);
            } else {
                // Behind an entry already waiting its thread is timed for.
                if (share.later.Empty())
                    wake |= Bit(home);
                share.later.Push(std::move(buffer), now + m_Gathering);
            }
        }
        buffers.clear();
    }
    Wake(wake);
    return true;
}

void ClientSendPool::Submit(SendWakeList& buffers, bool gathered) {
    if (buffers.empty() && !gathered)
        return;
    // Not under the lock: a send may report a failure that traces.
    if (!Queue(buffers, gathered))
        SendHere(buffers);
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
        if (gathered)
            TakeAlongLater(now);
        for (auto& buffer : buffers)
            m_Shares[HomeOf(*buffer)].now.Push(std::move(buffer), now);
        buffers.clear();
        for (const Share& share : m_Shares)
            waiting += share.now.Size();
        if (waiting > kCallerShare) {
            const std::uint64_t wake = SharesWithWork();
            lock.unlock();
            Wake(wake);
            return;
        }
    }
    // One at a time, so that a thread that comes late finds the rest. A buffer that keeps
    // filling up is left to the threads after a while.
    std::size_t budget = 2 * waiting + kCallerShare;
    thread_local SendWakeList one;
    thread_local SendWakeList again;
    platform::UniqueLock lock(m_Lock);
    for (;;) {
        const auto share = std::find_if(m_Shares.begin(), m_Shares.end(),
                                        [](const Share& s) { return !s.now.Empty(); });
        if (share == m_Shares.end())
            return;
        if (budget-- == 0) {
            const std::uint64_t wake = SharesWithWork();
            lock.unlock();
            Wake(wake);
            return;
        }
        one.push_back(share->now.Pop());
        const std::size_t home = HomeOf(*one.front());
        lock.unlock();
        FlushEach(one, again);
        lock.lock();
        m_Shares[home].now.PushAll(again, Clock::now());
    }
}

void ClientSendPool::Run(std::size_t index) {
    SendWakeList turn;
    SendWakeList again;
    std::vector<Job> jobs; // a share's, taken to be queued
    turn.reserve(kTurnSize);
    again.reserve(kTurnSize);
    platform::UniqueLock lock(m_Lock);
    // Held until the first wait lets go of it.
    ++m_nStarted;
    m_Started.notify_all();
    for (;;) {
        std::size_t jobsOf = index;
        while (!m_bStop) {
            const Clock::time_point until = TakeTurn(index, Clock::now(), turn, jobs, jobsOf);
            if (!turn.empty() || !jobs.empty())
                break;
            if (until == Clock::time_point::max())
                m_Wakes[index].wait(lock.Native());
            else
                m_Wakes[index].wait_until(lock.Native(), until);
        }
        if (turn.empty() && jobs.empty())
            return; // stopped
        const bool posting = !jobs.empty();
        bool gathered = false;
        lock.unlock();
        if (posting) {
            // The buffers the jobs woke are the turn: their share has waited out the delay.
            gathered = Post(jobs, turn);
            m_nFanning.fetch_sub(jobs.size(), std::memory_order_release);
            jobs.clear();
        }
        FlushEach(turn, again);
        lock.lock();
        const Clock::time_point now = Clock::now();
        if (posting) {
            m_Shares[jobsOf].posting = false;
            if (gathered)
                TakeAlongLater(m_Shares[jobsOf], now);
            // Its own thread may have found them taken and gone to sleep meanwhile.
            if (jobsOf != index && !m_Shares[jobsOf].jobs.empty())
                m_Wakes[jobsOf].notify_one();
        }
        // What filled up during its send has waited long enough already.
        m_Shares[posting ? jobsOf : index].now.PushAll(again, now);
    }
}

void ClientSendPool::Fan(const std::shared_ptr<const Fanout>& fanout, FanoutTargets& targets) {
    if (targets.empty())
        return;
    std::uint64_t wake = 0;
    bool stopped = true;
    {
        platform::UniqueLock lock(m_Lock);
        if (!m_bStop) {
            stopped = false;
            StartThreads(lock);
            const Clock::time_point now = Clock::now();
            for (auto& target : targets) {
                const std::size_t home = HomeOf(*target.buffer);
                Share& share = m_Shares[home];
                if (share.jobs.empty() || share.jobs.back().fanout != fanout) {
                    const bool first = share.jobs.empty();
                    share.jobs.push_back({fanout, {}});
                    m_nFanning.fetch_add(1, std::memory_order_relaxed);
                    share.jobEvents += fanout->events;
                    if (fanout->gathered || share.jobEvents >= ClientSendBuffer::kEnoughToSend ||
                        !share.lastPosting || now - *share.lastPosting >= m_Gathering) {
                        if (first || *share.jobsDue > now) {
                            share.jobsDue = now;
                            wake |= Bit(home);
                        }
                    } else if (first) {
                        // Its thread times its wait.
                        share.jobsDue = *share.lastPosting + m_Gathering;
                        wake |= Bit(home);
                    }
                }
                share.jobs.back().targets.push_back(std::move(target));
            }
            targets.clear();
        }
    }
    if (!stopped) {
        Wake(wake);
        return;
    }
    std::vector<Job> jobs{{fanout, std::move(targets)}};
    targets.clear();
    m_nFanning.fetch_add(1, std::memory_order_relaxed);
    SendWakeList send;
    SendLeft(jobs, send);
}

void ClientSendPool::Stop() {
    std::vector<std::thread> threads;
    {
        platform::LockGuard guard(m_Lock);
        m_bStop = true;
        threads.swap(m_Threads);
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(m_nThreads); ++i)
        m_Wakes[i].notify_all();
    for (std::thread& thread : threads)
        thread.join();
    // Taken after the joins: a thread may hand a buffer back on its way out.
    std::vector<Job> jobs;
    SendWakeList left;
    {
        platform::LockGuard guard(m_Lock);
        for (Share& share : m_Shares) {
            std::move(share.jobs.begin(), share.jobs.end(), std::back_inserter(jobs));
            share.jobs.clear();
            share.jobsDue.reset();
            while (!share.now.Empty())
                left.push_back(share.now.Pop());
            while (!share.later.Empty())
                left.push_back(share.later.Pop());
        }
    }
    SendLeft(jobs, left);
}

void ClientSendPool::HandOver(Handover& handover) {
    if (handover.fanout) {
        // The threads take along what waits out the delay in their shares themselves.
        Fan(handover.fanout, handover.targets);
        handover.fanout.reset();
        if (!handover.now.empty())
            SendNow(handover.now);
    } else {
        SendNow(handover.now, handover.gathered);
    }
    Submit(handover.later);
    for (const auto& buffer : handover.help)
        buffer->Flush();
    handover.help.clear();
}

} // namespace engine
