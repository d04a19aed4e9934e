#pragma once

#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace platform {

// SIGTERM and SIGINT as a call on the thread that made the object, from its event loop: the
// handler only writes the signal number into a pipe that a socket notifier reads. One object at
// a time; the previous handlers come back when it is destroyed.
class StopSignal {
public:
    using Handler = std::function<void(int signalNumber)>;
    // Told why the signals could not be watched.
    using Report = std::function<void(const std::string& text)>;

    explicit StopSignal(Handler onSignal, const Report& report = {});
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // False when the pipe or a handler could not be set up (another object holds them, say):
    // the signals then keep their previous handling.
    bool IsInstalled() const { return m_notifier != nullptr; }

private:
    void OnReadable();

    Handler m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace platform
