#include "SimStatusQuery.h"

#include <algorithm>

// The list sub-letters of the status query: G g h O T E.

namespace {

constexpr std::uint8_t kNone = 0xFF;
constexpr std::size_t kMemberFrameSize = 74;
constexpr std::size_t kMemberSlotsAt = 34;
constexpr std::size_t kDirectoryFrameSize = 104;
constexpr std::size_t kDirectorySlotsAt = 14;
constexpr std::size_t kDirectorySlotSize = 15;
constexpr int kGroupNumberOffset = 10;

using Frame = SimStatusQuery::Frame;

template <typename Range> void Put(Frame& frame, std::size_t offset, const Range& bytes) {
    std::transform(bytes.begin(), bytes.end(), frame.begin() + static_cast<std::ptrdiff_t>(offset),
                   [](auto b) { return static_cast<std::uint8_t>(b); });
}

// Items per frame: a list that fits goes out whole; a longer one as full frames and then the
// rest, which may be none.
std::vector<int> Pages(int items, int capacity) {
    if (items <= capacity) {
        return {std::max(items, 0)};
    }
    std::vector<int> pages(static_cast<std::size_t>(items / capacity), capacity);
    pages.push_back(items % capacity);
    return pages;
}

// [11..12]: the 1-based entry number, high byte first.
void PutEntryNumber(Frame& frame, std::size_t position) {
    const std::size_t entry = position + 1;
    frame[11] = static_cast<std::uint8_t>(entry >> 8 & 0xFF);
    frame[12] = static_cast<std::uint8_t>(entry & 0xFF);
}

} // namespace

bool SimStatusQuery::SendMemberPages(const StationGroupRecord& group, char subCode,
                                     std::uint8_t position, const std::uint8_t* body, int length) {
    const int members =
        std::clamp<int>(group.memberCount, 0, static_cast<int>(group.members.size()));
    const std::vector<int> pages = Pages(members, kMembersPerFrame);
    std::size_t next = 0;
    for (std::size_t page = 0; page < pages.size(); ++page) {
        Frame frame =
            Header(kMemberFrameSize, 'Q', static_cast<std::uint8_t>(subCode), body, length);
        frame[11] = position;
        Put(frame, 12, group.number);
        Put(frame, 16, group.name);
        Put(frame, 27, group.attributes);
        frame[32] = static_cast<std::uint8_t>(pages[page]);
        frame[33] = page + 1 < pages.size() ? 1 : 0;
        // Slots without a member read 0xFF.
        std::fill(frame.begin() + kMemberSlotsAt, frame.end(), kNone);
        for (int i = 0; i < pages[page]; ++i) {
            Put(frame, kMemberSlotsAt + 4 * static_cast<std::size_t>(i), group.members[next++]);
        }
        if (!Send(frame)) {
            return false;
        }
    }
    return true;
}

void SimStatusQuery::SendGroupsWithMembers(const std::uint8_t* body, int length) {
    const auto& groups = m_db.groups;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (!SendMemberPages(groups[g], 'G', static_cast<std::uint8_t>(g + 1), body, length)) {
            return;
        }
    }
    Frame end = Header(12, 'Q', 'G', body, length);
    end[11] = 0x00;
    Send(end);
}

void SimStatusQuery::SendGroupDirectory(const std::uint8_t* body, int length) {
    const auto& groups = m_db.groups;
    const std::vector<int> pages = Pages(static_cast<int>(groups.size()), kGroupsPerFrame);
    std::size_t next = 0;
    for (std::size_t page = 0; page < pages.size(); ++page) {
        Frame frame = Header(kDirectoryFrameSize, 'Q', 'c', body, length);
        frame[11] = 0x00;
        frame[12] = static_cast<std::uint8_t>(pages[page]);
        frame[13] = page + 1 < pages.size() ? 1 : 0;
        std::fill(frame.begin() + kDirectorySlotsAt, frame.end(), kNone);
        for (int i = 0; i < pages[page]; ++i) {
            const StationGroupRecord& group = groups[next++];
            const std::size_t slot =
                kDirectorySlotsAt + kDirectorySlotSize * static_cast<std::size_t>(i);
            Put(frame, slot, group.number);
            Put(frame, slot + 4, group.name);
        }
        if (!Send(frame)) {
            return;
        }
    }
}

void SimStatusQuery::SendGroupMembers(const std::uint8_t* body, int length) {
    if (length < kGroupNumberOffset + 4) {
        return;
    }
    std::array<std::uint8_t, 4> wanted{};
    std::copy_n(body + kGroupNumberOffset, wanted.size(), wanted.begin());
    // The link server pads a three-digit group with 0xFF; the table holds 0x0F there.
    if (wanted[3] == kNone) {
        wanted[3] = 0x0F;
    }
    const std::uint16_t index = m_db.FindGroupIndex(wanted.data());
    if (index >= m_db.groups.size()) {
        m_frames.SendFailReply(body, length, 0);
        return;
    }
    SendMemberPages(m_db.groups[index], 'h', 0x00, body, length);
}

void SimStatusQuery::SendShortNumbers(const std::uint8_t* body, int length) {
    const auto& table = m_db.directory;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const DirectoryRecord& entry = table[i];
        Frame frame = Header(58, 'Q', 'O', body, length);
        PutEntryNumber(frame, i);
        frame[13] = kNone;
        Put(frame, 14, entry.number);
        Put(frame, 18, entry.name);
        Put(frame, 29, entry.digits);
        Put(frame, 40, entry.filler);
        if (!Send(frame)) {
            return;
        }
    }
    Frame end = Header(12, 'Q', 'O', body, length);
    end[11] = 0x00;
    Send(end);
}

void SimStatusQuery::SendCallerTableA(const std::uint8_t* body, int length) {
    const auto& table = m_db.cli;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const CliRecord& entry = table[i];
        Frame frame = Header(66, 'Q', 'T', body, length);
        PutEntryNumber(frame, i);
        Put(frame, 13, entry.callerNumber);
        Put(frame, 29, entry.callerName);
        frame[40] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(entry.count) & 0xFF);
        Put(frame, 41, entry.firstStation);
        for (std::size_t n = 0; n < entry.emptyNumbers.size(); ++n) {
            Put(frame, 45 + 4 * n, entry.emptyNumbers[n]);
        }
        if (!Send(frame)) {
            return;
        }
    }
    Frame end = Header(14, 'Q', 'T', body, length);
    end[13] = kNone;
    Send(end);
}

void SimStatusQuery::SendCallerTableB(const std::uint8_t* body, int length) {
    const auto& table = m_db.did;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const DidRecord& entry = table[i];
        Frame frame = Header(44, 'Q', 'E', body, length);
        PutEntryNumber(frame, i);
        Put(frame, 13, entry.number);
        Put(frame, 27, entry.name);
        if (!Send(frame)) {
            return;
        }
    }
    Frame end = Header(14, 'Q', 'E', body, length);
    end[13] = kNone;
    Send(end);
}
