#include "PtySwitch.h"
#include "TraceCapture.h"
#include <engine/LinkState.h>
#include <engine/OrbIOQueue.h>
#include <engine/OrbManagerDlg.h>
#include <engine/SerialPort.h>

#include <protocol/SwitchCommand.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace engine;

namespace {

using Bytes = PtySwitch::Bytes;
using Answer = PtySwitch::Answer;

constexpr std::uint8_t kEnqByte = 0x05;
constexpr std::uint8_t kAckByte = 0x06;
constexpr std::uint8_t kNakByte = 0x15;
constexpr int kWait = 3000; // bound for things that should happen at once

const Bytes kPollBody{0x02, 0x75, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
const Bytes kPollFrame{0x02, 0x00, 0x09, 0x02, 0x75, 0xFF, 0xFF,
                       0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x7E, 0x03};
// Make call from 201 to 301.
const Bytes kMakeCallBody{0x02, 'D', 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00, 0x03, 0x00, 0x01};
// A device record of the download.
const Bytes kDeviceRecord{'A', 0x00, 0x01, 0x02, 0x00, 0x01, 0xFF, 0x00, 0x01};

Bytes Record(const Bytes& body) {
    Bytes record;
    record.reserve(body.size() + 2);
    record.push_back(static_cast<std::uint8_t>(body.size() >> 8));
    record.push_back(static_cast<std::uint8_t>(body.size() & 0xFF));
    for (std::uint8_t b : body)
        record.push_back(b);
    return record;
}

Bytes AliveBody() {
    const protocol::IAmAliveCommand alive;
    return Bytes(alive.Body().begin(), alive.Body().end());
}

TEST(SerialFrame, IsLenDataXorCheckBetweenStxAndEtx) {
    std::uint8_t out[400] = {};
    ASSERT_EQ(COrbIOQueue::BuildSerialFrame(out, kPollBody.data(), 9), 14);
    EXPECT_EQ(Bytes(out, out + 14), kPollFrame);

    const Bytes alive = AliveBody();
    ASSERT_EQ(alive.size(), 15u);
    ASSERT_EQ(COrbIOQueue::BuildSerialFrame(out, alive.data(), 15), 20);
    EXPECT_EQ(out[0], 0x02);
    EXPECT_EQ(out[1], 0x00);
    EXPECT_EQ(out[2], 0x0F);
    EXPECT_EQ(out[18], 0xEE);
    EXPECT_EQ(out[19], 0x03);

    // The high length byte takes part in the check: 01 ^ 2C over 300 zero bytes.
    const Bytes zeros(300, 0x00);
    ASSERT_EQ(COrbIOQueue::BuildSerialFrame(out, zeros.data(), 300), 305);
    EXPECT_EQ(out[1], 0x01);
    EXPECT_EQ(out[2], 0x2C);
    EXPECT_EQ(out[303], 0x2D);
    EXPECT_EQ(out[304], 0x03);

    EXPECT_EQ(COrbIOQueue::BuildSerialFrame(nullptr, kPollBody.data(), 9), 0);
    EXPECT_EQ(COrbIOQueue::BuildSerialFrame(out, nullptr, 9), 0);
    EXPECT_EQ(COrbIOQueue::BuildSerialFrame(out, kPollBody.data(), -1), 0);
}

class OrbIOQueueSerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_switch.IsOpen());
        ASSERT_TRUE(m_switch.MapAsComPort(1));
        SerialTimeouts timeouts;
        timeouts.readConstantMs = 100;
        m_port = std::make_unique<SerialPort>(timeouts);
        ASSERT_EQ(m_port->Open(1), 1);

