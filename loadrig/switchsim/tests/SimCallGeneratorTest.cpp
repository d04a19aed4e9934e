#include "FramePort.h"
#include "SimHandlerRig.h"
#include <switchsim/SimCallGenerator.h>
#include <switchsim/SimFrames.h>
#include <switchsim/SimSwitchDatabase.h>
#include <switchsim/SimTrace.h>
#include <switchsim/SwitchSimSettings.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = FramePort::Bytes;

// A link that goes down once it has taken `closeAfter` frames.
class ClosingPort : public FramePort {
public:
    void SendFrame(const Bytes& frame) override {
        FramePort::SendFrame(frame);
        if (static_cast<int>(frames.size()) == closeAfter) {
            connected = false;
        }
    }
    int closeAfter = -1;
};

// A built switch of the given size with the generator over a recording link.
struct GeneratorRig {
    GeneratorRig(int stations, int trunks, int callCount, int callMode, int telNoSize = 4) {
        settings.telNoSize = static_cast<std::int16_t>(telNoSize);
        settings.stnCount = static_cast<std::int16_t>(stations);
        settings.trkCount = static_cast<std::int16_t>(trunks);
        settings.deviceCount = static_cast<std::int16_t>(stations + trunks);
        settings.callCount = static_cast<std::int16_t>(callCount);
        settings.callMode = static_cast<std::int16_t>(callMode);
        settings.firstStation = telNoSize == 3 ? 201 : 2001;
        settings.firstGroup = telNoSize == 3 ? 500 : 5000;
        settings.firstTrunk = telNoSize == 3 ? 701 : 7001;
        db.BuildSwitchDatabase(settings);
    }

    int FrameNumber(std::size_t frame, std::size_t at) const {
        const Bytes& f = port.frames.at(frame);
        if (settings.telNoSize == 3) {
            EXPECT_EQ(f.at(at + 3), 0x0F);
            return f.at(at) * 100 + f.at(at + 1) * 10 + f.at(at + 2);
        }
        return f.at(at) * 1000 + f.at(at + 1) * 100 + f.at(at + 2) * 10 + f.at(at + 3);
    }
    // Letter and the numbers of a frame as the letter carries them, e.g. "N 7001 2001".
    std::string Event(std::size_t i) const {
        const char letter = port.Letter(i);
        std::string text(1, letter);
        text += " " + std::to_string(FrameNumber(i, 5));
        if (letter == 'I' || letter == 'T') {
            return text;
        }
        text += " " + std::to_string(FrameNumber(i, 10));
        if (letter == 'V' || (letter == 'D' && port.frames[i][14] != 0xFF)) {
            text += " " + std::to_string(FrameNumber(i, 14));
        }
        return text;
    }
    std::string Events() const {
        std::string out;
        for (std::size_t i = 0; i < port.frames.size(); ++i) {
            out += (out.empty() ? "" : ", ") + Event(i);
        }
        return out;
    }
    // The 57 caller-identity bytes of the long offering for record r.
    Bytes Identity(std::size_t r) const {
        Bytes out;
        for (char c : db.cli[r].callerNumber) {
            out.push_back(static_cast<std::uint8_t>(c));
        }
        for (char c : db.cli[r].callerName) {
            out.push_back(static_cast<std::uint8_t>(c));
        }
        for (char c : db.did[r].number) {
            out.push_back(static_cast<std::uint8_t>(c));
        }
        for (char c : db.did[r].name) {
            out.push_back(static_cast<std::uint8_t>(c));
        }
        return out;
    }
    SimDeviceRecord& At(int position) { return db.devices.at(static_cast<std::size_t>(position)); }
    std::string Slot(int position, int slot) {
        const CallSlot& s = At(position).callSlots.at(static_cast<std::size_t>(slot));
        return SimHandlerRig::SlotText(s.state, s.partner);
    }
    double Counted() const {
        const SentEventCounters& c = trace.sent;
        return c.offering + c.dialTone + c.held + c.answer + c.hookOn;
    }

