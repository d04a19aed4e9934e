#include "OrbSocket.h"

#include "TraceLog.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace engine {

namespace {

using Clock = std::chrono::steady_clock;

// A blocked peer should not make us spin: wait for room before the next try.
constexpr int kWouldBlockPauseMs = 1000;

std::string NumericHost(const sockaddr* address, socklen_t length, int* port) {
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (getnameinfo(address, length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return std::string();
    if (port != nullptr)
        *port = std::atoi(service);
    return host;
}

int RemainingMs(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

} // namespace

COrbSocket::~COrbSocket() {
    const int fd = m_hSocket.exchange(-1);
    if (fd >= 0)
        ::close(fd);
}

int COrbSocket::Initialize() {
    return 1;
}

int COrbSocket::ConnectWithin(int fd, const sockaddr* address, unsigned length, int timeoutMs) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return -1;
    int result = 1;
    if (::connect(fd, address, static_cast<socklen_t>(length)) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            result = -1;
        } else {
            pollfd p{fd, POLLOUT, 0};
            const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            int n;
            for (;;) {
                n = ::poll(&p, 1, timeoutMs < 0 ? -1 : RemainingMs(deadline));
                if (n >= 0 || errno != EINTR)
                    break;
            }
            int error = 0;
            socklen_t size = sizeof error;
            if (n == 0) {
                errno = ETIMEDOUT;
                result = -1;
            } else if (n < 0) {
                result = -1;
            } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
                result = -1;
            } else if (error != 0) {
                errno = error;
                result = -1;
            }
        }
    }
    const int saved = errno;
    ::fcntl(fd, F_SETFL, flags);
    errno = saved;
    return result;
}

bool COrbSocket::TraceEndpoints(int fd, int socketType, int family) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int code = errno;
        TraceLog("[ERROR] getpeername() failed with error %d : %s", code,
                 SystemErrorText(code).c_str());
        return false;
    }
    int port = 0;
    std::string text = NumericHost(reinterpret_cast<sockaddr*>(&address), length, &port);
    TraceLog(">>> Veltrane Link Connection created with Switch [%s - %d], Protocol[%s], IP "
             "Type[%s].",
             text.empty() ? "<Unknown>" : text.c_str(), port,
             socketType == SOCK_STREAM ? "TCP" : "UDP", family == AF_INET6 ? "IPv6" : "IPv4");

    length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int code = errno;
        TraceLog("[ERROR] getsockname() failed withe error code %d - %s.", code,
                 SystemErrorText(code).c_str());
        return false;
    }
    port = 0;
    text = NumericHost(reinterpret_cast<sockaddr*>(&address), length, &port);
    TraceLog(">>> Veltrane Link is using the local address [%s - %d].",
             text.empty() ? "<Unknown>" : text.c_str(), port);
    return true;
}

int COrbSocket::Connect(const std::string& host, int port, int socketType, int timeoutMs) {
    // A second connect on one object replaces the first connection.
    const int old = m_hSocket.exchange(-1);
    if (old >= 0)
        ::close(old);

    const std::string hostText = host.empty() ? "localhost" : host;
    const std::string portText = std::to_string(port);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socketType;
    addrinfo* list = nullptr;
    const int resolved = ::getaddrinfo(hostText.c_str(), portText.c_str(), &hints, &list);
    if (resolved != 0) {
        const bool system = resolved == EAI_SYSTEM;
        const int code = system ? errno : resolved;
        const std::string text = system ? SystemErrorText(code) : gai_strerror(resolved);
        TraceLog("[ERROR] getaddrinfo(%s - %s) failed. [ErrorCode %d - %s]", hostText.c_str(),
                 portText.c_str(), code, text.c_str());
        return -1;
    }

    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_family != AF_INET && a->ai_family != AF_INET6)
            continue;
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        if (ConnectWithin(fd, a->ai_addr, a->ai_addrlen,
                          timeoutMs < 0 ? -1 : RemainingMs(deadline)) != 1) {
            const int code = errno;
            std::string numeric = NumericHost(a->ai_addr, a->ai_addrlen, nullptr);
            if (numeric.empty())
                numeric = "Unknown";
            TraceLog(a->ai_family == AF_INET6
                         ? "[ERROR] Veltrane Link's IPv6 connection to %s[Name : %s] "
                           "failed.[ErrorCode %d - %s]"
                         : "[ERROR] Veltrane Link's IPv4 connection to %s[Name : %s] "
                           "failed.[ErrorCode %d - %s]",
                     hostText.c_str(), numeric.c_str(), code, SystemErrorText(code).c_str());
            ::close(fd);
            continue;
        }
        if (!TraceEndpoints(fd, a->ai_socktype, a->ai_family)) {
            ::close(fd);
            break;
        }
        if (a->ai_socktype == SOCK_STREAM) {
            // Records are small and each one matters at once; do not hold them back.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            // What the switch has not taken waits in our own queue, not in the system's: a stop
            // can then drop it and count it, and the link clear does not queue behind it.
            const int unsent = kMaxUnsentBytes;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &unsent, sizeof unsent);
        }
        m_hSocket.store(fd);
        break;
    }
    ::freeaddrinfo(list);
    return IsValid() ? 1 : -1;
}

