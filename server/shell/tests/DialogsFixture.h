#pragma once

// The dialogs' logic under test: a registry of its own, the main dialog's state without a link,
// and the message boxes and questions recorded (questions answered from `answers`, OK by
// default).

#include "ShellFixture.h"
#include <shell/DialogPrompts.h>
#include <shell/UserStore.h>

#include <engine/OrbManagerDlg.h>

#include <map>
#include <string>
#include <vector>

namespace shell_test {

constexpr const char kUserDataKey[] = "Software\\Qorvell Electronics\\OrbManager\\UserData";

struct StoredUserValues {
    std::string name, ip, type, info, deviceId, seqNo;
};

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dlg.SetResourceLookup(TestText);
        dlg.m_strInstallPath = registry.Dir().string();
        CreateKey(kRootKey);
        CreateKey(kUserDataKey);
    }

    shell::DialogPrompts Prompts() {
        shell::DialogPrompts p;
        p.box = [this](int id) { boxes.push_back(id); };
        p.detailBox = [this](int id, const std::string& detail) {
            boxes.push_back(id);
            boxDetails.push_back(detail);
        };
        p.ask = [this](int id) {
            asked.push_back(id);
            const auto it = answers.find(id);
            return it == answers.end() || it->second;
        };
        return p;
    }

    // The store as the registry holds it, written value by value.
    void WriteStore(const std::vector<StoredUserValues>& users, int count = -1) {
        platform::RegKey key = CreateKey(kUserDataKey);
        key.SetDword("UserListCount", static_cast<std::uint32_t>(
                                          count < 0 ? static_cast<int>(users.size()) : count));
        for (std::size_t i = 0; i < users.size(); ++i) {
            platform::RegKey sub;
            ASSERT_EQ(key.CreateSub("UserData_" + std::to_string(i), sub), platform::RegStatus::Ok);
            const StoredUserValues& u = users[i];
            sub.SetString("UserName", u.name);
            sub.SetString("IPAddress", u.ip);
            sub.SetString("UserType", u.type);
            sub.SetString("UserInfo", u.info);
            sub.SetString("DeviceID", u.deviceId);
            sub.SetString("DeviceSeqNo", u.seqNo);
        }
    }

    // "name@ip:type:info:device:seq" of every user in the list, in order.
    static std::vector<std::string> Described(const engine::UserList& users) {
        std::vector<std::string> out;
        for (const auto& r : users.Items())
            out.push_back(r->GetUserName() + "@" + r->GetIPAddress() + ":" +
                          std::to_string(r->GetUserType()) + ":" + r->GetUserInfo() + ":" +
                          r->GetDeviceID() + ":" + std::to_string(r->GetDeviceSeqNo()));
        return out;
    }
    std::vector<std::string> ListedUsers() {
        platform::CriticalSectionLock guard(dlg.m_UserList.Lock());
        return Described(dlg.m_UserList);
    }

    // What a fresh load of the store yields.
    std::vector<std::string> ReloadedUsers(int* result = nullptr) {
        engine::COrbManagerDlg other;
        shell::UserStore store(other.m_UserList, dlg.m_strInstallPath, {});
        const int loaded = store.LoadUserData();
        if (result)
            *result = loaded;
        return Described(other.m_UserList);
    }

    TempRegistry registry;
    engine::COrbManagerDlg dlg;
    std::vector<int> boxes;
    std::vector<std::string> boxDetails; // of the boxes shown with one
    std::vector<int> asked;
    std::map<int, bool> answers;
};

} // namespace shell_test
