#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

// SIGTERM and SIGINT as a call on the thread that made the object, from its event loop: the
// handler only writes into a pipe that a socket notifier reads. One object at a time; the
// previous handlers come back when it is destroyed.
class StopSignal {
public:
    explicit StopSignal(std::function<void()> onStop);
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // False when the pipe or a handler could not be set up: the signals keep their handling.
    bool IsInstalled() const { return m_notifier != nullptr; }

private:
    std::function<void()> m_onStop;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
