// Drop ('N'): a device goes on hook, dropping its calls or completing its pending transfer.

#include "SimCallHandlers.h"

void SimCallHandlers::HandleTransferComplete(const std::uint8_t* body, int length) {
    const int number = RequestNumber(body, length, 4);
    const std::uint16_t index = FindOrReport(number);
    if (index == kSimNotFound) {
        Refuse(body, length, 0);
        return;
    }
    SimDeviceRecord& device = Device(index);
    if (device.callCount < 1) {
        Report("[Error Report] There is no Call - ", number);
        Refuse(body, length, 5);
        return;
    }

    if (device.holdMode == 2) {
        const int held = device.heldParty;
        const int target = device.transferTarget;
        const bool heldKnown = IndexOf(held) != kSimNotFound;
        const bool targetKnown = IndexOf(target) != kSimNotFound;
        m_trace.AppendSwitchLog("[Call Report] Line - " + std::to_string(number) + " have " +
                                std::to_string(device.callCount) + " Calls\r\n");

        // Blind part: the held parties now ring the consulted target.
        for (int k = 0; k < kCallSlots; ++k) {
            if (device.callSlots[k].state != SlotTransferHeld) {
                continue;
            }
            const int other = device.callSlots[k].partner;
            const std::uint16_t otherIndex = FindOrReport(other);
            if (otherIndex == kSimNotFound || Device(otherIndex).callCount < 1) {
                continue;
            }
            SimDeviceRecord& party = Device(otherIndex);
            const std::uint16_t slot = SlotWith(party, SlotConnected, number);
            if (slot != kSimNotFound && targetKnown) {
                party.callSlots[slot] = CallSlot{SlotRingback, static_cast<std::int16_t>(target)};
                m_trace.AppendSwitchLog("[Call Report] BT Complete & Call Info Changed - " +
                                        std::to_string(other) + " - " + std::to_string(target) +
                                        "\r\n");
            }
            CloseSlot(device, static_cast<std::uint16_t>(k));
        }

        // Consultation part: the target's ringing call now comes from the held party.
        const std::uint16_t targetIndex = FindOrReport(target);
        if (targetIndex != kSimNotFound) {
            SimDeviceRecord& consulted = Device(targetIndex);
            const std::uint16_t slot = SlotWith(consulted, SlotOffered, number);
            if (slot != kSimNotFound && heldKnown) {
                consulted.callSlots[slot].partner = static_cast<std::int16_t>(held);
                m_trace.AppendSwitchLog(
                    "[Call Report] Device Index : " + std::to_string(targetIndex) +
                    " CT Complete & Call Info Changed - " + std::to_string(target) + " - " +
                    std::to_string(held) + "\r\n");
            }
            const std::uint16_t ringback = SlotWith(device, SlotRingback, target);
            if (ringback != kSimNotFound) {
                CloseSlot(device, ringback);
            }
        }

        device.holdMode = 0;
        device.heldParty = 0;
        device.transferTarget = 0;
        m_frames.BuildFrameT(number);
        m_frames.BuildFrameN(number, number);
        return;
    }

    for (int k = 0; k < kCallSlots; ++k) {
        const CallSlot slot = device.callSlots[k];
        switch (slot.state) {
        case SlotDialTone:
            m_frames.BuildFrameN(number, number);
            m_frames.BuildFrameI(number);
            break;
        case SlotBusy:
            m_frames.BuildFrameN(number, number);
            CloseSlot(device, static_cast<std::uint16_t>(k));
            break;
        case SlotRingback:
        case SlotConnected:
        case SlotHeld: {
            const int other = slot.partner;
            m_frames.BuildFrameN(number, other);
            const std::uint16_t otherIndex = IndexOf(other);
            if (otherIndex != kSimNotFound && Device(otherIndex).callCount > 0) {
                const SimDeviceRecord& party = Device(otherIndex);
                for (const CallSlot& theirs : party.callSlots) {
                    if (theirs.state == SlotConnected && theirs.partner == number) {
                        m_frames.BuildFrameN(other, number);
                    } else if (theirs.state == SlotTransferHeld) {
                        m_frames.BuildFrameR(other, theirs.partner);
                    }
                }
            }
            CloseSlot(device, static_cast<std::uint16_t>(k));
            if (otherIndex != kSimNotFound && Device(otherIndex).callCount > 0) {
                SimDeviceRecord& party = Device(otherIndex);
                for (int j = 0; j < kCallSlots; ++j) {
                    if (party.callSlots[j].state != SlotFree &&
                        party.callSlots[j].partner == number) {
                        CloseSlot(party, static_cast<std::uint16_t>(j));
                    }
                }
            }
            break;
        }
        default:
            break;
        }
    }
}
