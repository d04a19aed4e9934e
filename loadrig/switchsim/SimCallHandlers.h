#pragma once

#include "SimFrames.h"
#include "SimSwitchDatabase.h"
#include "SimTrace.h"
#include "SwitchSimSettings.h"

#include <cstdint>
#include <string>

// The call-control requests the link server forwards to the switch, answered from the device
// table. Each takes the request body (without its 2-byte length) and that length; every check
// comes before the first table change and the first frame, so a refused request changes nothing.
class SimCallHandlers {
public:
    SimCallHandlers(SimSwitchDatabase& database, SimFrames& frames, SimTrace& trace,
                    const SwitchSimSettings& settings);

    void HandleRequestD(const std::uint8_t* body, int length);         // make call
    void HandleOffHook(const std::uint8_t* body, int length);          // short 'L'
    void HandleMakeCall(const std::uint8_t* body, int length);         // long 'L'
    void HandleRequestT(const std::uint8_t* body, int length);         // complete the transfer
    void HandleRequestF(const std::uint8_t* body, int length);         // answer
    void HandleRequestH(const std::uint8_t* body, int length);         // hold
    void HandleRequestR(const std::uint8_t* body, int length);         // retrieve
    void HandleTransferComplete(const std::uint8_t* body, int length); // 'N' release
    void HandleRequestV(const std::uint8_t* body, int length);
    void HandleRequestP(const std::uint8_t* body, int length);
    void HandleRequestLowerP(const std::uint8_t* body, int length);
    void HandleRequestLowerT(const std::uint8_t* body, int length);

    // A request's number field (body offset 4, 9 or 13) as a number; -1 when a counted place holds
    // no digit or the bytes were not received.
    int RequestNumber(const std::uint8_t* body, int length, int offset) const;

private:
    // The two ends of one call as a request names them: A at body offset 4, B at 9, with each
    // one's slot for the other.
    struct CallEnds {
        int a = -1;
        int b = -1;
        std::uint16_t ia = kSimNotFound;
        std::uint16_t ib = kSimNotFound;
        std::uint16_t sa = kSimNotFound;
        std::uint16_t sb = kSimNotFound;
    };
    // Both ends found with their slots in the given states; otherwise the request is refused
    // (cause 0 for an unknown device, 5 for a call that is not there in that state) and false.
    bool FindCallEnds(const std::uint8_t* body, int length, std::int16_t stateA,
                      std::int16_t stateB, CallEnds& call);
    // The dialled number behind the digit count at `countOffset`; -1 when the count or a digit was
    // not received, a digit is no value 0..9, or more than 4 digits are counted.
    int DialledNumber(const std::uint8_t* body, int length, int countOffset) const;
    // Index of a device number, or kSimNotFound; numbers outside the table's range find nothing.
    std::uint16_t IndexOf(int number) const;
    // As IndexOf, tracing the device-missing line when nothing is found.
    std::uint16_t FindOrReport(int number);
    // One trace line: text, the number in decimal, CR LF.
    void Report(const std::string& text, int number);
    void Refuse(const std::uint8_t* body, int length, int cause);

    // The requesting device of an 'L' and the party of its connected call, with the two slots
    // of that call.
    struct ConsultedCall {
        int device = -1;
        int partner = -1;
        std::uint16_t deviceIndex = 0;
        std::uint16_t partnerIndex = 0;
        std::uint16_t deviceSlot = 0;
        std::uint16_t partnerSlot = 0;
    };
    // The checks both forms of 'L' share; false when the request was refused.
    bool FindConsultedCall(const std::uint8_t* body, int length, bool traceMismatch,
                           ConsultedCall& call);
    SimDeviceRecord& Device(std::uint16_t index) { return m_db.devices[index]; }

    // Slot searches, lowest slot first; kSimNotFound when none matches.
    static std::uint16_t SlotIn(const SimDeviceRecord& device, std::int16_t state);
    static std::uint16_t SlotWith(const SimDeviceRecord& device, std::int16_t state, int partner);
    // Takes the first free slot for (state, partner) and counts it; kSimNotFound when all are used.
    static std::uint16_t OpenSlot(SimDeviceRecord& device, std::int16_t state, int partner);
    // Frees the slot and uncounts it; the call count never goes below 0.
    static void CloseSlot(SimDeviceRecord& device, std::uint16_t slot);
    static void LowerCallCount(SimDeviceRecord& device);

    SimSwitchDatabase& m_db;
    SimFrames& m_frames;
    SimTrace& m_trace;
    const SwitchSimSettings& m_settings;
};
