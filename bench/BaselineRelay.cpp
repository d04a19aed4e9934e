#include "BaselineRelay.h"

#include <testsupport/RecordReader.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace bench {

BaselineRelay::~BaselineRelay() {
    Stop();
}

bool BaselineRelay::Start(const std::string& switchHost, int switchPort, int clients,
                          std::string& error) {
    m_Wanted = clients;
    m_Listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_Listen < 0 || ::bind(m_Listen, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(m_Listen, 1024) != 0 ||
        ::getsockname(m_Listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = "baseline relay cannot listen";
        return false;
    }
    m_Port = ntohs(address.sin_port);

    m_Switch = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(switchPort));
    if (m_Switch < 0 || ::inet_pton(AF_INET, switchHost.c_str(), &to.sin_addr) != 1 ||
        ::connect(m_Switch, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        error = "baseline relay cannot reach the switch";
        return false;
    }
    m_Thread = std::thread([this] { Run(); });
    return true;
}

bool BaselineRelay::WaitAccepted(int timeoutMs) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_Accepted.load() < m_Wanted) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

namespace {

double ThreadCpuSeconds(std::thread& thread) {
    clockid_t clock;
    timespec at{};
    if (!thread.joinable() || ::pthread_getcpuclockid(thread.native_handle(), &clock) != 0 ||
        ::clock_gettime(clock, &at) != 0)
        return 0.0;
    return static_cast<double>(at.tv_sec) + static_cast<double>(at.tv_nsec) / 1e9;
}

// As many as the server's sender pool has on this machine.
std::size_t ParallelSenders() {
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    return static_cast<std::size_t>(std::clamp(cores, 1, 8));
}

} // namespace

double BaselineRelay::CpuSeconds() const {
    auto& self = const_cast<BaselineRelay&>(*this);
    double seconds = ThreadCpuSeconds(self.m_Thread);
    std::lock_guard<std::mutex> guard(self.m_BatchLock);
    for (std::thread& sender : self.m_Senders)
        seconds += ThreadCpuSeconds(sender);
    return seconds;
}

void BaselineRelay::Publish(std::vector<std::uint8_t>&& bytes) {
    {
        std::lock_guard<std::mutex> guard(m_BatchLock);
        m_Batches.push_back(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)));
        // What every sender has sent goes.
        const std::uint64_t sent = *std::min_element(m_NextBatch.begin(), m_NextBatch.end());
        while (m_FirstBatch < sent) {
            m_Batches.pop_front();
            ++m_FirstBatch;
        }
    }
    m_BatchReady.notify_all();
}

void BaselineRelay::Sender(std::size_t index) {
    std::vector<Batch> taken;
    std::vector<std::uint8_t> joined;
    const std::size_t senders = m_NextBatch.size();
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_BatchLock);
            m_BatchReady.wait(lock, [&] {
                return m_Stop || m_FirstBatch + m_Batches.size() > m_NextBatch[index];
            });
            if (m_Stop)
                return;
            const auto from = static_cast<std::ptrdiff_t>(m_NextBatch[index] - m_FirstBatch);
            taken.assign(m_Batches.begin() + from, m_Batches.end());
            m_NextBatch[index] = m_FirstBatch + m_Batches.size();
        }
        const std::vector<std::uint8_t>* bytes = taken.front().get();
        if (taken.size() > 1) {
            joined.clear();
            for (const Batch& batch : taken)
                joined.insert(joined.end(), batch->begin(), batch->end());
            bytes = &joined;
        }
        for (std::size_t c = index; c < m_Clients.size(); c += senders)
            SendTo(m_Clients[c], bytes->data(), bytes->size());
        taken.clear();
    }
}

void BaselineRelay::Run() {
    while (!m_Stop && static_cast<int>(m_Clients.size()) < m_Wanted) {
        pollfd p{m_Listen, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const int fd = ::accept4(m_Listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            // As the server's client sockets: a small send is not held for the last one's ack.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            m_Clients.push_back(fd);
            ++m_Accepted;
        }
    }
    if (m_Mode == Mode::Parallel) {
        std::lock_guard<std::mutex> guard(m_BatchLock);
        m_NextBatch.assign(ParallelSenders(), 0);
        for (std::size_t i = 0; i < m_NextBatch.size(); ++i)
            m_Senders.emplace_back([this, i] { Sender(i); });
    }
    std::vector<std::uint8_t> batch;
    batch.reserve(65536 + 1024);
    testsupport::RecordReader stream([&](const protocol::CtiRecord& record) {
        const protocol::ByteView frame = record.Frame();
        if (m_Mode != Mode::Naive) {
            batch.insert(batch.end(), frame.begin(), frame.end());
            return;
        }
        for (const int fd : m_Clients)
            ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    });
    std::uint8_t buffer[65536];
    while (!m_Stop) {
        pollfd p{m_Switch, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = ::recv(m_Switch, buffer, sizeof buffer, 0);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
        // Acknowledged at once, as the server does, so the switch's small records are not held.
        const int on = 1;
        ::setsockopt(m_Switch, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
        stream.Feed(buffer, static_cast<std::size_t>(n));
        if (batch.empty())
            continue;
        if (m_Mode == Mode::Parallel) {
            Publish(std::move(batch));
            batch = {};
            batch.reserve(65536 + 1024);
        } else {
            SendBatch(batch);
        }
        batch.clear();
    }
    {
        std::lock_guard<std::mutex> guard(m_BatchLock);
        m_Stop = true;
    }
    m_BatchReady.notify_all();
    for (std::thread& sender : m_Senders)
        sender.join();
}

void BaselineRelay::SendBatch(const std::vector<std::uint8_t>& batch) {
    for (const int fd : m_Clients)
        SendTo(fd, batch.data(), batch.size());
}

void BaselineRelay::SendTo(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    while (at < size) {
        const ssize_t sent = ::send(fd, data + at, size - at, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            break;
        at += static_cast<std::size_t>(sent);
    }
}

void BaselineRelay::Stop() {
    m_Stop = true;
    if (m_Thread.joinable())
        m_Thread.join();
    for (const int fd : m_Clients)
        ::close(fd);
    m_Clients.clear();
    if (m_Switch >= 0)
        ::close(m_Switch);
    if (m_Listen >= 0)
        ::close(m_Listen);
    m_Switch = m_Listen = -1;
}

} // namespace bench
