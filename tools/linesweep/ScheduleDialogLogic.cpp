#include "ScheduleDialogLogic.h"
#include "LineSweepText.h"

#include "LineSweepStrings.h"

#include <platform/Registry.h>

#include <cctype>
#include <cstdio>

namespace linesweep {
namespace {

std::vector<std::string> Steps(int count, int step) {
    std::vector<std::string> items;
    for (int i = 0; i < count; ++i) {
        char text[8];
        std::snprintf(text, sizeof text, "%02d", i * step);
        items.emplace_back(text);
    }
    return items;
}

} // namespace

const std::vector<std::string>& ScheduleDialogLogic::HourItems() {
    static const std::vector<std::string> items = Steps(24, 1);
    return items;
}

const std::vector<std::string>& ScheduleDialogLogic::MinuteItems() {
    static const std::vector<std::string> items = Steps(12, 5);
    return items;
}

int ScheduleDialogLogic::IndexOf(const std::vector<std::string>& items, const std::string& text) {
    if (text.empty()) {
        return -1;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] == text) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool ScheduleDialogLogic::OnInitDialog() {
    CTAPILine& tapi = main_.Tapi();
    bool ready = true;
    if (!tapi.IsInitialised()) {
        if (tapi.InitializeTapi() != 0) {
            ready = false;
        } else {
            appOpenedHere_ = true;
            if (tapi.GetDeviceList() != 0) {
                tapi.ShutDown();
                appOpenedHere_ = false;
                ready = false;
            }
        }
    } else if (!tapi.HasDeviceList()) {
        ready = tapi.GetDeviceList() == 0;
        listBuiltHere_ = ready;
    }
    if (!ready) {
        main_.Ui().MessageBox(LoadString(IDS_DEVLIST_FAILED), MessageIcon::Hand);
        return false;
    }
    LoadSchedule(stored_);
    // Only the maker's named lines can be chosen: an empty name would mean every line.
    lineItems_ = tapi.LineNames();
    lineItems_.push_back(kAllLines);
    return true;
}

ScheduleDialogLogic::Focus ScheduleDialogLogic::OnOK(const Controls& controls) {
    LineSweepSchedule next = stored_;
    next.scheduled = controls.scheduled;
    const struct {
        const std::optional<std::string>& selected;
        std::string& field;
        const char* warning;
        Focus focus;
    } boxes[] = {{controls.line, next.line, kSelectLine, Focus::Line},
                 {controls.hour, next.hour, kSelectHour, Focus::Hour},
                 {controls.minute, next.minute, kSelectMinute, Focus::Minute}};
    for (const auto& box : boxes) {
        if (box.selected) {
            box.field = Trim(*box.selected);
        } else if (controls.scheduled) {
            main_.Ui().MessageBox(box.warning, MessageIcon::Exclamation);
            return box.focus;
        }
    }
    if (!SaveSchedule(next)) {
        // Nothing is written; a file that does not read must not pass for a saved schedule.
        if (const std::string fault = platform::RegistryFileFault(); !fault.empty()) {
            main_.ReportRegistryProblem(RegistryFileFaultMessage(fault), MessageIcon::Hand);
        }
    }
    stored_ = next;
    // What this dialog opened stays open for later clears.
    appOpenedHere_ = false;
    listBuiltHere_ = false;
    return Focus::None;
}

ScheduleDialogLogic::Focus
ScheduleDialogLogic::OnImmediately(const std::optional<std::string>& line) {
    if (!line) {
        main_.Ui().MessageBox(kSelectLine, MessageIcon::Exclamation);
        return Focus::Line;
    }
    main_.ClearCallsOnLine(*line, false);
    return Focus::None;
}

void ScheduleDialogLogic::OnCancel() {
    CTAPILine& tapi = main_.Tapi();
    if (appOpenedHere_) {
        tapi.ShutDown();
    } else if (listBuiltHere_) {
        tapi.ReleaseDeviceList();
    }
    appOpenedHere_ = false;
    listBuiltHere_ = false;
}

} // namespace linesweep
