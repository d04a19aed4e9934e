#include "OrbManagerServer.h"

#include <engine/FormatNow.h>

namespace shell {

using namespace engine;

namespace {

// Without the automatic clear the list still never holds more than this many lines.
constexpr int kMaxLogLines = 9999;

} // namespace

void OrbManagerServer::AppendLogLine(int image, const std::string& text) {
    const std::string time = FormatNow(0);
    const int limit = m_bUseAutoClear.load() != 0 ? m_nAutoClearLineCnt.load() : kMaxLogLines;
    if (m_nLogLineCount >= limit) {
        if (m_pView)
            m_pView->ClearLogRows();
        m_nLogLineCount = 0;
    }
    if (m_pView)
        m_pView->AppendLogRow(image, time, text);
    ++m_nLogLineCount;
}

} // namespace shell
