#pragma once

#include "MonitorFeed.h"

#include <platform/CriticalSection.h>

#include <atomic>

namespace engine {

class COrbManagerDlg;
class MonitorConnectionManager;

// The monitor copies over the three monitor ports of one server. Its lock is the one the three
// managers share: it guards the owner's manager pointers and the monitor count, and every send
// holds it for its walk, so a listener cannot be stopped under a sender's feet.
class MonitorFeedImpl : public MonitorFeed {
public:
    explicit MonitorFeedImpl(COrbManagerDlg* owner) : m_pOwner(owner) {}
    // Stops the listeners still running (UI thread) and unhooks itself from the owner.
    ~MonitorFeedImpl() override;
    MonitorFeedImpl(const MonitorFeedImpl&) = delete;
    MonitorFeedImpl& operator=(const MonitorFeedImpl&) = delete;

    // Each sends to the accepted monitors of its port while its listener is active and its option
    // is 1; the send port also reaches unaccepted collectors unless UseProtectSMDRUCDSend is on.
    void SendNormalMsgToMonitor(const std::uint8_t* body, int length) override;
    void SendSMDRUCDMsgToMonitor(const std::uint8_t* body, int length) override;
    void SendSMDRUCDMsgToPort(const std::uint8_t* body, int length) override;

    // One listener of the owner, given by its members. UI thread.
    void StartListener(MonitorConnectionManager*& manager, std::atomic<int>& active,
                       const std::atomic<int>& use, const std::atomic<int>& port);
    void StopListener(MonitorConnectionManager*& manager, std::atomic<int>& active);

    // The owner's feed, made and hooked up on first use. UI thread.
    static MonitorFeedImpl& Of(COrbManagerDlg* owner);

private:
    // Frames the body and sends it to the port's accepted monitors. `manager` is read under the
    // lock, as a stop may clear it.
    void SendFramed(MonitorConnectionManager* const& manager, MonitorPort port,
                    const std::uint8_t* body, int length, const char* caller, const char* portName);

    COrbManagerDlg* m_pOwner;
    platform::CriticalSection m_csShared;
};

} // namespace engine
