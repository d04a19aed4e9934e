#include "MonitorFeedImpl.h"

#include "MonitorConnectionManager.h"
#include "OrbManagerDlg.h"
#include "TraceLog.h"

#include <protocol/CtiRecord.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace engine {

using platform::CriticalSectionLock;

namespace {

constexpr int kMaxFramedBody = 0xFFFF;
constexpr int kTextLengthAt = 8;
constexpr int kTextAt = 9;

// [length high][length low][body]; empty when it cannot be allocated.
protocol::Bytes Frame(const std::uint8_t* body, int length) {
    try {
        return protocol::CtiRecord::Encode(
            protocol::ByteView(body, static_cast<std::size_t>(length)));
    } catch (const std::bad_alloc&) {
        return {};
    }
}

} // namespace

bool IsMonitorPortOn(const COrbManagerDlg& owner, MonitorPort port) {
    switch (port) {
    case MonitorPort::Message:
        return owner.m_bMsgMonitorListenerActive.load() == 1 && owner.m_bUseMsgMonitor.load() == 1;
    case MonitorPort::SmdrUcd:
        return owner.m_bSmdrMonitorListenerActive.load() == 1 &&
               owner.m_bUseSMDRUCDMonitor.load() == 1;
    case MonitorPort::SmdrUcdSend:
        return owner.m_bSendListenerActive.load() == 1 && owner.m_bUseSMDRUCDSend.load() == 1;
    }
    return false;
}

MonitorFeedImpl& MonitorFeedImpl::Of(COrbManagerDlg* owner) {
    if (!owner->m_pOwnedMonitorFeed) {
        auto feed = std::make_unique<MonitorFeedImpl>(owner);
        owner->m_pMonitorFeed = feed.get();
        owner->m_pOwnedMonitorFeed = std::move(feed);
    }
    return static_cast<MonitorFeedImpl&>(*owner->m_pOwnedMonitorFeed);
}

MonitorFeedImpl::~MonitorFeedImpl() {
    StopListener(m_pOwner->m_pMsgMonitorManager, m_pOwner->m_bMsgMonitorListenerActive);
    StopListener(m_pOwner->m_pSmdrMonitorManager, m_pOwner->m_bSmdrMonitorListenerActive);
    StopListener(m_pOwner->m_pSmdrSendManager, m_pOwner->m_bSendListenerActive);
    MonitorFeed* self = this;
    m_pOwner->m_pMonitorFeed.compare_exchange_strong(self, nullptr);
}

void MonitorFeedImpl::StartListener(MonitorConnectionManager*& manager, std::atomic<int>& active,
                                    const std::atomic<int>& use, const std::atomic<int>& port) {
    if (manager)
        return;
    if (use.load() != 1) {
        active = 0;
        return;
    }
    auto* made = new MonitorConnectionManager(m_pOwner, m_csShared);
    {
        CriticalSectionLock shared(m_csShared);
        manager = made;
    }
    // Senders look at the flag, so it goes up only once the port listens.
    active = made->CreateMonitorListen(port.load());
}

void MonitorFeedImpl::StopListener(MonitorConnectionManager*& manager, std::atomic<int>& active) {
    MonitorConnectionManager* gone;
    {
        // Waits for a send in progress; later sends find no manager.
        CriticalSectionLock shared(m_csShared);
        gone = manager;
        manager = nullptr;
        active = 0;
    }
    if (!gone)
        return;
    gone->CloseAllMonitors();
    delete gone;
}

void MonitorFeedImpl::SendFramed(MonitorConnectionManager* const& manager, MonitorPort port,
                                 const std::uint8_t* body, int length, const char* caller,
                                 const char* portName) {
    if (!body || length <= 0 || length > kMaxFramedBody)
        return;
    CriticalSectionLock shared(m_csShared);
    if (!manager || !IsMonitorPortOn(*m_pOwner, port))
        return;
    const protocol::Bytes frame = Frame(body, length);
    if (frame.empty()) {
        TraceLog("[ERROR] Fatal Error. %s : malloc() failed. insufficient memory availabel.!!!",
                 caller);
        return;
    }
    manager->SendToMonitors(frame.data(), static_cast<int>(frame.size()), true, portName);
}

void MonitorFeedImpl::SendNormalMsgToMonitor(const std::uint8_t* body, int length) {
    SendFramed(m_pOwner->m_pMsgMonitorManager, MonitorPort::Message, body, length,
               "SendNormalMsgToMonitor", "Message Monitor");
}

void MonitorFeedImpl::SendSMDRUCDMsgToMonitor(const std::uint8_t* body, int length) {
    SendFramed(m_pOwner->m_pSmdrMonitorManager, MonitorPort::SmdrUcd, body, length,
               "SendSMDRUCDMsgToMonitor", "SMDR/UCD Monitor");
}

void MonitorFeedImpl::SendSMDRUCDMsgToPort(const std::uint8_t* body, int length) {
    if (!body || length <= kTextAt)
        return;
    // The text length byte may promise more than the record holds.
    const int textLength = std::min<int>(body[kTextLengthAt], length - kTextAt);
    if (textLength <= 0)
        return;
    CriticalSectionLock shared(m_csShared);
    MonitorConnectionManager* manager = m_pOwner->m_pSmdrSendManager;
    if (!manager || !IsMonitorPortOn(*m_pOwner, MonitorPort::SmdrUcdSend))
        return;
    std::vector<std::uint8_t> text;
    try {
        text.assign(body + kTextAt, body + kTextAt + textLength);
    } catch (const std::bad_alloc&) {
        TraceLog("[ERROR] Fatal Error. SendSMDRUCDMsgToPort : malloc() failed. insufficient "
                 "memory availabel.!!!");
        return;
    }
    manager->SendToMonitors(text.data(), textLength, m_pOwner->m_bUseProtectSMDRUCDSend.load() != 0,
                            "external SMDR/UCD");
}

} // namespace engine
