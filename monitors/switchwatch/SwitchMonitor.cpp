#include "SwitchMonitor.h"

#include <common/MonitorTexts.h>
#include <platform/SingleInstance.h>

#include <cstdio>

namespace {

std::string Hex(std::uint8_t byte) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X ", byte);
    return text;
}

std::string Quoted(std::uint8_t byte) {
    return std::string("'") + static_cast<char>(byte) + "' ";
}

} // namespace

std::string SwitchRowText(const std::uint8_t* body, int length) {
    std::string text;
    for (int i = 0; i < length; ++i) {
        const bool letter = IsFromSwitch(body[i]);
        if (i == 0)
            text += letter ? Quoted(body[i]) : std::string();
        else if (i == 1)
            text += letter ? Quoted(body[i]) : Hex(body[i]);
        else
            text += Hex(body[i]);
    }
    return text;
}

std::string SwitchLogDump(const std::uint8_t* bytes, int count, bool toSwitch) {
    std::string dump;
    for (int i = 0; i < count; ++i) {
        if (i == 0)
            dump += std::string(toSwitch ? "==>> [SW] " : "<<== [SW] ") + Quoted(bytes[0]);
        else
            dump += Hex(bytes[i]);
    }
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
    AddListRow(kList, m_rows, FormatSwitchListTime(Now()), SwitchRowText(body, length),
               fromSwitch ? kImageFromSwitch : kImageToSwitch);
    if (!m_settings.useFileSave || !m_log.IsOpen())
        return;
    // A request is logged from its letter on, behind the 0x02 that leads every request.
    WriteLine(fromSwitch ? SwitchLogDump(body, length, false)
                         : SwitchLogDump(body + 1, length - 1, true));
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
