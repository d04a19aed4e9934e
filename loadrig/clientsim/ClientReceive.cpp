// What the link server sends: records cut from the stream, logged, counted by letter, and the
// device list's end that starts the call cycle.
#include "ClientRunController.h"

#include <protocol/HexTrace.h>

namespace {

// The server's end of the device list after a login: ten 0xFF bytes.
bool IsDeviceListEnd(const std::uint8_t* body, std::size_t length) {
    if (length != 10) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (body[i] != 0xFF) {
            return false;
        }
    }
    return true;
}

std::string ReceivedLogLine(const std::uint8_t* body, std::size_t length) {
    std::string line = "[Received Event] '";
    // The letter byte as the character itself; bytes above 0x7F as their Latin-1 character.
    line += QString(QChar(body[0])).toStdString();
    line += "' ";
    protocol::AppendHexTrace(line, protocol::ByteView(body, length).subspan(1));
    line += "\r\n";
    return line;
}

} // namespace

void ClientRunController::ClearReceive() {
    m_assembler.Reset();
}

void ClientRunController::MyWinSock_DataArrival(const std::vector<std::uint8_t>& bytes) {
    if (!m_socket.IsConnected() || bytes.empty()) {
        return;
    }
    m_delivered = bytes.size();
    // A record split over deliveries is held until its last byte has come.
    m_assembler.Feed(bytes);
    ShowCounters();
    Changed();
}

void ClientRunController::OnRecord(const protocol::CtiRecord& record) {
    HandleRecord(record.Body().data(), record.Length());
    // A record handler may have stopped the run (and so emptied the buffer).
    if (!m_socket.IsConnected()) {
        ClearReceive();
    }
}

void ClientRunController::OnBadLength(std::uint16_t length) {
    const std::string delivered = std::to_string(m_delivered);
    ShowMessage(length == 0
                    ? "[Error Report] On Receive, Error Detected. Received Bytes - " + delivered +
                          "\r\n"
                    : "[Error Report] On Receive, Msg Length is too big.[" + delivered + "]\r\n");
    ClearReceive();
}

void ClientRunController::HandleRecord(const std::uint8_t* body, std::size_t length) {
    ShowMessage(ReceivedLogLine(body, length));

    // The switch's own end of a download ('A' of type 0) and the server's end of the device list
    // both mean the devices are known: the call cycle can start.
    const bool downloadEnd = length >= 9 && body[0] == 'A' && body[8] == 0;
    if (!m_registered && m_running && (downloadEnd || IsDeviceListEnd(body, length))) {
        m_registered = true;
        EnableCallTimer();
    }

    switch (body[0]) {
    case 'I':
        m_counters.dialTone += 1;
        break;
    case 'D':
        m_counters.offering += 1;
        break;
    case 'E':
        m_counters.connected += 1;
        break;
    case 'H':
        m_counters.held += 1;
        break;
    case 'R':
        m_counters.retrieved += 1;
        break;
    case 'N':
        m_counters.hookOn += 1;
        break;
    case 'F':
        m_counters.failed += 1;
        break;
    default:
        break;
    }
    ++m_counters.receivedTotal;
}
