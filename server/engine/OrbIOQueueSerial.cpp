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

using platform::Event;

namespace {

// The reader keeps at most this many data bytes of one frame.
constexpr int kMaxSerialData = 255;

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
    if (out == nullptr || length < 0 || (length > 0 && body == nullptr))
        return 0;
    const std::uint8_t hi = static_cast<std::uint8_t>((length >> 8) & 0xFF);
    const std::uint8_t lo = static_cast<std::uint8_t>(length & 0xFF);
    std::uint8_t bcc = hi ^ lo;
    out[0] = kSTX;
    out[1] = hi;
    out[2] = lo;
    for (int i = 0; i < length; ++i) {
        out[3 + i] = body[i];
        bcc ^= body[i];
    }
    out[3 + length] = bcc;
    out[4 + length] = kETX;
    return length + 5;
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
    TraceLog("ReaderComPortThread Started!!!");
    m_nSerialRxState = kRxFree;
    std::uint8_t data[kMaxSerialData + 1] = {};
    int length = 0;
    int count = 0;
    std::uint8_t bcc = 0;

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
            m_nSerialRxState = kRxFree;
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
            m_nSerialRxState = kRxFree;
            continue;
        }
        switch (m_nSerialRxState) {
        case kRxFree:
            if (byte == kSTX) {
                m_nSerialRxState = kRxLenHi;
            } else if (byte == kENQ) {
                port->WriteByte(kACK); // the switch always gets the line
            } else if (byte == kACK || byte == kNAK) {
                m_nAckResult = byte == kACK ? kAckAck : kAckNak;
                m_hAckEvent.Set();
            } else {
                TraceLog("UNEXPECTED BYTE IN IOSTATE FREE. Received Byte[%02X]!!!", byte);
                if (!port->Purge(kPurgeRx)) {
                    const int code = errno;
                    TraceLog("[ERROR] COM Port RX Buffer Clearing Failure. Error Code [%lu : "
                             "%s]!!!",
                             static_cast<unsigned long>(code), SystemErrorText(code).c_str());
                }
                port->WriteByte(kNAK);
            }
            break;
        case kRxLenHi:
            length = byte;
            bcc = byte;
            m_nSerialRxState = kRxLenLo;
            break;
        case kRxLenLo:
            length = length * 256 + byte;
            bcc ^= byte;
            count = 0;
            if (length < 1 || length > kMaxSerialData) {
                TraceLog("[ERROR] Serial frame length [%d] is out of range. Refused with NAK!!!",
                         length);
                // Purged before the NAK: a switch that sends again at once must not lose it.
                if (!port->Purge(kPurgeRx)) {
                    const int code = errno;
                    TraceLog("[ERROR] COM Port RX Buffer Clearing Failure. Error Code [%lu : "
                             "%s]!!!",
                             static_cast<unsigned long>(code), SystemErrorText(code).c_str());
                }
                port->WriteByte(kNAK);
                m_nSerialRxState = kRxFree;
                break;
            }
            m_nSerialRxState = kRxData;
            break;
        case kRxData:
            data[count++] = byte;
            bcc ^= byte;
            if (count == length)
                m_nSerialRxState = kRxBcc;
            break;
        case kRxBcc:
            if (byte != bcc) {
                TraceLog("[ERROR] Bad CheckSum Received!!!");
                if (!port->Purge(kPurgeRx))
                    TraceLog("[ERROR] COM Port RX Buffer Clear Failure!!!");
                port->WriteByte(kNAK);
                m_hCloseEvent.Wait(m_pOwner->m_timings.badCheckPauseMs);
                m_nSerialRxState = kRxFree;
            } else {
                m_nSerialRxState = kRxExpectingEtx;
            }
            break;
        case kRxExpectingEtx: {
            const bool traced = !IsSupervision(data[0]);
            if (byte == kETX) {
                if (traced)
                    TraceLog("%s", FormatIncoming("<<<--- [SW] ", data, length).c_str());
            } else {
                TraceLog("EXPECTING_ETX : Received Something Else!!!. Received Byte : [%02X]",
                         byte);
                if (traced)
                    TraceLog("%s", FormatIncoming("<<<--- Received Uncompleted Message From SW : ",
                                                  data, length)
                                       .c_str());
            }
            LinkRecord record;
            protocol::CtiRecord::EncodeInto(
                record, protocol::ByteView(data, static_cast<std::size_t>(length)));
            // The frame itself came whole and is acknowledged, or the switch would send it
            // again; a record that is no event neither goes on nor keeps the link alive.
            const bool event = ScreenRecord(record);
            if (event && !QueueInput(std::move(record))) {
                if (byte == kETX)
                    TraceLog("[ERROR] it is not possble to insert the received Event into the "
                             "Input Queue!!!");
                else
                    TraceLog("[ERROR] uable to insert the received Event into the Input Queue!!!");
            }
            m_nSerialRxState = kRxFree;
            port->WriteByte(kACK);
            if (event)
                m_hAliveEvent.Set();
            break;
        }
        default:
            m_nSerialRxState = kRxFree;
            break;
        }
    }
    m_bReaderRunning = 0;
}
