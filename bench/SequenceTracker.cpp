#include "SequenceTracker.h"

namespace bench {

void SequenceTracker::Reset(std::uint64_t first) {
    *this = SequenceTracker();
    m_First = m_Next = first;
}

SequenceTracker::Arrival SequenceTracker::Take(std::uint64_t sequence) {
    if (sequence < m_First) {
        ++m_BeforeStart;
        return Arrival::BeforeStart;
    }
    if (sequence >= m_Next) {
        if (sequence > m_Next)
            m_Gaps.emplace(m_Next, sequence);
        m_Next = sequence + 1;
        ++m_Distinct;
        return Arrival::New;
    }
    auto gap = m_Gaps.upper_bound(sequence);
    if (gap == m_Gaps.begin() || (--gap)->second <= sequence) {
        ++m_Duplicates;
        return Arrival::Duplicate;
    }
    const std::uint64_t from = gap->first;
    const std::uint64_t to = gap->second;
    m_Gaps.erase(gap);
    if (from < sequence)
        m_Gaps.emplace(from, sequence);
    if (sequence + 1 < to)
        m_Gaps.emplace(sequence + 1, to);
    ++m_Distinct;
    ++m_Late;
    return Arrival::Late;
}

std::uint64_t SequenceTracker::Lost(std::uint64_t sent) const {
    return sent > m_Distinct ? sent - m_Distinct : 0;
}

} // namespace bench
