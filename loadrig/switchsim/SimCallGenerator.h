#pragma once

#include "SimCallActions.h"
#include "SimFrames.h"
#include "SimSwitchDatabase.h"
#include "SimTrace.h"
#include "SwitchSimSettings.h"

#include <cstdint>
#include <functional>
#include <vector>

// The call generator: every generated line steps through the chosen scenario together. Line n
// is station n with its calling party (External: trunk Stn Count + n; Internal: station Call
// Count + n) and, where a step needs one, its transfer target (External: position Call Count +
// n; Internal: 2 x Call Count + n). The Auto steps only report what happens: they send and
// count frames and leave the device table alone. The Manual offering marks its calls in the
// table before it sends them. A step ends at the first frame that finds the link down.
class SimCallGenerator : public SimCallActions {
public:
    SimCallGenerator(SimSwitchDatabase& database, SimFrames& frames, SimTrace& trace,
                     const SwitchSimSettings& settings);

    void SimInboundCall() override;
    void SimAnswerCall(std::int16_t previousPhase) override;
    void SimDropCall(std::int16_t secondLeg) override;
    void SimHoldCall() override;
    void SimUnholdCall() override;
    void SimTransferHoldDial() override;
    void SimCompleteTransfer() override;
    void SimBtRt() override;
    void SimCallAllIdleDevices() override;

private:
    using Frame = SimFrames::Frame;

    // Lines and their parties. A number is -1 when its table position does not exist: the line
    // is then skipped rather than read past the table.
    int LineCount() const;
    bool External() const { return m_settings.callMode == 0; }
    int NumberAt(int position) const;
    int OriginPosition(int line) const;
    int TargetPosition(int line) const;
    int Station(int line) const { return NumberAt(line); }
    int Origin(int line) const { return NumberAt(OriginPosition(line)); }
    int Target(int line) const { return NumberAt(TargetPosition(line)); }

    // The steps build their frames with SimFrames; only the offering is the generator's own.
    // 'D' with the third number (-1: none) and the closing code. A non-negative `cliLine` gives
    // the 80-byte form with that line's caller-identity records; otherwise the 24-byte form.
    Frame OfferingFrame(int calling, int called, int third, std::uint8_t code, int cliLine) const;

    // One send: false when the link is down (nothing sent or counted; the step ends). A sent
    // frame adds 1 to `counter` when one is given.
    bool Send(const Frame& frame, double* counter = nullptr);
    // One pass of a transfer step: a frame for each line whose three parties all exist; false
    // once a send has failed.
    bool SendOnTransferLines(const std::function<Frame(int line)>& frame,
                             double* counter = nullptr);

    SimSwitchDatabase& m_db;
    SimFrames& m_frames;
    SimTrace& m_trace;
    const SwitchSimSettings& m_settings;
};
