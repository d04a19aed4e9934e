#include <engine/SwitchDeviceTable.h>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

using namespace engine;

namespace {

using Record = LineDeviceEntry::Record;

// An 'A' device record: index, number digits, signed byte, raw type, sub-type, then a tail.
protocol::Bytes DeviceRecord(std::uint16_t index, std::vector<std::uint8_t> digits,
                             std::uint8_t rawType) {
    protocol::Bytes body{'A', static_cast<std::uint8_t>(index >> 8),
                         static_cast<std::uint8_t>(index & 0xFF)};
    digits.resize(4, 0xFF);
    body.insert(body.end(), digits.begin(), digits.end());
    body.push_back(0x00);
    body.push_back(rawType);
    body.push_back(0x07); // sub-type
    body.insert(body.end(), {0x31, 0x32, 0x33});
    return body;
}

const protocol::Bytes kEndRecord{'A', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00};

std::vector<std::string> Ids(SwitchDeviceTable& table) {
    std::vector<std::string> ids;
    platform::CriticalSectionLock guard(table.GetDevices().Lock());
    for (const auto& entry : table.GetDevices().Items())
        ids.push_back(entry->m_strDeviceId);
    return ids;
}

} // namespace

TEST(SwitchDeviceTable, AddDeviceStoresTheRecordOnceWithTheMappedType) {
    SwitchDeviceTable table(nullptr);
    const protocol::Bytes body = DeviceRecord(1, {2, 0, 1}, 17); // 17 maps to kind 1
    EXPECT_EQ(table.AddDevice("201", body, 1, 1), 1);
    EXPECT_EQ(table.AddDevice("201", DeviceRecord(9, {2, 0, 1}, 3), 3, 2), 0);
    EXPECT_EQ(table.AddDevice("202", DeviceRecord(2, {2, 0, 2}, 2), 2, 3), 1);

    ASSERT_EQ(table.GetDevices().GetCount(), 2u);
    LineDeviceEntry* entry = table.FindDevice("201");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->m_strLineName, "QMX Line 201");
    EXPECT_EQ(entry->m_nNumber, 1);
    EXPECT_EQ(entry->m_nKind, 1);
    const Record record{'A', 0x00, 0x01, 2, 0, 1, 0xFF, 0x00, 1, 0x07, 0xFF, 0xFF};
    EXPECT_EQ(entry->m_Record, record) << "byte 8 carries the mapped type, 10 and 11 stay 0xFF";
    Record untouched;
    untouched.fill(0xFF);
    EXPECT_EQ(entry->m_EndRecord, untouched);
    EXPECT_EQ(table.FindDevice("203"), nullptr);
    EXPECT_EQ(table.GetDevices().FindByName("QMX Line 202"), table.FindDevice("202"));
    EXPECT_EQ(table.GetDevices().FindByName("QMX Line 203"), nullptr);
}

