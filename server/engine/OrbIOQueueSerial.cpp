// The serial side of the link I/O queue: the frame, the ENQ/ACK line bid, and the serial reader
// and writer threads.

#include "OrbIOQueue.h"

#include "LinkState.h"
#include "OrbManagerDlg.h"
#include "SerialPort.h"
#include "TraceLog.h"

#include <protocol/CtiRecord.h>
#include <protocol/HexTrace.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace engine {

using platform::Event;

namespace {

bool IsSupervision(std::uint8_t letter) {
    return letter == 'u' || letter == 'a';
}

// "<prefix>" then the letter as a character (as hex and a closing quote when below 'A') and the
// rest as hex.
std::string FormatIncoming(const char* prefix, const std::uint8_t* data, int length) {
    const protocol::ByteView bytes(data, length > 0 ? static_cast<std::size_t>(length) : 0);
    if (bytes.empty() || data[0] >= 'A')
        return protocol::HexTraceLine(prefix, bytes, 0);
    std::string text = protocol::HexTraceLine(prefix, bytes.first(1));
    text.back() = '\'';
    text += ' ';
    protocol::AppendHexTrace(text, bytes.subspan(1));
    return text;
}

// A line break, then the body as hex with its letter (byte 1) as a character.
std::string FormatOutgoing(const std::vector<std::uint8_t>& body) {
    return protocol::HexTraceLine("\n--->>> [SW] ", body, 1);
}

} // namespace

int COrbIOQueue::BuildSerialFrame(std::uint8_t* out, const std::uint8_t* body, int length) {
    return protocol::BuildSerialFrame(out, body, length);
}

void COrbIOQueue::ResetOutput() {
    platform::CriticalSectionLock guard(m_csOutput);
    m_OutputQueue.clear();
    m_nOutputBytes = 0;
    m_bOutputFullTraced = false;
    m_hOutputNotEmptyEvent.Reset();
    UpdateDrainedLocked();
}

int COrbIOQueue::SendENQThenReceive() {
    int tries = 0;
    while (g_bSwitchLinkUp.load() == 1) {
        m_hAckEvent.Reset();
        SerialPort* port = m_pOwner->m_pSerialPort;
        if (port == nullptr) {
            TraceLog("[ERROR] SendENQThenReceive() detected the the COM Port is NULL. Link Failed "
                     "and return FALSE");
            g_bSwitchLinkUp = 0;
            g_bDeviceListAvailable = 0;
            return 0;
        }
        // Reset before the ENQ leaves, so a quick answer is never wiped out.
        m_nAckResult = kAckNone;
        port->WriteByte(kENQ);
        const int woke = Event::WaitAny({&m_hAckEvent, &g_hLinkFailureEvent, &m_hCloseEvent},
                                        m_pOwner->m_timings.enqAckWaitMs);
        if (woke == 2)
            return 0; // the queue is closing; nobody waits for this frame any more
        if (woke == 1) {
            TraceLog("SendENQThenReceive() detected the Link Fail Signal. Return False!!!");
            g_bSwitchLinkUp = 0;
            return 0;
        }
        ++tries;
        if (woke == 0) {
            const int result = m_nAckResult.load();
            if (result == kAckAck)
                return 1;
            if (result == kAckNak)
                TraceLog("OUTSTANDINGNAK is received. Retry [%d times]!!!", tries);
            else
                TraceLog("SendENQThenReceive() detected the Unknown Response Type. Retry [%d "
                         "times]!!!",
                         tries);
        }
        if (tries >= 3)
            break;
    }
    TraceLog("SendENQThenReceive() could not receive the ACK byte from switch. Retry Failed. Link "
             "Failed and return False");
    g_bSwitchLinkUp = 0;
    g_bDeviceListAvailable = 0;
    g_hLinkFailureEvent.Set();
    return 0;
}

int COrbIOQueue::SendFrameWaitAck(const std::uint8_t* frame, int size) {
    m_hAckEvent.Reset();
    m_nAckResult = kAckNone;
    SerialPort* port = m_pOwner->m_pSerialPort;
    if (port == nullptr) {
        g_bSwitchLinkUp = 0;
        return 0;
    }
    if (!port->WriteBlock(frame, size))
        return 0;
    // A lost link or the close ends the wait too; the writer then finds out which.
    const int woke = Event::WaitAny({&m_hAckEvent, &g_hLinkFailureEvent, &m_hCloseEvent},
                                    m_pOwner->m_timings.frameAckWaitMs);
    if (woke != 0)
        return 0;
    return m_nAckResult.load() == kAckAck ? 1 : 0;
}

