#include "ClientRequestFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace engine;

namespace {

using namespace clienttest;

// Connections to the first client port that never log in are closed after the login time-out,
// lowered here.
class IdleConnection : public ClientRequestFixture {
protected:
    void SetUp() override {
        saved = COrbClientConnectionManager::s_nLoginTimeoutMs.load();
        COrbClientConnectionManager::s_nLoginTimeoutMs = 200;
        ClientRequestFixture::SetUp();
    }
    void TearDown() override {
        ClientRequestFixture::TearDown();
        COrbClientConnectionManager::s_nLoginTimeoutMs = saved;
    }
    int saved = 0;
};

TEST_F(IdleConnection, OnlyFirstPortConnectionsThatHaveNotLoggedInAreClosedAtTheTimeOut) {
    // The second port's clients connect first: any time-out of theirs would run out first.
    Peer loggedIn(secondPort), neverLoggedIn(secondPort);
    ASSERT_NE(Connect(*bypassPort, loggedIn), nullptr);
    ASSERT_NE(Connect(*bypassPort, neverLoggedIn), nullptr);
    Peer idle(firstPort), silentHalf(firstPort);
    ASSERT_NE(Connect(*clientPort, idle), nullptr);
    ASSERT_NE(Connect(*clientPort, silentHalf), nullptr);
    // Half a login is no login.
    const Bytes login = Login(1);
    silentHalf.Send(Bytes(login.begin(), login.begin() + 5));
    loggedIn.Send(Login(9));
    ASSERT_TRUE(loggedIn.WaitForRecords(1 + kDevices + 1));

    ASSERT_TRUE(SpinUntil([&] { return idle.Closed() && silentHalf.Closed(); }));
    EXPECT_EQ(TraceCount("has not logged in within"), 2);
    EXPECT_EQ(Count(*clientPort), 0u);
    EXPECT_EQ(Count(*bypassPort), 2u);

    // Past the time-out both clients of the second port still get every event.
    const Bytes event{'E', 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00, 0x02, 0x00, 0x02, 0xFF};
    std::atomic<bool> sent{false};
    std::thread eventThread([&] {
        table->SendEventToClient("201", event.data(), static_cast<int>(event.size()), "202", 0);
        sent = true;
    });
    EXPECT_TRUE(SpinUntil([&] { return sent.load(); }));
    eventThread.join();
    const Bytes record = protocol::CtiRecord::Encode(event);
    ASSERT_TRUE(neverLoggedIn.WaitForRecords(1));
    EXPECT_EQ(neverLoggedIn.Records().back(), record);
    ASSERT_TRUE(loggedIn.WaitForRecords(1 + kDevices + 2));
    EXPECT_EQ(loggedIn.Records().back(), record);
    EXPECT_FALSE(neverLoggedIn.Closed());
    EXPECT_FALSE(loggedIn.Closed());
}

} // namespace
