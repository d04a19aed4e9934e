#include "OrbManagerServer.h"

#include <engine/OrbIOQueue.h>
#include <engine/OrbSWEventHandler.h>
#include <engine/OrbSWServiceController.h>

#include <algorithm>
#include <utility>

namespace shell {

namespace {

constexpr int kIdsRecoveryExhausted = 213;
constexpr int kIdsNoDeviceList = 143;

} // namespace

QTimer* OrbManagerServer::TimerOf(int id) {
    return const_cast<QTimer*>(std::as_const(*this).TimerOf(id));
}

const QTimer* OrbManagerServer::TimerOf(int id) const {
    switch (id) {
    case kSecondTimer:
        return &m_secondTimer;
    case kLivenessTimer:
        return &m_livenessTimer;
    case kFirCheckTimer:
        return &m_firCheckTimer;
    case kRecoveryTimer:
        return &m_recoveryTimer;
    default:
        return nullptr;
    }
}

bool OrbManagerServer::IsTimerRunning(int id) const {
    const QTimer* timer = TimerOf(id);
    return timer != nullptr && timer->isActive();
}

void OrbManagerServer::StartTimer(int id, int periodMs) {
    QTimer* timer = TimerOf(id);
    if (timer == nullptr)
        return;
    // A period of 0 would tick on every pass of the event loop.
    timer->start(std::max(periodMs, 1));
    switch (id) {
    case kSecondTimer:
        m_nSecondTimerId = id;
        m_bSecondTimerOn = 1;
        break;
    case kLivenessTimer:
        m_nLivenessTimerId = id;
        break;
    case kFirCheckTimer:
        m_nFirCheckTimerId = id;
        break;
    case kRecoveryTimer:
        m_nAutoRecoverTimerId = id;
        m_bAutoRecoverTimerOn = 1;
        break;
    default:
        break;
    }
}

void OrbManagerServer::KillTimer(int id) {
    QTimer* timer = TimerOf(id);
    if (timer == nullptr)
        return;
    timer->stop();
    if (id == kSecondTimer)
        m_bSecondTimerOn = 0;
    else if (id == kRecoveryTimer)
        m_bAutoRecoverTimerOn = 0;
}

void OrbManagerServer::KillAllTimers() {
    for (int id : {kSecondTimer, kLivenessTimer, kFirCheckTimer, kRecoveryTimer})
        KillTimer(id);
}

int OrbManagerServer::LinkThreadsAlive() const {
    if (m_pIOQueue != nullptr && (!m_pIOQueue->IsReaderRunning() || !m_pIOQueue->IsWriterRunning()))
        return 0;
    if (m_pEventHandler != nullptr && m_pEventHandler->IsAlive() == 0)
        return 0;
    if (m_pServiceController != nullptr && m_pServiceController->IsAlive() == 0)
        return 0;
    return 1;
}

void OrbManagerServer::RestartLink() {
    if (m_bEnded)
        return;
    TransitionScope transition(*this);
    SwitchLinkControl(0);
    SwitchLinkControl(1);
}

void OrbManagerServer::OnTimer(int id) {
    if (m_bEnded)
        return;
    // A start or stop under way (its wait runs the event loop) is never entered again.
    if (IsInTransition()) {
        switch (id) {
        case kSecondTimer:
            m_bPendingTimer1 = true;
            return;
        case kLivenessTimer:
            m_bPendingTimer8 = true;
            return;
        case kRecoveryTimer:
            m_bPendingTimer99 = true;
            return;
        default:
            break;
        }
    }
    switch (id) {
    case kSecondTimer:
        CopyDeviceCounters();
        if (m_bRestartRequest.load() == 1) {
            TransitionScope transition(*this);
            SwitchLinkControl(0);
            m_bRestartRequest = 0;
            SwitchLinkControl(1);
        }
        break;
    case kLivenessTimer:
        if (LinkThreadsAlive() == 0) {
            m_bRestartRequest = 0;
            ++m_nRetryCount;
            RestartLink();
        }
        break;
    case kFirCheckTimer:
        if (m_pServiceController != nullptr)
            m_pServiceController->SendFirLinkCheck();
        break;
    case kRecoveryTimer:
        if (m_nRetryCount.load() < m_nAutoRecoverCount.load()) {
            ++m_nRetryCount;
            m_bRestartRequest = 0;
            RestartLink();
        } else {
            KillTimer(kRecoveryTimer);
            LogRes(1, kIdsRecoveryExhausted, false);
            LogRes(1, kIdsNoDeviceList, false);
        }
        break;
    default:
        break;
    }
}

} // namespace shell
