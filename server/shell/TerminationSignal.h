#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM and SIGINT as a Qt signal on the thread that made the object: the handler only writes
// the signal number into a pipe, which a socket notifier reads in the event loop. One object at a
// time; the previous handlers come back when it is destroyed.
class TerminationSignal : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignal(QObject* parent = nullptr);
    ~TerminationSignal() override;

    // False when the pipe or a handler could not be set up (another object holds them, say);
    // the signals then keep their previous handling.
    bool IsInstalled() const { return m_bInstalled; }

signals:
    void Received(int signalNumber);

private:
    void OnReadable();

    QSocketNotifier* m_pNotifier = nullptr;
    bool m_bInstalled = false;
};
