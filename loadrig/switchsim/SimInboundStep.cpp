#include "SimCallGenerator.h"

// Step 1: every line's call is offered to its station. Internal calls first report every
// calling station off hook, all before the first offering.
void SimCallGenerator::SimInboundCall() {
    const int lines = LineCount();
    if (!External()) {
        for (int line = 0; line < lines; ++line) {
            const int origin = Origin(line);
            if (origin < 0) {
                continue;
            }
            if (!Send(m_frames.OneNumberFrame('I', origin), &m_trace.sent.dialTone)) {
                return;
            }
        }
    }
    for (int line = 0; line < lines; ++line) {
        const int origin = Origin(line);
        const int station = Station(line);
        if (origin < 0 || station < 0) {
            continue;
        }
        const Frame offering = OfferingFrame(origin, station, -1, 0x04, External() ? line : -1);
        if (!Send(offering, &m_trace.sent.offering)) {
            return;
        }
    }
}
