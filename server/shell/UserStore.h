#pragma once

#include "DialogPrompts.h"

#include <string>

namespace platform::regfile {
struct Node;
}

namespace engine {
class UserList;
}

namespace shell {

// The stored users under "Software\Qorvell Electronics\OrbManager\UserData": UserListCount and
// one subkey "UserData_<n>" per user, and the safety copy of that key in the install path.
class UserStore {
public:
    static constexpr const char* kUserDataKey =
        "Software\\Qorvell Electronics\\OrbManager\\UserData";
    static constexpr const char* kBackupName = "/RegBkUp/OrbBKUP.BIN";
    // Longest texts a load accepts, as the dialogs allow them.
    static constexpr std::size_t kUserNameMax = 99;
    static constexpr std::size_t kIpAddressMax = 512;
    static constexpr std::size_t kUserInfoMax = 99;
    static constexpr std::size_t kNumberTextMax = 9;

    UserStore(engine::UserList& users, std::string installPath, DialogPrompts prompts);

    // The stored-user count the dialogs keep and every rewrite stores.
    int Count() const { return m_nCount; }
    void SetCount(int count) { m_nCount = count; }

    // Appends every stored user to the list; 1, or 0 at the first subkey or value that can't be
    // read (the users before it stay). The caller holds the list's lock while engine threads run.
    int LoadUserData();
    // Rewrites the whole store from a snapshot of the list, in one replacement of the key: a
    // failure leaves the old store as it was. 1, or 0 with box 117 / 118.
    int SaveUserData();
    // One user at the end, its subkey before the count. 1, or 0 with box 117 / 118.
    int AppendUserData(const std::string& userName, const std::string& ipAddress, int userType,
                       const std::string& userInfo, int newCount);
    // The key into the backup file, replacing it only once the new copy is whole. 1, or 0.
    int BackupUserData();
    // The key from the backup file, once the file is found to hold a store that loads (and no
    // more than such a store holds); otherwise the store stays as it was. 1, or 0 with box 117 /
    // 223.
    int RestoreUserData();
    // Why a saved user key is no store to restore; "" when it is one.
    static std::string CheckSavedStore(const platform::regfile::Node& key);

    // Start-up: load; on failure box 224, restore and load again; box 225 and an empty list when
    // that fails too.
    void LoadAtStartup();

    std::string BackupFilePath() const { return m_strInstallPath + kBackupName; }
    static std::string SubKeyName(int index);

private:
    engine::UserList& m_Users;
    std::string m_strInstallPath;
    DialogPrompts m_prompts;
    int m_nCount = 0;
};

} // namespace shell
