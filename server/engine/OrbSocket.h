#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct sockaddr;

namespace engine {

// The TCP link to the switch's LAN link box: one blocking stream socket that the I/O queue's
// reader receives on while its writer sends. Results are 1 / -1 and byte counts; a failed call
// leaves errno set for the caller's trace.
//
// Close() makes the close abortive (linger 0) and shuts the connection down, which wakes a
// receive blocked in another thread; the descriptor itself is released only by the destructor,
// so a thread still holding the object can never reach a descriptor number the system has
// handed out again.
class COrbSocket {
public:
    static constexpr int kDefaultConnectTimeoutMs = 10000;
    // A send waits while the system holds this much that the switch has not taken.
    static constexpr int kMaxUnsentBytes = 4096;

    COrbSocket() = default;
    virtual ~COrbSocket();
    COrbSocket(const COrbSocket&) = delete;
    COrbSocket& operator=(const COrbSocket&) = delete;

    // There is no socket library to start here; always 1.
    int Initialize();

    // Connects to the first address of host and port that accepts (IPv4 or IPv6, names or
    // numbers; an empty host is "localhost"), giving up after timeoutMs in all. 1 or -1.
    int Connect(const std::string& host, int port, int socketType,
                int timeoutMs = kDefaultConnectTimeoutMs);

    // One send; the count sent (possibly short), 0, or -1 on an error. With a send time-out,
    // a send the peer takes nothing of within it fails with ETIMEDOUT.
    int Send(const std::uint8_t* buffer, int length);
    // A peer that stops reading must not hold a sender for ever; 0 waits without end.
    void SetSendTimeout(int timeoutMs);
    // One receive; the count received, 0 when the peer has closed, -1 on an error (EAGAIN
    // with MSG_DONTWAIT in flags when nothing is there). What it received is acknowledged at
    // once, however recently this end has sent.
    int Recv(std::uint8_t* buffer, int length, int flags = 0);
    // How often receives have asked the system for the prompt acknowledgement.
    unsigned long QuickAckRequests() const { return m_nQuickAcks.load(); }

    // Abortive close: unsent data is dropped and the peer is reset once the object goes.
    void Close();
    // Ends both directions without changing the linger setting; a blocked receive returns 0.
    void Shutdown();

    // Bytes handed to the system that the peer has not acknowledged yet; -1 when unknown.
    int UnacknowledgedBytes() const;

    bool IsValid() const { return m_hSocket.load() >= 0; }
    int Handle() const { return m_hSocket.load(); }

private:
    // One address: 1 when connected before the deadline, else -1 with errno set.
    static int ConnectWithin(int fd, const struct sockaddr* address, unsigned length,
                             int timeoutMs);
    bool TraceEndpoints(int fd, int socketType, int family);

    void AckPromptly(int fd);

    std::atomic<int> m_hSocket{-1};
    std::atomic<int> m_nSendTimeoutMs{0};
    std::atomic<unsigned long> m_nQuickAcks{0};
};

} // namespace engine
