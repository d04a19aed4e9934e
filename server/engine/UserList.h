#pragma once

#include "UserRecord.h"

#include <platform/CriticalSection.h>

#include <cstddef>
#include <list>
#include <memory>
#include <string>

namespace engine {

// The known users in insertion order. The list owns its records. No operation locks: whoever walks
// or changes the list holds Lock() around the walk or change, and a caller that also holds the
// device table's lock takes that one first.
class UserList {
public:
    using Records = std::list<std::unique_ptr<UserRecord>>;

    UserList() = default;
    ~UserList();
    UserList(const UserList&) = delete;
    UserList& operator=(const UserList&) = delete;

    platform::CriticalSection& Lock() RETURN_CAPABILITY(m_csLock) { return m_csLock; }

    // Appends at the tail; the result is the record now held by the list.
    UserRecord* Add(std::unique_ptr<UserRecord> record) REQUIRES(m_csLock);
    // Deletes the record when the list holds it; a record it does not hold is left alone.
    void Remove(const UserRecord* record) REQUIRES(m_csLock);
    // A fresh record without a device in the old one's place; null when the old one is not held.
    UserRecord* ReplaceRecord(const UserRecord* old, const std::string& userName,
                              const std::string& ipAddress, int userType,
                              const std::string& userInfo) REQUIRES(m_csLock);
    // False when the record is not held.
    bool SetDevice(UserRecord* record, const std::string& deviceId, int deviceSeqNo)
        REQUIRES(m_csLock);

    // First match in list order, or null.
    UserRecord* FindByIPAddress(const std::string& ipAddress) const REQUIRES(m_csLock);
    UserRecord* FindByDeviceID(const std::string& deviceId) const REQUIRES(m_csLock);
    // "Unknown" when no user has the address.
    std::string GetUserNameByIPAddress(const std::string& ipAddress) const REQUIRES(m_csLock);

    void DeleteAll() REQUIRES(m_csLock);

    std::size_t GetCount() const REQUIRES(m_csLock) { return m_Records.size(); }
    bool IsEmpty() const REQUIRES(m_csLock) { return m_Records.empty(); }
    // For walks: the analysis cannot follow a range-for over the list itself to its lock.
    const Records& Items() const REQUIRES(m_csLock) { return m_Records; }

private:
    Records::iterator Locate(const UserRecord* record) REQUIRES(m_csLock);

    Records m_Records GUARDED_BY(m_csLock);
    platform::CriticalSection m_csLock;
};

} // namespace engine
