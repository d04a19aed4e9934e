#include <platform/AsyncSocket.h>

#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace platform {

namespace {

// Writes the address as text; IPv4 and IPv4-mapped IPv6 addresses come out dotted.
bool AddressText(const sockaddr_storage& ss, std::string& address, unsigned& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (ss.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(ss);
        if (!::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text)) {
            return false;
        }
        port = ntohs(in.sin_port);
    } else if (ss.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(ss);
        if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) {
            if (!::inet_ntop(AF_INET, &in6.sin6_addr.s6_addr[12], text, sizeof text)) {
                return false;
            }
        } else if (!::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text)) {
            return false;
        }
        port = ntohs(in6.sin6_port);
    } else {
        errno = EAFNOSUPPORT;
        return false;
    }
    address = text;
    return true;
}

// 0 when connected, else the errno of the failure (ETIMEDOUT after timeoutMs).
int ConnectWithin(int fd, const sockaddr* addr, socklen_t len, int timeoutMs) {
    if (::connect(fd, addr, len) == 0) {
        return 0;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        return errno;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0) {
            return ETIMEDOUT;
        }
        pollfd p{fd, POLLOUT, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left));
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc < 0) {
            return errno;
        }
        if (rc == 0) {
            return ETIMEDOUT;
        }
        int err = 0;
        socklen_t errLen = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &errLen) != 0) {
            return errno;
        }
        return err;
    }
}

} // namespace

AsyncSocket::AsyncSocket(QObject* parent) : QObject(parent) {}

AsyncSocket::~AsyncSocket() {
    Close();
}

bool AsyncSocket::Fail(int err) const {
    lastError_.store(err);
    return false;
}

bool AsyncSocket::IsOwnerThread() const {
    return QThread::currentThread() == thread();
}

bool AsyncSocket::IsOpen() const {
    std::lock_guard lock(fdMutex_);
    return fd_ >= 0;
}

bool AsyncSocket::Create(unsigned port, const std::string& bindAddress) {
    if (fd_ >= 0) {
        return Fail(EISCONN);
    }
    if (port > 65535) {
        return Fail(EINVAL);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!bindAddress.empty() && ::inet_pton(AF_INET, bindAddress.c_str(), &addr.sin_addr) != 1) {
        return Fail(EINVAL);
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return Fail(errno);
    }
    // A restarted listener must not fail on connections of its predecessor in TIME_WAIT.
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        ::close(fd);
        return Fail(err);
    }
    std::lock_guard lock(fdMutex_);
    fd_ = fd;
    return true;
}

bool AsyncSocket::Listen(int backlog) {
    if (fd_ < 0) {
        return Fail(EBADF);
    }
    if (readNotifier_ && !listening_) {
        return Fail(EISCONN);
    }
    if (::listen(fd_, backlog) != 0) {
        return Fail(errno);
    }
    if (!listening_) {
        Watch(fd_, true);
    }
    return true;
}

bool AsyncSocket::Accept(AsyncSocket& into) {
    if (!listening_ || fd_ < 0) {
        return Fail(fd_ < 0 ? EBADF : EINVAL);
    }
    if (&into == this || into.fd_ >= 0) {
        return Fail(EISCONN);
    }
    if (!into.IsOwnerThread()) {
        return Fail(EINVAL); // its notifiers could not be made here
    }
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    const int err = errno;
    ArmRead();
    if (fd < 0) {
        return Fail(err == EAGAIN ? EWOULDBLOCK : err);
    }
    {
        std::lock_guard lock(into.fdMutex_);
        into.fd_ = fd;
    }
    into.Watch(fd, false);
    return true;
}

