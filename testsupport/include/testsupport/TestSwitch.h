#pragma once

// A stand-in for the switch's LAN link box on loopback: it listens on an ephemeral port, accepts
// the server's connection (a newer connection replaces the older one), records every record that
// arrives with its arrival time, and sends records or raw bytes back. Every call is thread-safe
// and every wait is bounded. When the server's end closes, the switch's end stays open for sends
// until it is ended, replaced or destroyed.

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
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

    explicit TestSwitch(int family = AF_INET);
    ~TestSwitch();
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

    // Off: the switch stops reading the connection (what the server sends piles up in the
    // system's buffers and then holds the server's sends); on again: it reads what is there.
    void SetReading(bool on) {
        m_reading = on;
        Wake();
    }
    // The receive buffer of the connections accepted from now on (a small window for the
    // server to fill); 0 leaves the system's.
    bool SetReceiveBuffer(int bytes);

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
    bool SendRecord(const std::vector<std::uint8_t>& body);
    bool SendRaw(const std::vector<std::uint8_t>& bytes) {
        return SendRaw(bytes.data(), bytes.size());
    }
    bool SendRaw(const std::uint8_t* data, std::size_t size);

    // Graceful close of the current connection: the server's receive returns 0.
    void CloseConnection() { EndConnection(false); }
    // Abortive close: the server's next send or receive fails with a reset.
    void ResetConnection() { EndConnection(true); }

private:
    void Wake();
    void EndConnection(bool reset);

    // Only this thread closes the connection, and only under the send lock, so a send never
    // reaches a descriptor number that has been handed out again.
    void CloseConn(bool reset);
    void Run();
    void Closed();
    void Received(std::vector<Record>& complete, const std::uint8_t* data, std::size_t size);

    const int m_family;
    int m_listen = -1;
    int m_wake = -1;
    int m_port = 0;
    int m_conn = -1;          // written by the switch thread under m_sendLock
    bool m_peerEnded = false; // the switch thread's own: the server's end has closed
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_reading{true};
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