    SwitchSimSettings settings;
    SimSwitchDatabase db;
    SimTrace trace;
    ClosingPort port;
    SimFrames frames{port, trace, settings, db};
    SimCallGenerator generator{db, frames, trace, settings};
};

Bytes Slice(const Bytes& frame, std::size_t from, std::size_t to) {
    return Bytes(frame.begin() + static_cast<std::ptrdiff_t>(from),
                 frame.begin() + static_cast<std::ptrdiff_t>(to));
}

// ---- inbound ---------------------------------------------------------------------------------

TEST(SimInboundStep, ExternalOfferingCarriesTheCallerIdentity) {
    GeneratorRig rig(8, 8, 1, 0);
    rig.generator.SimInboundCall();

    ASSERT_EQ(rig.port.Letters(), "D");
    const Bytes& d = rig.port.frames[0];
    ASSERT_EQ(d.size(), 80u);
    EXPECT_EQ(Slice(d, 0, 22),
              (Bytes{0x00, 0x4E, 'D', 0xFF, 0xFF, 7,    0,    0,    1,    0,    2,
                     0,    0,    1,   0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0x0B, 0x0E, 0x10}));
    EXPECT_EQ(Slice(d, 22, 79), rig.Identity(0));
    EXPECT_EQ(d[79], 0x04);
    for (std::size_t i = 22; i < 38; ++i) {
        EXPECT_TRUE(d[i] >= '0' && d[i] <= '9') << i;
    }
    EXPECT_EQ(rig.trace.sent.offering, 1);
    EXPECT_EQ(rig.trace.sent.dialTone, 0);
    EXPECT_EQ(rig.trace.totalSent, 1);
}

TEST(SimInboundStep, InternalReportsEveryCallerOffHookBeforeTheOfferings) {
    GeneratorRig rig(8, 8, 4, 1, 3);
    rig.generator.SimInboundCall();

    EXPECT_EQ(rig.Events(),
              "I 205, I 206, I 207, I 208, D 205 201, D 206 202, D 207 203, D 208 204");
    EXPECT_EQ(rig.port.frames[0], (Bytes{0x00, 0x08, 'I', 0xFF, 0xFF, 2, 0, 5, 0x0F, 0}));
    EXPECT_EQ(rig.port.frames[4], (Bytes{0x00, 0x16, 'D',  0xFF, 0xFF, 2, 0, 5, 0x0F, 0,    2, 0, 1,
                                         0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0,    0x04, 0}));
    EXPECT_EQ(rig.trace.sent.dialTone, 4);
    EXPECT_EQ(rig.trace.sent.offering, 4);
    EXPECT_EQ(rig.trace.totalSent, 8);
}

TEST(SimInboundStep, LineFiftyUsesTheFirstIdentityRecordAgain) {
    GeneratorRig rig(64, 64, 51, 0);
    rig.generator.SimInboundCall();
    ASSERT_EQ(rig.port.frames.size(), 51u);
    EXPECT_EQ(Slice(rig.port.frames[50], 22, 79), rig.Identity(0));
    EXPECT_EQ(Slice(rig.port.frames[49], 22, 79), rig.Identity(49));
    EXPECT_NE(rig.Identity(0), rig.Identity(1)); // the records really differ
    EXPECT_EQ(rig.Event(50), "D 7051 2051");
}

TEST(SimInboundStep, ClosedLinkEndsTheStep) {
    GeneratorRig closed(8, 8, 2, 1);
    closed.port.connected = false;
    closed.generator.SimInboundCall();
    EXPECT_TRUE(closed.port.framesWhileClosed.empty());
    EXPECT_EQ(closed.trace.totalSent, 0);
    EXPECT_EQ(closed.Counted(), 0);

    // Down during the dial-tone pass: no offering follows.
    GeneratorRig rig(8, 8, 2, 1);
    rig.port.closeAfter = 1;
    rig.generator.SimInboundCall();
    EXPECT_EQ(rig.port.Letters(), "I");
    EXPECT_TRUE(rig.port.framesWhileClosed.empty());
    EXPECT_EQ(rig.trace.sent.dialTone, 1);
    EXPECT_EQ(rig.trace.sent.offering, 0);
}

