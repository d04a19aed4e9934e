#include "ClientFleet.h"

#include "BenchEvent.h"

#include <protocol/CtiRecord.h>
#include <testsupport/LoopbackPorts.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <map>

namespace bench {

namespace {

constexpr int kLoginWindow = 4; // the server's listen backlog is small
constexpr int kLoginTimeoutMs = 180000;
constexpr int kStalledReceiveBuffer = 4096;
constexpr std::size_t kDeviceRecordSize = 10;
constexpr std::size_t kDeviceTypeAt = 8;

int Connect(int port, bool smallBuffer) {
    return testsupport::ConnectLoopback(port, smallBuffer ? kStalledReceiveBuffer : 0);
}

bool SendAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The device list ends with a copy of the download's end record (type 0), or with ten 0xFF
// bytes; the device records before it carry a non-zero type.
bool IsListEnd(const std::uint8_t* body, std::size_t length) {
    if (length != kDeviceRecordSize)
        return false;
    return body[kDeviceTypeAt] == 0x00 ||
           std::all_of(body, body + length, [](std::uint8_t b) { return b == 0xFF; });
}

// A whole event of another letter: the common header with FF FF after the letter.
bool IsOtherEvent(const std::uint8_t* body, std::size_t length) {
    return length >= 8 && body[0] != 'E' && body[1] == 0xFF && body[2] == 0xFF;
}

} // namespace

void PhaseStats::Add(const PhaseStats& other) {
    latency.Merge(other.latency);
    fanOut.Merge(other.fanOut);
    lost += other.lost;
    clientsWithLoss = std::max(clientsWithLoss, other.clientsWithLoss);
    duplicates += other.duplicates;
    clientsWithDuplicates = std::max(clientsWithDuplicates, other.clientsWithDuplicates);
    damaged += other.damaged;
    outOfOrder += other.outOfOrder;
    closed = std::max(closed, other.closed);
    lastReceiveNs = std::max(lastReceiveNs, other.lastReceiveNs);
    minReceived += other.minReceived;
}

ClientFleet::~ClientFleet() {
    EndPhase();
    CloseAll();
}

bool ClientFleet::Join(int port, int count, int kind, bool stallFirst, std::string& error) {
    const std::size_t base = m_Clients.size();
    for (int i = 0; i < count; ++i) {
        auto client = std::make_unique<Client>();
        client->stalled = stallFirst && i == 0;
        m_Clients.push_back(std::move(client));
    }
    if (kind < 0) {
        for (std::size_t i = base; i < m_Clients.size(); ++i) {
            m_Clients[i]->fd = Connect(port, m_Clients[i]->stalled);
            if (m_Clients[i]->fd < 0) {
                error = "connect to port " + std::to_string(port) + " failed";
                return false;
            }
        }
        return true;
    }

    const std::uint8_t login[] = {
        0x00, 0x0A, 0x02, 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, static_cast<std::uint8_t>(kind),
        0x00};
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kLoginTimeoutMs);
    std::size_t next = base;
    std::map<int, Client*> waiting; // by descriptor
    std::uint8_t buffer[4096];
    while (next < m_Clients.size() || !waiting.empty()) {
        while (next < m_Clients.size() && static_cast<int>(waiting.size()) < kLoginWindow) {
            Client& client = *m_Clients[next++];
            client.fd = Connect(port, client.stalled);
            if (client.fd < 0 || !SendAll(client.fd, login, sizeof login)) {
                error = "client " + std::to_string(next - 1 - base) + " could not log in on port " +
                        std::to_string(port);
                return false;
            }
            waiting[client.fd] = &client;
        }
        std::vector<pollfd> fds;
        for (const auto& [fd, client] : waiting)
            fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR) {
            error = "poll failed";
            return false;
        }
        for (const pollfd& p : fds) {
            if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Client& client = *waiting[p.fd];
            const ssize_t n = ::recv(p.fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                error = "the server closed a client during its login (kind " +
                        std::to_string(kind) + ")";
                return false;
            }
            if (n < 0)
                continue;
            bool ended = false;
            client.stream.Feed(protocol::ByteView(buffer, static_cast<std::size_t>(n)),
                               [&](const protocol::CtiRecord& record) {
                                   ended =
                                       ended || IsListEnd(record.Body().data(), record.Length());
                               });
            if (ended)
                waiting.erase(p.fd);
        }
        if (std::chrono::steady_clock::now() > deadline) {
            error = "logins did not complete in time";
            return false;
        }
    }
    return true;
}

