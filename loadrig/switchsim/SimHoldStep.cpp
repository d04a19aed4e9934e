#include "SimCallGenerator.h"

namespace {
constexpr std::uint8_t kPlainHold = 0x01;
} // namespace

// Step 4: every station holds its call and has dial tone again; one pass per frame kind.
void SimCallGenerator::SimHoldCall() {
    const int lines = LineCount();
    for (int line = 0; line < lines; ++line) {
        const int station = Station(line);
        const int origin = Origin(line);
        if (station < 0 || origin < 0) {
            continue;
        }
        if (!Send(m_frames.HeldFrame(station, origin, kPlainHold), &m_trace.sent.held)) {
            return;
        }
    }
    for (int line = 0; line < lines; ++line) {
        const int station = Station(line);
        if (station < 0 || Origin(line) < 0) {
            continue;
        }
        if (!Send(m_frames.TwoNumberFrame('N', station, station), &m_trace.sent.hookOn)) {
            return;
        }
    }
    for (int line = 0; line < lines; ++line) {
        const int station = Station(line);
        if (station < 0 || Origin(line) < 0) {
            continue;
        }
        if (!Send(m_frames.OneNumberFrame('I', station), &m_trace.sent.dialTone)) {
            return;
        }
    }
}