// ---- answer, unhold, drop --------------------------------------------------------------------

TEST(SimAnswerStep, ThePhaseChoosesWhoAnswers) {
    GeneratorRig rig(8, 8, 1, 0);
    rig.generator.SimAnswerCall(1);
    ASSERT_EQ(rig.port.frames.size(), 1u);
    EXPECT_EQ(rig.port.frames[0], (Bytes{0x00, 0x0C, 'E', 0xFF, 0xFF, 7, 0, 0, 1, 0, 2, 0, 0, 1}));
    EXPECT_EQ(rig.trace.sent.answer, 1);

    rig.generator.SimAnswerCall(6); // the target answers the consultation
    rig.generator.SimAnswerCall(8); // the target answers the passed-on call
    EXPECT_EQ(rig.Events(), "E 7001 2001, E 2001 2002, E 7001 2002");
    EXPECT_EQ(rig.trace.sent.answer, 3);

    GeneratorRig internal(16, 8, 4, 1, 3);
    internal.generator.SimAnswerCall(6);
    ASSERT_EQ(internal.port.frames.size(), 4u);
    EXPECT_EQ(internal.port.frames[1],
              (Bytes{0x00, 0x0C, 'E', 0xFF, 0xFF, 2, 0, 2, 0x0F, 0, 2, 1, 0, 0x0F}));
    internal.port.Clear();
    internal.generator.SimAnswerCall(1);
    EXPECT_EQ(internal.Event(1), "E 206 202");
}

TEST(SimUnholdStep, RetrievedFramesCountAsAnswers) {
    GeneratorRig rig(8, 8, 2, 0);
    rig.generator.SimUnholdCall();
    ASSERT_EQ(rig.port.frames.size(), 2u);
    EXPECT_EQ(rig.port.frames[0], (Bytes{0x00, 0x0C, 'R', 0xFF, 0xFF, 2, 0, 0, 1, 0, 7, 0, 0, 1}));
    EXPECT_EQ(rig.Event(1), "R 2002 7002");
    EXPECT_EQ(rig.trace.sent.answer, 2);
    EXPECT_EQ(rig.trace.sent.held, 0);
}

TEST(SimDropStep, BothEndsHangUpPairByPair) {
    GeneratorRig rig(8, 8, 1, 0);
    rig.generator.SimDropCall(0);
    ASSERT_EQ(rig.port.frames.size(), 2u);
    EXPECT_EQ(rig.port.frames[0], (Bytes{0x00, 0x0C, 'N', 0xFF, 0xFF, 7, 0, 0, 1, 0, 2, 0, 0, 1}));
    EXPECT_EQ(rig.port.frames[1], (Bytes{0x00, 0x0C, 'N', 0xFF, 0xFF, 2, 0, 0, 1, 0, 7, 0, 0, 1}));
    EXPECT_EQ(rig.trace.sent.hookOn, 2);
    EXPECT_EQ(rig.trace.totalSent, 2);

    // The second leg: the caller was passed on to the transfer target.
    rig.port.Clear();
    rig.generator.SimDropCall(1);
    EXPECT_EQ(rig.Events(), "N 7001 2002, N 2002 7001");

    GeneratorRig two(16, 8, 2, 1);
    two.generator.SimDropCall(0);
    EXPECT_EQ(two.Events(), "N 2003 2001, N 2001 2003, N 2004 2002, N 2002 2004");

    // Down after the first hook-on: the call keeps only that one.
    GeneratorRig cut(8, 8, 2, 0);
    cut.port.closeAfter = 1;
    cut.generator.SimDropCall(0);
    EXPECT_EQ(cut.Events(), "N 7001 2001");
    EXPECT_EQ(cut.trace.sent.hookOn, 1);
    EXPECT_TRUE(cut.port.framesWhileClosed.empty());
}