int ClientFleet::ReadingClients() const {
    int count = 0;
    for (const auto& client : m_Clients)
        if (!client->stalled && !client->closed)
            ++count;
    return count;
}

void ClientFleet::BeginPhase(std::uint64_t firstSequence, std::size_t fanOutCapacity, int threads,
                             bool spin) {
    EndPhase();
    for (const auto& receiver : m_Receivers)
        ::close(receiver->epoll);
    m_Receivers.clear();
    m_Stop = false;
    m_FirstSequence = firstSequence;
    m_FanOutCapacity = fanOutCapacity;
    m_Spin = spin;
    threads = std::max(1, threads);
    for (int i = 0; i < threads; ++i) {
        auto receiver = std::make_unique<Receiver>();
        receiver->epoll = ::epoll_create1(EPOLL_CLOEXEC);
        receiver->first.assign(fanOutCapacity, std::numeric_limits<std::int64_t>::max());
        receiver->last.assign(fanOutCapacity, 0);
        receiver->count.assign(fanOutCapacity, 0);
        m_Receivers.push_back(std::move(receiver));
    }
    std::size_t at = 0;
    for (const auto& client : m_Clients) {
        // The stalled client's stream is one account over every phase.
        if (!client->stalled) {
            client->sequences.Reset(firstSequence);
            client->received = 0;
            client->damaged = 0;
        }
        if (client->closed || (client->stalled && !m_StalledReads))
            continue;
        Receiver& receiver = *m_Receivers[at++ % m_Receivers.size()];
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = client.get();
        ::epoll_ctl(receiver.epoll, EPOLL_CTL_ADD, client->fd, &event);
        receiver.clients.push_back(client.get());
    }
    for (const auto& receiver : m_Receivers)
        receiver->thread = std::thread([this, r = receiver.get()] { Receive(*r); });
}

