#pragma once

// What one client received of a numbered stream: every sequence number is new, fills a gap it
// left behind (late), or was had before (a duplicate). A loss is a number that never came, so a
// duplicate cannot hide one. Gaps are kept as ranges, so a long run of losses costs one entry.

#include <cstdint>
#include <map>

namespace bench {

class SequenceTracker {
public:
    enum class Arrival { New, Late, Duplicate, BeforeStart };

    // Forgets everything; numbers from `first` on are expected.
    void Reset(std::uint64_t first = 0);
    Arrival Take(std::uint64_t sequence);

    std::uint64_t Distinct() const { return m_Distinct; }
    std::uint64_t Duplicates() const { return m_Duplicates; }
    // Late ones and those from before the start (a straggler of an earlier phase).
    std::uint64_t OutOfOrder() const { return m_Late + m_BeforeStart; }
    // Of the `sent` numbers from the start on, those that did not come.
    std::uint64_t Lost(std::uint64_t sent) const;

private:
    std::uint64_t m_First = 0;
    std::uint64_t m_Next = 0; // one past the highest number seen
    std::map<std::uint64_t, std::uint64_t>
        m_Gaps; // first missing -> one past the last, below m_Next
    std::uint64_t m_Distinct = 0;
    std::uint64_t m_Duplicates = 0;
    std::uint64_t m_Late = 0;
    std::uint64_t m_BeforeStart = 0;
};

} // namespace bench