// ---- hold, transfer --------------------------------------------------------------------------

TEST(SimHoldStep, HeldThenHookOnThenDialTonePasses) {
    GeneratorRig rig(16, 8, 2, 0);
    rig.generator.SimHoldCall();
    EXPECT_EQ(rig.port.Letters(), "HHNNII");
    EXPECT_EQ(rig.port.frames[0],
              (Bytes{0x00, 0x0E, 'H', 0xFF, 0xFF, 2, 0, 0, 1, 0, 7, 0, 0, 1, 0x01, 0}));
    EXPECT_EQ(rig.port.frames[2], (Bytes{0x00, 0x0C, 'N', 0xFF, 0xFF, 2, 0, 0, 1, 0, 2, 0, 0, 1}));
    EXPECT_EQ(rig.port.frames[4], (Bytes{0x00, 0x08, 'I', 0xFF, 0xFF, 2, 0, 0, 1, 0}));
    EXPECT_EQ(rig.Event(1), "H 2002 7002");
    EXPECT_EQ(rig.trace.sent.held, 2);
    EXPECT_EQ(rig.trace.sent.hookOn, 2);
    EXPECT_EQ(rig.trace.sent.dialTone, 2);

    GeneratorRig internal(16, 8, 4, 1);
    internal.generator.SimHoldCall();
    EXPECT_EQ(internal.Event(1), "H 2002 2006");

    GeneratorRig cut(16, 8, 4, 0);
    cut.port.closeAfter = 3;
    cut.generator.SimHoldCall();
    EXPECT_EQ(cut.port.Letters(), "HHH");
    EXPECT_EQ(cut.trace.sent.held, 3);
    EXPECT_EQ(cut.trace.sent.hookOn + cut.trace.sent.dialTone, 0);
}

TEST(SimTransferHoldDialStep, HoldsDialsTheTargetOfEachLine) {
    GeneratorRig rig(16, 8, 4, 0);
    rig.generator.SimTransferHoldDial();
    EXPECT_EQ(rig.port.Letters(), "HHHHIIIIDDDD");
    EXPECT_EQ(rig.port.frames[1],
              (Bytes{0x00, 0x0E, 'H', 0xFF, 0xFF, 2, 0, 0, 2, 0, 7, 0, 0, 2, 0x00, 0}));
    EXPECT_EQ(rig.port.frames[8], (Bytes{0x00, 0x16, 'D',  0xFF, 0xFF, 2,    0, 0, 1, 0, 2,    0,
                                         0,    5,    0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0x04, 0}));
    EXPECT_EQ(rig.Event(9), "D 2002 2006");
    EXPECT_EQ(rig.trace.sent.held, 4);
    EXPECT_EQ(rig.trace.sent.dialTone, 4);
    EXPECT_EQ(rig.trace.sent.offering, 4);

    GeneratorRig internal(16, 8, 4, 1);
    internal.generator.SimTransferHoldDial();
    EXPECT_EQ(internal.Event(1), "H 2002 2006");
    EXPECT_EQ(internal.Event(9), "D 2002 2010");
    EXPECT_EQ(internal.port.frames[9].size(), 24u);

    GeneratorRig cut(16, 8, 2, 0);
    cut.port.closeAfter = 3;
    cut.generator.SimTransferHoldDial();
    EXPECT_EQ(cut.port.Letters(), "HHI");
    EXPECT_EQ(cut.trace.sent.offering, 0);
}

