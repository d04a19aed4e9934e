// Hold ('H'), retrieve ('R') and answer ('F').

#include "SimCallHandlers.h"

bool SimCallHandlers::FindCallEnds(const std::uint8_t* body, int length, std::int16_t stateA,
                                   std::int16_t stateB, CallEnds& call) {
    call.a = RequestNumber(body, length, 4);
    call.b = RequestNumber(body, length, 9);
    if ((call.ia = FindOrReport(call.a)) == kSimNotFound ||
        (call.ib = FindOrReport(call.b)) == kSimNotFound) {
        Refuse(body, length, 0);
        return false;
    }
    call.sa = m_db.FindCallSlot(call.ia, static_cast<std::int16_t>(call.b));
    call.sb = m_db.FindCallSlot(call.ib, static_cast<std::int16_t>(call.a));
    if (call.sa >= kCallSlots || call.sb >= kCallSlots ||
        Device(call.ia).callSlots[call.sa].state != stateA ||
        Device(call.ib).callSlots[call.sb].state != stateB) {
        Refuse(body, length, 5);
        return false;
    }
    return true;
}

void SimCallHandlers::HandleRequestH(const std::uint8_t* body, int length) {
    CallEnds call;
    if (!FindCallEnds(body, length, SlotConnected, SlotConnected, call)) {
        return;
    }
    SimDeviceRecord& a = Device(call.ia);
    SimDeviceRecord& b = Device(call.ib);

    m_frames.SendFrameH(body, length);
    m_frames.BuildFrameN(call.a, call.a);
    a.holdMode = 1;
    a.heldParty = static_cast<std::int16_t>(call.b);
    a.callSlots[call.sa].state = SlotHeld;
    b.callSlots[call.sb].state = SlotConnected;
}

void SimCallHandlers::HandleRequestR(const std::uint8_t* body, int length) {
    CallEnds call;
    if (!FindCallEnds(body, length, SlotHeld, SlotConnected, call)) {
        return;
    }
    SimDeviceRecord& a = Device(call.ia);
    SimDeviceRecord& b = Device(call.ib);

    a.holdMode = 0;
    a.heldParty = 0;
    a.callSlots[call.sa].state = SlotConnected;
    b.callSlots[call.sb].state = SlotConnected;
    m_frames.SendFramesIR(body, length);
}

void SimCallHandlers::HandleRequestF(const std::uint8_t* body, int length) {
    CallEnds call;
    call.a = RequestNumber(body, length, 4);
    call.b = RequestNumber(body, length, 9);
    // Answer refuses everything with cause 5, unknown devices included.
    if ((call.ia = FindOrReport(call.a)) == kSimNotFound ||
        (call.ib = FindOrReport(call.b)) == kSimNotFound) {
        Refuse(body, length, 5);
        return;
    }
    SimDeviceRecord& a = Device(call.ia);
    SimDeviceRecord& b = Device(call.ib);
    call.sa = m_db.FindCallSlot(call.ia, static_cast<std::int16_t>(call.b));
    if (call.sa >= kCallSlots) {
        Report("[Error Report] Could not find any call - ", call.a);
        Refuse(body, length, 5);
        return;
    }
    call.sb = m_db.FindCallSlot(call.ib, static_cast<std::int16_t>(call.a));
    if (call.sb >= kCallSlots) {
        Report("[Error Report] Could not find any call - ", call.b);
        Refuse(body, length, 5);
        return;
    }
    if (a.callSlots[call.sa].state != SlotOffered) {
        Report("[Error Report] Call State Error - ", call.b);
        Refuse(body, length, 5);
        return;
    }

    a.callSlots[call.sa].state = SlotConnected;
    b.callSlots[call.sb].state = SlotConnected;
    m_frames.SendFramesSE(body, length);

    // Answering leaves A with the one call it has just answered.
    if (a.callCount < 1) {
        return;
    }
    for (int k = 0; k < kCallSlots; ++k) {
        if (k == call.sa || a.callSlots[k].state != SlotConnected) {
            continue;
        }
        const int other = a.callSlots[k].partner;
        m_frames.BuildFrameN(other, call.a);
        CloseSlot(a, static_cast<std::uint16_t>(k));
        const std::uint16_t otherIndex = IndexOf(other);
        if (otherIndex == kSimNotFound) {
            continue;
        }
        const std::uint16_t otherSlot =
            m_db.FindCallSlot(otherIndex, static_cast<std::int16_t>(call.a));
        if (otherSlot < kCallSlots) {
            CloseSlot(Device(otherIndex), otherSlot);
        }
    }
}