        m_dlg.m_nConnType = kConnTypeDirectSerial;
        m_dlg.m_timings.enqAckWaitMs = 2000;
        m_dlg.m_timings.frameAckWaitMs = 2000;
        m_dlg.m_timings.badCheckPauseMs = 200;
        m_dlg.m_timings.serialLinkDownPollMs = 50;
        m_dlg.m_pSerialPort = m_port.get();
        m_queue = std::make_unique<COrbIOQueue>(&m_dlg);
    }
    void TearDown() override {
        if (m_queue) {
            m_queue->IOQueueClose();
            EXPECT_TRUE(m_queue->JoinThreads(5000));
            m_queue.reset();
        }
        m_dlg.m_pSerialPort = nullptr;
        m_port.reset();
        ResetLinkState();
    }

    void StartLink() {
        m_queue->IOQueueStartThreads();
        g_bDeviceListAvailable = 1;
        g_bSwitchLinkUp = 1;
        g_hLinkAvailableEvent.Set();
    }
    void Write(const Bytes& body) {
        EXPECT_EQ(m_queue->IOQueueWrite(body.data(), static_cast<int>(body.size())), 1);
    }

    // The next record for the event handler; nothing when none comes in time (the queue is then
    // closed to end the wait).
    std::optional<Bytes> ReadRecord(int timeoutMs = kWait) {
        auto pending = std::async(std::launch::async, [this] { return m_queue->IOQueueRead(); });
        if (pending.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
            m_queue->IOQueueClose();
            pending.wait();
            return std::nullopt;
        }
        std::unique_ptr<LinkRecord> record = pending.get();
        if (!record)
            return std::nullopt;
        return *record;
    }

    int CountTracesStartingWith(const std::string& prefix) const {
        return m_traces.CountIf([&](const std::string& t) { return t.rfind(prefix, 0) == 0; });
    }
    // Skips what the server sends until `byte` comes.
    bool SkipTo(std::uint8_t byte, int timeoutMs = kWait) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            const Bytes got = m_switch.Read(1, 50);
            if (!got.empty() && got[0] == byte)
                return true;
        }
        return false;
    }
    // Hands the switch the line for one frame of the server's and acknowledges it.
    std::optional<Bytes> TakeFrame() {
        if (!m_switch.Expect({kEnqByte}, kWait) || !m_switch.SendByte(kAckByte))
            return std::nullopt;
        std::optional<Bytes> frame = m_switch.ReadFrame(kWait);
        if (frame)
            m_switch.SendByte(kAckByte);
        return frame;
    }

    PtySwitch::TempRegistry m_registry;
    PtySwitch m_switch;
    COrbManagerDlg m_dlg;
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<COrbIOQueue> m_queue;
    TraceCapture m_traces;
};

TEST_F(OrbIOQueueSerialTest, BidsForTheLineBeforeEachFrameAndWaitsForItsAck) {
    StartLink();
    Write(kPollBody);
    Write(AliveBody());
    Write(kMakeCallBody);

    ASSERT_TRUE(m_switch.Expect({kEnqByte}, kWait));
    EXPECT_TRUE(m_switch.QuietFor(150)); // no frame before the switch gives the line
    ASSERT_TRUE(m_switch.SendByte(kAckByte));
    EXPECT_EQ(m_switch.ReadFrame(kWait), kPollFrame);
    EXPECT_TRUE(m_switch.QuietFor(150)); // and no next bid before the frame is acknowledged
    ASSERT_TRUE(m_switch.SendByte(kAckByte));

    const std::optional<Bytes> alive = TakeFrame();
    ASSERT_TRUE(alive);
    ASSERT_EQ(alive->size(), 20u);
    EXPECT_EQ((*alive)[18], 0xEE);
    EXPECT_EQ((*alive)[19], 0x03);

    const std::optional<Bytes> call = TakeFrame();
    ASSERT_TRUE(call);
    EXPECT_EQ(Bytes(call->begin() + 3, call->end() - 2), kMakeCallBody);
    EXPECT_TRUE(m_queue->WaitOutputDrained(kWait));

    // Only the call is traced; the poll and the I-am-alive are link supervision.
    EXPECT_TRUE(m_traces.WaitFor("\n--->>> [SW] 02 'D' FF FF 02 00 01 FF 00 03 00 01 ", kWait));
    EXPECT_EQ(CountTracesStartingWith("\n--->>> [SW] "), 1);
}

TEST_F(OrbIOQueueSerialTest, AcknowledgesGoodFramesAndQueuesTheEventsAsRecords) {
    StartLink();
    const Bytes poll{'u', 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00};
    const Bytes low{0x10, 0x00, 0xAB};
    const Bytes shortEvent{'E'};
    for (const Bytes& body : {kDeviceRecord, low, shortEvent, poll}) {
        ASSERT_TRUE(m_switch.SendFrame(body));
        EXPECT_TRUE(m_switch.Expect({kAckByte}, kWait)); // whole frames, whatever they hold
    }

    // The records that are no events are dropped by the rule of the TCP link.
    EXPECT_EQ(ReadRecord(), Record(kDeviceRecord));
    EXPECT_EQ(ReadRecord(), Record(poll));
    EXPECT_EQ(m_queue->LastReadOk(), 1);
    EXPECT_TRUE(m_traces.Has(
        "[ERROR] The switch sent a record without an event letter[10, 3 bytes]. Dropped!!!"));
    EXPECT_TRUE(m_traces.Has("[ERROR] The switch sent a record too short for its letter[E : 1 "
                             "bytes, 8 needed]. Dropped!!!"));
    EXPECT_FALSE(g_hLinkFailureEvent.IsSet());

    EXPECT_TRUE(m_traces.Has("<<<--- [SW] 'A' 00 01 02 00 01 FF 00 01 "));
    EXPECT_TRUE(m_traces.Has("<<<--- [SW] 10' 00 AB "));
    EXPECT_TRUE(m_traces.Has("<<<--- [SW] 'E' "));
    EXPECT_EQ(CountTracesStartingWith("<<<--- [SW] "), 3); // the keep-alive answer is not traced
}

