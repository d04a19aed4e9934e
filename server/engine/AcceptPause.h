#pragma once

#include <platform/AsyncSocket.h>

#include <QTimer>

#include <functional>

namespace engine {

// Accepts for one listener, and keeps it from spinning when the process is out of descriptors:
// the connection that cannot be taken stays pending, so the listener would be told of it again at
// once. Instead the listener rests a moment and then tries again, and a run of such failures is
// reported once. Owning thread of the listener only.
class AcceptPause {
public:
    static constexpr int kPauseMs = 250;
    // Room for a burst of connects while the window thread is busy; a short queue makes the
    // kernel drop connects, which the peers then retry only after a second or more.
    static constexpr int kListenBacklog = 1024;

    explicit AcceptPause(platform::AsyncSocket& listener);
    AcceptPause(const AcceptPause&) = delete;
    AcceptPause& operator=(const AcceptPause&) = delete;

    // The listener's Accept; a failure for lack of descriptors or buffers pauses the listener.
    bool Accept(platform::AsyncSocket& into);
    // Calls acceptOne, which makes one Accept, until nothing is pending any more, the listener
    // pauses, or a backlog's worth was taken (the listener is told of the rest at once). One
    // notice of the listener so takes every connection that waits.
    void AcceptAll(const std::function<void()>& acceptOne);
    // After a failed Accept: false when nothing was pending or the failure belongs to a run
    // already reported.
    bool ReportFailure() const { return m_bReport; }
    bool Paused() const { return m_Timer.isActive(); }

    static bool IsExhaustion(int err);
    // At start: the soft limit of open descriptors raised to the hard one, so many clients fit.
    static void RaiseDescriptorLimit();

private:
    platform::AsyncSocket& m_Listener;
    QTimer m_Timer;
    bool m_bInRun = false;
    bool m_bReport = true;
    bool m_bMore = false; // the last Accept leaves more to take
};

} // namespace engine
