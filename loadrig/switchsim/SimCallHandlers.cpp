#include "SimCallHandlers.h"

#include <limits>

namespace {

bool IsDigitValue(std::uint8_t byte) {
    return byte <= 9;
}

} // namespace

SimCallHandlers::SimCallHandlers(SimSwitchDatabase& database, SimFrames& frames, SimTrace& trace,
                                 const SwitchSimSettings& settings)
    : m_db(database), m_frames(frames), m_trace(trace), m_settings(settings) {}

int SimCallHandlers::RequestNumber(const std::uint8_t* body, int length, int offset) const {
    // With three-digit numbering the fourth byte is filler and is not read at all.
    const int places = m_settings.telNoSize == 3 ? 3 : 4;
    if (body == nullptr || offset < 0 || length < offset + places) {
        return -1;
    }
    int number = 0;
    for (int k = 0; k < places; ++k) {
        const std::uint8_t byte = body[offset + k];
        if (!IsDigitValue(byte)) {
            return -1;
        }
        number = number * 10 + byte;
    }
    return number;
}

int SimCallHandlers::DialledNumber(const std::uint8_t* body, int length, int countOffset) const {
    if (body == nullptr || countOffset < 0 || length <= countOffset) {
        return -1;
    }
    const int count = body[countOffset];
    if (count > 4 || length < countOffset + 1 + count) {
        return -1;
    }
    int number = 0;
    for (int k = 0; k < count; ++k) {
        const std::uint8_t byte = body[countOffset + 1 + k];
        if (!IsDigitValue(byte)) {
            return -1;
        }
        number = number * 10 + byte;
    }
    return number;
}

std::uint16_t SimCallHandlers::IndexOf(int number) const {
    // Negative numbers stand for "unreadable" or for the 65535 of a failed lookup.
    if (number < 0 || number > std::numeric_limits<std::int16_t>::max()) {
        return kSimNotFound;
    }
    const std::uint16_t index = m_db.FindDeviceIndex(static_cast<std::int16_t>(number));
    return index < m_db.devices.size() ? index : kSimNotFound;
}

std::uint16_t SimCallHandlers::FindOrReport(int number) {
    const std::uint16_t index = IndexOf(number);
    if (index == kSimNotFound) {
        Report("[Error Report] Could not find the Device ID - ", number);
    }
    return index;
}

void SimCallHandlers::Report(const std::string& text, int number) {
    m_trace.AppendSwitchLog(text + std::to_string(number) + "\r\n");
}

void SimCallHandlers::Refuse(const std::uint8_t* body, int length, int cause) {
    m_frames.SendFailReply(body, length, cause);
}

std::uint16_t SimCallHandlers::SlotIn(const SimDeviceRecord& device, std::int16_t state) {
    for (int k = 0; k < kCallSlots; ++k) {
        if (device.callSlots[k].state == state) {
            return static_cast<std::uint16_t>(k);
        }
    }
    return kSimNotFound;
}

std::uint16_t SimCallHandlers::SlotWith(const SimDeviceRecord& device, std::int16_t state,
                                        int partner) {
    for (int k = 0; k < kCallSlots; ++k) {
        if (device.callSlots[k].state == state && device.callSlots[k].partner == partner) {
            return static_cast<std::uint16_t>(k);
        }
    }
    return kSimNotFound;
}

std::uint16_t SimCallHandlers::OpenSlot(SimDeviceRecord& device, std::int16_t state, int partner) {
    const std::uint16_t slot = SlotIn(device, SlotFree);
    if (slot == kSimNotFound) {
        return kSimNotFound;
    }
    device.callSlots[slot] = CallSlot{state, static_cast<std::int16_t>(partner)};
    if (device.callCount < std::numeric_limits<std::int16_t>::max()) {
        ++device.callCount;
    }
    return slot;
}

void SimCallHandlers::CloseSlot(SimDeviceRecord& device, std::uint16_t slot) {
    device.callSlots[slot] = CallSlot{};
    LowerCallCount(device);
}

void SimCallHandlers::LowerCallCount(SimDeviceRecord& device) {
    if (device.callCount > 0) {
        --device.callCount;
    }
}
