#pragma once

#include <functional>
#include <string>

// The switch window's counters and its message trace box, kept apart from the widgets so the
// handlers and tests can read them.
struct SentEventCounters {
    double offering = 0; // 'D'
    double dialTone = 0; // 'I'
    double held = 0;     // 'H'
    double answer = 0;   // 'E' and 'R'
    double hookOn = 0;   // 'N'
};

class SimTrace {
public:
    // While the trace flag is set, appends the text, first emptying a box that holds more than
    // 2000 characters.
    void AppendSwitchLog(const std::string& text);
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool on) { m_enabled = on; }
    const std::string& Text() const { return m_text; }
    void Clear() { m_text.clear(); }

    // Log lines that are not part of the trace box: "[Error Report] ", "[Call Report] " ...
    // (the window's log list shows them).
    void AddLogLine(const std::string& line);
    void SetLogSink(std::function<void(const std::string&)> sink) { m_logSink = std::move(sink); }

    double totalSent = 0;
    SentEventCounters sent;
    double totalReceived = 0;

    // Called after every change of a counter or of the text, so a view can refresh.
    std::function<void()> changed;

private:
    bool m_enabled = false;
    std::string m_text;
    std::function<void(const std::string&)> m_logSink;
};
