#include "SwitchDeviceTable.h"

#include <protocol/DeviceDigits.h>

#include <algorithm>
#include <memory>

namespace engine {

SwitchDeviceTable::SwitchDeviceTable(COrbManagerDlg* owner) : m_pOwner(owner) {}

SwitchDeviceTable::~SwitchDeviceTable() {
    platform::CriticalSectionLock guard(m_Devices.Lock());
    m_Devices.DeleteAll();
}

int SwitchDeviceTable::CounterSlotOf(int type) {
    switch (type) {
    case 1:
        return kType1;
    case 2:
        return kType2;
    case 3:
        return kType3;
    case 4:
        return kType4;
    case 5:
        return kType5;
    case 12:
        return kType12;
    case 13:
        return kType13;
    default:
        return type >= 6 && type <= 11 ? kOtherTypes : -1;
    }
}

bool SwitchDeviceTable::RaiseTypeCounter(int type) {
    const int slot = CounterSlotOf(type);
    if (slot < 0)
        return false;
    ++m_nCounters[static_cast<std::size_t>(slot)];
    return true;
}

int SwitchDeviceTable::RaiseTotal() {
    return ++m_nTotal;
}

int SwitchDeviceTable::GetCounter(int slot) const {
    if (slot < 0 || slot >= kCounterCount)
        return 0;
    return m_nCounters[static_cast<std::size_t>(slot)].load();
}

std::array<int, SwitchDeviceTable::kCounterCount> SwitchDeviceTable::GetCounters() const {
    std::array<int, kCounterCount> counters{};
    for (int slot = 0; slot < kCounterCount; ++slot)
        counters[static_cast<std::size_t>(slot)] = GetCounter(slot);
    return counters;
}

int SwitchDeviceTable::AddDevice(const std::string& deviceId, protocol::ByteView body,
                                 std::uint8_t type, int number) {
    return Add(deviceId, body, type, number, false);
}

int SwitchDeviceTable::AddDeviceAfterDownload(const std::string& deviceId, protocol::ByteView body,
                                              std::uint8_t type, int number) {
    return Add(deviceId, body, type, number, true);
}

int SwitchDeviceTable::Add(const std::string& deviceId, protocol::ByteView body, std::uint8_t type,
                           int number, bool endRecordFromFirst) {
    platform::CriticalSectionLock guard(m_Devices.Lock());
    if (m_Devices.FindByDeviceId(deviceId) != nullptr)
        return 0;
    auto entry = std::make_unique<LineDeviceEntry>(deviceId, body, type, number);
    if (endRecordFromFirst) {
        if (const LineDeviceEntry* first = m_Devices.First())
            entry->m_EndRecord = first->m_EndRecord;
    }
    m_Devices.AddTail(std::move(entry));
    return 1;
}

LineDeviceEntry* SwitchDeviceTable::FindDevice(const std::string& deviceId) {
    platform::CriticalSectionLock guard(m_Devices.Lock());
    return m_Devices.FindByDeviceId(deviceId);
}

void SwitchDeviceTable::SetEndRecord(protocol::ByteView body) {
    const protocol::BodyView view(body);
    platform::CriticalSectionLock guard(m_Devices.Lock());
    for (const auto& entry : m_Devices.Items())
        for (std::size_t i = 0; i < LineDeviceEntry::kSentSize; ++i)
            entry->m_EndRecord[i] = view.At(i);
}

void SwitchDeviceTable::UpdateDevice(const std::string& oldDeviceId,
                                     const std::string& newDeviceId) {
    platform::CriticalSectionLock guard(m_Devices.Lock());
    if (LineDeviceEntry* old = m_Devices.FindByDeviceId(oldDeviceId)) {
        // The record keeps the switch's own number form, so a client reads the new number in it.
        LineDeviceEntry::Record record = old->m_Record;
        const protocol::DeviceDigits::Field digits = protocol::DeviceDigits::FromText(newDeviceId);
        std::copy(digits.begin(), digits.end(), record.begin() + LineDeviceEntry::kDeviceOffset);
        auto renumbered =
            std::make_unique<LineDeviceEntry>(newDeviceId, record, old->m_nKind, old->m_nNumber);
        // A device list that ends with this entry still ends with the switch's end record.
        renumbered->m_EndRecord = old->m_EndRecord;
        m_Devices.Replace(old, std::move(renumbered));
    }
    // The user records bound to the old number follow it here, under the user list's lock taken
    // inside this one, whether or not the table held the device; that step comes with the user
    // list.
}

void SwitchDeviceTable::ClearDevices() {
    m_nTotal = 0;
    platform::CriticalSectionLock guard(m_Devices.Lock());
    m_Devices.DeleteAll();
}

} // namespace engine
