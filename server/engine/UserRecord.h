#pragma once

#include <string>

namespace engine {

// A user the administrator knows: the address the user's client connects from and the line device
// the user is assigned to.
class UserRecord {
public:
    UserRecord(std::string userName, std::string ipAddress, int userType, std::string userInfo,
               std::string deviceId, int deviceSeqNo);
    // No device assigned: DeviceID "-1", DeviceSeqNo -1.
    UserRecord(std::string userName, std::string ipAddress, int userType, std::string userInfo);
    virtual ~UserRecord() = default;

    static constexpr const char* kNoDeviceId = "-1";
    static constexpr int kNoDeviceSeqNo = -1;

    std::string GetUserName() const { return m_strUserName; }
    std::string GetIPAddress() const { return m_strIPAddress; }
    std::string GetUserInfo() const { return m_strUserInfo; }
    std::string GetDeviceID() const { return m_strDeviceID; }
    int GetUserType() const { return m_nUserType; }
    int GetDeviceSeqNo() const { return m_nDeviceSeqNo; }

    void SetDevice(const std::string& deviceId, int deviceSeqNo);

    // Exact, case-sensitive comparisons without copying the field.
    bool HasIPAddress(const std::string& ipAddress) const { return m_strIPAddress == ipAddress; }
    bool HasDeviceID(const std::string& deviceId) const { return m_strDeviceID == deviceId; }

private:
    std::string m_strUserInfo;
    int m_nUserType;
    int m_nDeviceSeqNo;
    std::string m_strDeviceID;
    std::string m_strIPAddress;
    std::string m_strUserName;
};

} // namespace engine
