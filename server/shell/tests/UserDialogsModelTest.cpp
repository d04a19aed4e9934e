#include "DialogsFixture.h"
#include <shell/UserDialogsModel.h>

#include <engine/SwitchDeviceTable.h>

using namespace engine;
using namespace shell;

namespace shell_test {
namespace {

class UserDialogsModelTest : public DialogsTest {
protected:
    void SetUp() override {
        DialogsTest::SetUp();
        store = std::make_unique<UserStore>(dlg.m_UserList, dlg.m_strInstallPath, Prompts());
        list = std::make_unique<UserListModel>(dlg, *store, Prompts());
    }
    void TearDown() override { dlg.m_pDeviceTable = nullptr; }

    void AddUsers() {
        ASSERT_TRUE(list->Add({"10.0.0.2", "Bob", "b", 0}));
        ASSERT_TRUE(list->Add({"10.0.0.1", "ann", "a", 0}));
        ASSERT_TRUE(list->Add({"10.0.0.3", "Cid", "c", 1}));
    }
    // Devices 201 (kind 1, number 1), 202 (kind 2, number 2), 300 (kind 3, not a line).
    void MakeDevices() {
        table = std::make_unique<SwitchDeviceTable>(&dlg);
        const std::uint8_t body[10] = {'A', 0, 1, 2, 0, 1, 0xFF, 0, 1, 0};
        table->AddDevice("201", protocol::ByteView(body, 10), 1, 1);
        table->AddDevice("202", protocol::ByteView(body, 10), 2, 2);
        table->AddDevice("300", protocol::ByteView(body, 10), 3, 3);
        dlg.m_pDeviceTable = table.get();
        map = std::make_unique<DeviceMapModel>(dlg, *store, Prompts());
    }
    std::vector<std::string> Ips(const std::vector<UserRow>& rows) {
        std::vector<std::string> out;
        for (const UserRow& r : rows)
            out.push_back(r.ipAddress);
        return out;
    }

