#pragma once

#include "SimFrames.h"
#include "SimSwitchDatabase.h"
#include "SimTrace.h"
#include "SwitchSimSettings.h"

#include <cstdint>
#include <vector>

// The status query 'Q': one frame about the queried device's own record, or whole tables of the
// switch (groups, group members, short numbers, caller identities) in as many frames as they take.
// Replies are counted, not traced; a request for a device the table does not hold is traced and
// not answered. Each frame is built in its own buffer, so a query handled between two frames of a
// list cannot change what the list sends.
class SimStatusQuery {
public:
    using Frame = std::vector<std::uint8_t>;

    // Paging capacities of the member and group lists.
    static constexpr int kMembersPerFrame = 10;
    static constexpr int kGroupsPerFrame = 6;

    SimStatusQuery(const SimSwitchDatabase& database, SimFrames& frames, SimTrace& trace,
                   const SwitchSimSettings& settings);

    void HandleStatusQuery(const std::uint8_t* body, int length);

private:
    // The queried number as the digit bytes add up (no 16-bit wrap); `readable` is false when the
    // request is too short or a counted place holds no digit value, and such a number names no
    // device.
    int QueriedNumber(const std::uint8_t* body, int length, bool& readable) const;

    // Single-frame replies about one device record; false for a sub-letter without one.
    bool SendDeviceReply(const SimDeviceRecord& device, char subLetter, const std::uint8_t* body,
                         int length);

    // List replies; each stops at the first frame the link did not take.
    void SendGroupsWithMembers(const std::uint8_t* body, int length);
    void SendGroupDirectory(const std::uint8_t* body, int length);
    void SendGroupMembers(const std::uint8_t* body, int length);
    void SendShortNumbers(const std::uint8_t* body, int length);
    void SendCallerTableA(const std::uint8_t* body, int length);
    void SendCallerTableB(const std::uint8_t* body, int length);
    // One group's member list by the paging rule, frames of 74 bytes with the sub-code and
    // [11] = `position`; false once the link has gone.
    bool SendMemberPages(const StationGroupRecord& group, char subCode, std::uint8_t position,
                         const std::uint8_t* body, int length);

    // A zero-filled frame with the common head: length, letter, FF FF, the request's device
    // digits, 00, the sub-code at [10].
    Frame Header(std::size_t size, char letter, std::uint8_t subCode, const std::uint8_t* body,
                 int length) const;
    bool Send(const Frame& frame);

    const SimSwitchDatabase& m_db;
    SimFrames& m_frames;
    SimTrace& m_trace;
    const SwitchSimSettings& m_settings;
};
