#include "FramePort.h"
#include <switchsim/SimFrames.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using Bytes = FramePort::Bytes;

struct FramesRig {
    explicit FramesRig(int telNoSize = 4, int stations = 8, int trunks = 8) {
        settings.telNoSize = static_cast<std::int16_t>(telNoSize);
        settings.stnCount = static_cast<std::int16_t>(stations);
        settings.trkCount = static_cast<std::int16_t>(trunks);
        settings.deviceCount = static_cast<std::int16_t>(stations + trunks);
        settings.firstStation = telNoSize == 3 ? 201 : 2001;
        settings.firstGroup = telNoSize == 3 ? 500 : 5000;
        settings.firstTrunk = telNoSize == 3 ? 701 : 7001;
        db.BuildSwitchDatabase(settings);
        trace.SetEnabled(true);
    }
    SwitchSimSettings settings;
    SimSwitchDatabase db;
    SimTrace trace;
    FramePort port;
    SimFrames frames{port, trace, settings, db};
};

// A link that goes down after a number of frames.
class ClosingPort : public FramePort {
public:
    void SendFrame(const Bytes& frame) override {
        FramePort::SendFrame(frame);
        if (frames.size() == closeAfter) {
            connected = false;
        }
    }
    std::size_t closeAfter = 0;
};

TEST(SimFrames, OneAndTwoNumberEvents) {
    FramesRig rig;
    rig.frames.BuildFrameI(2001);
    rig.frames.BuildFrameD(2001, 2002);
    rig.frames.BuildFrameY(2001, 2002);
    rig.frames.BuildFrameH(2001, 2002);
    rig.frames.BuildFrameN(2001, 2005);
    rig.frames.BuildFrameR(2003, 7001);
    rig.frames.BuildFrameS(2003, 7001);
    rig.frames.BuildFrameE(7001, 2003);
    rig.frames.BuildFrameT(2008);
    rig.frames.BuildFrameFEvent(2001, 2003);
    ASSERT_EQ(rig.port.Letters(), "IDYHNRSETF");
    const auto& f = rig.port.frames;
    EXPECT_EQ(f[0], (Bytes{0x00, 0x08, 'I', 0xFF, 0xFF, 2, 0, 0, 1, 0}));
    EXPECT_EQ(f[1], (Bytes{0x00, 0x16, 'D',  0xFF, 0xFF, 2,    0, 0, 1, 0, 2, 0,
                           0,    2,    0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 4, 0}));
    EXPECT_EQ(f[2], (Bytes{0x00, 0x16, 'Y',  0xFF, 0xFF, 2,    0, 0, 1, 0, 2,    0,
                           0,    2,    0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0}));
    EXPECT_EQ(f[3], (Bytes{0x00, 0x0E, 'H', 0xFF, 0xFF, 2, 0, 0, 1, 0, 2, 0, 0, 2, 0, 0}));
    EXPECT_EQ(f[4], (Bytes{0x00, 0x0C, 'N', 0xFF, 0xFF, 2, 0, 0, 1, 0, 2, 0, 0, 5}));
    EXPECT_EQ(f[5], (Bytes{0x00, 0x0C, 'R', 0xFF, 0xFF, 2, 0, 0, 3, 0, 7, 0, 0, 1}));
    EXPECT_EQ(f[6], (Bytes{0x00, 0x0C, 'S', 0xFF, 0xFF, 2, 0, 0, 3, 0, 7, 0, 0, 1}));
    EXPECT_EQ(f[7], (Bytes{0x00, 0x0C, 'E', 0xFF, 0xFF, 7, 0, 0, 1, 0, 2, 0, 0, 3}));
    EXPECT_EQ(f[8], (Bytes{0x00, 0x08, 'T', 0xFF, 0xFF, 2, 0, 0, 8, 0}));
    EXPECT_EQ(f[9], (Bytes{0x00, 0x0E, 'F', 0xFF, 0xFF, 2, 0, 0, 1, 0, 2, 2, 0, 0, 3, 0}));
    EXPECT_EQ(rig.trace.totalSent, 10);
}

