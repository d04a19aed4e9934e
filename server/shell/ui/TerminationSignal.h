#pragma once

#include <platform/ui/WindowStopSignal.h>

#include <QObject>

#include <memory>

namespace shell {

// SIGTERM and SIGINT as a Qt signal on the thread that made the object, once every box open has
// been told to close (and each one opening later closes at once); trouble setting them up goes to
// the trace. One object at a time; the previous handlers come back when it is destroyed.
class TerminationSignal : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignal(QObject* parent = nullptr);
    ~TerminationSignal() override;

    // False when the pipe or a handler could not be set up (another object holds them, say);
    // the signals then keep their previous handling.
    bool IsInstalled() const { return m_stop->IsInstalled(); }

signals:
    void Received(int signalNumber);

private:
    std::unique_ptr<platform::WindowStopSignal> m_stop;
};

} // namespace shell
