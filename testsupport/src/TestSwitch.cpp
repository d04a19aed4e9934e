#include <testsupport/TestSwitch.h>

#include <testsupport/RecordReader.h>

#include <protocol/CtiRecord.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace testsupport {

TestSwitch::TestSwitch(int family) : m_family(family) {
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_listen = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0 || m_wake < 0)
        return;
    const int on = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage address{};
    socklen_t length;
    if (family == AF_INET6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&address);
        a->sin6_family = AF_INET6;
        a->sin6_addr = in6addr_loopback;
        length = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&address);
        a->sin_family = AF_INET;
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *a;
    }
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(m_listen, 8) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(m_listen);
        m_listen = -1;
        return;
    }
    m_port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                      : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    m_thread = std::thread([this] { Run(); });
}

TestSwitch::~TestSwitch() {
    m_stop = true;
    Wake();
    if (m_thread.joinable())
        m_thread.join();
    if (m_conn >= 0)
        ::close(m_conn);
    if (m_listen >= 0)
        ::close(m_listen);
    if (m_wake >= 0)
        ::close(m_wake);
}

bool TestSwitch::SetReceiveBuffer(int bytes) {
    // Inherited by the sockets accept() makes.
    return bytes <= 0 || ::setsockopt(m_listen, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

bool TestSwitch::SendRecord(const std::vector<std::uint8_t>& body) {
    const std::vector<std::uint8_t> bytes = protocol::CtiRecord::Encode(body);
    return !bytes.empty() && SendRaw(bytes);
}

bool TestSwitch::SendRaw(const std::uint8_t* data, std::size_t size) {
    std::lock_guard<std::mutex> guard(m_sendLock);
    const int fd = m_conn;
    if (fd < 0)
        return false;
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

void TestSwitch::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wake, &one, sizeof one);
}

void TestSwitch::EndConnection(bool reset) {
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_connected)
        return;
    m_endRequest = reset ? 2 : 1;
    const int serial = m_connections;
    Wake();
    m_changed.wait_for(guard, std::chrono::seconds(5),
                       [&] { return !m_connected || m_connections != serial; });
}

void TestSwitch::CloseConn(bool reset) {
    std::lock_guard<std::mutex> send(m_sendLock);
    if (m_conn < 0)
        return;
    if (reset) {
        const linger off{1, 0};
        ::setsockopt(m_conn, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    }
    ::close(m_conn);
    m_conn = -1;
}

void TestSwitch::Run() {
    std::vector<Record> complete;
    RecordReader reader([&complete](const protocol::CtiRecord& cut) {
        const protocol::ByteView frame = cut.Frame();
        Record record;
        record.bytes.assign(frame.begin(), frame.end());
        record.at = Clock::now();
        complete.push_back(std::move(record));
    });
    std::uint8_t buffer[65536];
    while (!m_stop) {
        const bool reading = m_conn >= 0 && !m_peerEnded && m_reading.load();
        pollfd fds[3] = {{m_wake, POLLIN, 0}, {m_listen, POLLIN, 0}, {m_conn, POLLIN, 0}};
        const int n = ::poll(fds, reading ? 3 : 2, 1000);
        if (n < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            std::uint64_t value;
            [[maybe_unused]] ssize_t r = ::read(m_wake, &value, sizeof value);
        }
        if (m_stop)
            break;
        int request;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            request = m_endRequest;
            m_endRequest = 0;
        }
        if (request != 0 && m_conn >= 0) {
            CloseConn(request == 2);
            Closed();
            continue;
        }
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                CloseConn(false);
                {
                    std::lock_guard<std::mutex> send(m_sendLock);
                    m_conn = fd;
                }
                m_peerEnded = false;
                reader.Reset();
                std::lock_guard<std::mutex> guard(m_lock);
                m_raw.clear();
                ++m_connections;
                m_connected = true;
                m_changed.notify_all();
            }
            continue;
        }
        if (reading && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t got = ::recv(m_conn, buffer, sizeof buffer, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                // Kept open (for sends) until it is ended or replaced: a server that only
                // half-closed still has its own receive waiting.
                m_peerEnded = true;
                Closed();
                continue;
            }
            reader.Feed(buffer, static_cast<std::size_t>(got));
            Received(complete, buffer, static_cast<std::size_t>(got));
            complete.clear();
        }
    }
}

void TestSwitch::Closed() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_connected = false;
    m_changed.notify_all();
}

void TestSwitch::Received(std::vector<Record>& complete, const std::uint8_t* data,
                          std::size_t size) {
    RecordHandler handler;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_raw.insert(m_raw.end(), data, data + size);
        for (Record& record : complete) {
            record.connection = m_connections;
            ++m_recordCount;
            if (m_keep)
                m_records.push_back(record);
        }
        handler = m_handler;
        m_changed.notify_all();
    }
    if (handler) {
        for (const Record& record : complete)
            handler(*this, record);
    }
}

} // namespace testsupport
