#pragma once

// What the socket-side targets share: one application object for the process (never destroyed,
// as at the end of a test program), loopback peers made with plain sockets, and a way to run the
// deletes that objects asked for while they were being used.

#include <QCoreApplication>
#include <QEvent>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fuzzrig {

inline QCoreApplication& App() {
    static QCoreApplication* app = [] {
        if (QCoreApplication* existing = QCoreApplication::instance())
            return existing;
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "fuzz";
        static char* argv[] = {name, nullptr};
        return new QCoreApplication(argc, argv);
    }();
    return *app;
}

// A connected, non-blocking loopback client of the port; -1 when the connect failed (long
// runs can use up the local ports for a while). A listen
// socket's backlog holds the connection at once, so the server side can accept it right away.
inline int ConnectPeer(unsigned port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

// Closes a peer with a reset, so hundreds of thousands of runs leave no ports in TIME_WAIT.
inline void ClosePeer(int fd) {
    if (fd < 0)
        return;
    const linger abortive{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::close(fd);
}

// Reads and drops whatever the server has sent to the peer.
inline void Drain(int fd) {
    std::uint8_t buffer[4096];
    while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
}

// Runs the event loop until done() holds; false when five seconds went by first.
template <typename Done> bool RunUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

inline void RunDeferredDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Cuts the input into parts: a two-byte header (its top bit `flag`, the rest the size modulo
// `sizeLimit`) and that many bytes; a short last part keeps what is there. Each part is copied
// to a buffer of its own exact size, so a handler reading past it is caught.
template <typename Handle>
void ForEachPart(const std::uint8_t* data, std::size_t size, std::size_t sizeLimit, Handle handle) {
    std::size_t at = 0;
    while (at + 2 <= size) {
        const unsigned header = static_cast<unsigned>(data[at] << 8 | data[at + 1]);
        at += 2;
        const bool flag = (header & 0x8000u) != 0;
        std::size_t want = (header & 0x7FFFu) % sizeLimit;
        if (want > size - at)
            want = size - at;
        auto* part = new std::uint8_t[want == 0 ? 1 : want];
        for (std::size_t i = 0; i < want; ++i)
            part[i] = data[at + i];
        at += want;
        const bool go = handle(flag, part, want);
        delete[] part;
        if (!go)
            return;
    }
}

} // namespace fuzzrig
