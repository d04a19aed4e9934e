#pragma once

#include <platform/AsyncSocket.h>

#include <QTimer>

// Accepts for one listener, and keeps it from spinning when the process is out of descriptors:
// the connection that cannot be taken stays pending, so the listener would be told of it again at
// once. Instead the listener rests a moment and then tries again, and a run of such failures is
// reported once. Owning thread of the listener only.
class AcceptPause {
public:
    static constexpr int kPauseMs = 250;

    explicit AcceptPause(platform::AsyncSocket& listener);
    AcceptPause(const AcceptPause&) = delete;
    AcceptPause& operator=(const AcceptPause&) = delete;

    // The listener's Accept; a failure for lack of descriptors or buffers pauses the listener.
    bool Accept(platform::AsyncSocket& into);
    // After a failed Accept: false when the failure belongs to a run already reported.
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
};
