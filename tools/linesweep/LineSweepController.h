#pragma once

// The logic of linesweep's main window: the one-minute schedule check, the clearing of the
// calls on a line, and what the tray icon's clicks do. The window shows what it decides.

#include "LineSweepSchedule.h"
#include "TAPILine.h"

#include <QDateTime>

#include <functional>
#include <string>

namespace linesweep {

enum class MessageIcon { None, Hand, Exclamation, Information };

// What the logic needs of the screen.
class LineSweepUi {
public:
    virtual ~LineSweepUi() = default;
    virtual void MessageBox(const std::string& text, MessageIcon icon) = 0;
    virtual void Beep() = 0;
};

enum class TrayAction { None, RestoreWindow, ShowMenu };

class LineSweepController {
public:
    static constexpr int kTimerId = 6291;
    static constexpr unsigned kTrayIconId = 128;
    static constexpr unsigned kTrayMessage = 0x400 + 10;
    static constexpr unsigned kLeftButtonDown = 0x201;
    static constexpr unsigned kRightButtonUp = 0x205;

    using Clock = std::function<QDateTime()>;

    // Opens the schedule key, creating it when missing (a message when that fails).
    explicit LineSweepController(LineSweepUi& ui, Clock clock = {},
                                 TapiBinding& tapi = TapiBinding::Module());

    CTAPILine& Tapi() { return tapi_; }
    LineSweepUi& Ui() { return ui_; }
    QDateTime Now() const { return clock_ ? clock_() : QDateTime::currentDateTime(); }

    // Runs the stored schedule when its minute has come, at most once for that day and time.
    void OnTimer(int timerId);
    // silent: from the timer (nothing shown); otherwise from "Immediately".
    void ClearCallsOnLine(const std::string& lineName, bool silent);
    TrayAction OnTrayNotify(unsigned iconId, unsigned mouseMessage) const;

    void SetSetupOpen(bool open) { setupOpen_ = open; }

    // A registry file or key that fails: on standard error as well as in the box, since a run
    // without a screen shows no box.
    void ReportRegistryProblem(const std::string& text, MessageIcon icon);

    // Time until the next whole minute of the clock, plus a small margin, so that every
    // minute has exactly one tick.
    static int MillisecondsToNextTick(const QDateTime& now);

private:
    LineSweepUi& ui_;
    Clock clock_;
    CTAPILine tapi_;
    bool setupOpen_ = false;
    bool clearing_ = false;
    QString lastScheduledRun_; // "yyyy-MM-dd HH:mm" of the last scheduled clear
    std::string deferredLine_; // a scheduled clear that fell due during another clear
};

} // namespace linesweep
