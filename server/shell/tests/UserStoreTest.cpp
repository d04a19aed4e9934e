#include "DialogsFixture.h"

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace engine;
using namespace shell;

namespace shell_test {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

class UserStoreTest : public DialogsTest {
protected:
    UserStore& Store() {
        if (!store)
            store = std::make_unique<UserStore>(dlg.m_UserList, dlg.m_strInstallPath, Prompts());
        return *store;
    }
    std::unique_ptr<UserStore> store;
};

TEST_F(UserStoreTest, LoadsEveryUserAndTheCountAndAcceptsNamesTheDialogAllows) {
    const std::string name99(99, 'n');
    WriteStore(
        {{"Ann", "10.0.0.1", "0", "desk", "201", "3"}, {name99, "10.0.0.2", "1x", "", "-1", "-1"}});
    EXPECT_EQ(Store().LoadUserData(), 1);
    EXPECT_EQ(Store().Count(), 2);
    EXPECT_EQ(ListedUsers(), (std::vector<std::string>{"Ann@10.0.0.1:0:desk:201:3",
                                                       name99 + "@10.0.0.2:1::-1:-1"}));
}

TEST_F(UserStoreTest, LoadStopsAtTheFirstUserItCannotReadKeepingThoseBefore) {
    WriteStore({{"Ann", "10.0.0.1", "0", "", "-1", "-1"},
                {std::string(100, 'n'), "10.0.0.2", "0", "", "-1", "-1"},
                {"Cid", "10.0.0.3", "0", "", "-1", "-1"}});
    EXPECT_EQ(Store().LoadUserData(), 0);
    EXPECT_EQ(ListedUsers().size(), 1u);
    EXPECT_EQ(Store().Count(), 3);

    dlg.m_UserList.DeleteAll();
    WriteStore({{"Ann", "10.0.0.1", "0", "", "-1", "1234567890"}});
    EXPECT_EQ(Store().LoadUserData(), 0) << "a number text of 10 characters does not fit";

    dlg.m_UserList.DeleteAll();
    WriteStore({{"Ann", "10.0.0.1", "0", "", "-1", "-1"}}, 2);
    EXPECT_EQ(Store().LoadUserData(), 0) << "a count beyond the subkeys";
    EXPECT_EQ(ListedUsers().size(), 1u);
}

TEST_F(UserStoreTest, NoUserKeyLoadsEmptyAndTheFirstWriteMakesIt) {
    CreateKey(kRootKey).DeleteSubKeyTree("UserData");
    EXPECT_EQ(Store().LoadUserData(), 1);
    EXPECT_EQ(Store().Count(), 0);
    EXPECT_EQ(Store().BackupUserData(), 1);
    EXPECT_EQ(Store().AppendUserData("Ann", "10.0.0.1", 0, "", 1), 1);
    EXPECT_EQ(ReloadedUsers(), (std::vector<std::string>{"Ann@10.0.0.1:0::-1:-1"}));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(UserStoreTest, SaveRewritesTheWholeStoreAndACountForExactlyTheUsersWritten) {
    WriteStore({{"Old1", "1.1.1.1", "0", "", "-1", "-1"},
                {"Old2", "1.1.1.2", "0", "", "-1", "-1"},
                {"Old3", "1.1.1.3", "0", "", "-1", "-1"}});
    dlg.m_UserList.Add(std::make_unique<UserRecord>("Ann", "10.0.0.1", 0, "a", "205", 4));
    dlg.m_UserList.Add(std::make_unique<UserRecord>("Bob", "10.0.0.2", 1, "b"));
    Store().SetCount(7);
    EXPECT_EQ(Store().SaveUserData(), 1);
    int loaded = 0;
    EXPECT_EQ(ReloadedUsers(&loaded),
              (std::vector<std::string>{"Ann@10.0.0.1:0:a:205:4", "Bob@10.0.0.2:1:b:-1:-1"}));
    EXPECT_EQ(loaded, 1);
    EXPECT_EQ(Store().Count(), 2);
    std::vector<std::string> subkeys;
    CreateKey(kUserDataKey).EnumSubKeys(subkeys);
    EXPECT_EQ(subkeys, (std::vector<std::string>{"UserData_0", "UserData_1"}));
}

TEST_F(UserStoreTest, AFailedSaveLeavesTheOldStoreWhole) {
    WriteStore(
        {{"Old1", "1.1.1.1", "0", "", "-1", "-1"}, {"Old2", "1.1.1.2", "0", "", "-1", "-1"}});
    dlg.m_UserList.Add(std::make_unique<UserRecord>("New", "10.0.0.1", 0, ""));
    // A text the registry file cannot carry fails the save half-way through its users.
    dlg.m_UserList.Add(std::make_unique<UserRecord>("Bad\nName", "10.0.0.2", 0, ""));
    EXPECT_EQ(Store().SaveUserData(), 0);
    EXPECT_EQ(boxes, (std::vector<int>{118}));
    EXPECT_EQ(ReloadedUsers(),
              (std::vector<std::string>{"Old1@1.1.1.1:0::-1:-1", "Old2@1.1.1.2:0::-1:-1"}));
}

TEST_F(UserStoreTest, AppendWritesTheUserBeforeRaisingTheCount) {
    WriteStore({{"Ann", "10.0.0.1", "0", "", "-1", "-1"}});
    EXPECT_EQ(Store().AppendUserData("Bob", "10.0.0.2", 1, "info", 2), 1);
    EXPECT_EQ(ReloadedUsers(),
              (std::vector<std::string>{"Ann@10.0.0.1:0::-1:-1", "Bob@10.0.0.2:1:info:-1:-1"}));
    // A user whose values can't be written leaves the count alone, so the store still loads.
    EXPECT_EQ(Store().AppendUserData("Bad\nName", "10.0.0.3", 0, "", 3), 0);
    EXPECT_EQ(boxes, (std::vector<int>{118}));
    std::uint32_t count = 0;
    CreateKey(kUserDataKey).QueryDword("UserListCount", count);
    EXPECT_EQ(count, 2u);
    int loaded = 0;
    EXPECT_EQ(ReloadedUsers(&loaded).size(), 2u);
    EXPECT_EQ(loaded, 1);
}

TEST_F(UserStoreTest, BackupDamageRestoreBringsTheUsersBack) {
    WriteStore(
        {{"Ann", "10.0.0.1", "0", "desk", "201", "3"}, {"Bob", "10.0.0.2", "1", "", "-1", "-1"}});
    // A fresh install has neither the folder nor an old copy: the first backup is written all
    // the same.
    ASSERT_FALSE(std::filesystem::exists(Store().BackupFilePath()));
    EXPECT_EQ(Store().BackupUserData(), 1);
    ASSERT_TRUE(std::filesystem::exists(Store().BackupFilePath()));

    // Damage: the count names more users than there are, and one user lost its name.
    platform::RegKey key = CreateKey(kUserDataKey);
    key.SetDword("UserListCount", 5);
    platform::RegKey sub;
    key.OpenSub("UserData_1", sub);
    sub.DeleteValue("UserName");

    Store().LoadAtStartup();
    EXPECT_EQ(boxes, (std::vector<int>{224}));
    EXPECT_EQ(ListedUsers(),
              (std::vector<std::string>{"Ann@10.0.0.1:0:desk:201:3", "Bob@10.0.0.2:1::-1:-1"}));
    EXPECT_EQ(Store().Count(), 2);
}

TEST_F(UserStoreTest, StartupWithoutAUsableBackupRunsWithAnEmptyList) {
    WriteStore({{"Ann", "10.0.0.1", "0", "", "-1", "-1"}}, 3);
    Store().LoadAtStartup();
    EXPECT_EQ(boxes, (std::vector<int>{224, 223, 225}));
    EXPECT_TRUE(ListedUsers().empty());
    EXPECT_EQ(Store().Count(), 0);

    // A damaged backup file is refused the same way, and the store stays as it was.
    std::filesystem::create_directories(registry.Dir() / "RegBkUp");
    std::ofstream(Store().BackupFilePath()) << "not a saved key";
    boxes.clear();
    EXPECT_EQ(Store().RestoreUserData(), 0);
    EXPECT_EQ(boxes, (std::vector<int>{223}));
    std::uint32_t count = 0;
    CreateKey(kUserDataKey).QueryDword("UserListCount", count);
    EXPECT_EQ(count, 3u);
}

TEST_F(UserStoreTest, ABackupThatWouldNotLoadNeverReachesTheRegistry) {
    WriteStore(
        {{"Ann", "10.0.0.1", "0", "", "-1", "-1"}, {"Bob", "10.0.0.2", "0", "", "-1", "-1"}});
    EXPECT_EQ(Store().BackupUserData(), 1);
    const std::string good = ReadFile(Store().BackupFilePath());
    const auto damaged = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        std::ofstream(Store().BackupFilePath(), std::ios::binary | std::ios::trunc) << text;
    };
    // The store now in the registry does not load either; each restore must leave it so.
    WriteStore({{"Cid", "10.0.0.3", "0", "", "-1", "-1"}}, 4);
    const std::string before = ReadFile(registry.File());
    const std::string hugeName(1 << 20, 'x');
    const std::pair<std::string, std::string> damages[] = {
        {"\"UserName\"=\"Bob\"", "\"UserName\"=\"" + hugeName + "\""}, // too long to load
        {"\"UserName\"=\"Bob\"", "\"UserName\"=\"Bob\"\r\n\"Spare\"=\"" + hugeName + "\""},
        {"\"UserListCount\"=dword:00000002", "\"UserListCount\"=dword:00000003"},
        {"\"DeviceSeqNo\"=\"-1\"", "\"DeviceSeqNo\"=dword:00000001"},
    };
    for (const auto& [from, to] : damages) {
        damaged(from, to);
        boxes.clear();
        EXPECT_EQ(Store().RestoreUserData(), 0) << to.substr(0, 40);
        EXPECT_EQ(boxes, (std::vector<int>{223}));
        EXPECT_EQ(ReadFile(registry.File()), before);
    }
    // Start-up with such a copy: the broken store stays, the copy is not imported.
    boxes.clear();
    Store().LoadAtStartup();
    EXPECT_EQ(boxes, (std::vector<int>{224, 223, 225}));
    EXPECT_EQ(ReadFile(registry.File()), before);

    // The whole copy restores.
    std::ofstream(Store().BackupFilePath(), std::ios::binary | std::ios::trunc) << good;
    EXPECT_EQ(Store().RestoreUserData(), 1);
    EXPECT_EQ(ReloadedUsers(),
              (std::vector<std::string>{"Ann@10.0.0.1:0::-1:-1", "Bob@10.0.0.2:0::-1:-1"}));
}

TEST_F(UserStoreTest, ANewBackupReplacesTheOldOneOnlyWhenWhole) {
    WriteStore({{"Ann", "10.0.0.1", "0", "", "-1", "-1"}});
    EXPECT_EQ(Store().BackupUserData(), 1);
    WriteStore({{"Bob", "10.0.0.2", "0", "", "-1", "-1"}});
    EXPECT_EQ(Store().BackupUserData(), 1);
    CreateKey(kRootKey).DeleteSubKeyTree("UserData");
    EXPECT_EQ(Store().RestoreUserData(), 1);
    EXPECT_EQ(ReloadedUsers(), (std::vector<std::string>{"Bob@10.0.0.2:0::-1:-1"}));
    // A folder where the file should be: the save fails and nothing is left half-written.
    const std::filesystem::path file = Store().BackupFilePath();
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    EXPECT_EQ(Store().BackupUserData(), 0);
    EXPECT_EQ(boxes, (std::vector<int>{222}));
    EXPECT_TRUE(std::filesystem::is_directory(file));
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, (std::vector<std::string>{"OrbBKUP.BIN"}));
}

} // namespace
} // namespace shell_test

namespace shell_test {
namespace {

TEST_F(UserStoreTest, TheDialogsMayWriteAndLoadWhileHoldingTheListsLock) {
    dlg.m_UserList.Add(std::make_unique<UserRecord>("Ann", "10.0.0.1", 0, ""));
    platform::CriticalSectionLock held(dlg.m_UserList.Lock());
    EXPECT_EQ(Store().SaveUserData(), 1);
    dlg.m_UserList.DeleteAll();
    EXPECT_EQ(Store().LoadUserData(), 1);
    EXPECT_EQ(dlg.m_UserList.GetCount(), 1u);
}

} // namespace
} // namespace shell_test
