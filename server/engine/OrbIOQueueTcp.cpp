#include "OrbIOQueue.h"

#include "LinkState.h"
#include "OrbSocket.h"
#include "TraceLog.h"

#include <protocol/CtiRecord.h>

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace engine {

namespace {

using protocol::CtiRecord;

constexpr int kSkipChunk = 4096;
// One receive takes this much at most: a busy switch's records then cost a system call per
// chunk, not two per record.
constexpr std::size_t kReadAheadSize = 64 * 1024;

// Both length bytes, however the peer splits them; false (traced) when the link broke.
template <class Receive> bool ReceiveLength(Receive receive, std::uint8_t (&head)[2]) {
    int received = receive(head, 2);
    if (received == 1) {
        TraceLog("[ERROR] just read 1 for the length field. it should read 1 byte again.");
        received = receive(head + 1, 1);
        if (received == 1)
            return true;
    }
    if (received == 2)
        return true;
    if (received == 0) {
        TraceLog("[ERROR] recv() returns 0 because its socket connection has been gracefully "
                 "closed\n");
    } else {
        const int code = errno;
        TraceLog("[ERROR] Socket Receive Function is returned as a error code[%d : %s].", code,
                 SystemErrorText(code).c_str());
    }
    TraceLog("[ERROR] Terminating ReadSocketThread");
    return false;
}

} // namespace

int COrbIOQueue::ReceiveLink(COrbSocket& socket, std::uint8_t* buffer, int length) {
    if (m_pReadAhead == nullptr)
        m_pReadAhead = std::make_unique<std::uint8_t[]>(kReadAheadSize);
    if (m_pReadAheadSocket != &socket) {
        m_pReadAheadSocket = &socket;
        m_nReadAheadAt = m_nReadAheadEnd = 0;
    }
    std::size_t held = m_nReadAheadEnd - m_nReadAheadAt;
    if (held < static_cast<std::size_t>(length)) {
        // Every whole record this receive brought has been cut: they go to the handler before
        // the reader asks the socket again.
        HandOverReadBatch();
        // Whatever has arrived besides, without waiting when something is held already: what
        // is short then is short on the wire too, as a plain receive would have found it.
        std::memmove(m_pReadAhead.get(), m_pReadAhead.get() + m_nReadAheadAt, held);
        m_nReadAheadAt = 0;
        m_nReadAheadEnd = held;
        const int received =
            socket.Recv(m_pReadAhead.get() + held, static_cast<int>(kReadAheadSize - held),
                        held > 0 ? MSG_DONTWAIT : 0);
        if (held == 0 && received <= 0)
            return received;
        if (received > 0)
            m_nReadAheadEnd += static_cast<std::size_t>(received);
        held = m_nReadAheadEnd;
    }
    const std::size_t taken = std::min(held, static_cast<std::size_t>(length));
    std::copy_n(m_pReadAhead.get() + m_nReadAheadAt, taken, buffer);
    m_nReadAheadAt += taken;
    return static_cast<int>(taken);
}

bool COrbIOQueue::ReceiveBody(COrbSocket& socket, std::uint8_t* buffer, int count,
                              bool traceShort) {
    int read = 0;
    while (read < count) {
        const int received = ReceiveLink(socket, buffer + read, count - read);
        if (received <= 0) {
            if (received == 0) {
                TraceLog("[ERROR] recv() returns 0 because its socket connection has been "
                         "gracefully closed\n");
            } else {
                const int code = errno;
                TraceLog("[ERROR] Socket Receive Function is returned error.[error code %d : %s].",
                         code, SystemErrorText(code).c_str());
            }
            TraceLog("[ERROR] Terminating ReadSocketThread !!!");
            return false;
        }
        read += received;
        if (read < count && traceShort)
            TraceLog("[ERROR] the message to be read is still remained[total bytes : %d, read : "
                     "%d, remained : %d].!!!",
                     count, read, count - read);
    }
    return true;
}

void COrbIOQueue::ReadSocketThread() {
    TraceLog("ReaderSocketThread Started!!!");
    std::uint8_t scratch[kSkipChunk];
    for (;;) {
        m_bReaderRunning = 1;
        // Before a wait that may last, so no record sits out a link restart here.
        if (!m_ReadBatch.empty() && (m_bClosed.load() || !g_hLinkAvailableEvent.IsSet()))
            HandOverReadBatch();
        const LinkWait wait = WaitForLink();
        if (wait == kLinkWaitFailed) {
            TraceLog("[ERROR] ReaderSocketThread : Wait Failed. Terminating ReadSocketThread!!!");
            break;
        }
        if (wait == kLinkWaitClosed) {
            TraceLog("Terminating ReadSocketThread!!!");
            break;
        }
        if (g_bSwitchLinkUp.load() == 0) {
            HandOverReadBatch();
            ClearLinkAvailable();
            TraceLog("ReadSocketThread --> CTI Link is not avaialable!!!");
            continue;
        }
        COrbSocket* socket = g_pSwitchSocket.load();
        if (socket == nullptr) {
            TraceLog("[ERROR] Invalid Socket Handle -- Terminating ReadSocketThread!!!");
            break;
        }

        // A switch that closed or broke the link is down now, not when the sanity time-out
        // notices; a stop closes the socket itself and is no failure.
        auto lost = [&] {
            if (!m_hCloseEvent.IsSet() && g_pSwitchSocket.load() == socket)
                FailLink("ReadSocketThread");
        };

        std::uint8_t head[2];
        auto receive = [&](std::uint8_t* buffer, int length) {
            return ReceiveLink(*socket, buffer, length);
        };
        if (!ReceiveLength(receive, head)) {
            lost();
            break;
        }
        const std::uint16_t length = CtiRecord::PeekLength(head);

        // A refused length still announces its body: pass over exactly those bytes, so the next
        // two bytes read are a length again.
        auto skip = [&](int count) {
            while (count > 0) {
                const int part = std::min(count, kSkipChunk);
                if (!ReceiveBody(*socket, scratch, part, false))
                    return false;
                count -= part;
            }
            return true;
        };

        if (!CtiRecord::IsAcceptedLength(length)) {
            HandOverReadBatch();
            TraceLog("[ERROR] message length[%d] is too big or small. something wrong. anyway, "
                     "send LinkAlive Signal",
                     length);
            m_hAliveEvent.Set();
            if (length > CtiRecord::kMaxBodyLength) {
                // No switch sends such a record: the stream is out of step, and waiting for the
                // bytes it announces would leave the link deaf.
                TraceLog("[ERROR] The length[%d] from the switch cannot be a record. The link is "
                         "out of step and is started again!!!",
                         length);
                ResetOutOfStep();
                break;
            }
            if (!skip(length)) {
                lost();
                break;
            }
            m_hAliveEvent.Set();
            if (!CountMalformed())
                break; // the run has reset the link
            continue;
        }

        LinkRecord record;
        try {
            record.resize(CtiRecord::kLengthSize + length);
        } catch (const std::bad_alloc&) {
            HandOverReadBatch();
            TraceLog("[ERROR] Critical Error. memory allocation[%d bytes] failed.", length);
            if (!skip(length)) {
                lost();
                break;
            }
            m_hAliveEvent.Set();
            continue;
        }
        record[0] = head[0];
        record[1] = head[1];
        if (!ReceiveBody(*socket, record.data() + CtiRecord::kLengthSize, length, true)) {
            lost();
            break;
        }

        if (record.size() > CtiRecord::kMaxLinkRecordSize) {
            HandOverReadBatch();
            TraceLog("[ERROR] Message Length is wrong. anyway, send LinkAlive Signal.");
        } else {
            TraceSwitchMessage(record.data(), record.size(), false);
            if (!ScreenRecord(record)) {
                if (g_bSwitchLinkUp.load() == 0)
                    break; // the run has reset the link
                continue;  // no event: it does not keep the link alive either
            }
            AddToReadBatch(std::move(record));
        }
        m_hAliveEvent.Set();
    }
    // The loop ends with the link or the queue, and either drops what the handler has not taken.
    m_ReadBatch.clear();
    m_bReaderRunning = 0;
}

bool COrbIOQueue::SendMsgThenReceiveThroughSocket(const std::uint8_t* frame, int size) {
    COrbSocket* socket = g_pSwitchSocket.load();
    if (socket == nullptr) {
        g_bSwitchLinkUp = 0;
        return false;
    }
    // A short send is continued; a record left half-sent would put the link out of step.
    int sent = 0;
    while (sent < size) {
        const int part = socket->Send(frame + sent, size - sent);
        if (part <= 0)
            break;
        sent += part;
    }
    if (sent == size) {
        TraceSwitchMessage(frame, static_cast<std::size_t>(sent), true);
        return true;
    }
    if (sent > 0)
        TraceLog("[ERROR] Sent Count[%d] is not matched to the orignal message count[%d].!!!", sent,
                 size);
    else
        TraceLog("SendMsgThenReceiveThroughSocket --> Sending Ignored. Socekt or CTI - Link has "
                 "something wrong..!!!");
    return false;
}

void COrbIOQueue::WriteSocketThread() {
    TraceLog("WriterSocketThread Started!!!");
    if (g_pSwitchSocket.load() == nullptr) {
        TraceLog("WriterSocketThread : Socket Handle is NULL. Terminating WriteSocketThread!!!");
        m_bWriterRunning = 0;
        return;
    }
    std::vector<std::uint8_t> frame;
    for (;;) {
        m_bWriterRunning = 1;
        const LinkWait wait = WaitForLink();
        if (wait == kLinkWaitFailed) {
            TraceLog("WriterSocketthread Wait Failed. Terminating WriteSocketThread!!!");
            break;
        }
        if (wait == kLinkWaitClosed) {
            TraceLog("Terminating WriteSocketThread!!!");
            break;
        }
        const int which = platform::Event::WaitAny({&m_hCloseEvent, &m_hOutputNotEmptyEvent});
        if (which == 0) {
            TraceLog("Terminating WriteSocketThread!!!");
            break;
        }
        if (which != 1) {
            // Only a broken event ends an endless wait otherwise; waiting again would spin.
            TraceLog("Wrong Event Signal !!!. wait again !!!");
            TraceLog("WriterSocketthread Wait Failed. Terminating WriteSocketThread!!!");
            break;
        }
        if (g_bSwitchLinkUp.load() == 0) {
            TraceLog("Link is not availabe. wait again !!!");
            ClearLinkAvailable();
            continue;
        }

        LinkQueueItem item;
        if (!TakeOutput(item))
            continue;
        CtiRecord::EncodeInto(frame, item.body);
        if (SendMsgThenReceiveThroughSocket(frame.data(), static_cast<int>(frame.size()))) {
            DoneWithOutput();
            continue;
        }

        TraceLog("[ERROR] Unable to send the message. CTI Link Lost!!!.");
        FailLink("WriterSocketThread");
        DoneWithOutput();
    }
    m_bWriterRunning = 0;
}

} // namespace engine
