#include "SimCallGenerator.h"

namespace {
constexpr std::uint8_t kTransferHold = 0x00;
} // namespace

// Step 6: every station puts its caller on transfer hold, takes dial tone and dials its
// transfer target; one pass per frame kind.
void SimCallGenerator::SimTransferHoldDial() {
    const int lines = LineCount();
    // A line takes part only when all three of its parties exist.
    auto complete = [this](int line) {
        return Station(line) >= 0 && Origin(line) >= 0 && Target(line) >= 0;
    };
    for (int line = 0; line < lines; ++line) {
        if (!complete(line)) {
            continue;
        }
        if (!Send(m_frames.HeldFrame(Station(line), Origin(line), kTransferHold),
                  &m_trace.sent.held)) {
            return;
        }
    }
    for (int line = 0; line < lines; ++line) {
        if (!complete(line)) {
            continue;
        }
        if (!Send(m_frames.OneNumberFrame('I', Station(line)), &m_trace.sent.dialTone)) {
            return;
        }
    }
    for (int line = 0; line < lines; ++line) {
        if (!complete(line)) {
            continue;
        }
        // The dial is the short offering whatever the call mode.
        if (!Send(OfferingFrame(Station(line), Target(line), -1, 0x04, -1),
                  &m_trace.sent.offering)) {
            return;
        }
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
