// Start and Stop, the connection and login, the run clock and the call cycle.
#include "ClientRunController.h"

#include <charconv>

namespace {

int ToInt(const std::string& text, int fallback) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return (ec == std::errc() && ptr == end && !text.empty()) ? value : fallback;
}

} // namespace

void ClientRunController::Start_Click() {
    if (m_running || m_connecting || !ValidateStart()) {
        return;
    }
    cmdReset_Click();

    ClientRunSettings& s = m_settings;
    s.serverAddress = m_state.ConnIPAddr.text;
    s.serverPort = ToInt(m_state.ConnPortNo.text, 0);
    s.clientKind = ToInt(m_state.txtClientKind.text, 3);
    s.telSizeIndex = m_state.cmboTelNoSize.index;
    s.portCountIndex = m_state.cmboPortCnt.index;
    s.freeDialFlag = m_state.chkFreeDial.checked;
    m_runFreeDial = s.freeDialFlag;
    s.callerStartText = m_state.editCallerStartTelNo.text;
    if (m_runFreeDial) {
        s.freeDialText = m_state.txtFreeDialNo.text;
    } else {
        s.calleeStartText = m_state.editCalleeStartTelNo.text;
    }
    s.answerFlag = m_state.chkConnected.checked;
    if (s.answerFlag) {
        s.connDelayIndex = m_state.cmboConnDelay.index;
    }
    s.holdFlag = m_state.chkHoldCall.checked;
    if (s.holdFlag) {
        s.holdDelayIndex = m_state.cmboHoldDelay.index;
    }
    s.digitCount = ClientListValue(kListTelSize, s.telSizeIndex);
    s.portCount = ClientListValue(kListPortCount, s.portCountIndex);
    s.callerStart = ToInt(s.callerStartText, 0);
    if (!m_runFreeDial) {
        s.calleeStart = ToInt(s.calleeStartText, 0);
    }

    SetSettingsControlsEnabled(false);
    Changed();
    ConnectAndRegister(s.serverAddress, static_cast<std::uint16_t>(s.serverPort));
}

void ClientRunController::ConnectAndRegister(const std::string& address, std::uint16_t port) {
    ClearReceive();
    m_connecting = true;
    // The login goes out when the connection is up; a connection that does not come up within
    // the time-out ends the attempt as if nothing had been sent.
    m_connectTimer.start(m_connectTimeoutMs);
    m_socket.Connect(address, port);
}

void ClientRunController::OnConnected() {
    m_state.lblStatus.text = "Connected...";
    if (!m_connecting) {
        Changed();
        return;
    }
    m_connecting = false;
    m_connectTimer.stop();
    const protocol::ClientRequestFrames::Frame login =
        protocol::ClientRequestFrames::LoginRequest(m_settings.clientKind);
    if (!m_socket.Send(login)) {
        Disconnect_Click();
        return;
    }
    ++m_counters.sentTotal;
    m_state.DataSendCnt.text = std::to_string(m_counters.sentTotal);
    ShowMessage(protocol::ClientRequestFrames::SentLogLine(login));
    OnLoginSent();
}

void ClientRunController::OnLoginSent() {
    m_running = true;
    m_start = m_now();
    m_state.editStartTime.text = FormatDateTime(m_start);
    m_settings.periodHours = ToInt(m_state.editTimePeriod.text, m_settings.periodHours);
    m_state.editEndTime.text =
        FormatDateTime(m_start.addSecs(static_cast<qint64>(m_settings.periodHours) * 3600));
    EnableRunTimer();
    // Only the counts of the cycle start again; the login frame stays in the sent total.
    const std::uint32_t sent = m_counters.sentTotal;
    const std::uint32_t received = m_counters.receivedTotal;
    m_counters = ClientCounters{};
    m_counters.sentTotal = sent;
    m_counters.receivedTotal = received;
    ShowCounters();
    m_cycle = ClientCallCycle{};
    m_state.cmdReset.enabled = false;
    Changed();
}

void ClientRunController::OnConnectTimeout() {
    if (!m_connecting) {
        return;
    }
    Disconnect_Click();
}