TEST(SwitchDeviceTable, ShortBodiesReadAsFillerAndNeverPastTheirEnd) {
    SwitchDeviceTable table(nullptr);
    const protocol::Bytes shortBody{'A', 0x00, 0x05, 3};
    EXPECT_EQ(table.AddDevice("3", shortBody, 4, 1), 1);
    const Record record{'A', 0x00, 0x05, 3, 0xFF, 0xFF, 0xFF, 0xFF, 4, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(table.FindDevice("3")->m_Record, record);
    table.SetEndRecord(protocol::Bytes{'A', 0x00});
    EXPECT_EQ(table.FindDevice("3")->m_EndRecord[1], 0x00);
    EXPECT_EQ(table.FindDevice("3")->m_EndRecord[2], 0xFF);
}

TEST(SwitchDeviceTable, CountersFollowTheirOrderAndTheTotalNumbersTheDevices) {
    SwitchDeviceTable table(nullptr);
    for (int type : {1, 1, 2, 3, 4, 5, 5, 5, 12, 13, 13, 6, 9, 11})
        EXPECT_TRUE(table.RaiseTypeCounter(type)) << type;
    for (int type : {0, 14, 15, 20, 255, -1})
        EXPECT_FALSE(table.RaiseTypeCounter(type)) << type;

    // other types, 5, 4, 3, 13, 12, 2, 1
    const std::array<int, SwitchDeviceTable::kCounterCount> expected{3, 3, 1, 1, 2, 1, 1, 2};
    EXPECT_EQ(table.GetCounters(), expected);
    EXPECT_EQ(table.GetCounter(SwitchDeviceTable::kType1), 2);
    EXPECT_EQ(table.GetCounter(SwitchDeviceTable::kCounterCount), 0);
    EXPECT_EQ(table.GetTotal(), 0) << "counting a type does not count a device";

    EXPECT_EQ(table.RaiseTotal(), 1);
    EXPECT_EQ(table.RaiseTotal(), 2);
    EXPECT_EQ(table.GetTotal(), 2);
}

TEST(SwitchDeviceTable, EndRecordReachesEveryEntryAndLaterDevicesCopyIt) {
    SwitchDeviceTable table(nullptr);
    table.AddDeviceAfterDownload("100", DeviceRecord(1, {1, 0, 0}, 1), 1, 1);
    Record filler;
    filler.fill(0xFF);
    EXPECT_EQ(table.FindDevice("100")->m_EndRecord, filler) << "an empty list has nothing to copy";

    table.AddDevice("101", DeviceRecord(2, {1, 0, 1}, 2), 2, 2);
    table.SetEndRecord(kEndRecord);
    Record end = filler;
    std::copy(kEndRecord.begin(), kEndRecord.begin() + 10, end.begin());
    EXPECT_EQ(table.FindDevice("100")->m_EndRecord, end);
    EXPECT_EQ(table.FindDevice("101")->m_EndRecord, end);

    table.AddDeviceAfterDownload("102", DeviceRecord(3, {1, 0, 2}, 3), 3, 3);
    table.AddDevice("103", DeviceRecord(4, {1, 0, 3}, 3), 3, 4);
    EXPECT_EQ(table.FindDevice("102")->m_EndRecord, end);
    EXPECT_EQ(table.FindDevice("103")->m_EndRecord, filler);
}

TEST(SwitchDeviceTable, FirstQueryDeviceIsTheFirstOfKindOneOrTwo) {
    SwitchDeviceTable table(nullptr);
    EXPECT_EQ(table.GetDevices().First(), nullptr);
    EXPECT_EQ(table.GetDevices().FindFirstQueryDevice(), nullptr);
    table.AddDevice("300", DeviceRecord(1, {3, 0, 0}, 3), 3, 1);
    table.AddDevice("400", DeviceRecord(2, {4, 0, 0}, 4), 4, 2);
    EXPECT_EQ(table.GetDevices().FindFirstQueryDevice(), nullptr);
    table.AddDevice("202", DeviceRecord(3, {2, 0, 2}, 2), 2, 3);
    table.AddDevice("201", DeviceRecord(4, {2, 0, 1}, 1), 1, 4);
    ASSERT_NE(table.GetDevices().FindFirstQueryDevice(), nullptr);
    EXPECT_EQ(table.GetDevices().FindFirstQueryDevice()->m_strDeviceId, "202");
    EXPECT_EQ(table.GetDevices().First()->m_strDeviceId, "300");
}

TEST(SwitchDeviceTable, UpdateDeviceRenumbersInPlaceAndKeepsTheRest) {
    SwitchDeviceTable table(nullptr);
    table.AddDevice("200", DeviceRecord(1, {2, 0, 0}, 1), 1, 1);
    table.AddDevice("201", DeviceRecord(2, {2, 0, 1}, 14), 2, 2);
    table.AddDevice("202", DeviceRecord(3, {2, 0, 2}, 1), 1, 3);
    table.SetEndRecord(kEndRecord);
    const Record endBefore = table.FindDevice("201")->m_EndRecord;
    const Record recordBefore = table.FindDevice("201")->m_Record;

    table.UpdateDevice("201", "301");

    EXPECT_EQ(table.FindDevice("201"), nullptr);
    LineDeviceEntry* entry = table.FindDevice("301");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->m_strLineName, "QMX Line 301");
    EXPECT_EQ(entry->m_nNumber, 2);
    EXPECT_EQ(entry->m_nKind, 2);
    EXPECT_EQ(entry->m_EndRecord, endBefore) << "a list ending here still ends with the end record";
    Record expected = recordBefore;
    expected[3] = 0x03;
    expected[4] = 0x00;
    expected[5] = 0x01;
    expected[6] = 0xFF;
    EXPECT_EQ(entry->m_Record, expected) << "digit codes, never ASCII";
    EXPECT_EQ(Ids(table), (std::vector<std::string>{"200", "301", "202"}));

    // Longer numbers keep four digits; a shorter one fills the rest.
    table.UpdateDevice("200", "12345");
    const Record& longer = table.FindDevice("12345")->m_Record;
    EXPECT_EQ(std::vector<std::uint8_t>(longer.begin() + 3, longer.begin() + 7),
              (std::vector<std::uint8_t>{1, 2, 3, 4}));
    table.UpdateDevice("202", "7");
    const Record& shorter = table.FindDevice("7")->m_Record;
    EXPECT_EQ(std::vector<std::uint8_t>(shorter.begin() + 3, shorter.begin() + 8),
              (std::vector<std::uint8_t>{7, 0xFF, 0xFF, 0xFF, 0x00}));

    table.UpdateDevice("999", "998");
    EXPECT_EQ(Ids(table), (std::vector<std::string>{"12345", "301", "7"}));
}

TEST(SwitchDeviceTable, ClearDevicesEmptiesTheListAndTotalButKeepsTheCounters) {
    SwitchDeviceTable table(nullptr);
    table.RaiseTypeCounter(1);
    table.RaiseTypeCounter(7);
    table.AddDevice("201", DeviceRecord(1, {2, 0, 1}, 1), 1, table.RaiseTotal());
    table.AddDevice("202", DeviceRecord(2, {2, 0, 2}, 1), 1, table.RaiseTotal());
    table.ClearDevices();
    EXPECT_TRUE(table.GetDevices().IsEmpty());
    EXPECT_EQ(table.GetTotal(), 0);
    EXPECT_EQ(table.GetCounter(SwitchDeviceTable::kType1), 1);
    EXPECT_EQ(table.GetCounter(SwitchDeviceTable::kOtherTypes), 1);
    EXPECT_EQ(table.AddDevice("201", DeviceRecord(1, {2, 0, 1}, 1), 1, table.RaiseTotal()), 1);
    EXPECT_EQ(table.FindDevice("201")->m_nNumber, 1);
}
