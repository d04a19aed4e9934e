#pragma once

#include <functional>

namespace engine {
class COrbManagerDlg;
}

namespace shell {

// The download wait of the link start: 500 ms ticks until the device list is available, the tick
// limit is passed (360 on a serial link, 240 on TCP), the start has failed or, when linkAlive is
// given, it says the link's threads have ended. The view only shows the progress and calls OnTick.
class WaitDialogModel {
public:
    explicit WaitDialogModel(const engine::COrbManagerDlg& owner,
                             std::function<bool()> linkAlive = {});

    int TickLimit() const { return m_nTickLimit; }
    int Step() const { return 20; }
    // The progress bar's position in 0..TickLimit().
    int Position() const { return m_nPosition; }
    int TickCount() const { return m_nTickCount; }

    // One tick; true once the wait has ended (and on every later call).
    bool OnTick();
    bool IsDone() const { return m_bDone; }
    // Ends the wait at its next tick (the server is told to stop).
    void Abort() { m_bAbort = true; }

private:
    const engine::COrbManagerDlg& m_owner;
    std::function<bool()> m_linkAlive;
    int m_nTickLimit;
    int m_nTickCount = 0;
    int m_nPosition = 0;
    bool m_bDone = false;
    bool m_bAbort = false;
};

} // namespace shell
