#pragma once

#include <cstdint>

namespace engine {

class COrbManagerDlg;

// The three monitor ports.
enum class MonitorPort { Message, SmdrUcd, SmdrUcdSend };
// The port's listener is up and its option is on: only then is anything copied to it. The one
// place that says which flags open a port; the event handler asks before it copies, and the feed
// asks again under its lock, since a feed is also called directly.
bool IsMonitorPortOn(const COrbManagerDlg& owner, MonitorPort port);

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

} // namespace engine