TEST_F(OrbIOQueueSerialTest, ARunOfFramesThatAreNoEventsResetsTheLink) {
    StartLink();
    for (int i = 0; i < COrbIOQueue::kMalformedRunLimit; ++i) {
        ASSERT_TRUE(m_switch.SendFrame({'E'}));
        ASSERT_TRUE(m_switch.Expect({kAckByte}, kWait)) << i;
        EXPECT_EQ(g_hLinkFailureEvent.IsSet(), i + 1 == COrbIOQueue::kMalformedRunLimit) << i;
    }
    EXPECT_TRUE(m_traces.WaitFor("Link Fail Event Signaled by ReadComPortThread !!!", kWait));
    EXPECT_EQ(m_traces.CountPart("records in a row from the switch are no events. The link is out "
                                 "of step and is reset!!!"),
              1);
    EXPECT_EQ(g_bSwitchLinkUp.load(), 0);
    EXPECT_EQ(g_bDeviceListAvailable.load(), 0);
}

TEST_F(OrbIOQueueSerialTest, RefusesABadCheckByteAndTakesTheNextFrame) {
    StartLink();
    Bytes bad = PtySwitch::Frame({'N', 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00});
    bad[bad.size() - 2] ^= 0x01;
    ASSERT_TRUE(m_switch.Send(bad));
    EXPECT_TRUE(m_switch.Expect({kNakByte}, kWait));
    EXPECT_TRUE(m_traces.WaitFor("[ERROR] Bad CheckSum Received!!!", kWait));
    // The reader purges before it refuses: what the switch sends after the NAK is kept.
    ASSERT_TRUE(m_switch.SendFrame(kDeviceRecord));
    EXPECT_TRUE(m_switch.Expect({kAckByte}, kWait));
    EXPECT_EQ(ReadRecord(), Record(kDeviceRecord)); // the refused frame was never queued
}

TEST_F(OrbIOQueueSerialTest, RefusesStrayBytesAndLengthsItCannotHold) {
    StartLink();
    ASSERT_TRUE(m_switch.SendByte(0x41));
    EXPECT_TRUE(m_switch.Expect({kNakByte}, kWait));
    EXPECT_TRUE(m_traces.WaitFor("UNEXPECTED BYTE IN IOSTATE FREE. Received Byte[41]!!!", kWait));

    // The reader purges its input before each NAK: what follows the NAK is kept.
    ASSERT_TRUE(m_switch.Send({0x02, 0x00, 0x00}));
    EXPECT_TRUE(m_switch.Expect({kNakByte}, kWait));
    EXPECT_TRUE(m_traces.WaitFor(
        "[ERROR] Serial frame length [0] is out of range. Refused with NAK!!!", kWait));
    ASSERT_TRUE(m_switch.Send({0x02, 0x01, 0x2C}));
    EXPECT_TRUE(m_switch.Expect({kNakByte}, kWait));
    EXPECT_TRUE(m_traces.WaitFor(
        "[ERROR] Serial frame length [300] is out of range. Refused with NAK!!!", kWait));

    // Back in step: the next frame is taken whole.
    ASSERT_TRUE(m_switch.SendFrame(kDeviceRecord));
    EXPECT_TRUE(m_switch.Expect({kAckByte}, kWait));
    EXPECT_EQ(ReadRecord(), Record(kDeviceRecord));
}

TEST_F(OrbIOQueueSerialTest, AFrameCutOffByTheReadTimeoutIsGivenUp) {
    StartLink();
    ASSERT_TRUE(m_switch.Send({0x02, 0x00, 0x09, 'A', 0x00}));
    // Longer than the port's read time-out (100 ms here).
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ASSERT_TRUE(m_switch.SendFrame(kDeviceRecord));
    EXPECT_TRUE(m_switch.Expect({kAckByte}, kWait)); // an ACK, and no NAK before it
    EXPECT_EQ(ReadRecord(), Record(kDeviceRecord));
}

