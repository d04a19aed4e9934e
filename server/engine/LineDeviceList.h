#pragma once

#include "LineDeviceEntry.h"

#include <platform/CriticalSection.h>

#include <cstddef>
#include <list>
#include <memory>
#include <string>

namespace engine {

// The devices of the switch device table in arrival order, with the lock that guards them. The
// finders take no lock: whoever walks the list while it may change holds Lock() for the walk.
class LineDeviceList {
public:
    using Entries = std::list<std::unique_ptr<LineDeviceEntry>>;

    LineDeviceList() = default;
    LineDeviceList(const LineDeviceList&) = delete;
    LineDeviceList& operator=(const LineDeviceList&) = delete;

    platform::CriticalSection& Lock() { return m_csLock; }

    // The caller holds the lock.
    void AddTail(std::unique_ptr<LineDeviceEntry> entry);
    // Puts the new entry where the old one stood and destroys the old one; when the old one is
    // not in the list the new one is destroyed. The caller holds the lock.
    void Replace(const LineDeviceEntry* old, std::unique_ptr<LineDeviceEntry> entry);

    LineDeviceEntry* FindByDeviceId(const std::string& deviceId) const;
    LineDeviceEntry* FindByName(const std::string& lineName) const;
    // The first line device of kind 1 or 2: the one the server's own status query names.
    LineDeviceEntry* FindFirstQueryDevice() const;
    LineDeviceEntry* First() const;

    void DeleteAll();

    std::size_t GetCount() const { return m_Entries.size(); }
    bool IsEmpty() const { return m_Entries.empty(); }
    // For walks under the lock.
    Entries::const_iterator begin() const { return m_Entries.begin(); }
    Entries::const_iterator end() const { return m_Entries.end(); }

private:
    Entries m_Entries;
    platform::CriticalSection m_csLock;
};

} // namespace engine
