#include "SimCallGenerator.h"

namespace {
constexpr std::uint8_t kBtRtCode = 0x07;
} // namespace

// Step 8: every station passes its call on to its transfer target: all hook-ons, then all
// offerings to the targets, then all transfer reports.
void SimCallGenerator::SimBtRt() {
    const auto hookOn = [this](int line) {
        return m_frames.TwoNumberFrame('N', Station(line), Origin(line));
    };
    const auto offering = [this](int line) {
        return OfferingFrame(Origin(line), Target(line), Station(line), kBtRtCode,
                             External() ? line : -1);
    };
    const auto transfer = [this](int line) {
        return m_frames.TransferFrame(Station(line), Target(line), Origin(line), 0x01);
    };
    if (SendOnTransferLines(hookOn, &m_trace.sent.hookOn) &&
        SendOnTransferLines(offering, &m_trace.sent.offering)) {
        SendOnTransferLines(transfer);
    }
}