void ClientRunController::OnSocketError(const QString& description) {
    Show(description.toStdString(), "Socket Error!!!");
    if (m_connecting) {
        Disconnect_Click();
    }
}

void ClientRunController::OnClosedByPeer() {
    // The run goes on; its requests are dropped until Stop or the end of the period.
    ClearReceive();
    m_state.lblStatus.text = "Disconnected...";
    Changed();
}

void ClientRunController::Disconnect_Click() {
    m_state.cmdReset.enabled = true;
    m_registered = false;
    DisableCallTimer();
    DisableRunTimer();
    m_connecting = false;
    m_connectTimer.stop();

    const ClientRunSettings& s = m_settings;
    switch (m_cycle.displayPhase) {
    case 1:
    case 2:
    case 4:
        for (int i = 0; i < s.portCount; ++i) {
            SendDropCall(s.callerStart + i);
        }
        break;
    case 3:
        for (int i = 0; i < s.portCount; ++i) {
            SendUnHoldCall(s.callerStart + i, s.calleeStart + i);
        }
        for (int i = 0; i < s.portCount; ++i) {
            SendDropCall(s.callerStart + i);
        }
        break;
    default:
        break;
    }
    m_cycle = ClientCallCycle{};
    m_state.editIdleTime.text = "0";
    m_state.editRingTime.text = "0";
    m_state.editConnTime.text = "0";
    m_state.editHoldTime.text = "0";

    m_socket.Close();
    ClearReceive();
    m_running = false;
    m_state.lblStatus.text = "Disconnected...";
    SetSettingsControlsEnabled(true);
    if (m_state.chkFreeDial.checked) {
        m_state.editCalleeStartTelNo.enabled = false;
        m_state.chkConnected.enabled = false;
        m_state.chkHoldCall.enabled = false;
    }
    Changed();
}

// ---- timers ----------------------------------------------------------------------------------

void ClientRunController::EnableRunTimer() {
    m_elapsed = 0;
    m_runTimer.start(m_secondMs);
}

void ClientRunController::DisableRunTimer() {
    m_runTimer.stop();
    m_elapsed = 0;
}

void ClientRunController::EnableCallTimer() {
    m_callTimer.start(m_secondMs);
}

void ClientRunController::DisableCallTimer() {
    m_callTimer.stop();
}

void ClientRunController::MyTimer_Timer() {
    m_elapsed += 1;
    m_state.editElapsedTime.text = ElapsedText(m_elapsed);
    Changed();
    if (m_settings.periodHours > 0 &&
        m_elapsed >= static_cast<double>(m_settings.periodHours) * 3600) {
        Disconnect_Click();
    }
}

void ClientRunController::ShowCountdown(int phase, int seconds) {
    const std::string text = std::to_string(seconds);
    switch (phase) {
    case 0:
        m_state.editIdleTime.text = text;
        break;
    case 1:
        m_state.editRingTime.text = text;
        break;
    case 2:
    case 4:
        m_state.editConnTime.text = text;
        break;
    case 3:
        m_state.editHoldTime.text = text;
        break;
    default:
        break;
    }
}

void ClientRunController::CallTimer_Timer() {
    if (m_cycle.countdown > 0) {
        --m_cycle.countdown;
        ShowCountdown(m_cycle.displayPhase, m_cycle.countdown);
        Changed();
        return;
    }
    RunNextAction();
    Changed();
}

