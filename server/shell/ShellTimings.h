#pragma once

namespace shell {

// The main window's timer periods and waits. The defaults are the server's own; tests shorten
// them.
struct ShellTimings {
    int secondTimerMs = 1000;     // timer 1: counters and requested restarts
    int livenessTimerMs = 60000;  // timer 8: the engine threads are alive
    int recoveryMinuteMs = 60000; // timer 99 runs AutoRecoverTimePeriod of these
    int firCheckSecondMs = 1000;  // timer 9 runs m_nFirCheckInterval of these
    int waitTickMs = 500;         // the download wait dialog's tick
    int firStartWaitMs = 5000;    // answer to the setup-tool start request
    int tracerReadyWaitMs = 1000; // the tracer thread's ready event
};

} // namespace shell
