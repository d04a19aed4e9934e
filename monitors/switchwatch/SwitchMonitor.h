#pragma once

#include <common/LogRing.h>
#include <common/MonitorCore.h>

#include <string>

// A message body as the list shows it: a letter in byte 0 or 1 (0x41..0x7A) as 'c', every other
// byte as two hex digits, each item followed by a blank; a byte 0 outside the letters is left out.
std::string SwitchRowText(const std::uint8_t* body, int length);
// The log's dump: "<<== [SW] 'c' " (from the switch) or "==>> [SW] 'c' " (to it) for the first
// byte given, then every further byte in hex.
std::string SwitchLogDump(const std::uint8_t* bytes, int count, bool toSwitch);
// A body led by a letter is an event from the switch; anything else a request to it.
inline bool IsFromSwitch(std::uint8_t first) {
    return first >= 0x41 && first <= 0x7A;
}

// switchwatch's main dialog logic: one list of the switch traffic with its direction, one log.
class SwitchMonitor : public MonitorCore {
public:
    static constexpr std::size_t kReceiveBuffer = 8192;
    static constexpr int kList = 1000;
    static constexpr int kImageFromSwitch = 0;
    static constexpr int kImageToSwitch = 1;
    // One switchwatch per registry file: "<registry path>.switchwatch.lock".
    static std::string LockPathForRegistry(const std::string& registryPath);
    // Starts the name of the local socket on which the first copy is asked to come forward.
    static constexpr const char* kInstanceNamePrefix = "switchwatch-";

    explicit SwitchMonitor(MonitorView& view, long logSizeLimit = LogRing::kSizeLimit);
    ~SwitchMonitor() override;

    void OnClearList() { ClearList(kList, m_rows); }
    // A line of text into the log, while logging is on and the log is open.
    void WriteSwitchLogText(const std::string& text);

protected:
    void HandleRecord(const std::uint8_t* body, int length) override;
    void OpenLogs() override;
    void CloseLogs() override;
    void ApplyLogSwitches() override;
    void FlushLogs() override;
    void ShowSwitchFields() override;
    void ReportConnection(const std::string& text) override { WriteSwitchLogText(text); }
    const char* ErrorTag() const override { return "[ERROR]"; }
    const char* InfoPrefix() const override { return ""; }

private:
    void WriteLine(const std::string& dump);
    void OpenLog();

    int m_rows = 0;
    LogRing m_log;
    std::string m_line; // the log line being made, its room kept
};