void ClientRunController::RunNextAction() {
    const ClientRunSettings& s = m_settings;
    // Free dial has no callee to answer or hold: its calls are made and dropped only.
    const bool answer = s.answerFlag && !m_runFreeDial;
    const bool hold = s.holdFlag && !m_runFreeDial;
    auto set = [this](int phase, int next, int countdown) {
        m_cycle.displayPhase = phase;
        m_cycle.nextAction = next;
        m_cycle.countdown = countdown;
        if (next != ClientCallCycle::Idle) {
            ShowCountdown(phase, countdown);
        }
    };

    switch (m_cycle.nextAction) {
    case ClientCallCycle::Idle:
        set(0, ClientCallCycle::Make, ComboSeconds(kListIdleDelay, m_state.cmboIdleTime));
        break;
    case ClientCallCycle::Make:
        for (int i = 0; i < s.portCount; ++i) {
            if (m_runFreeDial) {
                SendMakeCallFreeDial(s.callerStart + i);
            } else {
                SendMakeCall(s.callerStart + i, s.calleeStart + i);
            }
        }
        set(1, answer ? ClientCallCycle::Answer : ClientCallCycle::Drop,
            ComboSeconds(kListMakeDelay, m_state.cmboMakeDelaytime));
        break;
    case ClientCallCycle::Answer:
        for (int i = 0; i < s.portCount; ++i) {
            SendAnswerCall(s.calleeStart + i, s.callerStart + i);
        }
        set(2, hold ? ClientCallCycle::Hold : ClientCallCycle::Drop,
            ComboSeconds(kListConnDelay, m_state.cmboConnDelay));
        break;
    case ClientCallCycle::Hold:
        for (int i = 0; i < s.portCount; ++i) {
            SendHoldCall(s.callerStart + i, s.calleeStart + i);
        }
        set(3, ClientCallCycle::Retrieve, ComboSeconds(kListHoldDelay, m_state.cmboHoldDelay));
        break;
    case ClientCallCycle::Retrieve:
        for (int i = 0; i < s.portCount; ++i) {
            SendUnHoldCall(s.callerStart + i, s.calleeStart + i);
        }
        set(4, ClientCallCycle::Drop, ComboSeconds(kListConnDelay, m_state.cmboConnDelay));
        break;
    case ClientCallCycle::Drop:
    default:
        for (int i = 0; i < s.portCount; ++i) {
            SendDropCall(s.callerStart + i);
        }
        set(0, ClientCallCycle::Idle, 0);
        break;
    }
}

// ---- senders ---------------------------------------------------------------------------------

void ClientRunController::SendRequest(const protocol::ClientRequestFrames::Frame& frame,
                                      double* counter, ClientControl* box) {
    if (!m_socket.Send(frame)) {
        return;
    }
    ShowMessage(protocol::ClientRequestFrames::SentLogLine(frame));
    ++m_counters.sentTotal;
    m_state.DataSendCnt.text = std::to_string(m_counters.sentTotal);
    *counter += 1;
    m_counters.commandTotal += 1;
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", *counter);
    box->text = text;
    std::snprintf(text, sizeof text, "%.0f", m_counters.commandTotal);
    m_state.editCmdTotalCount.text = text;
}

void ClientRunController::SendMakeCall(int caller, int callee) {
    SendRequest(
        protocol::ClientRequestFrames::MakeCallRequest(caller, callee, m_settings.digitCount),
        &m_counters.makeCall, &m_state.editMakeCall);
}

void ClientRunController::SendMakeCallFreeDial(int caller) {
    SendRequest(protocol::ClientRequestFrames::MakeCallFreeDialRequest(
                    caller, m_settings.freeDialText, m_settings.digitCount),
                &m_counters.makeCall, &m_state.editMakeCall);
}

void ClientRunController::SendAnswerCall(int first, int second) {
    SendRequest(
        protocol::ClientRequestFrames::AnswerCallRequest(first, second, m_settings.digitCount),
        &m_counters.answerCall, &m_state.editAnswerCall);
}

void ClientRunController::SendHoldCall(int first, int second) {
    SendRequest(
        protocol::ClientRequestFrames::HoldCallRequest(first, second, m_settings.digitCount),
        &m_counters.holdCall, &m_state.editHoldCall);
}

void ClientRunController::SendUnHoldCall(int first, int second) {
    SendRequest(
        protocol::ClientRequestFrames::RetrieveCallRequest(first, second, m_settings.digitCount),
        &m_counters.unholdCall, &m_state.editUnHoldCall);
}

void ClientRunController::SendDropCall(int device) {
    SendRequest(protocol::ClientRequestFrames::DropCallRequest(device, m_settings.digitCount),
                &m_counters.dropCall, &m_state.editDropCall);
}
