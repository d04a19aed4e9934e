#pragma once

// The far end of one of the server's TCP ports as a test or a tool sees it: a client
// application or a monitor utility on loopback. A plain non-blocking socket that sends raw bytes
// or records, keeps every byte that arrives, cuts it into records and notices the close. One
// thread drives each object.

#include <testsupport/RecordReader.h>

#include <protocol/Bytes.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

class PeerSocket {
public:
    PeerSocket() = default;
    // Connects at once; receiveBuffer > 0 shrinks the receive buffer first (a slow reader that
    // fills up quickly).
    explicit PeerSocket(int port, int receiveBuffer = 0);
    ~PeerSocket();
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    // A new connection; what the old one received is forgotten.
    bool Connect(int port, int receiveBuffer = 0);
    bool Connected() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    unsigned LocalPort() const;

    // Everything is written, reading meanwhile however slowly the server takes it; false once
    // the connection broke or 20 seconds have passed.
    [[nodiscard]] bool Send(protocol::ByteView bytes);
    [[nodiscard]] bool Send(const Bytes& bytes) { return Send(protocol::ByteView(bytes)); }
    // The body behind its two length bytes.
    [[nodiscard]] bool SendRecord(protocol::ByteView body);

    // Reads what has arrived, without waiting; true once the server has closed the connection.
    bool Pump();
    bool Closed() { return Pump(); }
    // The close as last seen, without reading.
    bool SawClose() const { return m_closed; }
    // Reads and drops what has arrived; true once the server has closed the connection.
    bool SeesClose();
    // Appends the bytes that came since the last call (or Clear) to `into`; true once closed.
    bool Read(Bytes& into);

    // Every byte received since the last Read or Clear.
    const Bytes& Raw();
    // The whole records received so far, with and without their length bytes.
    const std::vector<Bytes>& Records();
    std::vector<Bytes> Bodies();
    const RecordReader& Reader() const { return m_reader; }
    // Bytes of a record not yet complete.
    std::size_t Partial() const { return m_reader.Pending(); }
    // Forgets what has been received (the stream goes on where it was).
    void Clear();

    // Half-close: the server's receive sees the end, this side can still read.
    void Shutdown();
    // Closes with a reset, so the server's side loses its peer at once.
    void Abort();
    void Close();

private:
    int m_fd = -1;
    bool m_closed = false;
    Bytes m_raw;
    RecordReader m_reader;
};

} // namespace testsupport
