#pragma once

#include <platform/StopSignal.h>

#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

class QWidget;

namespace platform {

// StopSignal for a program with windows (library platformui). A modal box or dialog waits for a
// person who may not be there, and a stop must not wait with it: from the first SIGTERM or SIGINT
// on, every box, dialog and popup menu that is open is rejected (a question reads as unanswered),
// and so is each one that opens later, as soon as it is up. The handler is told after those that
// were open have been told to close, and ends the program in order; the windows given to KeepOpen
// (a main dialog run modally) are its to end. Without a QApplication it is a StopSignal.
class WindowStopSignal : public QObject {
public:
    using Handler = StopSignal::Handler;

    explicit WindowStopSignal(Handler onSignal = {}, const StopSignal::Report& report = {});
    ~WindowStopSignal() override;
    WindowStopSignal(const WindowStopSignal&) = delete;
    WindowStopSignal& operator=(const WindowStopSignal&) = delete;

    // A program that gets its stop path late sets it here; a signal that came before is told to
    // it at once, from the event loop.
    void SetHandler(Handler onSignal);
    void KeepOpen(QWidget* window);

    bool IsInstalled() const { return signal_->IsInstalled(); }
    // From the first signal on.
    bool IsStopping() const { return stopping_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnSignal(int signalNumber);
    bool ShouldClose(const QWidget* widget) const;
    void CloseOpenWindows() const;

    Handler onSignal_;
    std::vector<QPointer<QWidget>> kept_;
    bool stopping_ = false;
    bool watching_ = false;
    int lastSignal_ = 0;
    std::unique_ptr<StopSignal> signal_;
};

} // namespace platform
