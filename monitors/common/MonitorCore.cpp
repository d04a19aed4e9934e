#include "MonitorCore.h"

#include "MonitorConnection.h"
#include "MonitorTexts.h"

#include <platform/DebugOutput.h>

#include <unistd.h>

MonitorCore::MonitorCore(MonitorKind kind, MonitorView& view, std::size_t receiveBuffer)
    : m_kind(kind), m_view(view), m_settings(MonitorSettings::Defaults(kind)),
      m_receiveBuffer(receiveBuffer),
      m_assembler(
          protocol::RecordAssembler::BadLengthPolicy::DropBuffered,
          [this](const protocol::CtiRecord& record) {
              HandleRecord(record.Body().data(), record.Length());
          },
          [](std::uint16_t) {
              platform::DebugOutput(
                  "This Message Length is more than 400 bytes. Someting Wrong!!!\n");
          },
          protocol::CtiRecord::kMaxSentBodyLength),
      m_clock([] { return MonitorClock::Now(); }) {}

MonitorCore::~MonitorCore() {
    CloseSocket();
}

void MonitorCore::Initialise() {
    if (!LoadMonitorSettings(m_kind, m_settings))
        m_view.ShowMessage(kStrSettingsReadFailed);
    ShowFields();
    m_view.SetText(kIdLinkField, m_view.Text(kStrDisconnected));
    SetButtons();
    if (m_settings.IsUnconfigured())
        OnConfig();
}

void MonitorCore::ShowFields() {
    m_view.SetText(kIdAddressField, m_settings.serverAddress);
    m_view.SetText(kIdPortField, std::to_string(m_settings.port));
    m_view.SetText(kIdAutoClearField, OnOff(m_settings.useAutoClear));
    ShowSwitchFields();
}

// Start only without a connection (a second one would hold a second of the server's monitor
// places), and only once an address is configured; Stop only with a connection.
void MonitorCore::SetButtons() {
    m_view.EnableControl(kIdConfig, true);
    m_view.EnableControl(kIdStart, !IsConnected() && !m_settings.IsUnconfigured());
    m_view.EnableControl(kIdStop, IsConnected());
}

std::string MonitorCore::OnOff(bool on) const {
    return m_view.Text(on ? kStrOn : kStrOff);
}

void MonitorCore::OnStartMonitor() {
    if (IsConnected())
        return;
    // The start request has room for six characters, and the server accepts four to six.
    if (!IsValidPassCode(m_settings.passCode)) {
        m_view.ShowMessage(kStrBadPassCode);
        return;
    }
    OpenLogs();
    const ConnectReports reports{ErrorTag(), InfoPrefix(),
                                 [this](const std::string& text) { ReportConnection(text); }};
    const int fd = ConnectToMonitorServer(m_settings.serverAddress, m_settings.port, reports);
    if (fd < 0) {
        m_view.ShowMessage(kStrConnectFailed);
        return;
    }
    auto socket = std::make_unique<MonitorSocket>(this, m_receiveBuffer);
    if (!socket->Attach(fd)) {
        ::close(fd);
        ReportConnection(std::string(ErrorTag()) +
                         " failed to create a CSocket instance form a handle\n");
        m_view.ShowMessage(kStrConnectFailed);
        return;
    }
    m_socket = std::move(socket);
    m_assembler.Reset();
    const std::vector<std::uint8_t> request = BuildMonitorStartRequest(m_settings.passCode);
    m_socket->Send(request.data(), static_cast<int>(request.size()));
    m_view.SetText(kIdLinkField, m_view.Text(kStrConnected));
    SetButtons();
}

void MonitorCore::CloseSocket() {
    if (m_socket == nullptr)
        return;
    m_socket->Close();
    m_retired = std::move(m_socket);
    m_assembler.Reset();
}

void MonitorCore::OnStopMonitor() {
    CloseLogs();
    CloseSocket();
    m_view.SetText(kIdLinkField, m_view.Text(kStrDisconnected));
    SetButtons();
}

void MonitorCore::OnServerClosed() {
    m_view.ShowMessage(kStrServerClosed);
    OnStopMonitor();
}

void MonitorCore::FeedBlock(const std::uint8_t* bytes, int count) {
    if (count > 0)
        m_assembler.Feed(protocol::ByteView(bytes, static_cast<std::size_t>(count)));
}

void MonitorCore::ParseMonitorRecords(const std::uint8_t* bytes, int count) {
    FeedBlock(bytes, count);
    EndBatch();
}

void MonitorCore::ParseMonitorBlocks(const std::uint8_t* bytes, const std::vector<int>& sizes) {
    // Each block on its own, as a length that cannot be drops only the rest of its block.
    for (const int size : sizes) {
        FeedBlock(bytes, size);
        bytes += size;
    }
    EndBatch();
}

void MonitorCore::EndBatch() {
    for (PendingRows& pending : m_pending) {
        if (pending.cleared)
            m_view.ClearRows(pending.listId);
        if (!pending.rows.empty())
            m_view.AddRows(pending.listId, pending.rows);
        pending.cleared = false;
        pending.rows.clear();
    }
    FlushLogs();
}

void MonitorCore::OnConfig() {
    MonitorSettings edited;
    if (m_view.RunConfig(m_settings, edited)) {
        const int language = m_settings.language;
        m_settings = edited;
        if (edited.language != language)
            m_view.ShowMessage(kStrLanguageChanged);
        ShowFields();
        ApplyLogSwitches();
        if (!SaveMonitorSettings(m_kind, m_settings))
            m_view.ShowMessage(kStrSettingsSaveFailed);
        ShowFields(); // the save may have limited the count
    }
    SetButtons();
}

bool MonitorCore::OnEnd() {
    if (!m_view.Ask(kStrQuitQuestion))
        return false;
    Shutdown();
    return true;
}

void MonitorCore::Shutdown() {
    CloseSocket();
    CloseLogs();
}

MonitorCore::PendingRows& MonitorCore::PendingFor(int listId) {
    for (PendingRows& pending : m_pending)
        if (pending.listId == listId)
            return pending;
    m_pending.push_back({listId, false, {}});
    return m_pending.back();
}

void MonitorCore::AddListRow(int listId, int& counter, std::string time, std::string text,
                             int image) {
    PendingRows& pending = PendingFor(listId);
    if (m_settings.useAutoClear && counter >= static_cast<int>(m_settings.autoClearCount)) {
        pending.rows.clear();
        pending.cleared = true;
        counter = 0;
    }
    pending.rows.push_back({std::move(time), std::move(text), image});
    ++counter;
}

void MonitorCore::ClearList(int listId, int& counter) {
    PendingRows& pending = PendingFor(listId);
    pending.rows.clear();
    pending.cleared = false;
    m_view.ClearRows(listId);
    counter = 0;
}
