#include "SimCallGenerator.h"

#include <limits>

namespace {

SimDeviceRecord* DeviceAt(SimSwitchDatabase& db, int position) {
    if (position < 0 || static_cast<std::size_t>(position) >= db.devices.size()) {
        return nullptr;
    }
    return &db.devices[static_cast<std::size_t>(position)];
}

// The lowest slot in `state`, or null.
CallSlot* SlotIn(SimDeviceRecord& device, std::int16_t state) {
    for (CallSlot& slot : device.callSlots) {
        if (slot.state == state) {
            return &slot;
        }
    }
    return nullptr;
}

// Counts one more call on the device and marks it in the first free slot, if any; a device
// with all its slots in use still counts the call.
void AddCall(SimDeviceRecord& device, std::int16_t state, std::int16_t partner) {
    if (device.callCount < std::numeric_limits<std::int16_t>::max()) {
        ++device.callCount;
    }
    if (CallSlot* slot = SlotIn(device, SlotFree)) {
        *slot = CallSlot{state, partner};
    }
}

} // namespace

// Manual answer mode: a new call on every line whose calling side is idle. The table records
// each call before its frame goes out, so a line whose frame met a closed link is not offered
// again until its calls are cleared.
void SimCallGenerator::SimCallAllIdleDevices() {
    const int lines = LineCount();
    const bool external = External();
    // With operator mode every External call rings the operator, station 0.
    auto calledPosition = [&](int line) { return external && m_settings.oprMode != 0 ? 0 : line; };

    if (!external) {
        for (int line = 0; line < lines; ++line) {
            SimDeviceRecord* caller = DeviceAt(m_db, OriginPosition(line));
            if (caller == nullptr || DeviceAt(m_db, calledPosition(line)) == nullptr ||
                caller->callCount != 0) {
                continue;
            }
            const Frame dialTone = m_frames.OneNumberFrame('I', caller->number);
            AddCall(*caller, SlotDialTone, 0);
            if (!Send(dialTone, &m_trace.sent.dialTone)) {
                return;
            }
        }
    }

    for (int line = 0; line < lines; ++line) {
        SimDeviceRecord* caller = DeviceAt(m_db, OriginPosition(line));
        SimDeviceRecord* called = DeviceAt(m_db, calledPosition(line));
        if (caller == nullptr || called == nullptr) {
            continue;
        }
        CallSlot* dialling = nullptr;
        if (external) {
            if (caller->callCount != 0) {
                continue;
            }
        } else {
            dialling = SlotIn(*caller, SlotDialTone);
            if (dialling == nullptr) {
                continue;
            }
        }
        const std::int16_t a = caller->number;
        const std::int16_t b = called->number;
        AddCall(*called, SlotOffered, a);
        if (external) {
            AddCall(*caller, SlotRingback, b);
        } else {
            *dialling = CallSlot{SlotRingback, b};
        }
        const Frame offering = OfferingFrame(a, b, -1, 0x04, external ? line : -1);
        if (!Send(offering, &m_trace.sent.offering)) {
            return;
        }
    }
}
