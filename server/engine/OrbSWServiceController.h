#pragma once

#include <platform/WorkerThread.h>

#include <atomic>

namespace engine {

class COrbManagerDlg;
class SerialPort;

// The thread that brings the switch link up and keeps it alive: it initialises the link as the
// link type demands, marks it up, announces the server with I-am-alive and starts the sanity
// thread; while the link is up it polls every keep-alive interval (once the download has ended),
// has dead clients purged and, on TCP, queries the first line device. It ends on a link failure,
// a failed initialisation (leaving a restart request) or a stop; the main dialog restarts the link.
//
// No thread is ever killed: every wait of the thread, the pauses of the start dialogue included,
// also waits on the stop event, so Stop ends it at once and Join then returns.
class COrbSWServiceController {
public:
    explicit COrbSWServiceController(COrbManagerDlg* owner);
    // Stops and joins the thread.
    virtual ~COrbSWServiceController();
    COrbSWServiceController(const COrbSWServiceController&) = delete;
    COrbSWServiceController& operator=(const COrbSWServiceController&) = delete;

    // 1 when the thread runs; a controller runs one thread in its life.
    int Start();
    // Asks the thread to end; it does so at its next wait. Always 1.
    int Stop();
    // Waits for the thread to end (at once when it never ran); never from the thread itself.
    void Join();
    // As Join, but gives up after the time-out; true when the thread has ended.
    bool Join(int timeoutMs);

    // 1 when the link may be marked up, 0 on failure or when a stop came first.
    int InitializeSW();

    // The setup-tool link: the start request with the system-information password, and the
    // periodic check. 0 when there is no I/O queue to take them.
    int SendFirStartRequest();
    int SendFirLinkCheck();

    // Read by the main dialog's liveness check.
    int IsAlive() const { return m_bAlive.load(); }
    int IsRunning() const { return m_bRunning.load(); }

private:
    int SupervisionLoop();
    // The link failed: logged and traced, and the thread ends for the main dialog to restart it.
    void LinkLost();
    // Marks the link up in the safe order and announces the server; false when stopped meanwhile.
    bool BringLinkUp(int connType);
    int InitializeSerial(int connType);
    // Waits on the stop event instead of sleeping; false when the stop came.
    bool Pause(int milliseconds);
    bool StopRequested();
    void PurgeRx(SerialPort& port);
    void PurgeTx(SerialPort& port);
    void End();

    COrbManagerDlg* m_pOwner;
    std::atomic<int> m_bRunning{0};
    std::atomic<int> m_bAlive{0};
    platform::WorkerThread m_Thread; // its stop event is the controller's stop event
};

} // namespace engine