bool AsyncSocket::Connect(const std::string& host, unsigned port, int timeoutMs) {
    if (listening_ || readNotifier_) {
        return Fail(EISCONN);
    }
    if (port > 65535) {
        return Fail(EINVAL);
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int rc =
        ::getaddrinfo(host.empty() ? "localhost" : host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) {
        return Fail(rc == EAI_SYSTEM ? errno : EHOSTUNREACH);
    }
    const bool ownSocket = fd_ < 0;
    int err = EHOSTUNREACH;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        const int fd =
            ownSocket ? ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0) : fd_;
        if (fd < 0) {
            err = errno;
            continue;
        }
        err = ConnectWithin(fd, ai->ai_addr, ai->ai_addrlen, timeoutMs);
        if (err == 0) {
            ::freeaddrinfo(list);
            if (ownSocket) {
                std::lock_guard lock(fdMutex_);
                fd_ = fd;
            }
            Watch(fd, false);
            return true;
        }
        if (!ownSocket) {
            break; // a socket whose connect failed cannot be reused for another address
        }
        ::close(fd);
    }
    ::freeaddrinfo(list);
    return Fail(err);
}

bool AsyncSocket::Attach(int fd) {
    if (fd_ >= 0) {
        return Fail(EISCONN);
    }
    int type = 0;
    socklen_t len = sizeof type;
    if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0) {
        return Fail(fd < 0 ? EBADF : errno);
    }
    if (type != SOCK_STREAM) {
        return Fail(EINVAL);
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) != 0) {
        return Fail(errno);
    }
    {
        std::lock_guard lock(fdMutex_);
        fd_ = fd;
    }
    Watch(fd, false);
    return true;
}

bool AsyncSocket::GetPeerName(std::string& dottedAddress, unsigned& port) const {
    std::lock_guard lock(fdMutex_);
    if (fd_ < 0) {
        return Fail(EBADF);
    }
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&ss), &len) != 0 ||
        !AddressText(ss, dottedAddress, port)) {
        return Fail(errno);
    }
    return true;
}

bool AsyncSocket::GetSockName(std::string& dottedAddress, unsigned& port) const {
    std::lock_guard lock(fdMutex_);
    if (fd_ < 0) {
        return Fail(EBADF);
    }
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &len) != 0 ||
        !AddressText(ss, dottedAddress, port)) {
        return Fail(errno);
    }
    return true;
}

bool AsyncSocket::SetSockOpt(int level, int optionName, int value) {
    std::lock_guard lock(fdMutex_);
    if (fd_ < 0) {
        return Fail(EBADF);
    }
    if (::setsockopt(fd_, level, optionName, &value, sizeof value) != 0) {
        return Fail(errno);
    }
    return true;
}

int AsyncSocket::Receive(void* buf, int len, int flags) {
    if (len < 0 || (!buf && len > 0)) {
        Fail(EINVAL);
        return -1;
    }
    ssize_t n;
    int err = 0;
    {
        std::lock_guard lock(fdMutex_);
        if (fd_ < 0) {
            Fail(EBADF);
            return -1;
        }
        n = ::recv(fd_, buf, static_cast<size_t>(len), flags | MSG_DONTWAIT);
        err = errno;
    }
    if (!listening_) {
        ArmRead();
    }
    if (n < 0) {
        Fail(err == EAGAIN ? EWOULDBLOCK : err);
        return -1;
    }
    return static_cast<int>(n);
}

int AsyncSocket::Send(const void* buf, int len, int flags) {
    if (len < 0 || (!buf && len > 0)) {
        Fail(EINVAL);
        return -1;
    }
    // Held across the send so that Close cannot release the descriptor underneath it.
    std::lock_guard lock(fdMutex_);
    if (fd_ < 0) {
        Fail(EBADF);
        return -1;
    }
    const ssize_t n =
        ::send(fd_, buf, static_cast<size_t>(len), flags | MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) {
        Fail(errno == EAGAIN ? EWOULDBLOCK : errno);
        return -1;
    }
    return static_cast<int>(n);
}

