#include "PtySwitch.h"
#include <engine/ConnEnv.h>

#include <platform/Registry.h>

#include <gtest/gtest.h>

using namespace engine;

namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;

const ShowSystemErrorBox kNoBox = [](int) {};

// What the settings store, the link start reads back unchanged.
TEST(ConnEnvRoundTrip, SavedSettingsAreWhatTheLinkStartReads) {
    PtySwitch::TempRegistry registry;
    ConnEnvSettings in;
    in.ipAddress = "10.1.2.3";
    in.portNo = "5100";
    in.listenPortNo = "65035"; // the highest whose second port still fits
    in.commPort = "COM3";
    in.baudRate = "19200";
    in.byteSize = "7";
    in.stopBits = "1.5";
    in.sysInfoPassword = "4711";
    ASSERT_EQ(SaveConnEnv(in, kNoBox), ConnEnvSaveResult::Saved);

    ConnEnvLink link;
    ASSERT_EQ(ReadConnEnvLink(link), ConnEnvLinkFault::None);
    EXPECT_EQ(link.ipAddress, "10.1.2.3");
    EXPECT_EQ(link.portNo, 5100u);
    EXPECT_EQ(link.listenPortNo, 65035u);
    EXPECT_EQ(link.commPort, 3u);
    EXPECT_EQ(link.baudRate, 19200u);
    EXPECT_EQ(link.byteSize, 7u);
    EXPECT_EQ(link.stopBits, 3u);
    EXPECT_EQ(link.sysInfoPassword, "4711");
}

// A port the settings refuse is one the link start refuses too, and the other way round.
TEST(ConnEnvRoundTrip, BothEndsApplyTheSamePortRules) {
    PtySwitch::TempRegistry registry;
    ConnEnvSettings in;
    ASSERT_EQ(SaveConnEnv(in, kNoBox), ConnEnvSaveResult::Saved);
    RegKey key;
    ASSERT_EQ(RegKey::Open(RegRoot::LocalMachine, connenv::kKey, key), RegStatus::Ok);

    in.listenPortNo = "65036";
    EXPECT_EQ(SaveConnEnv(in, kNoBox), ConnEnvSaveResult::BadListenPort);
    key.SetDword(connenv::kListenPortNo, 65036);
    ConnEnvLink link;
    EXPECT_EQ(ReadConnEnvLink(link), ConnEnvLinkFault::ListenPortNo);
    EXPECT_EQ(link.portNo, 5002u); // what was read before the fault stays filled in

    in.listenPortNo = "6000";
    in.portNo = "0";
    EXPECT_EQ(SaveConnEnv(in, kNoBox), ConnEnvSaveResult::BadSwitchPort);
    key.SetDword(connenv::kListenPortNo, 6000);
    key.SetDword(connenv::kPortNo, 0);
    EXPECT_EQ(ReadConnEnvLink(link), ConnEnvLinkFault::PortNo);

    key.SetDword(connenv::kPortNo, 65535);
    key.DeleteValue(connenv::kSysInfoPassword);
    ASSERT_EQ(ReadConnEnvLink(link), ConnEnvLinkFault::None);
    EXPECT_EQ(link.sysInfoPassword, connenv::kDefaultPassword);
}

TEST(ConnEnvRoundTrip, MissingKeyIsReported) {
    PtySwitch::TempRegistry registry;
    ConnEnvLink link;
    EXPECT_EQ(ReadConnEnvLink(link), ConnEnvLinkFault::Key);
    std::uint32_t value = 0;
    EXPECT_FALSE(ReadConnEnvNumber(connenv::kConnType, value));
}

} // namespace