TEST(SimFrames, ThreeNumberEventsAndThreeDigitNumbers) {
    FramesRig rig(3);
    rig.frames.BuildFrameI(201);
    rig.frames.BuildFrameT(201);
    rig.frames.SendFrameD(201, 702, 205);
    rig.frames.BuildFrameV(201, 702, 205, 4);
    rig.frames.BuildFrameLowerP(201, 702, 205);
    rig.frames.BuildFrameFEvent(201, 203);
    ASSERT_EQ(rig.port.Letters(), "ITDVpF");
    const auto& f = rig.port.frames;
    EXPECT_EQ(f[0], (Bytes{0x00, 0x08, 'I', 0xFF, 0xFF, 2, 0, 1, 0x0F, 0}));
    EXPECT_EQ(f[1], (Bytes{0x00, 0x08, 'T', 0xFF, 0xFF, 2, 0, 1, 0x0F, 0}));
    EXPECT_EQ(f[2], (Bytes{0x00, 0x16, 'D', 0xFF, 0xFF, 2,    0, 1, 0x0F, 0, 7, 0,
                           2,    0x0F, 2,   0,    5,    0x0F, 0, 0, 0,    0, 0, 0}));
    EXPECT_EQ(f[3], (Bytes{0x00, 0x12, 'V', 0xFF, 0xFF, 2, 0, 1,    0x0F, 0,
                           7,    0,    2,   0x0F, 2,    0, 5, 0x0F, 4,    0}));
    EXPECT_EQ(f[4],
              (Bytes{0x00, 0x10, 'p', 0xFF, 0xFF, 2, 0, 1, 0x0F, 0, 7, 0, 2, 0x0F, 2, 0, 5, 0x0F}));
    EXPECT_EQ(f[5], (Bytes{0x00, 0x0E, 'F', 0xFF, 0xFF, 2, 0, 1, 0x0F, 0, 2, 2, 0, 3, 0x0F, 0}));
}

TEST(SimFrames, FramesCopyingTheRequestNumbers) {
    // 3 digits: the link server's 0xFF filler becomes 0x0F.
    FramesRig rig(3);
    const Bytes request{0x02, 'H', 0xFF, 0xFF, 2, 0, 3, 0xFF, 0x00, 2, 0, 7, 0xFF};
    rig.frames.SendFrameH(request.data(), static_cast<int>(request.size()));
    ASSERT_EQ(rig.port.frames.size(), 1u);
    EXPECT_EQ(rig.port.frames[0],
              (Bytes{0x00, 0x0E, 'H', 0xFF, 0xFF, 2, 0, 3, 0x0F, 0, 2, 0, 7, 0x0F, 0x01, 0}));

    rig.port.Clear();
    rig.frames.SendFramesIR(request.data(), static_cast<int>(request.size()));
    ASSERT_EQ(rig.port.Letters(), "IR");
    EXPECT_EQ(rig.port.frames[0], (Bytes{0x00, 0x08, 'I', 0xFF, 0xFF, 2, 0, 3, 0x0F, 0}));
    EXPECT_EQ(rig.port.frames[1],
              (Bytes{0x00, 0x0C, 'R', 0xFF, 0xFF, 2, 0, 3, 0x0F, 0, 2, 0, 7, 0x0F}));

    FramesRig four;
    const Bytes answer{0x02, 'F', 0xFF, 0xFF, 2, 0, 0, 1, 0x00, 7, 0, 0, 1};
    four.frames.SendFramesSE(answer.data(), static_cast<int>(answer.size()));
    ASSERT_EQ(four.port.Letters(), "SE");
    EXPECT_EQ(four.port.frames[0],
              (Bytes{0x00, 0x0E, 'S', 0xFF, 0xFF, 2, 0, 0, 1, 0, 7, 0, 0, 1, 0, 0}));
    EXPECT_EQ(four.port.frames[1], (Bytes{0x00, 0x0C, 'E', 0xFF, 0xFF, 7, 0, 0, 1, 0, 2, 0, 0, 1}));

    four.port.Clear();
    four.settings.callMode = 1; // Internal: the 'E' alone
    four.frames.SendFramesSE(answer.data(), static_cast<int>(answer.size()));
    ASSERT_EQ(four.port.Letters(), "E");
    EXPECT_EQ(four.port.frames[0].size(), 14u);
    EXPECT_EQ(four.port.frames[0][5], 7);

    // Bytes the request did not carry are no number.
    four.port.Clear();
    four.frames.SendFrameH(answer.data(), 6);
    EXPECT_EQ(four.port.frames[0], (Bytes{0x00, 0x0E, 'H', 0xFF, 0xFF, 2, 0, 0xFF, 0xFF, 0, 0xFF,
                                          0xFF, 0xFF, 0xFF, 1, 0}));
}

