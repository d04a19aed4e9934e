#pragma once

#include "MonitorSettings.h"
#include "MonitorSocket.h"
#include "MonitorTime.h"
#include "MonitorView.h"

#include <protocol/RecordAssembler.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The logic both monitors' main dialogs share: settings, the connection with its start request
// and record stream, the link-state and settings fields, the buttons, the configuration and the
// end. Each program adds its lists, its record handling and its logs.
class MonitorCore : public MonitorSocketOwner {
public:
    using Clock = std::function<MonitorClock()>;

    MonitorCore(MonitorKind kind, MonitorView& view, std::size_t receiveBuffer);
    ~MonitorCore() override;
    MonitorCore(const MonitorCore&) = delete;
    MonitorCore& operator=(const MonitorCore&) = delete;

    // Loads the settings (message 111 on failure), fills the fields and, while the address is
    // still the placeholder, runs the configuration at once.
    void Initialise();

    void OnStartMonitor();
    void OnStopMonitor();
    void OnConfig();
    // The End button or the window's close: true when the user confirmed and all is shut.
    bool OnEnd();
    // Closes the connection and the logs without asking (Escape, or the end confirmed).
    void Shutdown();

    // One block of the record stream: its records reach the lists and the logs before the call
    // returns.
    void ParseMonitorRecords(const std::uint8_t* bytes, int count);
    // The same for the blocks of one read, all shown and logged together.
    void ParseMonitorBlocks(const std::uint8_t* bytes, const std::vector<int>& sizes) override;
    void OnServerClosed() override;

    bool IsConnected() const { return m_socket != nullptr; }
    const MonitorSettings& Settings() const { return m_settings; }
    MonitorSettings& MutableSettings() { return m_settings; }
    // Tests fix the clock.
    void SetClock(Clock clock) { m_clock = std::move(clock); }

protected:
    // One record body of L bytes, in stream order.
    virtual void HandleRecord(const std::uint8_t* body, int length) = 0;
    virtual void OpenLogs() = 0;  // those whose switch is on and that are closed
    virtual void CloseLogs() = 0; // those that are open
    // After a configuration OK: open or close each log by its switch.
    virtual void ApplyLogSwitches() = 0;
    // Writes the lines the records of a read left held in the logs.
    virtual void FlushLogs() = 0;
    virtual void ShowSwitchFields() = 0;
    virtual void ReportConnection(const std::string& text) = 0;
    virtual const char* ErrorTag() const = 0;
    virtual const char* InfoPrefix() const = 0;

    // Adds a row to a list, first emptying the list when auto-clear is on and the count is
    // reached. The counter counts rows. The rows of one read go to the view together at its end,
    // without those that a clear within the read would take away again.
    void AddListRow(int listId, int& counter, std::string time, std::string text, int image);
    void ClearList(int listId, int& counter);
    std::string OnOff(bool on) const;
    MonitorClock Now() const { return m_clock(); }

    MonitorKind m_kind;
    MonitorView& m_view;
    MonitorSettings m_settings;

private:
    struct PendingRows {
        int listId = 0;
        bool cleared = false;
        std::vector<MonitorRow> rows;
    };

    void FeedBlock(const std::uint8_t* bytes, int count);
    // The rows and log lines of the records handled so far reach the view and the files.
    void EndBatch();
    PendingRows& PendingFor(int listId);
    void ShowFields();
    void SetButtons();
    void CloseSocket();

    std::size_t m_receiveBuffer;
    std::unique_ptr<MonitorSocket> m_socket;
    // The last closed socket: it may be the one whose notification is running, so it is kept
    // until the next close or the end of the logic.
    std::unique_ptr<MonitorSocket> m_retired;
    protocol::RecordAssembler m_assembler;
    Clock m_clock;
    std::vector<PendingRows> m_pending; // one for each list
};
