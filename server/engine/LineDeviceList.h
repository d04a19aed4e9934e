#pragma once

#include "LineDeviceEntry.h"

#include <platform/CriticalSection.h>

#include <cstddef>
#include <list>
#include <memory>
#include <string>

namespace engine {

// The devices of the switch device table in arrival order, with the lock that guards them. No
// operation locks: whoever reads or changes the list holds Lock() around it.
class LineDeviceList {
public:
    using Entries = std::list<std::unique_ptr<LineDeviceEntry>>;

    LineDeviceList() = default;
    LineDeviceList(const LineDeviceList&) = delete;
    LineDeviceList& operator=(const LineDeviceList&) = delete;

    platform::CriticalSection& Lock() RETURN_CAPABILITY(m_csLock) { return m_csLock; }

    void AddTail(std::unique_ptr<LineDeviceEntry> entry) REQUIRES(m_csLock);
    // Puts the new entry where the old one stood and destroys the old one; when the old one is
    // not in the list the new one is destroyed.
    void Replace(const LineDeviceEntry* old, std::unique_ptr<LineDeviceEntry> entry)
        REQUIRES(m_csLock);

    LineDeviceEntry* FindByDeviceId(const std::string& deviceId) const REQUIRES(m_csLock);
    LineDeviceEntry* FindByName(const std::string& lineName) const REQUIRES(m_csLock);
    // The first line device of kind 1 or 2: the one the server's own status query names.
    LineDeviceEntry* FindFirstQueryDevice() const REQUIRES(m_csLock);
    LineDeviceEntry* First() const REQUIRES(m_csLock);

    void DeleteAll() REQUIRES(m_csLock);

    std::size_t GetCount() const REQUIRES(m_csLock) { return m_Entries.size(); }
    bool IsEmpty() const REQUIRES(m_csLock) { return m_Entries.empty(); }
    // For walks: the analysis cannot follow a range-for over the list itself to its lock.
    const Entries& Items() const REQUIRES(m_csLock) { return m_Entries; }

private:
    Entries m_Entries GUARDED_BY(m_csLock);
    platform::CriticalSection m_csLock;
};

} // namespace engine
