#include "ClientRequestFixture.h"

#include <gtest/gtest.h>

using namespace engine;

namespace {

using namespace clienttest;

// Connections that never log in are closed after the login time-out, lowered here.
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

TEST_F(IdleConnection, OnlyConnectionsThatHaveNotLoggedInAreClosedAtTheTimeOut) {
    Peer idle(firstPort), silentHalf(firstPort), loggedIn(secondPort);
    ASSERT_NE(Connect(*clientPort, idle), nullptr);
    ASSERT_NE(Connect(*clientPort, silentHalf), nullptr);
    ASSERT_NE(Connect(*bypassPort, loggedIn), nullptr);
    // Half a login is no login.
    const Bytes login = Login(1);
    silentHalf.Send(Bytes(login.begin(), login.begin() + 5));
    loggedIn.Send(Login(9));
    ASSERT_TRUE(loggedIn.WaitForRecords(1 + kDevices + 1));

    ASSERT_TRUE(SpinUntil([&] { return idle.Closed() && silentHalf.Closed(); }));
    EXPECT_EQ(TraceCount("has not logged in within"), 2);
    SpinFor(std::chrono::milliseconds(300));
    EXPECT_FALSE(loggedIn.Closed());
    EXPECT_EQ(Count(*clientPort), 0u);
    EXPECT_EQ(Count(*bypassPort), 1u);
}

} // namespace
