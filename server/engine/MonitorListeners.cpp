// The start and stop of the three monitor listeners.
#include "MonitorFeedImpl.h"
#include "OrbManagerDlg.h"

namespace engine {

namespace {

// No manager exists before the first start made the feed.
MonitorFeedImpl* FeedOf(COrbManagerDlg* owner) {
    return static_cast<MonitorFeedImpl*>(owner->m_pOwnedMonitorFeed.get());
}

} // namespace

void COrbManagerDlg::StartMonitorListeners() {
    StartMsgMonitorListener();
    StartSMDRUCDMonitorListener();
    StartSMDRUCDSendListener();
}

void COrbManagerDlg::StopMonitorListeners() {
    StopMsgMonitorListener();
    StopSMDRUCDMonitorListener();
    StopSMDRUCDSendListener();
}

void COrbManagerDlg::StartMsgMonitorListener() {
    MonitorFeedImpl::Of(this).StartListener(m_pMsgMonitorManager, m_bMsgMonitorListenerActive,
                                            m_bUseMsgMonitor, m_nMsgMonitorListenPortNo);
}

void COrbManagerDlg::StartSMDRUCDMonitorListener() {
    MonitorFeedImpl::Of(this).StartListener(m_pSmdrMonitorManager, m_bSmdrMonitorListenerActive,
                                            m_bUseSMDRUCDMonitor, m_nSMDRUCDMonitorListenPortNo);
}

void COrbManagerDlg::StartSMDRUCDSendListener() {
    MonitorFeedImpl::Of(this).StartListener(m_pSmdrSendManager, m_bSendListenerActive,
                                            m_bUseSMDRUCDSend, m_nSMDRUCDSendListenPortNo);
}

void COrbManagerDlg::StopMsgMonitorListener() {
    if (MonitorFeedImpl* feed = FeedOf(this))
        feed->StopListener(m_pMsgMonitorManager, m_bMsgMonitorListenerActive);
}

void COrbManagerDlg::StopSMDRUCDMonitorListener() {
    if (MonitorFeedImpl* feed = FeedOf(this))
        feed->StopListener(m_pSmdrMonitorManager, m_bSmdrMonitorListenerActive);
}

void COrbManagerDlg::StopSMDRUCDSendListener() {
    if (MonitorFeedImpl* feed = FeedOf(this))
        feed->StopListener(m_pSmdrSendManager, m_bSendListenerActive);
}

} // namespace engine
