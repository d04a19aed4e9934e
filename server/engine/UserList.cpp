#include "UserList.h"

#include <algorithm>

namespace engine {

UserList::~UserList() {
    // Records still held are freed with the list rather than leaked.
    DeleteAll();
}

UserList::Records::iterator UserList::Locate(const UserRecord* record) {
    return std::find_if(m_Records.begin(), m_Records.end(),
                        [record](const auto& held) { return held.get() == record; });
}

UserRecord* UserList::Add(std::unique_ptr<UserRecord> record) {
    if (!record)
        return nullptr;
    m_Records.push_back(std::move(record));
    return m_Records.back().get();
}

void UserList::Remove(const UserRecord* record) {
    const auto it = Locate(record);
    if (it != m_Records.end())
        m_Records.erase(it);
}

UserRecord* UserList::ReplaceRecord(const UserRecord* old, const std::string& userName,
                                    const std::string& ipAddress, int userType,
                                    const std::string& userInfo) {
    const auto it = Locate(old);
    if (it == m_Records.end())
        return nullptr;
    *it = std::make_unique<UserRecord>(userName, ipAddress, userType, userInfo);
    return it->get();
}

bool UserList::SetDevice(UserRecord* record, const std::string& deviceId, int deviceSeqNo) {
    if (Locate(record) == m_Records.end())
        return false;
    record->SetDevice(deviceId, deviceSeqNo);
    return true;
}

UserRecord* UserList::FindByIPAddress(const std::string& ipAddress) const {
    for (const auto& record : m_Records) {
        if (record->HasIPAddress(ipAddress))
            return record.get();
    }
    return nullptr;
}

UserRecord* UserList::FindByDeviceID(const std::string& deviceId) const {
    for (const auto& record : m_Records) {
        if (record->HasDeviceID(deviceId))
            return record.get();
    }
    return nullptr;
}

std::string UserList::GetUserNameByIPAddress(const std::string& ipAddress) const {
    const UserRecord* record = FindByIPAddress(ipAddress);
    return record ? record->GetUserName() : std::string("Unknown");
}

void UserList::DeleteAll() {
    m_Records.clear();
}

} // namespace engine