TEST(SimCompleteTransferStep, TransferThenHookOnCountedInTheTotalOnly) {
    GeneratorRig rig(8, 8, 1, 0);
    rig.generator.SimCompleteTransfer();
    ASSERT_EQ(rig.port.frames.size(), 2u);
    EXPECT_EQ(rig.port.frames[0], (Bytes{0x00, 0x08, 'T', 0xFF, 0xFF, 2, 0, 0, 1, 0}));
    EXPECT_EQ(rig.port.frames[1], (Bytes{0x00, 0x0C, 'N', 0xFF, 0xFF, 2, 0, 0, 1, 0, 2, 0, 0, 1}));
    EXPECT_EQ(rig.trace.totalSent, 2);
    EXPECT_EQ(rig.Counted(), 0);

    GeneratorRig three(8, 8, 2, 1, 3);
    three.generator.SimCompleteTransfer();
    EXPECT_EQ(three.Events(), "T 201, T 202, N 201 201, N 202 202");
    EXPECT_EQ(Slice(three.port.frames[2], 5, 14), (Bytes{2, 0, 1, 0x0F, 0, 2, 0, 1, 0x0F}));

    GeneratorRig external(8, 8, 2, 0, 3);
    external.generator.SimCompleteTransfer();
    EXPECT_EQ(external.port.frames, three.port.frames);

    GeneratorRig cut(8, 8, 2, 0);
    cut.port.closeAfter = 1;
    cut.generator.SimCompleteTransfer();
    EXPECT_EQ(cut.port.Letters(), "T");
}

TEST(SimBtRtStep, HookOnOfferingToTheTargetThenTransferReport) {
    GeneratorRig rig(8, 8, 1, 0);
    rig.generator.SimBtRt();
    EXPECT_EQ(rig.Events(), "N 2001 7001, D 7001 2002 2001, V 2001 2002 7001");
    const Bytes& d = rig.port.frames[1];
    ASSERT_EQ(d.size(), 80u);
    EXPECT_EQ(Slice(d, 14, 22), (Bytes{2, 0, 0, 1, 0x10, 0x0B, 0x0E, 0x10}));
    EXPECT_EQ(Slice(d, 22, 79), rig.Identity(0));
    EXPECT_EQ(d[79], 0x07);
    EXPECT_EQ(rig.port.frames[2],
              (Bytes{0x00, 0x12, 'V', 0xFF, 0xFF, 2, 0, 0, 1, 0, 2, 0, 0, 2, 7, 0, 0, 1, 0x01, 0}));
    EXPECT_EQ(rig.trace.sent.hookOn, 1);
    EXPECT_EQ(rig.trace.sent.offering, 1);
    EXPECT_EQ(rig.Counted(), 2); // 'V' only in the total
    EXPECT_EQ(rig.trace.totalSent, 3);

    GeneratorRig four(16, 8, 4, 0);
    four.generator.SimBtRt();
    EXPECT_EQ(four.port.Letters(), "NNNNDDDDVVVV");

    GeneratorRig internal(16, 8, 4, 1);
    internal.generator.SimBtRt();
    const Bytes& shortD = internal.port.frames[5];
    EXPECT_EQ(internal.Event(5), "D 2006 2010 2002");
    ASSERT_EQ(shortD.size(), 24u);
    EXPECT_EQ(Slice(shortD, 18, 24), (Bytes{0, 0, 0, 0, 0x07, 0}));

    GeneratorRig closed(8, 8, 1, 0);
    closed.port.connected = false;
    closed.generator.SimBtRt();
    EXPECT_TRUE(closed.port.framesWhileClosed.empty());
    EXPECT_EQ(closed.trace.totalSent + closed.Counted(), 0);
}