int AsyncSocket::SendPieces(const SendPiece* pieces, int count) {
    if (count < 0 || count > kMaxSendPieces || (!pieces && count > 0)) {
        Fail(EINVAL);
        return -1;
    }
    iovec vectors[kMaxSendPieces];
    for (int i = 0; i < count; ++i)
        vectors[i] = {const_cast<void*>(pieces[i].data), pieces[i].size};
    msghdr message{};
    message.msg_iov = vectors;
    message.msg_iovlen = static_cast<std::size_t>(count);
    std::lock_guard lock(fdMutex_);
    if (fd_ < 0) {
        Fail(EBADF);
        return -1;
    }
    const ssize_t n = ::sendmsg(fd_, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) {
        Fail(errno == EAGAIN ? EWOULDBLOCK : errno);
        return -1;
    }
    return static_cast<int>(n);
}

void AsyncSocket::Close() {
    // Notifiers go first: they must never watch a descriptor that is already closed. They
    // are deleted later because Close may run inside one of their own activations.
    for (QSocketNotifier** n : {&readNotifier_, &writeNotifier_}) {
        if (*n) {
            (*n)->setEnabled(false);
            (*n)->deleteLater();
            *n = nullptr;
        }
    }
    int fd;
    {
        std::lock_guard lock(fdMutex_);
        fd = fd_;
        fd_ = -1;
    }
    listening_ = false;
    closeSeen_ = false;
    if (fd >= 0) {
        ::close(fd);
    }
}

void AsyncSocket::DeleteLater() {
    Close();
    deleteLater();
}

void AsyncSocket::RequestWriteNotification() {
    if (IsOwnerThread()) {
        EnableWriteNotifier();
    } else {
        QMetaObject::invokeMethod(
            this, [this] { EnableWriteNotifier(); }, Qt::QueuedConnection);
    }
}

void AsyncSocket::PauseAccepting() {
    if (listening_ && readNotifier_) {
        readNotifier_->setEnabled(false);
    }
}

void AsyncSocket::ResumeAccepting() {
    if (listening_) {
        ArmRead();
    }
}

void AsyncSocket::EnableWriteNotifier() {
    if (writeNotifier_) {
        writeNotifier_->setEnabled(true);
    }
}

void AsyncSocket::ArmRead() {
    if (!IsOwnerThread()) {
        QMetaObject::invokeMethod(
            this, [this] { ArmRead(); }, Qt::QueuedConnection);
        return;
    }
    if (readNotifier_ && !closeSeen_) {
        readNotifier_->setEnabled(true);
    }
}

void AsyncSocket::Watch(int fd, bool listening) {
    listening_ = listening;
    closeSeen_ = false;
    readNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &AsyncSocket::HandleReadable);
    if (!listening) {
        writeNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        writeNotifier_->setEnabled(false);
        connect(writeNotifier_, &QSocketNotifier::activated, this, &AsyncSocket::HandleWritable);
    }
}

void AsyncSocket::HandleReadable() {
    if (fd_ < 0 || !readNotifier_) {
        return;
    }
    if (listening_) {
        readNotifier_->setEnabled(false);
        OnAccept(0);
        return;
    }
    char probe;
    const ssize_t n = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    const int err = n < 0 ? errno : 0;
    if (err == EAGAIN || err == EINTR) {
        return;
    }
    readNotifier_->setEnabled(false);
    if (n > 0) {
        OnReceive(0);
        return;
    }
    closeSeen_ = true;
    OnClose(err);
}

void AsyncSocket::HandleWritable() {
    if (fd_ < 0 || !writeNotifier_) {
        return;
    }
    writeNotifier_->setEnabled(false);
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
        err = errno;
    }
    OnSend(err);
}

void AsyncSocket::OnAccept(int) {}
void AsyncSocket::OnReceive(int) {}
void AsyncSocket::OnSend(int) {}
void AsyncSocket::OnClose(int) {}

} // namespace platform

#include "platform/moc_AsyncSocket.cpp"
