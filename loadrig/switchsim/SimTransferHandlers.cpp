// Deflect ('V'), pickup ('P'), park ('p') and transfer of a held party ('t').

#include "SimCallHandlers.h"

namespace {

constexpr int kDeflectCountOffset = 13;

} // namespace

void SimCallHandlers::HandleRequestV(const std::uint8_t* body, int length) {
    const int ringing = RequestNumber(body, length, 4);
    const int caller = RequestNumber(body, length, 9);
    if (body != nullptr && length > kDeflectCountOffset && body[kDeflectCountOffset] > 4) {
        Refuse(body, length, 5);
        return;
    }
    const int destination = DialledNumber(body, length, kDeflectCountOffset);
    std::uint16_t ia = kSimNotFound;
    std::uint16_t ib = kSimNotFound;
    std::uint16_t id = kSimNotFound;
    if ((ia = FindOrReport(ringing)) == kSimNotFound ||
        (ib = FindOrReport(caller)) == kSimNotFound ||
        (id = FindOrReport(destination)) == kSimNotFound) {
        Refuse(body, length, 0);
        return;
    }
    SimDeviceRecord& a = Device(ia);
    SimDeviceRecord& b = Device(ib);
    SimDeviceRecord& d = Device(id);
    if (d.callCount >= 1) {
        // A busy destination is answered by the result event, not by a refusal.
        m_frames.BuildFrameFEvent(ringing, destination);
        return;
    }

    m_frames.BuildFrameN(ringing, caller);
    for (int k = 0; k < kCallSlots; ++k) {
        if (a.callSlots[k].state == SlotOffered && a.callSlots[k].partner == caller) {
            CloseSlot(a, static_cast<std::uint16_t>(k));
        }
    }
    m_frames.SendFrameD(caller, destination, ringing);
    const std::uint16_t callerSlot = m_db.FindCallSlot(ib, static_cast<std::int16_t>(ringing));
    if (callerSlot < kCallSlots) {
        b.callSlots[callerSlot].partner = static_cast<std::int16_t>(destination);
    }
    OpenSlot(d, SlotOffered, caller);
    m_frames.BuildFrameV(ringing, destination, caller, 1);
}

void SimCallHandlers::HandleRequestP(const std::uint8_t* body, int length) {
    const int picker = RequestNumber(body, length, 4);
    const int ringing = RequestNumber(body, length, 9);
    std::uint16_t ia = kSimNotFound;
    std::uint16_t ib = kSimNotFound;
    if ((ia = FindOrReport(picker)) == kSimNotFound ||
        (ib = FindOrReport(ringing)) == kSimNotFound) {
        Refuse(body, length, 0);
        return;
    }
    SimDeviceRecord& a = Device(ia);
    SimDeviceRecord& b = Device(ib);
    if (b.callCount <= 0) {
        Refuse(body, length, 5);
        return;
    }
    // Every slot is searched: an offered call can sit above the call count once a lower slot
    // has been freed.
    const std::uint16_t offered = SlotIn(b, SlotOffered);
    const int caller = offered == kSimNotFound ? 0 : b.callSlots[offered].partner;
    const std::uint16_t ic = FindOrReport(caller);
    if (ic == kSimNotFound) {
        Refuse(body, length, 0);
        return;
    }
    SimDeviceRecord& c = Device(ic);

    m_frames.BuildFrameI(picker);
    const std::uint16_t pickSlot = OpenSlot(a, SlotDialTone, 0);
    m_frames.BuildFrameV(ringing, picker, caller, 2);
    m_frames.BuildFrameE(caller, picker);
    for (CallSlot& slot : c.callSlots) {
        if (slot.state == SlotRingback && slot.partner == ringing) {
            slot = CallSlot{SlotConnected, static_cast<std::int16_t>(picker)};
        }
    }
    if (pickSlot != kSimNotFound && a.callSlots[pickSlot].state == SlotDialTone) {
        a.callSlots[pickSlot] = CallSlot{SlotConnected, static_cast<std::int16_t>(caller)};
    }
    m_frames.BuildFrameN(ringing, caller);
    const std::uint16_t ringingSlot = SlotWith(b, SlotOffered, caller);
    if (ringingSlot != kSimNotFound) {
        CloseSlot(b, ringingSlot);
    }
}

void SimCallHandlers::HandleRequestLowerP(const std::uint8_t* body, int length) {
    const int parker = RequestNumber(body, length, 4);
    const int parkAt = RequestNumber(body, length, 9);
    const int parked = RequestNumber(body, length, 13);
    std::uint16_t ia = kSimNotFound;
    std::uint16_t ib = kSimNotFound;
    std::uint16_t ic = kSimNotFound;
    if ((ia = FindOrReport(parker)) == kSimNotFound ||
        (ib = FindOrReport(parkAt)) == kSimNotFound ||
        (ic = FindOrReport(parked)) == kSimNotFound) {
        Refuse(body, length, 0);
        return;
    }

    m_frames.BuildFrameH(parker, parked);
    m_frames.BuildFrameI(parker);
    m_frames.BuildFrameLowerP(parker, parkAt, parked);
    m_frames.BuildFrameD(parker, parkAt);
    m_frames.BuildFrameN(parkAt, parker);
    m_frames.BuildFrameN(parker, parker);

    SimDeviceRecord& a = Device(ia);
    SimDeviceRecord& b = Device(ib);
    SimDeviceRecord& c = Device(ic);
    const std::uint16_t parkerSlot = SlotWith(a, SlotConnected, parked);
    if (parkerSlot != kSimNotFound) {
        CloseSlot(a, parkerSlot);
    }
    const std::uint16_t parkedSlot = SlotWith(c, SlotConnected, parker);
    if (parkedSlot != kSimNotFound) {
        c.callSlots[parkedSlot].partner = static_cast<std::int16_t>(parkAt);
    }
    if (OpenSlot(b, SlotHeld, parked) != kSimNotFound) {
        b.heldParty = static_cast<std::int16_t>(parked);
        b.holdMode = 1;
    }
}

void SimCallHandlers::HandleRequestLowerT(const std::uint8_t* body, int length) {
    const int holder = RequestNumber(body, length, 4);
    const int held = RequestNumber(body, length, 9);
    const int destination = RequestNumber(body, length, 13);
    std::uint16_t ia = kSimNotFound;
    std::uint16_t ib = kSimNotFound;
    std::uint16_t ic = kSimNotFound;
    if ((ia = FindOrReport(holder)) == kSimNotFound ||
        (ic = FindOrReport(destination)) == kSimNotFound ||
        (ib = FindOrReport(held)) == kSimNotFound) {
        Refuse(body, length, 0);
        return;
    }

    m_frames.BuildFrameD(holder, destination);
    m_frames.BuildFrameT(holder);
    m_frames.BuildFrameN(holder, holder);
    m_frames.BuildFrameD(held, destination);

    SimDeviceRecord& a = Device(ia);
    SimDeviceRecord& b = Device(ib);
    SimDeviceRecord& c = Device(ic);
    const std::uint16_t heldSlot = SlotIn(a, SlotHeld);
    if (heldSlot != kSimNotFound) {
        CloseSlot(a, heldSlot);
        a.holdMode = 0;
        a.heldParty = 0;
    }
    const std::uint16_t heldPartySlot = SlotWith(b, SlotConnected, holder);
    if (heldPartySlot != kSimNotFound) {
        b.callSlots[heldPartySlot] = CallSlot{SlotRingback, static_cast<std::int16_t>(destination)};
    }
    OpenSlot(c, SlotOffered, held);
}
