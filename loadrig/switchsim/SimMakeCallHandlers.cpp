// Make call ('D'), consultation with dial tone (short 'L'), consultation and dial (long 'L') and
// transfer completion ('T').

#include "SimCallHandlers.h"

namespace {

constexpr int kCountOffset = 9;

// A count above 4 is refused before anything is looked up; the cause depends on the request.
bool TooManyDigits(const std::uint8_t* body, int length) {
    return body != nullptr && length > kCountOffset && body[kCountOffset] > 4;
}

} // namespace

void SimCallHandlers::HandleRequestD(const std::uint8_t* body, int length) {
    const int caller = RequestNumber(body, length, 4);
    if (TooManyDigits(body, length)) {
        Refuse(body, length, 0);
        return;
    }
    const int called = DialledNumber(body, length, kCountOffset);
    const std::uint16_t callerIndex = FindOrReport(caller);
    if (callerIndex == kSimNotFound) {
        Refuse(body, length, 0);
        return;
    }
    const std::uint16_t calledIndex = FindOrReport(called);
    if (calledIndex == kSimNotFound) {
        Refuse(body, length, 0);
        return;
    }

    SimDeviceRecord& from = Device(callerIndex);
    SimDeviceRecord& to = Device(calledIndex);
    if (from.callCount <= 0) {
        m_frames.BuildFrameI(caller);
        from.callCount = 0;
        const std::uint16_t slot = OpenSlot(from, SlotDialTone, 0);
        if (to.callCount > 0) {
            m_frames.BuildFrameY(caller, called);
            if (slot != kSimNotFound) {
                from.callSlots[slot] = CallSlot{SlotBusy, static_cast<std::int16_t>(called)};
            }
            return;
        }
    } else if (to.callCount > 0) {
        m_frames.BuildFrameY(caller, called);
        // The busy attempt is recorded on the dial tone it was dialled from, as for an idle
        // caller; without one there is nothing to record it on.
        const std::uint16_t slot = SlotIn(from, SlotDialTone);
        if (slot != kSimNotFound) {
            from.callSlots[slot] = CallSlot{SlotBusy, static_cast<std::int16_t>(called)};
        }
        return;
    }

    m_frames.BuildFrameD(caller, called);
    if (from.holdMode != 0) {
        from.transferTarget = static_cast<std::int16_t>(called);
    }
    if (from.callCount > 0) {
        const std::uint16_t slot = SlotIn(from, SlotDialTone);
        if (slot != kSimNotFound) {
            from.callSlots[slot] = CallSlot{SlotRingback, static_cast<std::int16_t>(called)};
        }
    }
    OpenSlot(to, SlotOffered, caller);
}

bool SimCallHandlers::FindConsultedCall(const std::uint8_t* body, int length, bool traceMismatch,
                                        ConsultedCall& call) {
    call.device = RequestNumber(body, length, 4);
    call.deviceIndex = FindOrReport(call.device);
    if (call.deviceIndex == kSimNotFound) {
        Refuse(body, length, 0);
        return false;
    }
    // No connected call gives 65535, traced as -1.
    call.partner = static_cast<std::int16_t>(m_db.FindConnectedPartner(call.deviceIndex));
    call.partnerIndex = FindOrReport(call.partner);
    if (call.partnerIndex == kSimNotFound) {
        Refuse(body, length, 0);
        return false;
    }
    call.deviceSlot = m_db.FindCallSlot(call.deviceIndex, static_cast<std::int16_t>(call.partner));
    call.partnerSlot = m_db.FindCallSlot(call.partnerIndex, static_cast<std::int16_t>(call.device));
    const bool connected =
        call.deviceSlot < kCallSlots && call.partnerSlot < kCallSlots &&
        Device(call.deviceIndex).callSlots[call.deviceSlot].state == SlotConnected &&
        Device(call.partnerIndex).callSlots[call.partnerSlot].state == SlotConnected;
    if (!connected) {
        if (traceMismatch) {
            Report("[Error Report] Call State Mismatch - ", call.device);
        }
        Refuse(body, length, 5);
        return false;
    }
    return true;
}

void SimCallHandlers::HandleOffHook(const std::uint8_t* body, int length) {
    ConsultedCall call;
    if (!FindConsultedCall(body, length, false, call)) {
        return;
    }
    SimDeviceRecord& device = Device(call.deviceIndex);
    SimDeviceRecord& partner = Device(call.partnerIndex);

    m_frames.BuildFrameH(call.device, call.partner);
    device.holdMode = 2;
    device.heldParty = static_cast<std::int16_t>(call.partner);
    device.callSlots[call.deviceSlot].state = SlotTransferHeld;
    partner.callSlots[call.partnerSlot].state = SlotConnected;
    m_frames.BuildFrameI(call.device);
    OpenSlot(device, SlotDialTone, 0);
}

