#include "SimCallGenerator.h"

namespace {
constexpr std::uint8_t kTransferHold = 0x00;
} // namespace

bool SimCallGenerator::SendOnTransferLines(const std::function<Frame(int line)>& frame,
                                           double* counter) {
    const int lines = LineCount();
    for (int line = 0; line < lines; ++line) {
        if (Station(line) < 0 || Origin(line) < 0 || Target(line) < 0) {
            continue;
        }
        if (!Send(frame(line), counter)) {
            return false;
        }
    }
    return true;
}

// Step 6: every station puts its caller on transfer hold, takes dial tone and dials its
// transfer target; one pass per frame kind.
void SimCallGenerator::SimTransferHoldDial() {
    const auto held = [this](int line) {
        return m_frames.HeldFrame(Station(line), Origin(line), kTransferHold);
    };
    const auto dialTone = [this](int line) { return m_frames.OneNumberFrame('I', Station(line)); };
    // The dial is the short offering whatever the call mode.
    const auto dial = [this](int line) {
        return OfferingFrame(Station(line), Target(line), -1, 0x04, -1);
    };
    if (SendOnTransferLines(held, &m_trace.sent.held) &&
        SendOnTransferLines(dialTone, &m_trace.sent.dialTone)) {
        SendOnTransferLines(dial, &m_trace.sent.offering);
    }
}

// Step 7: every station completes its transfer and hangs up. Counted in the total only.
void SimCallGenerator::SimCompleteTransfer() {
    const int lines = LineCount();
    for (int line = 0; line < lines; ++line) {
        const int station = Station(line);
        if (station < 0) {
            continue;
        }
        if (!Send(m_frames.OneNumberFrame('T', station))) {
            return;
        }
    }
    for (int line = 0; line < lines; ++line) {
        const int station = Station(line);
        if (station < 0) {
            continue;
        }
        if (!Send(m_frames.TwoNumberFrame('N', station, station))) {
            return;
        }
    }
}
