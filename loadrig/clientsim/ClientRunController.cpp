#include "ClientRunController.h"

#include <platform/DebugOutput.h>
#include <platform/Registry.h>

#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace {

// A number parser's whole-text reading; empty text is not a number.
bool ParseWhole(const std::string& text, long long& value) {
    if (text.empty()) {
        return false;
    }
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

std::string Whole(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

int Power10(int digits) {
    int value = 1;
    for (int i = 0; i < digits; ++i) {
        value *= 10;
    }
    return value;
}

} // namespace

ClientRunController::ClientRunController(QObject* parent)
    : QObject(parent), m_now([] { return QDateTime::currentDateTime(); }),
      m_assembler(
          protocol::RecordAssembler::BadLengthPolicy::DropBuffered,
          [this](const protocol::CtiRecord& record) { OnRecord(record); },
          [this](std::uint16_t length) { OnBadLength(length); }, kMaxRecordLength) {
    qRegisterMetaType<ClientMessage>();
    m_runTimer.setInterval(m_secondMs);
    m_callTimer.setInterval(m_secondMs);
    m_connectTimer.setSingleShot(true);
    connect(&m_runTimer, &QTimer::timeout, this, &ClientRunController::MyTimer_Timer);
    connect(&m_callTimer, &QTimer::timeout, this, &ClientRunController::CallTimer_Timer);
    connect(&m_connectTimer, &QTimer::timeout, this, &ClientRunController::OnConnectTimeout);
    connect(&m_socket, &ClientSocket::connected, this, &ClientRunController::OnConnected);
    connect(&m_socket, &ClientSocket::closedByPeer, this, &ClientRunController::OnClosedByPeer);
    connect(&m_socket, &ClientSocket::socketError, this, &ClientRunController::OnSocketError);
    connect(&m_socket, &ClientSocket::dataArrival, this,
            &ClientRunController::MyWinSock_DataArrival);
    Initialize_Val();
}

ClientRunController::~ClientRunController() = default;

void ClientRunController::SetSecondLength(int milliseconds) {
    m_secondMs = std::max(1, milliseconds);
    m_runTimer.setInterval(m_secondMs);
    m_callTimer.setInterval(m_secondMs);
}

void ClientRunController::SetClock(std::function<QDateTime()> now) {
    if (now) {
        m_now = std::move(now);
    }
}

void ClientRunController::SetConnectTimeout(int milliseconds) {
    m_connectTimeoutMs = std::max(1, milliseconds);
}

std::string ClientRunController::ElapsedText(double seconds) {
    const long long whole = seconds < 0 ? 0 : static_cast<long long>(seconds);
    char text[48];
    std::snprintf(text, sizeof text, "%02lld : %02lld : %02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
    return text;
}

// ---- load, quit, reset -----------------------------------------------------------------------

void ClientRunController::Initialize_Val() {
    m_settings = ClientRunSettings{};
    m_settings.clientKind = 0;
    m_elapsed = 0;
    m_counters = ClientCounters{};
    m_state = ClientWindowState{};
    m_state.editElapsedTime.text.clear();
}

void ClientRunController::Form_Load() {
    m_registered = false;
    DisableRunTimer();
    DisableCallTimer();
    Initialize_Val();

    const ClientSettingsStoreResult stored = LoadClientSettings(m_settings);
    if (stored.keyCreated) {
        Show(ClientKeyCreatedMessage(), kClientKeyCreatedTitle);
    }
    if (!stored.ok) {
        const std::string fault = platform::RegistryFileFault();
        const std::string why = fault.empty() ? platform::RegKey::LastErrorText() : fault;
        // Also on standard error, where a run without a screen is read.
        platform::DebugOutput("loadrig client: The settings could not be read; the defaults are "
                              "used: " +
                              why + "\n");
        Show("The settings cannot be read; the defaults are used and nothing is saved.\n\n" +
             (fault.empty() ? why : "Registry file: " + fault));
    }

    m_state.ConnIPAddr.text = m_settings.serverAddress;
    m_state.ConnPortNo.text = std::to_string(m_settings.serverPort);
    m_state.cmboTelNoSize.index = m_settings.telSizeIndex;
    m_state.cmboPortCnt.index = m_settings.portCountIndex;
    m_state.cmboIdleTime.index = m_settings.idleDelayIndex;
    m_state.cmboMakeDelaytime.index = m_settings.makeDelayIndex;
    m_state.cmboConnDelay.index = m_settings.connDelayIndex;
    m_state.cmboHoldDelay.index = m_settings.holdDelayIndex;
    const int digits = ClientListValue(kListTelSize, m_settings.telSizeIndex);
    m_state.editCallerStartTelNo.text = m_settings.callerStartText;
    m_state.editCalleeStartTelNo.text = m_settings.calleeStartText;
    m_state.editCallerStartTelNo.maxLength = digits;
    m_state.editCalleeStartTelNo.maxLength = digits;

    m_state.chkMakeCall = {"", false, true};
    m_state.chkDropCall = {"", false, true};
    m_state.chkConnected.checked = m_settings.answerFlag;
    m_state.cmboConnDelay.enabled = m_settings.answerFlag;
    m_state.chkHoldCall.checked = m_settings.holdFlag;
    m_state.cmboHoldDelay.enabled = m_settings.holdFlag;

    ShowCounters();
    m_state.DataSendCnt.enabled = false;
    m_state.RecvDataCnt.enabled = false;
    m_state.editStartTime.enabled = false;
    m_state.editEndTime.enabled = false;
    m_state.Start.enabled = true;
    m_state.cmdReset.enabled = true;
    m_state.Disconnect.enabled = false;
    m_state.lblStatus.text = "Disconnected";
    Changed();
}

void ClientRunController::cmdQuit_Click() {
    m_settings.serverAddress = m_state.ConnIPAddr.text;
    long long port = 0;
    if (ParseWhole(m_state.ConnPortNo.text, port) && port >= 0 && port <= 65535) {
        m_settings.serverPort = static_cast<int>(port);
    }
    m_settings.telSizeIndex = m_state.cmboTelNoSize.index;
    m_settings.portCountIndex = m_state.cmboPortCnt.index;
    m_settings.callerStartText = m_state.editCallerStartTelNo.text;
    m_settings.calleeStartText = m_state.editCalleeStartTelNo.text;
    m_settings.idleDelayIndex = m_state.cmboIdleTime.index;
    m_settings.makeDelayIndex = m_state.cmboMakeDelaytime.index;
    m_settings.connDelayIndex = m_state.cmboConnDelay.index;
    m_settings.holdDelayIndex = m_state.cmboHoldDelay.index;
    SaveClientSettings(m_settings);
    if (m_running || m_connecting) {
        Disconnect_Click();
    }
    emit quitRequested();
}

void ClientRunController::cmdReset_Click() {
    for (ClientControl* box :
         {&m_state.editHookOnCount, &m_state.editDTCount, &m_state.editRbOfferingCount,
          &m_state.editConnectedCount, &m_state.editHeldCount, &m_state.editFailCount,
          &m_state.editMakeCall, &m_state.editAnswerCall, &m_state.editHoldCall,
          &m_state.editUnHoldCall, &m_state.editDropCall, &m_state.editCmdTotalCount,
          &m_state.DataSendCnt, &m_state.RecvDataCnt, &m_state.editIdleTime, &m_state.editRingTime,
          &m_state.editConnTime, &m_state.editHoldTime}) {
        box->text = "0";
    }
    m_state.editStartTime.text = "00 : 00 : 00";
    m_state.editEndTime.text = "00 : 00 : 00";
    m_state.editElapsedTime.text = "00 : 00 : 00";
    m_counters = ClientCounters{};
    Changed();
}

void ClientRunController::ShowCounters() {
    const ClientCounters& c = m_counters;
    m_state.DataSendCnt.text = std::to_string(c.sentTotal);
    m_state.RecvDataCnt.text = std::to_string(c.receivedTotal);
    m_state.editDTCount.text = Whole(c.dialTone);
    m_state.editRbOfferingCount.text = Whole(c.offering);
    m_state.editConnectedCount.text = Whole(c.connected);
    m_state.editHeldCount.text = Whole(c.held) + "/" + Whole(c.retrieved);
    m_state.editHookOnCount.text = Whole(c.hookOn);
    m_state.editFailCount.text = Whole(c.failed);
    m_state.editMakeCall.text = Whole(c.makeCall);
    m_state.editAnswerCall.text = Whole(c.answerCall);
    m_state.editHoldCall.text = Whole(c.holdCall);
    m_state.editUnHoldCall.text = Whole(c.unholdCall);
    m_state.editDropCall.text = Whole(c.dropCall);
    m_state.editCmdTotalCount.text = Whole(c.commandTotal);
}

// ---- control handlers ------------------------------------------------------------------------

void ClientRunController::chkConnected_Click(bool checked) {
    m_state.chkConnected.checked = checked;
    m_settings.answerFlag = checked;
    m_state.cmboConnDelay.enabled = checked;
    Changed();
}

void ClientRunController::chkHoldCall_Click(bool checked) {
    m_state.chkHoldCall.checked = checked;
    m_settings.holdFlag = checked;
    m_state.cmboHoldDelay.enabled = checked;
    Changed();
}

void ClientRunController::chkFreeDial_Click(bool checked) {
    m_state.chkFreeDial.checked = checked;
    m_settings.freeDialFlag = checked;
    m_state.txtFreeDialNo.enabled = checked;
    m_state.chkDropCall.enabled = checked;
    if (!checked) {
        m_state.chkMakeCall.enabled = false;
    }
    // During a run the number boxes and the scenario stay locked whatever the mode.
    if (!m_running && !m_connecting) {
        m_state.editCalleeStartTelNo.enabled = !checked;
        m_state.chkConnected.enabled = !checked;
        m_state.chkHoldCall.enabled = !checked;
    }
    Changed();
}

void ClientRunController::cmboTelNoSize_Click(int index) {
    if (index != m_state.cmboTelNoSize.index) {
        m_state.cmboTelNoSize.index = index;
        m_settings.telSizeIndex = index;
        const int digits = ClientListValue(kListTelSize, index);
        m_state.editCallerStartTelNo.maxLength = digits;
        m_state.editCalleeStartTelNo.maxLength = digits;
        Changed();
    }
}

void ClientRunController::cmboPortCnt_Click(int index) {
    if (index != m_state.cmboPortCnt.index) {
        m_state.cmboPortCnt.index = index;
        m_settings.portCountIndex = index;
        Changed();
    }
}

void ClientRunController::cmboIdleTime_Click(int index) {
    m_state.cmboIdleTime.index = index;
}

void ClientRunController::cmboMakeDelaytime_Click(int index) {
    m_state.cmboMakeDelaytime.index = index;
}

void ClientRunController::cmboConnDelay_Click(int index) {
    if (index != m_state.cmboConnDelay.index) {
        m_state.cmboConnDelay.index = index;
        m_settings.connDelayIndex = index;
    }
}

void ClientRunController::cmboHoldDelay_Click(int index) {
    if (index != m_state.cmboHoldDelay.index) {
        m_state.cmboHoldDelay.index = index;
        m_settings.holdDelayIndex = index;
    }
}

void ClientRunController::editCallerStartTelNo_Change(const std::string& text) {
    m_state.editCallerStartTelNo.text = text;
    long long value = 0;
    if (!ParseWhole(text, value)) {
        Show("This value must be a numeric value.", kClientSimTitle, "editCallerStartTelNo");
    }
}

void ClientRunController::editCalleeStartTelNo_Change(const std::string& text) {
    m_state.editCalleeStartTelNo.text = text;
    long long value = 0;
    if (!ParseWhole(text, value)) {
        Show("This value must be a numeric value", kClientSimTitle, "editCalleeStartTelNo");
    }
}

void ClientRunController::editCallerStartTelNo_LostFocus() {
    const int digits = ClientListValue(kListTelSize, m_state.cmboTelNoSize.index);
    if (static_cast<int>(m_state.editCallerStartTelNo.text.size()) < digits) {
        Show("This value's size must be " + std::to_string(digits));
    }
}

void ClientRunController::editCalleeStartTelNo_LostFocus() {
    const int digits = ClientListValue(kListTelSize, m_state.cmboTelNoSize.index);
    if (static_cast<int>(m_state.editCalleeStartTelNo.text.size()) < digits) {
        Show("This value's size must be " + std::to_string(digits));
    }
}

void ClientRunController::editTimePeriod_Change(const std::string& text) {
    m_state.editTimePeriod.text = text;
    long long value = 0;
    if (ParseWhole(text, value) && value >= 0) {
        m_settings.periodHours = static_cast<int>(std::min<long long>(value, 1000000));
    } else {
        Show("This value must be a numeric value.", kClientSimTitle, "editTimePeriod");
    }
}

void ClientRunController::editTimePeriod_LostFocus() {
    long long value = 0;
    if (ParseWhole(m_state.editTimePeriod.text, value) && value > 288) {
        Show("Input value is too big.");
        m_state.editTimePeriod.text = "288";
        m_settings.periodHours = 288;
        Changed();
    }
}

void ClientRunController::ConnIPAddr_Change(const std::string& text) {
    m_state.ConnIPAddr.text = text;
}

void ClientRunController::ConnPortNo_Change(const std::string& text) {
    m_state.ConnPortNo.text = text;
}

void ClientRunController::txtClientKind_Change(const std::string& text) {
    m_state.txtClientKind.text = text;
}

void ClientRunController::txtFreeDialNo_Change(const std::string& text) {
    m_state.txtFreeDialNo.text = text;
}

// ---- helpers ---------------------------------------------------------------------------------

void ClientRunController::ShowMessage(const std::string& text) {
    if (static_cast<int>(m_state.txtRecvData.text.size()) > kLogLimit) {
        m_state.txtRecvData.text.clear();
    }
    m_state.txtRecvData.text += text;
}

void ClientRunController::Show(const std::string& text, const std::string& title,
                               const std::string& focusControl) {
    emit message(ClientMessage{text, title, focusControl});
}

int ClientRunController::ComboSeconds(ClientList list, const ClientControl& combo) const {
    return ClientListValue(list, combo.index);
}

std::string ClientRunController::FormatDateTime(const QDateTime& time) const {
    const QLocale locale = QLocale::system();
    return (locale.toString(time.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
            time.time().toString(QStringLiteral("HH:mm:ss")))
        .toStdString();
}

bool ClientRunController::ValidateStart() {
    long long port = 0;
    if (!ParseWhole(m_state.ConnPortNo.text, port) || port < 1 || port > 65535) {
        Show("The server port must be a number from 1 to 65535.", kClientSimTitle, "ConnPortNo");
        return false;
    }
    long long kind = 3;
    if (!m_state.txtClientKind.text.empty() &&
        (!ParseWhole(m_state.txtClientKind.text, kind) || kind < 0 || kind > 255)) {
        Show("The client kind must be a number from 0 to 255.", kClientSimTitle, "txtClientKind");
        return false;
    }
    long long period = 0;
    if (!ParseWhole(m_state.editTimePeriod.text, period) || period < 0 || period > 288) {
        Show("The simulation time must be a number of hours from 0 to 288.", kClientSimTitle,
             "editTimePeriod");
        return false;
    }
    const int digits = ClientListValue(kListTelSize, m_state.cmboTelNoSize.index);
    const int ports = ClientListValue(kListPortCount, m_state.cmboPortCnt.index);
    const long long limit = Power10(digits);
    const auto fits = [&](const std::string& text, const char* name, const char* box) {
        long long first = 0;
        if (!ParseWhole(text, first) || first < 0 || first + ports >= limit) {
            Show(std::string("The ") + name + " start number plus the port count (" +
                     std::to_string(ports) + ") must stay within " + std::to_string(digits) +
                     " digits.",
                 kClientSimTitle, box);
            return false;
        }
        return true;
    };
    if (!fits(m_state.editCallerStartTelNo.text, "caller", "editCallerStartTelNo")) {
        return false;
    }
    if (m_state.chkFreeDial.checked) {
        if (!protocol::ClientRequestFrames::IsValidFreeDial(m_state.txtFreeDialNo.text, digits)) {
            Show("The free dial number must hold 1 to " +
                     std::to_string(protocol::ClientRequestFrames::FreeDialRoom(digits)) +
                     " characters, each a digit, '*' or '#'.",
                 kClientSimTitle, "txtFreeDialNo");
            return false;
        }
    } else if (!fits(m_state.editCalleeStartTelNo.text, "callee", "editCalleeStartTelNo")) {
        return false;
    }
    return true;
}

void ClientRunController::SetSettingsControlsEnabled(bool enabled) {
    for (ClientControl* control :
         {&m_state.ConnIPAddr, &m_state.ConnPortNo, &m_state.cmboTelNoSize, &m_state.cmboPortCnt,
          &m_state.editCallerStartTelNo, &m_state.editCalleeStartTelNo, &m_state.editTimePeriod,
          &m_state.chkConnected, &m_state.chkHoldCall, &m_state.cmboMakeDelaytime,
          &m_state.cmboIdleTime, &m_state.Start, &m_state.cmdQuit}) {
        control->enabled = enabled;
    }
    m_state.cmboConnDelay.enabled = enabled && m_settings.answerFlag;
    m_state.cmboHoldDelay.enabled = enabled && m_settings.holdFlag;
    m_state.Disconnect.enabled = !enabled;
}
