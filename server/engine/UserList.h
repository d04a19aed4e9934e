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

    platform::CriticalSection& Lock() { return m_csLock; }

    // Appends at the tail; the result is the record now held by the list.
    UserRecord* Add(std::unique_ptr<UserRecord> record);
    // Deletes the record when the list holds it; a record it does not hold is left alone.
    void Remove(const UserRecord* record);
    // A fresh record without a device in the old one's place; null when the old one is not held.
    UserRecord* ReplaceRecord(const UserRecord* old, const std::string& userName,
                              const std::string& ipAddress, int userType,
                              const std::string& userInfo);
    // False when the record is not held.
    bool SetDevice(UserRecord* record, const std::string& deviceId, int deviceSeqNo);

    // First match in list order, or null.
    UserRecord* FindByIPAddress(const std::string& ipAddress) const;
    UserRecord* FindByDeviceID(const std::string& deviceId) const;
    // "Unknown" when no user has the address.
    std::string GetUserNameByIPAddress(const std::string& ipAddress) const;

    void DeleteAll();

    std::size_t GetCount() const { return m_Records.size(); }
    bool IsEmpty() const { return m_Records.empty(); }
    Records::const_iterator begin() const { return m_Records.begin(); }
    Records::const_iterator end() const { return m_Records.end(); }

private:
    Records::iterator Locate(const UserRecord* record);

    Records m_Records;
    platform::CriticalSection m_csLock;
};

} // namespace engine
