#pragma once

// A stand-in for the switch's LAN link box on loopback: it listens on an ephemeral port, accepts
// the server's connection (a newer connection replaces the older one), records every record that
// arrives with its arrival time, and sends records or raw bytes back. Every call is thread-safe
// and every wait is bounded. When the server's end closes, the switch's end stays open for sends
// until it is ended, replaced or destroyed.

#include "testsupport/RecordReader.h"

#include <protocol/CtiRecord.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class TestSwitch {
public:
    using Clock = std::chrono::steady_clock;

    struct Record {
        std::vector<std::uint8_t> bytes; // [L high][L low][body]
        int connection = 0;              // 1 for the first accepted connection, and so on
        Clock::time_point at;

        std::vector<std::uint8_t> Body() const {
            return std::vector<std::uint8_t>(bytes.begin() + 2, bytes.end());
        }
        // The request letter (body byte 1); 0 when the body is too short.
        std::uint8_t Letter() const { return bytes.size() > 3 ? bytes[3] : 0; }
    };
    // Runs on the switch's own thread for every record, after it has been recorded.
    using RecordHandler = std::function<void(TestSwitch&, const Record&)>;

    explicit TestSwitch(int family = AF_INET) : m_family(family) {
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

    ~TestSwitch() {
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

    TestSwitch(const TestSwitch&) = delete;
    TestSwitch& operator=(const TestSwitch&) = delete;

    bool IsListening() const { return m_listen >= 0 && m_port != 0; }
    int Port() const { return m_port; }
    std::string Host() const { return m_family == AF_INET6 ? "::1" : "127.0.0.1"; }

    void SetRecordHandler(RecordHandler handler) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_handler = std::move(handler);
    }
    // Off: records are counted only (for long runs).
    void SetKeepRecords(bool keep) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_keep = keep;
    }

    // Until `count` connections have been accepted in all.
    bool WaitForConnection(int timeoutMs, int count = 1) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_connections >= count; });
    }
    int ConnectionCount() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_connections;
    }
    bool IsConnected() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_connected;
    }
    // Until the server's end of the current connection has closed (or been reset).
    bool WaitForPeerClose(int timeoutMs) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_connections > 0 && !m_connected; });
    }

    std::vector<Record> Records() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_records;
    }
    std::size_t RecordCount() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_recordCount;
    }
    bool WaitForRecords(std::size_t count, int timeoutMs) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_recordCount >= count; });
    }
    // The first kept record at index `from` or later that matches.
    std::optional<Record> WaitForRecord(const std::function<bool(const Record&)>& match,
                                        int timeoutMs, std::size_t from = 0) {
        std::unique_lock<std::mutex> guard(m_lock);
        std::optional<Record> found;
        m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
            for (std::size_t i = from; i < m_records.size(); ++i) {
                if (match(m_records[i])) {
                    found = m_records[i];
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    std::optional<Record> WaitForLetter(std::uint8_t letter, int timeoutMs, std::size_t from = 0) {
        return WaitForRecord([letter](const Record& r) { return r.Letter() == letter; }, timeoutMs,
                             from);
    }
    // Every byte the current (or last) connection has received.
    std::vector<std::uint8_t> RawBytes() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_raw;
    }
    // Until the current connection has received at least `count` bytes.
    bool WaitForRawBytes(std::size_t count, int timeoutMs) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_raw.size() >= count; });
    }
    void ClearReceived() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_records.clear();
        m_raw.clear();
        m_recordCount = 0;
    }

    // The body behind its 2-byte length.
    bool SendRecord(const std::vector<std::uint8_t>& body) {
        const std::vector<std::uint8_t> bytes = protocol::CtiRecord::Encode(body);
        return !bytes.empty() && SendRaw(bytes);
    }
    bool SendRaw(const std::vector<std::uint8_t>& bytes) {
        return SendRaw(bytes.data(), bytes.size());
    }
    bool SendRaw(const std::uint8_t* data, std::size_t size) {
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

    // Graceful close of the current connection: the server's receive returns 0.
    void CloseConnection() { EndConnection(false); }
    // Abortive close: the server's next send or receive fails with a reset.
    void ResetConnection() { EndConnection(true); }

private:
    void Wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wake, &one, sizeof one);
    }

    void EndConnection(bool reset) {
        std::unique_lock<std::mutex> guard(m_lock);
        if (!m_connected)
            return;
        m_endRequest = reset ? 2 : 1;
        const int serial = m_connections;
        Wake();
        m_changed.wait_for(guard, std::chrono::seconds(5),
                           [&] { return !m_connected || m_connections != serial; });
    }

    // Only this thread closes the connection, and only under the send lock, so a send never
    // reaches a descriptor number that has been handed out again.
    void CloseConn(bool reset) {
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

    void Run() {
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
            const bool reading = m_conn >= 0 && !m_peerEnded;
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

    void Closed() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_connected = false;
        m_changed.notify_all();
    }

    void Received(std::vector<Record>& complete, const std::uint8_t* data, std::size_t size) {
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

    const int m_family;
    int m_listen = -1;
    int m_wake = -1;
    int m_port = 0;
    int m_conn = -1;          // written by the switch thread under m_sendLock
    bool m_peerEnded = false; // the switch thread's own: the server's end has closed
    std::atomic<bool> m_stop{false};
    std::thread m_thread;

    mutable std::mutex m_sendLock;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Record> m_records;
    std::vector<std::uint8_t> m_raw;
    std::size_t m_recordCount = 0;
    int m_connections = 0;
    bool m_connected = false;
    bool m_keep = true;
    int m_endRequest = 0;
    RecordHandler m_handler;
};

} // namespace testsupport
