#include "UserRecord.h"

#include <utility>

namespace engine {

UserRecord::UserRecord(std::string userName, std::string ipAddress, int userType,
                       std::string userInfo, std::string deviceId, int deviceSeqNo)
    : m_strUserInfo(std::move(userInfo)), m_nUserType(userType), m_nDeviceSeqNo(deviceSeqNo),
      m_strDeviceID(std::move(deviceId)), m_strIPAddress(std::move(ipAddress)),
      m_strUserName(std::move(userName)) {}

UserRecord::UserRecord(std::string userName, std::string ipAddress, int userType,
                       std::string userInfo)
    : UserRecord(std::move(userName), std::move(ipAddress), userType, std::move(userInfo),
                 kNoDeviceId, kNoDeviceSeqNo) {}

void UserRecord::SetDevice(const std::string& deviceId, int deviceSeqNo) {
    m_strDeviceID = deviceId;
    m_nDeviceSeqNo = deviceSeqNo;
}

} // namespace engine
