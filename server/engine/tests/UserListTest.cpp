#include <engine/UserList.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

using namespace engine;

namespace {

std::unique_ptr<UserRecord> User(const std::string& name, const std::string& ip,
                                 const std::string& device = "-1", int seq = -1) {
    return std::make_unique<UserRecord>(name, ip, 0, "info of " + name, device, seq);
}

std::vector<std::string> Names(const UserList& list) {
    std::vector<std::string> names;
    for (const auto& record : list.Items())
        names.push_back(record->GetUserName());
    return names;
}

} // namespace

TEST(UserList, LookupsYieldTheFirstMatchInListOrder) {
    UserList list;
    list.Add(User("first", "10.0.0.1", "201", 1));
    list.Add(User("second", "10.0.0.1", "201", 2));
    list.Add(User("third", "10.0.0.3", "305", 3));
    EXPECT_EQ(list.FindByIPAddress("10.0.0.1")->GetUserName(), "first");
    EXPECT_EQ(list.FindByDeviceID("201")->GetUserName(), "first");
    EXPECT_EQ(list.GetUserNameByIPAddress("10.0.0.1"), "first");
    EXPECT_EQ(list.GetUserNameByIPAddress("10.0.0.3"), "third");
    EXPECT_EQ(list.GetUserNameByIPAddress("10.0.0.9"), "Unknown");
    EXPECT_EQ(list.FindByIPAddress("10.0.0.9"), nullptr);
    EXPECT_EQ(list.FindByDeviceID("999"), nullptr);
    // Comparisons are exact: no prefix, no case folding.
    EXPECT_EQ(list.FindByIPAddress("10.0.0."), nullptr);
    EXPECT_EQ(list.FindByDeviceID("20"), nullptr);
    list.Add(User("Alpha", "a.host"));
    EXPECT_EQ(list.GetUserNameByIPAddress("A.HOST"), "Unknown");
}

TEST(UserList, ReplaceKeepsThePositionAndDropsTheDevice) {
    UserList list;
    list.Add(User("a", "10.0.0.1"));
    UserRecord* b = list.Add(User("b", "10.0.0.2", "201", 4));
    list.Add(User("c", "10.0.0.3"));
    UserRecord* replaced = list.ReplaceRecord(b, "b2", "10.0.0.22", 1, "new");
    ASSERT_NE(replaced, nullptr);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "b2", "c"}));
    EXPECT_EQ(replaced->GetDeviceID(), "-1");
    EXPECT_EQ(replaced->GetDeviceSeqNo(), -1);
    EXPECT_EQ(replaced->GetIPAddress(), "10.0.0.22");
    EXPECT_EQ(replaced->GetUserType(), 1);
    EXPECT_EQ(list.FindByDeviceID("201"), nullptr);

    UserRecord stranger("x", "10.0.0.1", 0, "");
    EXPECT_EQ(list.ReplaceRecord(&stranger, "y", "1.1.1.1", 0, ""), nullptr);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "b2", "c"}));
}

TEST(UserList, RemoveAndSetDeviceIgnoreRecordsTheListDoesNotHold) {
    UserList list;
    UserRecord* a = list.Add(User("a", "10.0.0.1"));
    list.Add(User("b", "10.0.0.2"));
    UserRecord stranger("a", "10.0.0.1", 0, "");

    EXPECT_FALSE(list.SetDevice(&stranger, "201", 3));
    EXPECT_EQ(a->GetDeviceID(), "-1");
    list.Remove(&stranger);
    EXPECT_EQ(list.GetCount(), 2u);

    EXPECT_TRUE(list.SetDevice(a, "201", 3));
    EXPECT_EQ(list.FindByDeviceID("201"), a);
    EXPECT_EQ(a->GetDeviceSeqNo(), 3);

    list.Remove(a);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"b"}));
    list.DeleteAll();
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.GetUserNameByIPAddress("10.0.0.2"), "Unknown");
}

TEST(UserList, TheLockSerialisesAWalkAgainstAChangeOnAnotherThread) {
    UserList list;
    for (int i = 0; i < 50; ++i)
        list.Add(User("u" + std::to_string(i), "10.0.1." + std::to_string(i)));
    // The device table renames devices on the event thread while the UI walks the list.
    std::thread renamer([&] {
        for (int round = 0; round < 200; ++round) {
            platform::CriticalSectionLock guard(list.Lock());
            for (const auto& record : list.Items())
                list.SetDevice(record.get(), std::to_string(round), round);
        }
    });
    for (int round = 0; round < 200; ++round) {
        platform::CriticalSectionLock guard(list.Lock());
        const std::string device = list.FindByIPAddress("10.0.1.0")->GetDeviceID();
        for (const auto& record : list.Items())
            ASSERT_EQ(record->GetDeviceID(), device) << "a walk saw a half-done change";
    }
    renamer.join();
    EXPECT_EQ(list.FindByDeviceID("199")->GetUserName(), "u0");
}