TEST(SimAutoSteps, LeaveTheDeviceTableAsItWas) {
    for (int mode = 0; mode < 2; ++mode) {
        GeneratorRig rig(16, 8, 4, mode);
        rig.At(0).callCount = 1;
        rig.At(0).callSlots[0] = CallSlot{SlotConnected, 7001};
        rig.At(16).callCount = 1;
        rig.At(16).callSlots[0] = CallSlot{SlotConnected, 2001};
        rig.At(5).holdMode = 2;
        const auto before = rig.db.devices;

        rig.generator.SimInboundCall();
        rig.generator.SimAnswerCall(1);
        rig.generator.SimHoldCall();
        rig.generator.SimUnholdCall();
        rig.generator.SimTransferHoldDial();
        rig.generator.SimAnswerCall(6);
        rig.generator.SimCompleteTransfer();
        rig.generator.SimBtRt();
        rig.generator.SimAnswerCall(8);
        rig.generator.SimDropCall(1);
        rig.generator.SimDropCall(0);

        EXPECT_GT(rig.port.frames.size(), 40u);
        EXPECT_TRUE(SimHandlerRig::SameTable(before, rig.db.devices)) << "call mode " << mode;
    }
}

TEST(SimAutoSteps, LinesPastTheTableAreSkipped) {
    // 4 Internal calls with transfer targets need 12 stations; only 8 (and 8 trunks) exist.
    GeneratorRig rig(8, 8, 4, 1);
    rig.generator.SimBtRt();
    EXPECT_EQ(rig.port.Letters(), "NNNNDDDDVVVV"); // targets 8..11 are the first trunks
    rig.port.Clear();

    GeneratorRig small(8, 4, 8, 0); // 8 External calls over 4 trunks
    small.generator.SimInboundCall();
    EXPECT_EQ(small.port.frames.size(), 4u);
    EXPECT_EQ(small.Event(3), "D 7004 2004");
    small.port.Clear();
    small.generator.SimCallAllIdleDevices();
    EXPECT_EQ(small.port.frames.size(), 4u);
}

// ---- manual offering -------------------------------------------------------------------------

TEST(SimManualOffering, ExternalRingsEachStationOnceUntilCleared) {
    GeneratorRig rig(8, 8, 2, 0);
    rig.generator.SimCallAllIdleDevices();
    EXPECT_EQ(rig.Events(), "D 7001 2001, D 7002 2002");
    ASSERT_EQ(rig.port.frames[0].size(), 80u);
    EXPECT_EQ(Slice(rig.port.frames[0], 14, 22),
              (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0x0B, 0x0E, 0x10}));
    EXPECT_EQ(Slice(rig.port.frames[1], 22, 79), rig.Identity(1));
    EXPECT_EQ(rig.port.frames[1][79], 0x04);
    EXPECT_EQ(rig.trace.sent.offering, 2);
    EXPECT_EQ(rig.trace.sent.dialTone, 0);

    EXPECT_EQ(rig.At(8).callCount, 1);
    EXPECT_EQ(rig.Slot(8, 0), "(3, 2001)");
    EXPECT_EQ(rig.At(0).callCount, 1);
    EXPECT_EQ(rig.Slot(0, 0), "(2, 7001)");
    EXPECT_EQ(rig.Slot(9, 0), "(3, 2002)");
    EXPECT_EQ(rig.Slot(1, 0), "(2, 7002)");

    rig.port.Clear();
    rig.generator.SimCallAllIdleDevices();
    EXPECT_TRUE(rig.port.frames.empty());

    // A request cleared trunk 7002: only its line is offered again.
    rig.At(9).callCount = 0;
    rig.At(9).callSlots[0] = CallSlot{};
    rig.generator.SimCallAllIdleDevices();
    EXPECT_EQ(rig.Events(), "D 7002 2002");
    EXPECT_EQ(rig.At(1).callCount, 2);
    EXPECT_EQ(rig.Slot(1, 1), "(2, 7002)");
}

