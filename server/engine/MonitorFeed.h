#pragma once

#include <cstdint>

// Where the engine copies switch traffic for the monitor ports.
class MonitorFeed {
public:
    virtual ~MonitorFeed() = default;
    // Requests to and events from the switch, less the link supervision (port 6001).
    virtual void SendNormalMsgToMonitor(const std::uint8_t* body, int length) = 0;
    // SMDR and UCD records (port 6002).
    virtual void SendSMDRUCDMsgToMonitor(const std::uint8_t* body, int length) = 0;
    // SMDR and UCD records as bare text (port 6003).
    virtual void SendSMDRUCDMsgToPort(const std::uint8_t* body, int length) = 0;
};
