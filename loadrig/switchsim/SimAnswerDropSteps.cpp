#include "SimCallGenerator.h"

namespace {
// The phases the answer step can follow besides the inbound step.
constexpr std::int16_t kAfterTransferDial = 6;
constexpr std::int16_t kAfterBtRt = 8;
} // namespace

// Step 2: after a transfer dial the target answers station n; after BT/RT it answers the
// passed-on caller; otherwise station n answers its inbound call.
void SimCallGenerator::SimAnswerCall(std::int16_t previousPhase) {
    const int lines = LineCount();
    for (int line = 0; line < lines; ++line) {
        int first = Origin(line);
        int answering = Station(line);
        if (previousPhase == kAfterTransferDial) {
            first = Station(line);
            answering = Target(line);
        } else if (previousPhase == kAfterBtRt) {
            answering = Target(line);
        }
        if (first < 0 || answering < 0) {
            continue;
        }
        if (!Send(m_frames.TwoNumberFrame('E', first, answering), &m_trace.sent.answer)) {
            return;
        }
    }
}

// Step 5: every station takes its held call back.
void SimCallGenerator::SimUnholdCall() {
    const int lines = LineCount();
    for (int line = 0; line < lines; ++line) {
        const int station = Station(line);
        const int origin = Origin(line);
        if (station < 0 || origin < 0) {
            continue;
        }
        if (!Send(m_frames.TwoNumberFrame('R', station, origin), &m_trace.sent.answer)) {
            return;
        }
    }
}

// Step 3 and Call Stop: both ends hang up, one pair per line. With the second leg the call
// went on to the transfer target, so the target is the other end.
void SimCallGenerator::SimDropCall(std::int16_t secondLeg) {
    const int lines = LineCount();
    for (int line = 0; line < lines; ++line) {
        const int a = Origin(line);
        const int b = secondLeg == 1 ? Target(line) : Station(line);
        if (a < 0 || b < 0) {
            continue;
        }
        if (!Send(m_frames.TwoNumberFrame('N', a, b), &m_trace.sent.hookOn)) {
            return;
        }
        if (!Send(m_frames.TwoNumberFrame('N', b, a), &m_trace.sent.hookOn)) {
            return;
        }
    }
}
