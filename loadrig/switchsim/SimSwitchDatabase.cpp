#include "SimSwitchDatabase.h"

#include "SwitchSimSettingsStore.h"

#include <protocol/FrameHead.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// Any constant will do: what matters is that every program start draws the same names.
constexpr std::mt19937::result_type kSeed = 20011;

constexpr std::size_t kMaxGroupMembers = 40;

} // namespace

// The tables hold the station message texts from the start, so a status query before the
// first Run reports them too.
SimSwitchDatabase::SimSwitchDatabase() : m_random(kSeed) {
    stationMessages = StationMessageTexts();
}

std::array<std::uint8_t, 4> SimSwitchDatabase::DigitField(int number, int telNoSize) {
    return protocol::FrameHead::NumberDigits(static_cast<unsigned>(number), telNoSize == 3 ? 3 : 4,
                                             protocol::DeviceDigits::kSwitchFiller);
}

void SimSwitchDatabase::BuildSwitchDatabase(const SwitchSimSettings& settings) {
    // The draws use the generator's raw output, so the sequence is the same on every library.
    auto draw = [this](unsigned range) { return static_cast<unsigned>(m_random() % range); };
    auto letter = [&] { return static_cast<char>('A' + draw(26)); };
    auto asciiDigit = [&] { return static_cast<char>('0' + draw(10)); };
    auto digitValue = [&] { return static_cast<std::uint8_t>(draw(10)); };

    const int telNoSize = settings.telNoSize;
    const int stations = std::max<int>(0, settings.stnCount);
    const int trunks = std::max<int>(0, settings.trkCount);
    const int groupCount = std::max<int>(0, settings.stnGrpCount);
    const int members = std::clamp<int>(
        settings.stnMemCount, 0, std::min<int>(stations, static_cast<int>(kMaxGroupMembers)));

    devices.assign(static_cast<std::size_t>(stations + trunks), SimDeviceRecord{});
    groups.assign(static_cast<std::size_t>(groupCount), StationGroupRecord{});

    for (int s = 0; s < stations; ++s) {
        SimDeviceRecord& device = devices[static_cast<std::size_t>(s)];
        device.number = static_cast<std::int16_t>(settings.firstStation + s);
        device.type = 2;
        device.ownIndex = static_cast<std::int16_t>(s);
    }
    for (int t = 0; t < trunks; ++t) {
        SimDeviceRecord& device = devices[static_cast<std::size_t>(stations + t)];
        device.number = static_cast<std::int16_t>(settings.firstTrunk + t);
        device.type = 4;
        device.ownIndex = static_cast<std::int16_t>(stations + t);
    }

    for (int g = 0; g < groupCount; ++g) {
        StationGroupRecord& group = groups[static_cast<std::size_t>(g)];
        group.number = DigitField(settings.firstGroup + g, telNoSize);
        for (char& c : group.name) {
            c = letter();
        }
        group.attributes = {0, 0, 45, 30, 0};
        group.memberCount = static_cast<std::int16_t>(members);
        for (int m = 0; m < members; ++m) {
            group.members[static_cast<std::size_t>(m)] =
                DigitField(settings.firstStation + m, telNoSize);
        }
    }

    for (std::size_t i = 0; i < nameBcd.size(); ++i) {
        NameBcdRecord& record = nameBcd[i];
        record = NameBcdRecord{};
        record.index = static_cast<std::int16_t>(i);
        for (char& c : record.name) {
            c = letter();
        }
        for (std::uint8_t& b : record.bcd) {
            const std::uint8_t high = digitValue();
            const std::uint8_t low = digitValue();
            b = static_cast<std::uint8_t>(high * 16 + low);
        }
        record.end = 0;
    }

    for (std::size_t i = 0; i < directory.size(); ++i) {
        DirectoryRecord& record = directory[i];
        // Always three digits: the short numbers are 500.. whatever the number length.
        record.number = DigitField(500 + static_cast<int>(i), 3);
        for (char& c : record.name) {
            c = letter();
        }
        for (std::uint8_t& d : record.digits) {
            d = digitValue();
        }
        record.filler.fill(0xFF);
    }

    for (CliRecord& record : cli) {
        for (char& c : record.callerNumber) {
            c = asciiDigit();
        }
        for (char& c : record.callerName) {
            c = letter();
        }
        record.zero = 0;
        record.count = 6;
        record.firstStation = DigitField(settings.firstStation, telNoSize);
        for (auto& field : record.emptyNumbers) {
            field.fill(0x0F);
        }
    }

    for (DidRecord& record : did) {
        for (char& c : record.number) {
            c = asciiDigit();
        }
        for (char& c : record.name) {
            c = letter();
        }
    }

    auto numberChars = [&](std::size_t deviceIndex) {
        std::array<char, 4> chars{' ', ' ', ' ', ' '};
        if (deviceIndex < devices.size()) {
            const std::string text = std::to_string(devices[deviceIndex].number);
            std::copy_n(text.begin(), std::min<std::size_t>(text.size(), chars.size()),
                        chars.begin());
        }
        return chars;
    };
    for (std::size_t k = 0; k < keys.size(); ++k) {
        KeyRecord& key = keys[k];
        key.zero = 0;
        key.index = static_cast<std::uint8_t>(k);
        if (k < 8) {
            std::memcpy(key.label.data(), "CALL  ", key.label.size());
            key.number = {static_cast<char>('1' + k), ' ', ' ', ' '};
            key.code = 16;
            key.flag = 0;
        } else if (k < 16) {
            std::memcpy(key.label.data(), "DT    ", key.label.size());
            key.number = numberChars(static_cast<std::size_t>(stations) + (k - 8));
            key.code = 40;
            key.flag = 1;
        } else {
            std::memcpy(key.label.data(), "DS    ", key.label.size());
            key.number = numberChars(k - 16);
            key.code = 39;
            key.flag = 1;
        }
        for (char& c : key.name) {
            c = letter();
        }
        key.blank = ' ';
    }

    stationMessages = StationMessageTexts();
}

