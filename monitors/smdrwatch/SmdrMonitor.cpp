#include "SmdrMonitor.h"

#include <common/MonitorTexts.h>

#include <cstdio>

#include <platform/DebugOutput.h>

namespace {

LogRing::Texts LogTexts(const std::string& name) {
    return {[name](const std::string& path, const std::string& time) {
                return ">>>>> " + name + " Log File : " + path + ", Open Time : " + time +
                       " <<<<<\n";
            },
            [name](const std::string& time) {
                return ">>>>> " + name + " Log File Closed Time : " + time + "\n";
            },
            [name](const std::string& reason) {
                return "[ERROR] " + name + " Log File Open Error : " + reason;
            }};
}

} // namespace

std::string SmdrRecordText(const std::uint8_t* body, int length) {
    std::string text;
    if (length < 9)
        return text;
    const int n = std::min<int>(body[8], length - 9);
    text.reserve(static_cast<std::size_t>(n));
    const std::uint8_t* begin = body + 9;
    for (int i = 0; i < n; ++i) {
        if (begin[i] == 0x0A && i + 1 < n && begin[i + 1] == 0x0D)
            break;
        if (begin[i] != 0)
            text += static_cast<char>(begin[i]);
    }
    return text;
}

SmdrMonitor::SmdrMonitor(MonitorView& view, long logSizeLimit)
    : MonitorCore(MonitorKind::Smdr, view, kReceiveBuffer),
      m_smdrLog("smdr", LogTexts("SMDR"), logSizeLimit),
      m_ucdLog("ucd", LogTexts("UCD"), logSizeLimit) {}

SmdrMonitor::~SmdrMonitor() {
    CloseLogs();
}

void SmdrMonitor::HandleRecord(const std::uint8_t* body, int length) {
    // Only SMDR and UCD records belong in these lists.
    const bool smdr = body[0] == 'Z';
    if (!smdr && body[0] != 'U')
        return;
    std::string text = SmdrRecordText(body, length);
    std::string time = TimeText();
    if (smdr) {
        if (m_settings.useSmdrFileSave)
            AppendLog(m_smdrLog, time, text, "\n");
        AddListRow(kSmdrList, m_smdrRows, std::move(time), std::move(text), 0);
    } else {
        if (m_settings.useUcdFileSave)
            AppendLog(m_ucdLog, time, text, "\n\n");
        AddListRow(kUcdList, m_ucdRows, std::move(time), std::move(text), 0);
    }
}

void SmdrMonitor::AppendLog(LogRing& log, const std::string& time, const std::string& text,
                            const char* end) {
    m_line.clear();
    m_line += '[';
    m_line += time;
    m_line += "] ";
    m_line += text;
    m_line += end;
    if (log.Append(m_line, time) == LogRing::WriteResult::RotateFailed)
        m_view.ShowMessage(kStrLogFailed);
}

void SmdrMonitor::FlushLogs() {
    m_smdrLog.Flush();
    m_ucdLog.Flush();
}

void SmdrMonitor::OpenLog(LogRing& log) {
    if (log.IsOpen() || log.Open(m_settings.installedPath, TimeText()))
        return;
    // The records still reach the lists; the user learns why the file gets none.
    std::fprintf(stderr, "smdrwatch: no log: %s\n", log.ErrorText().c_str());
    m_view.ShowMessage(kStrLogFailed, log.ErrorText());
}

void SmdrMonitor::OpenLogs() {
    if (m_settings.useSmdrFileSave)
        OpenLog(m_smdrLog);
    if (m_settings.useUcdFileSave)
        OpenLog(m_ucdLog);
}

void SmdrMonitor::CloseLogs() {
    m_smdrLog.Close(TimeText());
    m_ucdLog.Close(TimeText());
}

void SmdrMonitor::ApplyLogSwitches() {
    if (m_settings.useSmdrFileSave)
        OpenLog(m_smdrLog);
    else
        m_smdrLog.Close(TimeText());
    if (m_settings.useUcdFileSave)
        OpenLog(m_ucdLog);
    else
        m_ucdLog.Close(TimeText());
}

void SmdrMonitor::ShowSwitchFields() {
    m_view.SetText(kIdFileSaveField, OnOff(m_settings.useSmdrFileSave));
    m_view.SetText(kIdUcdFileSaveField, OnOff(m_settings.useUcdFileSave));
}

void SmdrMonitor::ReportConnection(const std::string& text) {
    platform::DebugOutput(text);
}
