#pragma once

// Ports on loopback for servers under test, and plain clients for them.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
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

// The lowest port the kernel hands to outgoing connections: a test port below it can never be
// taken by some client's connect between our check and the server's listen.
inline int EphemeralPortFloor() {
    int low = 32768;
    if (FILE* range = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
        if (std::fscanf(range, "%d", &low) != 1)
            low = 32768;
        std::fclose(range);
    }
    return low;
}

inline bool PortBindable(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

// A port P on loopback with P and P + 500 both free just now, claimed by no other test, and
// outside the range the kernel picks client ports from.
inline int FreeListenPortPair() {
    const int floor = 10000;
    const int ceiling = std::min(EphemeralPortFloor(), 65536) - 500;
    if (ceiling <= floor)
        return 0;
    // Start where this process's id points, so parallel test processes seldom meet.
    const int span = ceiling - floor;
    const int start = static_cast<int>((static_cast<unsigned>(::getpid()) * 2654435761u) % span);
    for (int step = 0; step < span; ++step) {
        const int port = floor + (start + step * 7919) % span;
        if (PortBindable(port) && PortBindable(port + 500) && ClaimTestPort(port) &&
            ClaimTestPort(port + 500))
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
