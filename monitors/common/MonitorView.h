#pragma once

#include "MonitorSettings.h"

#include <string>
#include <vector>

// One row of a monitor's list.
struct MonitorRow {
    std::string time;
    std::string text;
    int image = 0;
};

// What a monitor's main dialog logic asks of its window. Tests stand a recording view in.
class MonitorView {
public:
    virtual ~MonitorView() = default;

    // The language library's text for a string id.
    virtual std::string Text(unsigned id) const = 0;
    // A message box with the text of the id.
    virtual void ShowMessage(unsigned id) = 0;
    // The same box with a line that says what failed.
    virtual void ShowMessage(unsigned id, const std::string& detail) {
        (void)detail;
        ShowMessage(id);
    }
    // The OK/Cancel question of the id (Cancel the default); true for OK.
    virtual bool Ask(unsigned id) = 0;
    virtual void SetText(int controlId, const std::string& text) = 0;
    virtual void EnableControl(int controlId, bool enabled) = 0;
    virtual void AddRow(int listId, const std::string& time, const std::string& text,
                        int image) = 0;
    // The rows of one read of the socket, in order, after the rows already there.
    virtual void AddRows(int listId, const std::vector<MonitorRow>& rows) {
        for (const MonitorRow& row : rows)
            AddRow(listId, row.time, row.text, row.image);
    }
    virtual void ClearRows(int listId) = 0;
    // Runs the configuration dialog over `current`; on OK `edited` holds the checked values.
    virtual bool RunConfig(const MonitorSettings& current, MonitorSettings& edited) = 0;
};
