#include "LineSweepController.h"
#include "LineSweepText.h"

#include "LineSweepStrings.h"

#include <platform/DebugOutput.h>
#include <platform/Registry.h>

#include <cctype>
#include <cstdio>

namespace linesweep {
namespace {

std::string TwoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

} // namespace

LineSweepController::LineSweepController(LineSweepUi& ui, Clock clock, TapiBinding& tapi)
    : ui_(ui), clock_(std::move(clock)), tapi_(tapi) {
    tapi_.SetBeep([this] { ui_.Beep(); });
    if (const std::string fault = platform::RegistryFileFault(); !fault.empty()) {
        ReportRegistryProblem(RegistryFileFaultMessage(fault), MessageIcon::Hand);
    } else if (!EnsureScheduleKey()) {
        ReportRegistryProblem(std::string(kRegistryKeyFailed) + platform::RegKey::LastErrorText(),
                              MessageIcon::None);
    }
}

void LineSweepController::ReportRegistryProblem(const std::string& text, MessageIcon icon) {
    platform::DebugOutput("linesweep: " + text + "\n");
    ui_.MessageBox(text, icon);
}

void LineSweepController::OnTimer(int timerId) {
    if (timerId != kTimerId) {
        return;
    }
    const QDateTime now = Now();
    const std::string hour = TwoDigits(now.time().hour());
    const std::string minute = TwoDigits(now.time().minute());
    LineSweepSchedule schedule;
    if (!LoadSchedule(schedule) || !schedule.scheduled || schedule.line.empty() ||
        !EqualNoCase(hour, schedule.hour) || !EqualNoCase(minute, schedule.minute)) {
        return;
    }
    const QString runKey = now.toString("yyyy-MM-dd HH:mm");
    if (runKey == lastScheduledRun_) {
        return;
    }
    lastScheduledRun_ = runKey;
    if (clearing_) {
        // A clear is waiting for its reply; this one follows it instead of cutting in.
        deferredLine_ = schedule.line;
        return;
    }
    ClearCallsOnLine(schedule.line, true);
}

void LineSweepController::ClearCallsOnLine(const std::string& lineName, bool silent) {
    if (clearing_) {
        return; // reached again from the wait's event loop
    }
    clearing_ = true;
    bool listBuiltHere = false;
    bool appOpenedHere = false;
    bool ready = true;
    if (tapi_.IsInitialised() && tapi_.HasDeviceList()) {
        // ready as it is
    } else if (tapi_.IsInitialised()) {
        ready = tapi_.GetDeviceList() == 0;
        listBuiltHere = ready;
    } else if (tapi_.InitializeTapi() != 0) {
        ready = false;
    } else {
        appOpenedHere = true;
        if (tapi_.GetDeviceList() != 0) {
            tapi_.ShutDown();
            appOpenedHere = false;
            ready = false;
        }
    }
    if (!ready) {
        if (!silent) {
            ui_.MessageBox(LoadString(IDS_DEVLIST_FAILED), MessageIcon::Hand);
        }
    } else {
        const bool allLines = EqualNoCase(lineName, kAllLines);
        const std::string closingName = allLines ? std::string() : lineName;
        HLINE line = 0;
        bool opened = true;
        if (allLines) {
            tapi_.OpenLines("");
        } else if (tapi_.OpenLines(lineName, &line) != 0 || line == 0) {
            opened = false;
            if (!silent) {
                ui_.MessageBox(kOpenLineFailed, MessageIcon::Hand);
            }
        }
        if (opened) {
            tapi_.ReqDevSpecificDeallocateCalls(line, '0');
        }
        // Also after a failed open: a second line of the same name may have opened.
        tapi_.CloseLines(closingName);
        if (listBuiltHere) {
            tapi_.ReleaseDeviceList();
        } else if (appOpenedHere) {
            tapi_.ShutDown();
        }
    }
    clearing_ = false;
    if (!deferredLine_.empty()) {
        const std::string deferred = std::move(deferredLine_);
        deferredLine_.clear();
        ClearCallsOnLine(deferred, true);
    }
}

TrayAction LineSweepController::OnTrayNotify(unsigned iconId, unsigned mouseMessage) const {
    if (setupOpen_ || iconId != kTrayIconId) {
        return TrayAction::None;
    }
    switch (mouseMessage) {
    case kLeftButtonDown:
        return TrayAction::RestoreWindow;
    case kRightButtonUp:
        return TrayAction::ShowMenu;
    default:
        return TrayAction::None;
    }
}

int LineSweepController::MillisecondsToNextTick(const QDateTime& now) {
    const QTime time = now.time();
    const int intoMinute = time.second() * 1000 + time.msec();
    return 60000 - intoMinute + 250;
}

} // namespace linesweep
