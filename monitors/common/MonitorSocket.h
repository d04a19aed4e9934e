#pragma once

#include <platform/AsyncSocket.h>

#include <cstdint>
#include <vector>

// The dialog side of a monitor connection.
class MonitorSocketOwner {
public:
    virtual ~MonitorSocketOwner() = default;
    virtual void ParseMonitorRecords(const std::uint8_t* bytes, int count) = 0;
    virtual void OnServerClosed() = 0;
};

// A monitor's connection to the server: each receive notification takes one block of at most
// the buffer's size and hands it to the owner; the server's close is passed on once.
class MonitorSocket : public platform::AsyncSocket {
public:
    MonitorSocket(MonitorSocketOwner* owner, std::size_t bufferSize);
    ~MonitorSocket() override;

protected:
    void OnReceive(int err) override;
    void OnClose(int err) override;

private:
    MonitorSocketOwner* m_owner;
    std::vector<std::uint8_t> m_buffer;
};
