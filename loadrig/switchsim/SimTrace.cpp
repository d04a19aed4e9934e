#include "SimTrace.h"

namespace {
constexpr std::size_t kTraceBoxLimit = 2000;
}

void SimTrace::AppendSwitchLog(const std::string& text) {
    if (!m_enabled) {
        return;
    }
    // The box is emptied rather than trimmed so that a long run never slows the window down.
    if (m_text.size() > kTraceBoxLimit) {
        m_text.clear();
    }
    m_text += text;
    if (changed) {
        changed();
    }
}

void SimTrace::AddLogLine(const std::string& line) {
    if (m_logSink) {
        m_logSink(line);
    }
}