TEST(SimFrames, FailReplyIsCountedButNotTraced) {
    FramesRig rig;
    const Bytes request{0x02, 'D', 0xFF, 0xFF, 2, 0, 0, 1, 0x00, 5, 1, 2, 3, 4, 5};
    rig.frames.SendFailReply(request.data(), static_cast<int>(request.size()), 5);
    rig.frames.SendFailReply(request.data(), static_cast<int>(request.size()), 8);
    rig.frames.SendFailReply(request.data(), static_cast<int>(request.size()), -1);
    ASSERT_EQ(rig.port.frames.size(), 3u);
    EXPECT_EQ(rig.port.frames[0],
              (Bytes{0x00, 0x0E, 'F', 0xFF, 0xFF, 2, 0, 0, 1, 0, 5, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(rig.port.frames[1][10], 0);
    EXPECT_EQ(rig.port.frames[2][10], 0);
    EXPECT_EQ(rig.trace.totalSent, 3);
    EXPECT_EQ(rig.trace.Text(), "");

    // A request cut short: only the bytes that came are copied.
    rig.port.Clear();
    rig.frames.SendFailReply(request.data(), 5, 0);
    EXPECT_EQ(rig.port.frames[0], (Bytes{0x00, 0x0E, 'F', 0xFF, 0xFF, 2, 0xFF, 0xFF, 0xFF, 0, 0,
                                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    FramesRig three(3);
    three.frames.SendFailReply(request.data(), static_cast<int>(request.size()), 1);
    EXPECT_EQ(three.port.frames[0][8], 0x0F);
}

TEST(SimFrames, ReceivedTraceShowsWhatThePeerSent) {
    // Whatever byte stands at the letter, a zero too, it is shown as it came.
    const Bytes zero{0x02, 0x00, 0x0F};
    EXPECT_EQ(SimFrames::FormatReceivedMessage(zero.data(), 3),
              std::string("-->> 02 '\0' 0F \r\n", 17));
    const Bytes start{0x02};
    EXPECT_EQ(SimFrames::FormatReceivedMessage(start.data(), 1), "-->> 02 \r\n");
}

TEST(SimFrames, TraceLinesAndTheirBox) {
    FramesRig rig;
    rig.frames.BuildFrameI(2001);
    EXPECT_EQ(rig.trace.Text(), "<<-- 00 08 'I' FF FF 02 00 00 01 00 \r\n");
    const Bytes request{0x02, 'D', 0xFF, 0xAB};
    EXPECT_EQ(SimFrames::FormatReceivedMessage(request.data(), 4), "-->> 02 'D' FF AB \r\n");
    EXPECT_EQ(SimFrames::FormatReceivedMessage(nullptr, 0), "-->> \r\n");

    int changes = 0;
    rig.trace.changed = [&] { ++changes; };
    rig.trace.SetEnabled(false);
    rig.trace.Clear();
    rig.frames.BuildFrameI(2001);
    EXPECT_EQ(rig.trace.Text(), "");
    EXPECT_EQ(rig.trace.totalSent, 2); // counted while the trace is off
    EXPECT_GE(changes, 1);

    // A box above 2000 characters is emptied before the next line.
    rig.trace.SetEnabled(true);
    rig.trace.AppendSwitchLog(std::string(2000, 'x'));
    rig.trace.AppendSwitchLog("y");
    EXPECT_EQ(rig.trace.Text().size(), 2001u);
    rig.trace.AppendSwitchLog("z");
    EXPECT_EQ(rig.trace.Text(), "z");

    std::string logged;
    rig.trace.SetLogSink([&](const std::string& line) { logged = line; });
    rig.trace.AddLogLine("[Error Report] x");
    EXPECT_EQ(logged, "[Error Report] x");
    EXPECT_EQ(rig.trace.Text(), "z");
}

TEST(SimFrames, DeviceDownloadForEightStationsAndTwoTrunks) {
    FramesRig rig(4, 8, 2);
    rig.frames.SendDeviceList();
    ASSERT_EQ(rig.port.frames.size(), 11u);
    for (std::size_t i = 0; i < 10; ++i) {
        const int number = i < 8 ? 2001 + static_cast<int>(i) : 7001 + static_cast<int>(i - 8);
        EXPECT_EQ(rig.port.frames[i], (Bytes{0x00, 0x0A, 'A', 0x00, static_cast<std::uint8_t>(i),
                                             static_cast<std::uint8_t>(number / 1000), 0, 0,
                                             static_cast<std::uint8_t>(number % 10), 0x00,
                                             static_cast<std::uint8_t>(i < 8 ? 2 : 4), 0x00}))
            << i;
    }
    EXPECT_EQ(rig.port.frames[10],
              (Bytes{0x00, 0x0A, 'A', 0xFF, 0xFF, 2, 0, 0, 1, 0x00, 0x00, 0x00}));
    EXPECT_EQ(rig.trace.totalSent, 10); // the end record is not counted
    EXPECT_EQ(rig.trace.Text(), "");

    FramesRig three(3, 8, 2);
    three.frames.SendDeviceList();
    EXPECT_EQ(three.port.frames[0],
              (Bytes{0x00, 0x0A, 'A', 0x00, 0x00, 2, 0, 1, 0x0F, 0x00, 2, 0x00}));
    EXPECT_EQ(three.port.frames[10],
              (Bytes{0x00, 0x0A, 'A', 0xFF, 0xFF, 2, 0, 1, 0x0F, 0x00, 0x00, 0x00}));

    FramesRig big(4, 512, 8);
    big.frames.SendDeviceList();
    ASSERT_EQ(big.port.frames.size(), 521u);
    EXPECT_EQ(big.port.frames[300][3], 0x01);
    EXPECT_EQ(big.port.frames[300][4], 0x2C);
}

TEST(SimFrames, KeepAliveAnswerIsNeitherTracedNorCounted) {
    FramesRig rig;
    rig.frames.SendKeepAliveAnswer();
    ASSERT_EQ(rig.port.frames.size(), 1u);
    EXPECT_EQ(rig.port.frames[0],
              (Bytes{0x00, 0x08, 'u', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(rig.trace.totalSent, 0);
    EXPECT_EQ(rig.trace.Text(), "");
}

TEST(SimFrames, NothingGoesOutOnAClosedLink) {
    FramesRig rig;
    rig.port.connected = false;
    const Bytes request{0x02, 'H', 0xFF, 0xFF, 2, 0, 0, 1, 0x00, 2, 0, 0, 2};
    const int length = static_cast<int>(request.size());
    rig.frames.BuildFrameI(2001);
    rig.frames.BuildFrameH(2001, 2002);
    rig.frames.BuildFrameD(2001, 2002);
    rig.frames.BuildFrameY(2001, 2002);
    rig.frames.BuildFrameN(2001, 2002);
    rig.frames.BuildFrameT(2001);
    rig.frames.BuildFrameFEvent(2001, 2002);
    rig.frames.SendFrameD(2001, 2002, 2003);
    rig.frames.BuildFrameV(2001, 2002, 2003, 1);
    rig.frames.BuildFrameLowerP(2001, 2002, 2003);
    rig.frames.SendFrameH(request.data(), length);
    rig.frames.SendFramesIR(request.data(), length);
    rig.frames.SendFramesSE(request.data(), length);
    rig.frames.SendFailReply(request.data(), length, 0);
    rig.frames.SendDeviceList();
    rig.frames.SendKeepAliveAnswer();
    EXPECT_FALSE(rig.frames.Send(Bytes{0x00, 0x01, 'x'}));
    EXPECT_TRUE(rig.port.frames.empty());
    EXPECT_TRUE(rig.port.framesWhileClosed.empty());
    EXPECT_EQ(rig.trace.totalSent, 0);
    EXPECT_EQ(rig.trace.Text(), "");
}

TEST(SimFrames, ALinkLostDuringAnAnswerEndsIt) {
    FramesRig rig;
    ClosingPort port;
    SimFrames frames{port, rig.trace, rig.settings, rig.db};
    port.closeAfter = 3;
    frames.SendDeviceList();
    EXPECT_EQ(port.frames.size(), 3u);
    EXPECT_EQ(port.Letters(), "AAA");
    EXPECT_TRUE(port.framesWhileClosed.empty()); // no end record
    EXPECT_EQ(rig.trace.totalSent, 3);

    // A pair that meets a closed link after its first frame sends only that one.
    port.Clear();
    port.connected = true;
    port.closeAfter = 1;
    const Bytes request{0x02, 'R', 0xFF, 0xFF, 2, 0, 0, 1, 0x00, 2, 0, 0, 2};
    frames.SendFramesIR(request.data(), static_cast<int>(request.size()));
    EXPECT_EQ(port.Letters(), "I");
    EXPECT_TRUE(port.framesWhileClosed.empty());
}

} // namespace