void SimSwitchDatabase::ResetDeviceCalls() {
    for (SimDeviceRecord& device : devices) {
        device.callCount = 0;
        device.callSlots.fill(CallSlot{});
    }
}

std::uint16_t SimSwitchDatabase::FindDeviceIndex(std::int16_t number) const {
    for (std::size_t i = 0; i < devices.size() && i < kSimNotFound; ++i) {
        if (devices[i].number == number) {
            return static_cast<std::uint16_t>(i);
        }
    }
    return kSimNotFound;
}

std::uint16_t SimSwitchDatabase::FindGroupIndex(const std::uint8_t* numberBytes) const {
    if (numberBytes == nullptr) {
        return kSimNotFound;
    }
    for (std::size_t i = 0; i < groups.size() && i < kSimNotFound; ++i) {
        if (std::equal(groups[i].number.begin(), groups[i].number.end(), numberBytes)) {
            return static_cast<std::uint16_t>(i);
        }
    }
    return kSimNotFound;
}

std::uint16_t SimSwitchDatabase::FindCallSlot(std::uint16_t deviceIndex,
                                              std::int16_t partner) const {
    if (deviceIndex >= devices.size()) {
        return kSimNotFound;
    }
    const auto& callSlotsOf = devices[deviceIndex].callSlots;
    for (std::size_t k = 0; k < callSlotsOf.size(); ++k) {
        if (callSlotsOf[k].partner == partner) {
            return static_cast<std::uint16_t>(k);
        }
    }
    return kSimNotFound;
}

std::uint16_t SimSwitchDatabase::FindConnectedPartner(std::uint16_t deviceIndex) const {
    if (deviceIndex >= devices.size() || devices[deviceIndex].callCount <= 0) {
        return kSimNotFound;
    }
    for (const CallSlot& slot : devices[deviceIndex].callSlots) {
        if (slot.state == SlotConnected) {
            return static_cast<std::uint16_t>(slot.partner);
        }
    }
    return kSimNotFound;
}

std::uint16_t SimSwitchDatabase::FindFreeSlot(std::uint16_t deviceIndex) const {
    if (deviceIndex >= devices.size()) {
        return kSimNotFound;
    }
    const auto& callSlotsOf = devices[deviceIndex].callSlots;
    for (std::size_t k = 0; k < callSlotsOf.size(); ++k) {
        if (callSlotsOf[k].state == SlotFree) {
            return static_cast<std::uint16_t>(k);
        }
    }
    return kSimNotFound;
}
