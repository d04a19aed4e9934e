// What the link server sends: records cut from the stream, logged, counted by letter, and the
// device list's end that starts the call cycle.
#include "ClientRunController.h"

#include <cstdio>

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
    for (std::size_t i = 1; i < length; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", body[i]);
        line += hex;
    }
    line += "\r\n";
    return line;
}

} // namespace

void ClientRunController::ClearReceive() {
    m_receive.clear();
}

void ClientRunController::MyWinSock_DataArrival(const std::vector<std::uint8_t>& bytes) {
    if (!m_socket.IsConnected() || bytes.empty()) {
        return;
    }
    const std::size_t delivered = bytes.size();
    // A record split over deliveries is held until its last byte has come.
    m_receive.insert(m_receive.end(), bytes.begin(), bytes.end());

    std::size_t position = 0;
    while (m_receive.size() - position >= 2) {
        const std::size_t length =
            static_cast<std::size_t>(m_receive[position]) << 8 | m_receive[position + 1];
        if (length > static_cast<std::size_t>(kMaxRecordLength)) {
            ShowMessage("[Error Report] On Receive, Msg Length is too big.[" +
                        std::to_string(delivered) + "]\r\n");
            ClearReceive();
            ShowCounters();
            Changed();
            return;
        }
        if (length == 0) {
            ShowMessage("[Error Report] On Receive, Error Detected. Received Bytes - " +
                        std::to_string(delivered) + "\r\n");
            ClearReceive();
            ShowCounters();
            Changed();
            return;
        }
        if (m_receive.size() - position - 2 < length) {
            break;
        }
        HandleRecord(m_receive.data() + position + 2, length);
        position += length + 2;
        // A record handler may have stopped the run (and so emptied the buffer).
        if (!m_socket.IsConnected()) {
            ClearReceive();
            position = 0;
            break;
        }
    }
    m_receive.erase(m_receive.begin(), m_receive.begin() + static_cast<std::ptrdiff_t>(position));
    ShowCounters();
    Changed();
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
