#pragma once

#include <common/LogRing.h>
#include <common/MonitorCore.h>

#include <string>

// The text of an SMDR or UCD record body: N = body byte 8 (cut to the body), the text from
// byte 9, ended before the first LF that is directly followed by CR; zero bytes left out.
std::string SmdrRecordText(const std::uint8_t* body, int length);

// smdrwatch's main dialog logic: the SMDR and UCD lists and their two logs.
class SmdrMonitor : public MonitorCore {
public:
    static constexpr std::size_t kReceiveBuffer = 1024;

    explicit SmdrMonitor(MonitorView& view, long logSizeLimit = LogRing::kSizeLimit);
    ~SmdrMonitor() override;

    void OnClearSmdr() { ClearList(kSmdrList, m_smdrRows); }
    void OnClearUcd() { ClearList(kUcdList, m_ucdRows); }

    const LogRing& SmdrLog() const { return m_smdrLog; }
    std::string TimeText() const { return FormatSmdrTime(Now()); }

    static constexpr int kSmdrList = 1000;
    static constexpr int kUcdList = 1020;

protected:
    void HandleRecord(const std::uint8_t* body, int length) override;
    void OpenLogs() override;
    void CloseLogs() override;
    void ApplyLogSwitches() override;
    void FlushLogs() override;
    void ShowSwitchFields() override;
    void ReportConnection(const std::string& text) override;
    const char* ErrorTag() const override { return "[Err]"; }
    const char* InfoPrefix() const override { return "[Info] "; }

private:
    void OpenLog(LogRing& log);
    // "[time] text" and `end`, held until the read's records are all handled.
    void AppendLog(LogRing& log, const std::string& time, const std::string& text, const char* end);

    int m_smdrRows = 0;
    int m_ucdRows = 0;
    LogRing m_smdrLog;
    LogRing m_ucdLog;
    std::string m_line; // the log line being made, its room kept
};
