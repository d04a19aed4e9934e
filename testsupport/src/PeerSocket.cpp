#include <testsupport/PeerSocket.h>

#include <testsupport/LoopbackPorts.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace testsupport {

PeerSocket::PeerSocket(int port, int receiveBuffer) {
    Connect(port, receiveBuffer);
}

PeerSocket::~PeerSocket() {
    Close();
}

bool PeerSocket::Connect(int port, int receiveBuffer) {
    Close();
    m_fd = ConnectLoopback(port, receiveBuffer);
    if (m_fd < 0)
        return false;
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    return true;
}

unsigned PeerSocket::LocalPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

bool PeerSocket::Send(protocol::ByteView bytes) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    const std::uint8_t* data = bytes.data();
    std::size_t size = bytes.size();
    while (size > 0 && m_fd >= 0) {
        const ssize_t sent = ::send(m_fd, data, size, MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            size -= static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EINTR) &&
            std::chrono::steady_clock::now() < end) {
            Pump(); // a server that answers while it reads must not be stuck behind us
            pollfd wait{m_fd, POLLOUT, 0};
            ::poll(&wait, 1, 20);
            continue;
        }
        return false;
    }
    return size == 0;
}

bool PeerSocket::SendRecord(protocol::ByteView body) {
    const Bytes framed = protocol::CtiRecord::Encode(body);
    return !framed.empty() && Send(framed);
}

bool PeerSocket::Pump() {
    std::uint8_t buffer[65536];
    while (m_fd >= 0 && !m_closed) {
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            m_raw.insert(m_raw.end(), buffer, buffer + got);
            m_reader.Feed(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            m_closed = true;
        break;
    }
    return m_closed;
}

bool PeerSocket::Read(Bytes& into) {
    const bool closed = Pump();
    into.insert(into.end(), m_raw.begin(), m_raw.end());
    m_raw.clear();
    return closed;
}

bool PeerSocket::SeesClose() {
    Bytes dropped;
    return Read(dropped);
}

const Bytes& PeerSocket::Raw() {
    Pump();
    return m_raw;
}

const std::vector<Bytes>& PeerSocket::Records() {
    Pump();
    return m_reader.Frames();
}

std::vector<Bytes> PeerSocket::Bodies() {
    Pump();
    return m_reader.Bodies();
}

void PeerSocket::Clear() {
    Pump();
    m_raw.clear();
    m_reader.ClearRecords();
}

void PeerSocket::Shutdown() {
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_WR);
}

void PeerSocket::Abort() {
    if (m_fd < 0)
        return;
    const linger hard{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    Close();
}

void PeerSocket::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_closed = false;
    m_raw.clear();
    m_reader.Reset();
}

} // namespace testsupport
