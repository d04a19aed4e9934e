#pragma once

#include <cstdint>

// The call generator's actions, one per call step. The run controller calls them from its call
// timer; none reports anything back. They send their frames only while the link is connected.
class SimCallActions {
public:
    virtual ~SimCallActions() = default;

    virtual void SimInboundCall() = 0;                          // step 1
    virtual void SimAnswerCall(std::int16_t previousPhase) = 0; // step 2 (phase 1, 6 or 8)
    virtual void SimDropCall(std::int16_t secondLeg) = 0;       // step 3 and Call Stop
    virtual void SimHoldCall() = 0;                             // step 4
    virtual void SimUnholdCall() = 0;                           // step 5
    virtual void SimTransferHoldDial() = 0;                     // step 6
    virtual void SimCompleteTransfer() = 0;                     // step 7
    virtual void SimBtRt() = 0;                                 // step 8
    // Manual answer mode: a new call to every idle device, once per call-timer tick.
    virtual void SimCallAllIdleDevices() = 0;
};