TEST(SimManualOffering, OperatorModeRingsStationZeroOnEveryLine) {
    GeneratorRig rig(8, 8, 2, 0);
    rig.settings.oprMode = 1;
    rig.generator.SimCallAllIdleDevices();
    EXPECT_EQ(rig.Events(), "D 7001 2001, D 7002 2001");
    EXPECT_EQ(rig.At(0).callCount, 2);
    EXPECT_EQ(rig.Slot(0, 0), "(2, 7001)");
    EXPECT_EQ(rig.Slot(0, 1), "(2, 7002)");
    EXPECT_EQ(rig.At(1).callCount, 0);
    EXPECT_EQ(rig.Slot(9, 0), "(3, 2001)");

    // Station 0 with every slot in use still counts the call and the frame still goes out.
    GeneratorRig full(8, 8, 1, 0);
    full.settings.oprMode = 1;
    for (CallSlot& slot : full.At(0).callSlots) {
        slot = CallSlot{SlotConnected, 2005};
    }
    full.At(0).callCount = 24;
    full.generator.SimCallAllIdleDevices();
    EXPECT_EQ(full.Events(), "D 7001 2001");
    EXPECT_EQ(full.At(0).callCount, 25);
    EXPECT_EQ(full.Slot(0, 23), "(4, 2005)");
}

TEST(SimManualOffering, InternalTakesDialToneThenDials) {
    GeneratorRig rig(8, 8, 2, 1);
    rig.settings.oprMode = 1; // has no effect on Internal calls
    rig.generator.SimCallAllIdleDevices();
    EXPECT_EQ(rig.Events(), "I 2003, I 2004, D 2003 2001, D 2004 2002");
    EXPECT_EQ(rig.port.frames[2], (Bytes{0x00, 0x16, 'D',  0xFF, 0xFF, 2,    0, 0, 3, 0, 2,    0,
                                         0,    1,    0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0x04, 0}));
    EXPECT_EQ(rig.trace.sent.dialTone, 2);
    EXPECT_EQ(rig.trace.sent.offering, 2);
    EXPECT_EQ(rig.At(2).callCount, 1);
    EXPECT_EQ(rig.Slot(2, 0), "(3, 2001)");
    EXPECT_EQ(rig.At(0).callCount, 1);
    EXPECT_EQ(rig.Slot(0, 0), "(2, 2003)");

    rig.port.Clear();
    rig.generator.SimCallAllIdleDevices();
    EXPECT_TRUE(rig.port.frames.empty());

    GeneratorRig three(8, 8, 2, 1, 3);
    three.generator.SimCallAllIdleDevices();
    EXPECT_EQ(three.port.frames[0], (Bytes{0x00, 0x08, 0x49, 0xFF, 0xFF, 2, 0, 3, 0x0F, 0}));
}

TEST(SimManualOffering, TableChangesComeBeforeTheSend) {
    GeneratorRig rig(8, 8, 2, 0);
    rig.port.connected = false;
    rig.generator.SimCallAllIdleDevices();
    EXPECT_TRUE(rig.port.framesWhileClosed.empty());
    EXPECT_EQ(rig.trace.sent.offering, 0);
    EXPECT_EQ(rig.Slot(8, 0), "(3, 2001)"); // the first line is marked although not sent
    EXPECT_EQ(rig.Slot(0, 0), "(2, 7001)");
    EXPECT_EQ(rig.At(9).callCount, 0); // the second waits for the next tick
    rig.port.connected = true;
    rig.generator.SimCallAllIdleDevices();
    EXPECT_EQ(rig.Events(), "D 7002 2002");

    // Internal, down after the dial tones: the first line is marked ringing-back unsent, the
    // second keeps its dial tone and dials on the next tick without a new 'I'.
    GeneratorRig internal(8, 8, 2, 1);
    internal.port.closeAfter = 2;
    internal.generator.SimCallAllIdleDevices();
    EXPECT_EQ(internal.port.Letters(), "II");
    EXPECT_EQ(internal.Slot(2, 0), "(3, 2001)");
    EXPECT_EQ(internal.Slot(3, 0), "(1, 0)");
    internal.port.Clear();
    internal.port.connected = true;
    internal.generator.SimCallAllIdleDevices();
    EXPECT_EQ(internal.Events(), "D 2004 2002");
    EXPECT_EQ(internal.Slot(3, 0), "(3, 2002)");
    EXPECT_EQ(internal.At(3).callCount, 1);
}

} // namespace