TEST_F(OrbIOQueueSerialTest, DeliversAndAcknowledgesAFrameWithoutItsEtx) {
    StartLink();
    Bytes frame = PtySwitch::Frame(kDeviceRecord);
    frame.back() = 0x04;
    ASSERT_TRUE(m_switch.Send(frame));
    EXPECT_TRUE(m_switch.Expect({kAckByte}, kWait));
    EXPECT_EQ(ReadRecord(), Record(kDeviceRecord));
    EXPECT_TRUE(m_traces.Has("EXPECTING_ETX : Received Something Else!!!. Received Byte : [04]"));
    EXPECT_TRUE(
        m_traces.Has("<<<--- Received Uncompleted Message From SW : 'A' 00 01 02 00 01 FF 00 01 "));
}

TEST_F(OrbIOQueueSerialTest, AnswersTheSwitchsEnqAtOnceWhileWaitingForItsOwnAck) {
    m_dlg.m_timings.enqAckWaitMs = 20000;
    m_dlg.m_timings.frameAckWaitMs = 20000;
    StartLink();
    Write(kMakeCallBody);
    ASSERT_TRUE(m_switch.Expect({kEnqByte}, kWait));

    // The server waits for the line; the switch bids itself and is answered at once.
    ASSERT_TRUE(m_switch.SendByte(kEnqByte));
    EXPECT_TRUE(m_switch.Expect({kAckByte}, kWait));
    ASSERT_TRUE(m_switch.SendFrame(kDeviceRecord));
    EXPECT_TRUE(m_switch.Expect({kAckByte}, kWait));

    // The switch's ACK to the server's ENQ still counts as such.
    ASSERT_TRUE(m_switch.SendByte(kAckByte));
    const std::optional<Bytes> frame = m_switch.ReadFrame(kWait);
    ASSERT_TRUE(frame);
    EXPECT_EQ(Bytes(frame->begin() + 3, frame->end() - 2), kMakeCallBody);

    // And while it waits for the frame's ACK.
    ASSERT_TRUE(m_switch.SendByte(kEnqByte));
    EXPECT_TRUE(m_switch.Expect({kAckByte}, kWait));
    ASSERT_TRUE(m_switch.SendByte(kAckByte));
    EXPECT_TRUE(m_queue->WaitOutputDrained(kWait));
    EXPECT_EQ(ReadRecord(), Record(kDeviceRecord));
}

TEST_F(OrbIOQueueSerialTest, ThreeUnansweredEnqsFailTheLink) {
    m_dlg.m_timings.enqAckWaitMs = 100;
    m_switch.AutoAnswer(Answer::None, Answer::None);
    StartLink();
    Write(kMakeCallBody);
    ASSERT_EQ(g_hLinkFailureEvent.Wait(kWait), platform::Event::WaitResult::Signaled);
    EXPECT_EQ(g_bSwitchLinkUp.load(), 0);
    EXPECT_EQ(g_bDeviceListAvailable.load(), 0);
    EXPECT_TRUE(
        m_traces.WaitFor("SendENQThenReceive() could not receive the ACK byte from switch. Retry "
                         "Failed. Link Failed and return False",
                         kWait));
    EXPECT_TRUE(m_switch.WaitEnqCount(3, kWait));
    EXPECT_TRUE(m_switch.QuietFor(300));
    EXPECT_EQ(m_switch.EnqCount(), 3);
}

TEST_F(OrbIOQueueSerialTest, ThreeNaksFailTheLink) {
    m_switch.AutoAnswer(Answer::Nak, Answer::None);
    StartLink();
    Write(kMakeCallBody);
    ASSERT_EQ(g_hLinkFailureEvent.Wait(kWait), platform::Event::WaitResult::Signaled);
    EXPECT_EQ(g_bSwitchLinkUp.load(), 0);
    EXPECT_EQ(g_bDeviceListAvailable.load(), 0);
    for (int i = 1; i <= 3; ++i)
        EXPECT_TRUE(m_traces.WaitFor(
            "OUTSTANDINGNAK is received. Retry [" + std::to_string(i) + " times]!!!", kWait));
    EXPECT_TRUE(m_switch.QuietFor(300));
    EXPECT_EQ(m_switch.EnqCount(), 3);
    EXPECT_TRUE(m_switch.AllReceived().size() == 3u); // no frame went out
}

