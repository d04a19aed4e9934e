#include "SwitchMonitor.h"

#include <common/MonitorTexts.h>
#include <platform/SingleInstance.h>

#include <cstdio>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHex(std::string& out, std::uint8_t byte) {
    const char item[3] = {kHexDigits[byte >> 4], kHexDigits[byte & 0x0F], ' '};
    out.append(item, 3);
}

void AppendQuoted(std::string& out, std::uint8_t byte) {
    const char item[4] = {'\'', static_cast<char>(byte), '\'', ' '};
    out.append(item, 4);
}

void AppendSwitchLogDump(std::string& out, const std::uint8_t* bytes, int count, bool toSwitch) {
    if (count <= 0)
        return;
    out += toSwitch ? "==>> [SW] " : "<<== [SW] ";
    AppendQuoted(out, bytes[0]);
    for (int i = 1; i < count; ++i)
        AppendHex(out, bytes[i]);
}

} // namespace

std::string SwitchRowText(const std::uint8_t* body, int length) {
    std::string text;
    text.reserve(static_cast<std::size_t>(length > 0 ? length : 0) * 3 + 2);
    for (int i = 0; i < length; ++i) {
        const bool letter = IsFromSwitch(body[i]);
        if (i == 0) {
            if (letter)
                AppendQuoted(text, body[i]);
        } else if (i == 1 && letter) {
            AppendQuoted(text, body[i]);
        } else {
            AppendHex(text, body[i]);
        }
    }
    return text;
}

std::string SwitchLogDump(const std::uint8_t* bytes, int count, bool toSwitch) {
    std::string dump;
    AppendSwitchLogDump(dump, bytes, count, toSwitch);
    return dump;
}

SwitchMonitor::SwitchMonitor(MonitorView& view, long logSizeLimit)
    : MonitorCore(MonitorKind::Switch, view, kReceiveBuffer),
      m_log("swmsg",
            {[](const std::string& path, const std::string& time) {
                 return ">>>>> Switch Message Log File : " + path + ", Open Time : " + time +
                        " <<<<<\n";
             },
             [](const std::string& time) { return "Log File Closed Time : " + time + "\n"; },
             [](const std::string& reason) { return "[ERROR] Log File Open Error : " + reason; }},
            logSizeLimit) {}

SwitchMonitor::~SwitchMonitor() {
    CloseLogs();
}

void SwitchMonitor::HandleRecord(const std::uint8_t* body, int length) {
    const bool fromSwitch = IsFromSwitch(body[0]);
    const MonitorClock now = Now();
    AddListRow(kList, m_rows, FormatSwitchListTime(now), SwitchRowText(body, length),
               fromSwitch ? kImageFromSwitch : kImageToSwitch);
    if (!m_settings.useFileSave || !m_log.IsOpen())
        return;
    const std::string time = FormatSwitchLogTime(now);
    m_line.clear();
    m_line += '[';
    m_line += time;
    m_line += "]\t";
    // A request is logged from its letter on, behind the 0x02 that leads every request.
    if (fromSwitch)
        AppendSwitchLogDump(m_line, body, length, false);
    else
        AppendSwitchLogDump(m_line, body + 1, length - 1, true);
    m_line += '\n';
    if (m_log.Append(m_line, time) == LogRing::WriteResult::RotateFailed)
        m_view.ShowMessage(kStrLogFailed);
}

void SwitchMonitor::FlushLogs() {
    m_log.Flush();
}

void SwitchMonitor::WriteSwitchLogText(const std::string& text) {
    if (m_settings.useFileSave && m_log.IsOpen())
        WriteLine(text);
}

void SwitchMonitor::WriteLine(const std::string& dump) {
    const std::string time = FormatSwitchLogTime(Now());
    if (m_log.Write("[" + time + "]\t" + dump + "\n", time) == LogRing::WriteResult::RotateFailed)
        m_view.ShowMessage(kStrLogFailed);
}

void SwitchMonitor::OpenLog() {
    if (m_log.IsOpen() || m_log.Open(m_settings.installedPath, FormatSwitchLogTime(Now())))
        return;
    // The records still reach the list; the user learns why the file gets none.
    std::fprintf(stderr, "switchwatch: no log: %s\n", m_log.ErrorText().c_str());
    m_view.ShowMessage(kStrLogFailed, m_log.ErrorText());
}

void SwitchMonitor::OpenLogs() {
    if (m_settings.useFileSave)
        OpenLog();
}

void SwitchMonitor::CloseLogs() {
    m_log.Close(FormatSwitchListTime(Now()));
}

void SwitchMonitor::ApplyLogSwitches() {
    if (m_settings.useFileSave)
        OpenLog();
    else
        CloseLogs();
}

void SwitchMonitor::ShowSwitchFields() {
    m_view.SetText(kIdFileSaveField, OnOff(m_settings.useFileSave));
}

std::string SwitchMonitor::LockPathForRegistry(const std::string& registryPath) {
    return platform::SingleInstance::LockPathBeside(registryPath, ".switchwatch.lock");
}