    std::unique_ptr<UserStore> store;
    std::unique_ptr<UserListModel> list;
    std::unique_ptr<SwitchDeviceTable> table;
    std::unique_ptr<DeviceMapModel> map;
};

TEST_F(UserDialogsModelTest, FieldChecksOfTheAddAndEditDialogs) {
    UserFields f{"", "Ann", "", 0};
    EXPECT_EQ(CheckUserFields(f)->box, 186);
    EXPECT_TRUE(CheckUserFields(f)->ipField);
    f.ipAddress = "1234567890123456";
    EXPECT_EQ(CheckUserFields(f)->box, 186);
    f.ipAddress = "123.123.123.123";
    f.userName.clear();
    EXPECT_EQ(CheckUserFields(f)->box, 188);
    EXPECT_FALSE(CheckUserFields(f)->ipField);
    f.userName = std::string(150, 'n');
    f.userInfo = std::string(120, 'i');
    EXPECT_FALSE(CheckUserFields(f).has_value());
    EXPECT_EQ(f.userName.size(), 99u);
    EXPECT_EQ(f.userInfo.size(), 99u);
}

TEST_F(UserDialogsModelTest, AddStoresEachUserAndRefusesADuplicateAddress) {
    AddUsers();
    EXPECT_EQ(list->CountText(), "3");
    EXPECT_FALSE(list->Add({"10.0.0.1", "Dup", "", 0}));
    EXPECT_EQ(boxes, (std::vector<int>{113}));
    EXPECT_EQ(list->CountText(), "3");
    EXPECT_EQ(ReloadedUsers(), ListedUsers());
    EXPECT_EQ(ListedUsers().size(), 3u);
    // Each write backed the store up first.
    EXPECT_TRUE(std::filesystem::exists(store->BackupFilePath()));
}

TEST_F(UserDialogsModelTest, AFailedAddLeavesListCountAndStoreAsBefore) {
    AddUsers();
    EXPECT_FALSE(list->Add({"10.0.0.9", "Bad\nName", "", 0}));
    EXPECT_EQ(boxes, (std::vector<int>{118}));
    EXPECT_EQ(list->CountText(), "3");
    EXPECT_EQ(ListedUsers().size(), 3u);
    int loaded = 0;
    EXPECT_EQ(ReloadedUsers(&loaded), ListedUsers());
    EXPECT_EQ(loaded, 1);
}

TEST_F(UserDialogsModelTest, EditReplacesTheUserWithoutItsDeviceAndChecksOnlyAChangedAddress) {
    AddUsers();
    {
        platform::CriticalSectionLock guard(dlg.m_UserList.Lock());
        dlg.m_UserList.SetDevice(dlg.m_UserList.FindByIPAddress("10.0.0.2"), "201", 1);
    }
    const UserRow bob{"10.0.0.2", "Bob", "ids181", "b", 0};
    EXPECT_TRUE(list->Edit(bob, {"10.0.0.2", "Robert", "r", 1}));
    EXPECT_EQ(ListedUsers()[0], "Robert@10.0.0.2:1:r:-1:-1");
    EXPECT_FALSE(list->Edit({"10.0.0.2", "Robert", "ids182", "r", 1}, {"10.0.0.3", "X", "", 0}));
    EXPECT_EQ(boxes, (std::vector<int>{113}));
    EXPECT_EQ(ReloadedUsers(), ListedUsers());

    // A failed save puts the old values back.
    boxes.clear();
    EXPECT_FALSE(
        list->Edit({"10.0.0.2", "Robert", "ids182", "r", 1}, {"10.0.0.7", "Bad\nName", "", 0}));
    EXPECT_EQ(boxes, (std::vector<int>{118}));
    EXPECT_EQ(ListedUsers()[0], "Robert@10.0.0.2:1:r:-1:-1");
    EXPECT_EQ(ReloadedUsers(), ListedUsers());
}

TEST_F(UserDialogsModelTest, DeleteRemovesTheSelectedUsersAfterTheQuestion) {
    AddUsers();
    answers[120] = false;
    EXPECT_FALSE(list->Delete({"10.0.0.1"}));
    EXPECT_EQ(ListedUsers().size(), 3u);
    answers[120] = true;
    EXPECT_TRUE(list->Delete({"10.0.0.1", "10.0.0.3", "10.9.9.9"}));
    EXPECT_EQ(list->CountText(), "1");
    EXPECT_EQ(ListedUsers(), (std::vector<std::string>{"Bob@10.0.0.2:0:b:-1:-1"}));
    EXPECT_EQ(ReloadedUsers(), ListedUsers());
    EXPECT_EQ(asked, (std::vector<int>{120, 120}));
}

TEST_F(UserDialogsModelTest, SortModesOrderByTheFirstColumnAndAreStored) {
    AddUsers();
    EXPECT_EQ(Ips(list->Rows()), (std::vector<std::string>{"10.0.0.2", "10.0.0.1", "10.0.0.3"}));
    list->SetSortMode(1);
    EXPECT_EQ(Ips(list->Rows()), (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
    list->SetSortMode(2);
    EXPECT_EQ(Ips(list->Rows()), (std::vector<std::string>{"10.0.0.3", "10.0.0.2", "10.0.0.1"}));
    EXPECT_EQ(ReadSortMode(kUserDataSortModeName), 2);
    list->SetSortMode(3);
    EXPECT_EQ(Ips(list->Rows()), (std::vector<std::string>{"10.0.0.2", "10.0.0.1", "10.0.0.3"}));
    EXPECT_EQ(UserListModel(dlg, *store, Prompts()).SortMode(), 3);
    EXPECT_EQ(list->Rows()[2].typeText, "ids182");

    CreateKey(kRootKey).DeleteValue(kDeviceMapSortModeName);
    EXPECT_EQ(ReadSortMode(kDeviceMapSortModeName), 0);
    CreateKey("Software\\Qorvell Electronics").DeleteSubKeyTree("OrbManager");
    EXPECT_FALSE(WriteSortMode(kUserDataSortModeName, 1, Prompts()));
    EXPECT_EQ(boxes, (std::vector<int>{117}));
}

TEST_F(UserDialogsModelTest, DeviceMapAssignsUnassignsAndCountsMappedLines) {
    AddUsers();
    MakeDevices();
    std::vector<DeviceRow> rows = map->Rows();
    ASSERT_EQ(rows.size(), 2u) << "only the line kinds are listed";
    EXPECT_EQ(rows[0].deviceName, "QMX Line 201");
    EXPECT_EQ(rows[0].kindText, "ids152");
    EXPECT_EQ(rows[1].kindText, "ids153");
    EXPECT_EQ(rows[0].ipAddress, "ids162");
    EXPECT_EQ(rows[0].mapText, "ids166");
    EXPECT_EQ(map->MappedCount(), 0);
    // The picker offers line users only.
    EXPECT_EQ(Ips(map->PickerRows()), (std::vector<std::string>{"10.0.0.2", "10.0.0.1"}));

    EXPECT_TRUE(map->Assign(rows[0], "10.0.0.1"));
    rows = map->Rows();
    EXPECT_EQ(rows[0].ipAddress, "10.0.0.1");
    EXPECT_EQ(rows[0].userName, "ann");
    EXPECT_EQ(rows[0].connText, "ids161");
    EXPECT_EQ(rows[0].mapText, "ids164");
    EXPECT_TRUE(map->RowHasUser(rows[0]));
    EXPECT_FALSE(map->RowHasUser(rows[1]));
    EXPECT_EQ(map->MappedCount(), 1);
    EXPECT_EQ(Ips(map->PickerRows()), (std::vector<std::string>{"10.0.0.2"}));
    EXPECT_EQ(ReloadedUsers(), ListedUsers());

    EXPECT_TRUE(map->Change(rows[0], "10.0.0.2"));
    rows = map->Rows();
    EXPECT_EQ(rows[0].userName, "Bob");
    EXPECT_EQ(ListedUsers()[1], "ann@10.0.0.1:0:a:-1:-1");

    EXPECT_TRUE(map->Assign(rows[1], "10.0.0.1"));
    rows = map->Rows();
    EXPECT_EQ(map->MappedCount(), 2);
    EXPECT_TRUE(map->CanChange()) << "3 stored users, 2 mapped";
    store->SetCount(2);
    EXPECT_FALSE(map->MayMapMore());
    EXPECT_FALSE(map->CanChange());
    EXPECT_EQ(boxes, (std::vector<int>{174, 205}));
    store->SetCount(3);

    dlg.m_nDeviceCountByType[7] = 1; // kind 1
    dlg.m_nDeviceCountByType[6] = 1; // kind 2
    dlg.m_nDeviceCountByType[3] = 1; // kind 3
    const auto counts = map->Counts();
    const std::map<int, std::string> byId(counts.begin(), counts.end());
    EXPECT_EQ(byId.at(1048), "1");
    EXPECT_EQ(byId.at(1051), "1");
    EXPECT_EQ(byId.at(1043), "2");
    EXPECT_EQ(byId.at(1057), "2");
    EXPECT_EQ(byId.at(1044), "0");

    answers[171] = false;
    EXPECT_FALSE(map->UnassignAll(rows));
    answers[171] = true;
    EXPECT_TRUE(map->UnassignAll(rows));
    map->Rows();
    EXPECT_EQ(map->MappedCount(), 0) << "the last row as well as the others";
    EXPECT_EQ(ReloadedUsers(), ListedUsers());
}

TEST_F(UserDialogsModelTest, DeviceMapShowsAMismatchedSequenceNumberAndSkipsVanishedDevices) {
    AddUsers();
    MakeDevices();
    {
        platform::CriticalSectionLock guard(dlg.m_UserList.Lock());
        dlg.m_UserList.SetDevice(dlg.m_UserList.FindByIPAddress("10.0.0.2"), "202", 9);
        dlg.m_UserList.SetDevice(dlg.m_UserList.FindByIPAddress("10.0.0.3"), "201", 1);
    }
    const std::vector<DeviceRow> rows = map->Rows();
    EXPECT_EQ(rows[1].mapText, "ids165");
    EXPECT_EQ(rows[0].userName, "ids162") << "a user of another type is no line user";
    EXPECT_EQ(map->MappedCount(), 0);
    DeviceRow gone = rows[0];
    gone.deviceId = "999";
    EXPECT_FALSE(map->Assign(gone, "10.0.0.1"));
    EXPECT_FALSE(map->Assign(rows[0], "10.9.9.9"));
    EXPECT_EQ(ListedUsers()[1], "ann@10.0.0.1:0:a:-1:-1");
}

} // namespace
} // namespace shell_test
