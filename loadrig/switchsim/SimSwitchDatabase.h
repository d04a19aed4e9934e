#pragma once

#include "SwitchSimSettings.h"

#include <array>
#include <cstdint>
#include <random>
#include <vector>

// Lookups answer an index, or this when nothing matches.
inline constexpr std::uint16_t kSimNotFound = 65535;

enum CallSlotState : std::int16_t {
    SlotFree = 0,
    SlotDialTone = 1,
    SlotOffered = 2,  // a call from partner rings here
    SlotRingback = 3, // this device called partner
    SlotConnected = 4,
    SlotHeld = 5,
    SlotTransferHeld = 6, // partner held while a transfer target is consulted
    SlotBusy = 7,
};

struct CallSlot {
    std::int16_t state = SlotFree;
    std::int16_t partner = 0; // number of the other party's device; 0 when free
};

inline constexpr int kCallSlots = 24;

// Constant data the device information request reports.
struct SimDeviceInfoBlock {
    std::uint8_t codeF = 16;
    std::array<std::uint8_t, 4> bytesF{};
    std::uint8_t digitCountF = 0;
    std::array<std::uint8_t, 18> digitsF{};
    std::uint8_t byteD = 0;
    std::uint8_t byteK = 0;
    std::array<std::uint8_t, 4> bytesK{1, 2, 3, 4};
    std::uint8_t listBCount = 0;
    std::array<std::array<std::uint8_t, 4>, 5> listB{};
    std::uint8_t listMCount = 0;
    std::array<std::array<std::uint8_t, 4>, 5> listM{};
    std::uint8_t stnMsgIndex = 255;
    std::uint8_t byteAfterMsg = 0;
    std::int16_t wordZ = 0;
    std::uint8_t byteN = 0;
    std::uint8_t byteP = 0;
    std::uint8_t byteU = 0;
    std::uint8_t last = 0;
};

struct SimDeviceRecord {
    std::int16_t number = 0;
    std::uint8_t type = 0; // 2 station, 4 trunk
    std::uint8_t reserved = 0;
    std::int16_t holdMode = 0;       // transfer state: 2 while a consultation is set up
    std::int16_t heldParty = 0;      // party held for the consultation
    std::int16_t transferTarget = 0; // number dialled in the consultation
    std::int16_t callCount = 0;      // appearances in use; 0 = idle
    std::array<CallSlot, kCallSlots> callSlots{};
    std::int16_t ownIndex = 0;
    SimDeviceInfoBlock info;
};

struct StationGroupRecord {
    std::array<std::uint8_t, 4> number{}; // digit field
    std::array<char, 11> name{};
    std::array<std::uint8_t, 5> attributes{0, 0, 45, 30, 0};
    std::int16_t memberCount = 0;
    std::array<std::array<std::uint8_t, 4>, 40> members{};
};

struct NameBcdRecord {
    std::int16_t index = 0;
    std::array<char, 11> name{};
    std::array<std::uint8_t, 14> bcd{};
    std::uint8_t end = 0;
};

struct DirectoryRecord {
    std::array<std::uint8_t, 4> number{};
    std::array<char, 11> name{};
    std::array<std::uint8_t, 11> digits{};
    std::array<std::uint8_t, 17> filler{};
};

struct CliRecord {
    std::array<char, 16> callerNumber{};
    std::array<char, 11> callerName{};
    std::uint8_t zero = 0;
    std::int16_t count = 6;
    std::array<std::uint8_t, 4> firstStation{};
    std::array<std::array<std::uint8_t, 4>, 5> emptyNumbers{};
};

struct DidRecord {
    std::array<char, 14> number{};
    std::array<char, 16> name{};
};

struct KeyRecord {
    std::uint8_t zero = 0;
    std::uint8_t index = 0;
    std::array<char, 6> label{};
    std::array<char, 4> number{};
    std::uint8_t code = 0;
    std::uint8_t flag = 0;
    std::array<char, 11> name{};
    char blank = ' ';
};

// The simulated switch's tables, rebuilt at every Run from the run values.
class SimSwitchDatabase {
public:
    SimSwitchDatabase();

    void BuildSwitchDatabase(const SwitchSimSettings& settings);
    // Stop: every device idle, every slot free; the consultation fields stay.
    void ResetDeviceCalls();

    std::uint16_t FindDeviceIndex(std::int16_t number) const;
    std::uint16_t FindGroupIndex(const std::uint8_t* numberBytes) const;
    std::uint16_t FindCallSlot(std::uint16_t deviceIndex, std::int16_t partner) const;
    // The partner of the device's first connected slot (when its call count is above 0).
    std::uint16_t FindConnectedPartner(std::uint16_t deviceIndex) const;
    // The first free slot of the device, or kSimNotFound.
    std::uint16_t FindFreeSlot(std::uint16_t deviceIndex) const;

    // The digit field of a number for the settings' TelNo Size.
    static std::array<std::uint8_t, 4> DigitField(int number, int telNoSize);

    std::vector<SimDeviceRecord> devices;
    std::vector<StationGroupRecord> groups;
    std::array<NameBcdRecord, 10> nameBcd{};
    std::array<DirectoryRecord, 50> directory{};
    std::array<CliRecord, 50> cli{};
    std::array<DidRecord, 50> did{};
    std::array<KeyRecord, 24> keys{};
    std::array<std::array<char, 16>, 20> stationMessages{};

private:
    // Fixed seed: every program start draws the same sequence; later Runs go on drawing.
    std::mt19937 m_random;
};
