#include "LineDeviceList.h"

#include <algorithm>

namespace engine {

void LineDeviceList::AddTail(std::unique_ptr<LineDeviceEntry> entry) {
    if (entry)
        m_Entries.push_back(std::move(entry));
}

void LineDeviceList::Replace(const LineDeviceEntry* old, std::unique_ptr<LineDeviceEntry> entry) {
    auto it = std::find_if(m_Entries.begin(), m_Entries.end(),
                           [old](const auto& item) { return item.get() == old; });
    if (it != m_Entries.end() && entry)
        *it = std::move(entry);
}

LineDeviceEntry* LineDeviceList::FindByDeviceId(const std::string& deviceId) const {
    for (const auto& entry : m_Entries)
        if (entry->m_strDeviceId == deviceId)
            return entry.get();
    return nullptr;
}

LineDeviceEntry* LineDeviceList::FindByName(const std::string& lineName) const {
    for (const auto& entry : m_Entries)
        if (entry->m_strLineName == lineName)
            return entry.get();
    return nullptr;
}

LineDeviceEntry* LineDeviceList::FindFirstQueryDevice() const {
    for (const auto& entry : m_Entries)
        if (entry->m_nKind == 1 || entry->m_nKind == 2)
            return entry.get();
    return nullptr;
}

LineDeviceEntry* LineDeviceList::First() const {
    return m_Entries.empty() ? nullptr : m_Entries.front().get();
}

void LineDeviceList::DeleteAll() {
    m_Entries.clear();
}

} // namespace engine