void COrbIOQueue::WriterComPortThread() {
    TraceLog("WriterComPortThread Started!!!");
    if (m_pOwner->m_pSerialPort == nullptr) {
        TraceLog("[ERROR] WriterComPortThread : Wait Failed. Terminating WriterComPortThread!!!");
        m_bWriterRunning = 0;
        return;
    }
    for (;;) {
        m_bWriterRunning = 1;
        const LinkWait link = WaitForLink();
        if (link == kLinkWaitFailed) {
            TraceLog(
                "[ERROR] WriterComPortThread : Wait Failed. Terminating WriterComPortThread!!!");
            break;
        }
        if (link == kLinkWaitClosed ||
            Event::WaitAny({&m_hCloseEvent, &m_hOutputNotEmptyEvent}) != 1) {
            TraceLog("Terminating WriterComPortThread!!!");
            break;
        }
        if (g_bSwitchLinkUp.load() == 0) {
            TraceLog("[ERROR] Link is not avilable!!!");
            ClearLinkAvailable();
            continue;
        }
        LinkQueueItem item;
        if (!TakeOutput(item))
            continue;
        const int length = static_cast<int>(item.body.size());
        std::vector<std::uint8_t> frame(item.body.size() + 5);
        const int size = BuildSerialFrame(frame.data(), item.body.data(), length);

        bool acked = false;
        while (g_bSwitchLinkUp.load() == 1 && !m_hCloseEvent.IsSet()) {
            if (!SendENQThenReceive())
                continue; // the link is down or the queue closing: the loop test ends it
            if (SendFrameWaitAck(frame.data(), size)) {
                acked = true;
                break;
            }
            if (g_bSwitchLinkUp.load() != 1 || m_hCloseEvent.IsSet())
                break;
            TraceLog("[ERROR] Unable to send the message - Resending!!!");
            ResetOutput();
        }
        DoneWithOutput();
        if (acked && length > 1 && !IsSupervision(item.body[1]))
            TraceLog("%s", FormatOutgoing(item.body).c_str());
    }
    m_bWriterRunning = 0;
}

void COrbIOQueue::ReadComPortThread() {
    using Result = protocol::SerialFrameReader::Result;
    TraceLog("ReaderComPortThread Started!!!");
    m_serialRx.Reset();

    for (;;) {
        m_bReaderRunning = 1;
        const LinkWait link = WaitForLink();
        if (link == kLinkWaitFailed) {
            TraceLog(
                "[ERROR] ReaderComPortThread : Wait Failed.  Terminating ReadComPortThread!!!");
            break;
        }
        if (link == kLinkWaitClosed || m_hCloseEvent.IsSet()) {
            TraceLog("Terminating ReadComPortThread!!!");
            break;
        }
        if (g_bSwitchLinkUp.load() == 0) {
            m_serialRx.Reset();
            m_hCloseEvent.Wait(m_pOwner->m_timings.serialLinkDownPollMs);
            continue;
        }
        SerialPort* port = m_pOwner->m_pSerialPort;
        if (port == nullptr) {
            TraceLog("[ERROR] Invalid COM Port Handler - Terminating ReadComPortThread");
            break;
        }
        std::uint8_t byte = 0;
        if (!port->ReadByte(byte, &m_hCloseEvent)) {
            // A frame cut off by the time-out is given up; the switch sends it again.
            m_serialRx.Reset();
            continue;
        }
        switch (const Result result = m_serialRx.Feed(byte)) {
        case Result::None:
            break;
        case Result::LineBid:
            port->WriteByte(kACK); // the switch always gets the line
            break;
        case Result::Ack:
        case Result::Nak:
            m_nAckResult = result == Result::Ack ? kAckAck : kAckNak;
            m_hAckEvent.Set();
            break;
        case Result::Unexpected:
            TraceLog("UNEXPECTED BYTE IN IOSTATE FREE. Received Byte[%02X]!!!", byte);
            PurgeReceived(*port);
            port->WriteByte(kNAK);
            break;
        case Result::BadLength:
            TraceLog("[ERROR] Serial frame length [%d] is out of range. Refused with NAK!!!",
                     m_serialRx.Length());
            // Purged before the NAK: a switch that sends again at once must not lose it.
            PurgeReceived(*port);
            port->WriteByte(kNAK);
            break;
        case Result::BadCheck:
            TraceLog("[ERROR] Bad CheckSum Received!!!");
            if (!port->Purge(kPurgeRx))
                TraceLog("[ERROR] COM Port RX Buffer Clear Failure!!!");
            port->WriteByte(kNAK);
            m_hCloseEvent.Wait(m_pOwner->m_timings.badCheckPauseMs);
            break;
        case Result::Frame:
        case Result::FrameWithoutEtx:
            DeliverSerialFrame(*port, m_serialRx.Data(), result == Result::Frame, byte);
            break;
        }
    }
    m_bReaderRunning = 0;
}

void COrbIOQueue::PurgeReceived(SerialPort& port) {
    if (!port.Purge(kPurgeRx)) {
        const int code = errno;
        TraceLog("[ERROR] COM Port RX Buffer Clearing Failure. Error Code [%lu : %s]!!!",
                 static_cast<unsigned long>(code), SystemErrorText(code).c_str());
    }
}

void COrbIOQueue::DeliverSerialFrame(SerialPort& port, protocol::ByteView data, bool etx,
                                     std::uint8_t last) {
    const int length = static_cast<int>(data.size());
    const bool traced = !IsSupervision(data[0]);
    if (etx) {
        if (traced)
            TraceLog("%s", FormatIncoming("<<<--- [SW] ", data.data(), length).c_str());
    } else {
        TraceLog("EXPECTING_ETX : Received Something Else!!!. Received Byte : [%02X]", last);
        if (traced)
            TraceLog("%s", FormatIncoming("<<<--- Received Uncompleted Message From SW : ",
                                          data.data(), length)
                               .c_str());
    }
    LinkRecord record;
    protocol::CtiRecord::EncodeInto(record, data);
    // The frame itself came whole and is acknowledged, or the switch would send it again; a
    // record that is no event neither goes on nor keeps the link alive.
    const bool event = ScreenRecord(record);
    if (event && !QueueInput(std::move(record))) {
        if (etx)
            TraceLog("[ERROR] it is not possble to insert the received Event into the Input "
                     "Queue!!!");
        else
            TraceLog("[ERROR] uable to insert the received Event into the Input Queue!!!");
    }
    port.WriteByte(kACK);
    if (event)
        m_hAliveEvent.Set();
}

} // namespace engine
