#pragma once

#include <cstdint>
#include <vector>

// The switch side of the link as the frame builders see it: connected or not, and one send per
// whole frame. The real one is the listening TCP socket; tests supply a recorder.
class SimLinkPort {
public:
    virtual ~SimLinkPort() = default;
    virtual bool IsConnected() const = 0;
    virtual void SendFrame(const std::vector<std::uint8_t>& frame) = 0;
};