TEST_F(OrbIOQueueSerialTest, AMissingFrameAckResendsAndKeepsTheReceivedInput) {
    m_dlg.m_timings.frameAckWaitMs = 600;
    m_switch.AutoAnswer(Answer::Ack, Answer::None);
    StartLink();
    const Bytes hold{0x02, 'H', 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00};
    Write(kMakeCallBody);
    Write(hold);
    EXPECT_EQ(m_switch.WaitBody(kWait), kMakeCallBody);

    // A switch event arrives while the server waits for the ACK it never gets.
    m_switch.DiscardPending();
    ASSERT_TRUE(m_switch.SendFrame(kDeviceRecord));
    ASSERT_TRUE(SkipTo(kAckByte));
    ASSERT_TRUE(m_traces.WaitFor("[ERROR] Unable to send the message - Resending!!!", kWait));
    m_switch.AutoAnswer(Answer::Ack, Answer::Ack);

    EXPECT_EQ(m_switch.WaitBody(kWait), kMakeCallBody); // the same frame again
    EXPECT_FALSE(m_switch.WaitBody(300));               // the rest of the output was dropped
    EXPECT_EQ(ReadRecord(), Record(kDeviceRecord));     // the input was kept
}

TEST_F(OrbIOQueueSerialTest, KeepsTheOutputWhileTheLinkIsDown) {
    m_queue->IOQueueStartThreads();
    g_hLinkAvailableEvent.Set(); // set, but the link is not marked up
    Write(kMakeCallBody);
    EXPECT_TRUE(m_traces.WaitFor("[ERROR] Link is not avilable!!!", kWait));
    EXPECT_TRUE(m_switch.QuietFor(200));

    g_bSwitchLinkUp = 1;
    g_hLinkAvailableEvent.Set();
    const std::optional<Bytes> frame = TakeFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(Bytes(frame->begin() + 3, frame->end() - 2), kMakeCallBody);
}

TEST_F(OrbIOQueueSerialTest, CloseEndsBothThreadsWhileTheyWait) {
    // Waits far longer than the join allows: only the close event can end them in time.
    m_dlg.m_timings = LinkTimings();
    SerialTimeouts slow;
    slow.readConstantMs = 60000;
    m_port->SetTimeouts(slow);
    ASSERT_EQ(m_port->ApplyTimeouts(), 1);
    m_switch.AutoAnswer(Answer::Ack, Answer::None);
    StartLink();
    Write(kMakeCallBody);
    EXPECT_EQ(m_switch.WaitBody(kWait), kMakeCallBody); // the writer now waits for the ACK
    EXPECT_TRUE(m_queue->IsReaderRunning());
    EXPECT_TRUE(m_queue->IsWriterRunning());

    m_queue->IOQueueClose();
    EXPECT_TRUE(m_queue->JoinThreads(3000));
    EXPECT_FALSE(m_queue->IsReaderRunning());
    EXPECT_FALSE(m_queue->IsWriterRunning());
    EXPECT_TRUE(m_traces.Has("Terminating ReadComPortThread!!!"));
}

TEST_F(OrbIOQueueSerialTest, CloseEndsThreadsThatWaitForTheLink) {
    m_queue->IOQueueStartThreads();
    EXPECT_TRUE(m_queue->IsReaderRunning());
    m_queue->IOQueueClose();
    EXPECT_TRUE(m_queue->JoinThreads(3000));
    EXPECT_TRUE(m_traces.Has("Terminating WriterComPortThread!!!"));
    EXPECT_TRUE(m_traces.Has("Terminating ReadComPortThread!!!"));
}

TEST_F(OrbIOQueueSerialTest, WithoutAPortTheThreadsEndAndTheBidFails) {
    m_dlg.m_pSerialPort = nullptr;
    StartLink();
    EXPECT_TRUE(m_traces.WaitFor(
        "[ERROR] WriterComPortThread : Wait Failed. Terminating WriterComPortThread!!!", kWait));
    EXPECT_TRUE(m_traces.WaitFor("[ERROR] Invalid COM Port Handler - Terminating ReadComPortThread",
                                 kWait));
    EXPECT_TRUE(m_queue->JoinThreads(3000));
    EXPECT_FALSE(m_queue->IsReaderRunning());
    EXPECT_FALSE(m_queue->IsWriterRunning());

    EXPECT_EQ(m_queue->SendENQThenReceive(), 0);
    EXPECT_EQ(g_bSwitchLinkUp.load(), 0);
    EXPECT_EQ(g_bDeviceListAvailable.load(), 0);
    EXPECT_TRUE(m_traces.Has("[ERROR] SendENQThenReceive() detected the the COM Port is NULL. Link "
                             "Failed and return FALSE"));
    g_bSwitchLinkUp = 1;
    EXPECT_EQ(m_queue->SendFrameWaitAck(kPollFrame.data(), static_cast<int>(kPollFrame.size())), 0);
    EXPECT_EQ(g_bSwitchLinkUp.load(), 0);
}

} // namespace