void ClientFleet::Receive(Receiver& receiver) {
    std::vector<std::uint8_t> buffer(65536);
    epoll_event events[64];
    while (!m_Stop.load(std::memory_order_relaxed)) {
        const int n = ::epoll_wait(receiver.epoll, events, 64, m_Spin ? 0 : 50);
        for (int i = 0; i < n; ++i) {
            Client& client = *static_cast<Client*>(events[i].data.ptr);
            const ssize_t got = ::recv(client.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (got <= 0) {
                client.closed = true;
                ::epoll_ctl(receiver.epoll, EPOLL_CTL_DEL, client.fd, nullptr);
                continue;
            }
            const std::int64_t now = NowNs();
            receiver.lastReceiveNs = now;
            Feed(&receiver, client, buffer.data(), static_cast<std::size_t>(got), now);
        }
        if (n <= 0)
            continue;
        // Pairs with the fence in WaitUntil: either its check sees these counts, or this sees it
        // waiting.
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (m_Waiting.load(std::memory_order_relaxed) > 0) {
            std::lock_guard<std::mutex> guard(m_ProgressLock);
            m_Progress.notify_all();
        }
    }
}

bool ClientFleet::WaitUntil(const std::function<bool()>& done,
                            std::chrono::milliseconds limit) const {
    m_Waiting.fetch_add(1);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    bool held = false;
    {
        std::unique_lock<std::mutex> guard(m_ProgressLock);
        held = m_Progress.wait_for(guard, limit, done);
    }
    m_Waiting.fetch_sub(1);
    return held;
}

void ClientFleet::Feed(Receiver* receiver, Client& client, const std::uint8_t* data,
                       std::size_t size, std::int64_t now) {
    const std::size_t refused = client.stream.BadLengths();
    client.stream.Feed(protocol::ByteView(data, size), [&](const protocol::CtiRecord& record) {
        Take(receiver, client, record.Body().data(), record.Length(), now);
    });
    client.damaged += client.stream.BadLengths() - refused;
    client.received.store(client.sequences.Distinct(), std::memory_order_relaxed);
}

void ClientFleet::Take(Receiver* receiver, Client& client, const std::uint8_t* body,
                       std::size_t length, std::int64_t now) {
    const std::optional<EventStamp> stamp = ReadEventBody(body, length);
    if (!stamp) {
        // The server's own traffic (the answer to its status query reaches every client) is
        // whole records of other letters; anything else is a broken stream.
        if (!IsOtherEvent(body, length))
            ++client.damaged;
        return;
    }
    // A gap is a loss, counted against what was sent; going back or coming twice is a fault of
    // its own.
    const SequenceTracker::Arrival arrival = client.sequences.Take(stamp->sequence);
    if (arrival != SequenceTracker::Arrival::New && arrival != SequenceTracker::Arrival::Late)
        return;
    if (receiver == nullptr || client.stalled)
        return;
    receiver->latency.AddNs(now - stamp->sentNs);
    if (stamp->sequence - m_FirstSequence < m_FanOutCapacity) {
        const std::size_t s = static_cast<std::size_t>(stamp->sequence - m_FirstSequence);
        receiver->first[s] = std::min(receiver->first[s], now);
        receiver->last[s] = std::max(receiver->last[s], now);
        ++receiver->count[s];
    }
}

void ClientFleet::EndPhase() {
    m_Stop = true;
    for (const auto& receiver : m_Receivers) {
        if (receiver->thread.joinable())
            receiver->thread.join();
    }
}

std::uint64_t ClientFleet::MinReceived() const {
    std::uint64_t least = std::numeric_limits<std::uint64_t>::max();
    for (const auto& client : m_Clients)
        if (!client->stalled && !client->closed)
            least = std::min(least, client->received.load(std::memory_order_relaxed));
    return least == std::numeric_limits<std::uint64_t>::max() ? 0 : least;
}

PhaseStats ClientFleet::Stats(std::uint64_t sent) const {
    PhaseStats stats;
    int reading = 0;
    for (const auto& client : m_Clients) {
        if (client->stalled)
            continue;
        if (client->closed)
            ++stats.closed;
        ++reading;
        if (const std::uint64_t lost = client->sequences.Lost(sent); lost > 0) {
            stats.lost += lost;
            ++stats.clientsWithLoss;
        }
        if (const std::uint64_t twice = client->sequences.Duplicates(); twice > 0) {
            stats.duplicates += twice;
            ++stats.clientsWithDuplicates;
        }
        stats.damaged += client->damaged;
        stats.outOfOrder += client->sequences.OutOfOrder();
    }
    stats.minReceived = MinReceived();
    for (const auto& receiver : m_Receivers) {
        stats.latency.Merge(receiver->latency);
        stats.lastReceiveNs = std::max(stats.lastReceiveNs, receiver->lastReceiveNs);
    }
    const std::size_t events = std::min<std::size_t>(m_FanOutCapacity, sent);
    for (std::size_t s = 0; s < events; ++s) {
        std::int64_t first = std::numeric_limits<std::int64_t>::max();
        std::int64_t last = 0;
        std::uint64_t count = 0;
        for (const auto& receiver : m_Receivers) {
            first = std::min(first, receiver->first[s]);
            last = std::max(last, receiver->last[s]);
            count += receiver->count[s];
        }
        if (reading > 0 && count == static_cast<std::uint64_t>(reading))
            stats.fanOut.AddNs(last - first);
    }
    return stats;
}

StallReport ClientFleet::ResumeStalled(int quietMs) {
    StallReport report;
    auto it = std::find_if(m_Clients.begin(), m_Clients.end(),
                           [](const auto& client) { return client->stalled; });
    if (it == m_Clients.end())
        return report;
    Client& client = **it;
    std::uint8_t buffer[65536];
    for (;;) {
        pollfd p{client.fd, POLLIN, 0};
        if (::poll(&p, 1, quietMs) <= 0)
            break;
        const ssize_t got = ::recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0) {
            report.closed = true;
            break;
        }
        Feed(nullptr, client, buffer, static_cast<std::size_t>(got), 0);
    }
    report.received = client.sequences.Distinct();
    report.damaged = client.damaged;
    report.duplicates = client.sequences.Duplicates();
    report.outOfOrder = client.sequences.OutOfOrder();
    report.pendingBytes = client.stream.Pending();
    return report;
}

void ClientFleet::CloseAll() {
    EndPhase();
    for (const auto& receiver : m_Receivers)
        if (receiver->epoll >= 0)
            ::close(receiver->epoll);
    m_Receivers.clear();
    for (const auto& client : m_Clients)
        if (client->fd >= 0)
            ::close(client->fd);
    m_Clients.clear();
}

} // namespace bench