void SimCallHandlers::HandleMakeCall(const std::uint8_t* body, int length) {
    if (TooManyDigits(body, length)) {
        Refuse(body, length, 1);
        return;
    }
    const int target = DialledNumber(body, length, kCountOffset);
    ConsultedCall call;
    if (!FindConsultedCall(body, length, true, call)) {
        return;
    }
    const std::uint16_t targetIndex = FindOrReport(target);
    if (targetIndex == kSimNotFound) {
        Refuse(body, length, 0);
        return;
    }
    SimDeviceRecord& device = Device(call.deviceIndex);
    SimDeviceRecord& partner = Device(call.partnerIndex);
    SimDeviceRecord& consulted = Device(targetIndex);
    const std::string d = std::to_string(call.device);
    const std::string b = std::to_string(target);

    m_frames.BuildFrameH(call.device, call.partner);
    device.holdMode = 2;
    device.heldParty = static_cast<std::int16_t>(call.partner);
    device.transferTarget = static_cast<std::int16_t>(target);
    device.callSlots[call.deviceSlot] =
        CallSlot{SlotTransferHeld, static_cast<std::int16_t>(call.partner)};
    partner.callSlots[call.partnerSlot] =
        CallSlot{SlotConnected, static_cast<std::int16_t>(call.device)};

    const std::uint16_t dialTone = OpenSlot(device, SlotDialTone, 0);
    if (dialTone != kSimNotFound) {
        m_trace.AppendSwitchLog("[Call Info] DT Call Created - " + d +
                                " Call Index : " + std::to_string(dialTone) + "\r\n");
    }
    const std::uint16_t ringback = SlotIn(device, SlotDialTone);
    if (ringback != kSimNotFound) {
        device.callSlots[ringback] = CallSlot{SlotRingback, static_cast<std::int16_t>(target)};
        m_trace.AppendSwitchLog("[Call Info] RB Call Created - " + d +
                                " Call Index : " + std::to_string(ringback) + " --> " + b + "\r\n");
    }
    const std::uint16_t offered = OpenSlot(consulted, SlotOffered, call.device);
    if (offered != kSimNotFound) {
        m_trace.AppendSwitchLog("[Call Info]  Target Device Index : " +
                                std::to_string(targetIndex) + " OF Call Created - " + b +
                                " Call Index : " + std::to_string(offered) + " <-- " + d + "\r\n");
    }

    m_frames.BuildFrameI(call.device);
    m_frames.BuildFrameD(call.device, target);
}

void SimCallHandlers::HandleRequestT(const std::uint8_t* body, int length) {
    const int number = RequestNumber(body, length, 4);
    const std::uint16_t index = FindOrReport(number);
    if (index == kSimNotFound) {
        Refuse(body, length, 0);
        return;
    }
    SimDeviceRecord& device = Device(index);
    if (device.callCount <= 0) {
        Report("[Error Report] There is no Call - ", number);
        Refuse(body, length, 5);
        return;
    }
    if (device.holdMode != 2) {
        Report("[Error Report] Could not find the T-Hold Call - ", number);
        Refuse(body, length, 0);
        return;
    }

    m_frames.BuildFrameT(number);
    m_frames.BuildFrameN(number, number);
    device.holdMode = 0;

    // A consultation that never dialled has no target in the table; nobody is handed over to it.
    const bool heldKnown = IndexOf(device.heldParty) != kSimNotFound;
    const bool targetKnown = IndexOf(device.transferTarget) != kSimNotFound;
    const std::int16_t heldOverState = m_settings.callMode == 1 ? SlotRingback : SlotConnected;
    for (int k = 0; k < kCallSlots; ++k) {
        const CallSlot slot = device.callSlots[k];
        std::int16_t newState = SlotFree;
        std::int16_t newPartner = 0;
        bool handOver = false;
        switch (slot.state) {
        case SlotTransferHeld:
            newState = heldOverState;
            newPartner = device.transferTarget;
            handOver = targetKnown;
            break;
        case SlotConnected:
            newState = SlotConnected;
            newPartner = device.heldParty;
            handOver = heldKnown;
            break;
        case SlotRingback:
            newState = SlotOffered;
            newPartner = device.heldParty;
            handOver = heldKnown;
            break;
        default:
            continue;
        }
        const std::uint16_t otherIndex = IndexOf(slot.partner);
        if (handOver && otherIndex != kSimNotFound && Device(otherIndex).callCount > 0) {
            const std::uint16_t otherSlot =
                m_db.FindCallSlot(otherIndex, static_cast<std::int16_t>(number));
            if (otherSlot < kCallSlots) {
                Device(otherIndex).callSlots[otherSlot] = CallSlot{newState, newPartner};
            }
        }
        CloseSlot(device, static_cast<std::uint16_t>(k));
    }
    device.heldParty = 0;
    device.transferTarget = 0;
}
