#pragma once

#include <protocol/BodyView.h>
#include <protocol/Bytes.h>

#include <array>
#include <cstdint>
#include <string>

namespace engine {

// One device of the switch as the download announced it. The record and the end record are what a
// client receives for it in the device list after its login.
class LineDeviceEntry {
public:
    static constexpr std::size_t kRecordSize = 12;
    static constexpr std::size_t kSentSize = 10; // bytes of either record that reach the client
    static constexpr std::size_t kTypeOffset = 8;
    static constexpr std::size_t kDeviceOffset = 3;
    using Record = std::array<std::uint8_t, kRecordSize>;

    // From an 'A' body: its bytes 0 to 9, with the type byte replaced by the mapped kind.
    LineDeviceEntry(const std::string& deviceId, protocol::ByteView body, std::uint8_t kind,
                    int number)
        : m_strLineName(LineNameOf(deviceId)), m_nNumber(number), m_nKind(kind),
          m_strDeviceId(deviceId) {
        m_EndRecord.fill(0xFF);
        m_Record.fill(0xFF);
        const protocol::BodyView view(body);
        for (std::size_t i = 0; i < kSentSize; ++i)
            m_Record[i] = view.At(i);
        m_Record[kTypeOffset] = kind;
    }

    // A renumbered device: the stored record as it is, a fresh end record.
    LineDeviceEntry(const std::string& deviceId, const Record& record, std::uint8_t kind,
                    int number)
        : m_strLineName(LineNameOf(deviceId)), m_nNumber(number), m_nKind(kind), m_Record(record),
          m_strDeviceId(deviceId) {
        m_EndRecord.fill(0xFF);
    }

    virtual ~LineDeviceEntry() = default;

    static std::string LineNameOf(const std::string& deviceId) { return "QMX Line " + deviceId; }

    std::string m_strLineName;
    int m_nNumber;        // sequence number: 1, 2, 3 ... in arrival order
    std::uint8_t m_nKind; // mapped device type
    Record m_EndRecord{}; // bytes 0 to 9 take the download's end record
    Record m_Record{};
    std::string m_strDeviceId;
};

} // namespace engine
