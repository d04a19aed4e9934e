#pragma once

#include <platform/AsyncSocket.h>

#include <cstdint>
#include <vector>

// The dialog side of a monitor connection.
class MonitorSocketOwner {
public:
    virtual ~MonitorSocketOwner() = default;
    // What one receive notification read: `sizes` blocks one after the other in `bytes`, each
    // read on its own and of at most the buffer's size.
    virtual void ParseMonitorBlocks(const std::uint8_t* bytes, const std::vector<int>& sizes) = 0;
    virtual void OnServerClosed() = 0;
};

// A monitor's connection to the server: each receive notification reads blocks of at most the
// buffer's size until the socket has no more or kMaxNoticeBytes are read, and hands them to the
// owner together; the server's close is passed on once.
class MonitorSocket : public platform::AsyncSocket {
public:
    // Enough for a few hundred records when the monitor has fallen behind, and few notifications
    // (each one a pass of the event loop) for the owner to handle.
    static constexpr std::size_t kMaxNoticeBytes = 256 * 1024;

    MonitorSocket(MonitorSocketOwner* owner, std::size_t bufferSize);
    ~MonitorSocket() override;

protected:
    void OnReceive(int err) override;
    void OnClose(int err) override;

private:
    MonitorSocketOwner* m_owner;
    std::size_t m_blockSize;
    std::vector<std::uint8_t> m_buffer;
    std::vector<int> m_sizes;
};
