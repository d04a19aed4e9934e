#pragma once

// The logic of the setup dialog: getting the line list ready, the stored schedule shown,
// Apply, Immediately and Cancel. The dialog passes the texts of its selected items (none when
// nothing is selected).

#include "LineSweepController.h"

#include <optional>
#include <string>
#include <vector>

namespace linesweep {

class ScheduleDialogLogic {
public:
    enum class Focus { None, Line, Hour, Minute };
    struct Controls {
        bool scheduled = false;
        std::optional<std::string> line, hour, minute;
    };

    explicit ScheduleDialogLogic(LineSweepController& main) : main_(main) {}

    // False when the line list cannot be had: the message has been shown; close the dialog.
    bool OnInitDialog();

    const std::vector<std::string>& LineItems() const { return lineItems_; }
    static const std::vector<std::string>& HourItems();
    static const std::vector<std::string>& MinuteItems();
    const LineSweepSchedule& Stored() const { return stored_; }
    // Index of the stored text in the items, -1 when it is empty or not there.
    static int IndexOf(const std::vector<std::string>& items, const std::string& text);

    // Focus::None: saved, close the dialog; otherwise the warning was shown, focus that box.
    Focus OnOK(const Controls& controls);
    // Focus::Line when no line is selected (warning shown); the dialog stays open.
    Focus OnImmediately(const std::optional<std::string>& line);
    // Cancel and close: releases what this dialog opened.
    void OnCancel();

    bool LineAppOpenedHere() const { return appOpenedHere_; }

private:
    LineSweepController& main_;
    LineSweepSchedule stored_;
    std::vector<std::string> lineItems_;
    bool appOpenedHere_ = false;
    bool listBuiltHere_ = false;
};

} // namespace linesweep
