#pragma once

// Ports on loopback for servers under test, and plain clients for them.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace testsupport {

// Claims the port for this process's lifetime among the test processes that share the machine:
// a port one test has given back (its server stopped) is not handed to another test while the
// first may still listen on it again. False when another test process holds it.
inline bool ClaimTestPort(int port) {
    std::error_code error;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path(error) / "veltrane-test-ports";
    std::filesystem::create_directories(dir, error);
    const std::string path = (dir / std::to_string(port)).string();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return true; // nowhere to record it: no worse than before
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    return true; // kept open, so held until the process ends
}

// A port P on loopback with P and P + 500 both free just now, and claimed by no other test.
inline int FreeListenPortPair() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        socklen_t length = sizeof address;
        int port = 0;
        if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        ::close(probe);
        if (port <= 0 || port > 65035)
            continue;
        const int second = ::socket(AF_INET, SOCK_STREAM, 0);
        address.sin_port = htons(static_cast<std::uint16_t>(port + 500));
        const bool free =
            ::bind(second, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(second);
        if (free && ClaimTestPort(port) && ClaimTestPort(port + 500))
            return port;
    }
    return 0;
}

// A plain blocking TCP client on loopback; -1 when the connect fails. receiveBuffer > 0 shrinks
// the receive buffer before the connect.
inline int ConnectLoopback(int port, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True when nobody listens on the port.
inline bool PortRefuses(int port) {
    const int fd = ConnectLoopback(port);
    if (fd < 0)
        return true;
    ::close(fd);
    return false;
}

} // namespace testsupport