int COrbSocket::Send(const std::uint8_t* buffer, int length) {
    const int fd = m_hSocket.load();
    for (;;) {
        const ssize_t sent =
            ::send(fd, buffer, length < 0 ? 0 : static_cast<std::size_t>(length), MSG_NOSIGNAL);
        if (sent >= 0)
            return static_cast<int>(sent);
        const int code = errno;
        if (code == EINTR)
            continue;
        if ((code == EWOULDBLOCK || code == EAGAIN) && m_nSendTimeoutMs.load() > 0) {
            TraceLog("[ERROR] COrbSocket::Send --> the peer has taken nothing for %d ms",
                     m_nSendTimeoutMs.load());
            errno = ETIMEDOUT;
            return -1;
        }
        if (code == EWOULDBLOCK || code == EAGAIN) {
            TraceLog("COrbSocket::Send --> send() function is blocking.. Retry to send this "
                     "message...");
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, kWouldBlockPauseMs);
            continue;
        }
        TraceLog("[ERROR] COrbSocket::Send --> send() error [error Code - %d : %s]", code,
                 SystemErrorText(code).c_str());
        errno = code;
        return -1;
    }
}

void COrbSocket::SetSendTimeout(int timeoutMs) {
    const int ms = timeoutMs < 0 ? 0 : timeoutMs;
    m_nSendTimeoutMs = ms;
    const int fd = m_hSocket.load();
    if (fd < 0)
        return;
    const timeval limit{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

int COrbSocket::Recv(std::uint8_t* buffer, int length, int flags) {
    const int fd = m_hSocket.load();
    for (;;) {
        const ssize_t received =
            ::recv(fd, buffer, length < 0 ? 0 : static_cast<std::size_t>(length), flags);
        if (received > 0)
            AckPromptly(fd);
        if (received >= 0)
            return static_cast<int>(received);
        if (errno != EINTR)
            return -1;
    }
}

void COrbSocket::AckPromptly(int fd) {
    // Acknowledged at once, not after the delayed-ack timer: a switch that holds small records
    // until the last one is acknowledged would otherwise stall up to 40 ms. Asked at every
    // receive: the system may delay the acknowledgement of small segments whether or not this
    // end has sent lately, and a burst of them then waits for the timer.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    m_nQuickAcks.fetch_add(1, std::memory_order_relaxed);
}

void COrbSocket::Close() {
    const int fd = m_hSocket.load();
    if (fd < 0)
        return;
    const linger off{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    ::shutdown(fd, SHUT_RDWR);
}

void COrbSocket::Shutdown() {
    const int fd = m_hSocket.load();
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
}

int COrbSocket::UnacknowledgedBytes() const {
    const int fd = m_hSocket.load();
    int pending = 0;
    if (fd < 0 || ::ioctl(fd, SIOCOUTQ, &pending) != 0)
        return -1;
    return pending;
}

} // namespace engine
