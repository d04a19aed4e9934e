#include "SimCallGenerator.h"

namespace {
constexpr std::uint8_t kBtRtCode = 0x07;
} // namespace

// Step 8: every station passes its call on to its transfer target: all hook-ons, then all
// offerings to the targets, then all transfer reports.
void SimCallGenerator::SimBtRt() {
    const int lines = LineCount();
    auto complete = [this](int line) {
        return Station(line) >= 0 && Origin(line) >= 0 && Target(line) >= 0;
    };
    for (int line = 0; line < lines; ++line) {
        if (!complete(line)) {
            continue;
        }
        if (!Send(m_frames.TwoNumberFrame('N', Station(line), Origin(line)),
                  &m_trace.sent.hookOn)) {
            return;
        }
    }
    for (int line = 0; line < lines; ++line) {
        if (!complete(line)) {
            continue;
        }
        const Frame offering = OfferingFrame(Origin(line), Target(line), Station(line), kBtRtCode,
                                             External() ? line : -1);
        if (!Send(offering, &m_trace.sent.offering)) {
            return;
        }
    }
    for (int line = 0; line < lines; ++line) {
        if (!complete(line)) {
            continue;
        }
        if (!Send(m_frames.TransferFrame(Station(line), Target(line), Origin(line), 0x01))) {
            return;
        }
    }
}
