#include <clientsim/ClientRunController.h>

#include <protocol/CtiRecord.h>

#include <testsupport/TempRegistry.h>
#include <testsupport/TestApp.h>

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Deliveries are handed to the controller directly, so that their boundaries are exact; the
// loopback connection only gives it the connected socket that reception requires.
class ClientReceiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        ASSERT_TRUE(registry.IsReady());
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        client.Form_Load();
        client.SetSecondLength(1000000);
        client.ConnPortNo_Change(std::to_string(server.serverPort()));
        client.Start_Click();
        ASSERT_TRUE(testsupport::SpinUntil([&] { return server.hasPendingConnections(); }));
        peer = server.nextPendingConnection();
        ASSERT_TRUE(testsupport::SpinUntil([&] { return client.Socket().IsConnected(); }));
        ASSERT_TRUE(testsupport::SpinUntil([&] { return client.RunTimerActive(); }));
    }
    void TearDown() override { client.Disconnect_Click(); }

    static Bytes Record(const Bytes& body) { return protocol::CtiRecord::Encode(body); }
    static Bytes Event(char letter) {
        Bytes body = {static_cast<std::uint8_t>(letter), 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00};
        return Record(body);
    }
    static Bytes Join(std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& part : parts) {
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    }
    std::size_t Count(const std::string& text) const {
        const std::string& log = client.State().txtRecvData.text;
        std::size_t n = 0;
        for (std::size_t at = log.find(text); at != std::string::npos;
             at = log.find(text, at + 1)) {
            ++n;
        }
        return n;
    }

    testsupport::TempRegistry registry;
    QTcpServer server;
    QTcpSocket* peer = nullptr;
    ClientRunController client;
};

TEST_F(ClientReceiveTest, TwoRecordsInOneDelivery) {
    client.MyWinSock_DataArrival(Join({Event('I'), Event('N')}));
    EXPECT_EQ(Count("[Received Event] "), 2u);
    EXPECT_EQ(Count("[Received Event] 'I' FF FF 02 00 01 FF 00 \r\n"), 1u);
    EXPECT_EQ(client.Counters().dialTone, 1);
    EXPECT_EQ(client.Counters().hookOn, 1);
    EXPECT_EQ(client.Counters().receivedTotal, 2u);
    EXPECT_EQ(client.State().RecvDataCnt.text, "2");
    EXPECT_EQ(client.State().editDTCount.text, "1");
    EXPECT_EQ(client.State().editHookOnCount.text, "1");
}

TEST_F(ClientReceiveTest, CountersPerLetter) {
    client.MyWinSock_DataArrival(
        Join({Event('D'), Event('E'), Event('E'), Event('H'), Event('H'), Event('H'), Event('R'),
              Event('R'), Event('F'), Event('A'), Event('S'), Event('u')}));
    const ClientCounters& c = client.Counters();
    EXPECT_EQ(c.offering, 1);
    EXPECT_EQ(c.connected, 2);
    EXPECT_EQ(c.held, 3);
    EXPECT_EQ(c.retrieved, 2);
    EXPECT_EQ(c.failed, 1);
    EXPECT_EQ(c.dialTone, 0);
    EXPECT_EQ(c.receivedTotal, 12u);
    EXPECT_EQ(client.State().editHeldCount.text, "3/2");
    EXPECT_EQ(client.State().editFailCount.text, "1");
    EXPECT_EQ(client.State().editRbOfferingCount.text, "1");
    EXPECT_EQ(client.State().editConnectedCount.text, "2");
}

TEST_F(ClientReceiveTest, RecordSplitAcrossDeliveriesIsReassembled) {
    const Bytes all = Join({Event('I'), Event('E'), Event('N')});
    // Cut inside the length of the second record, then inside the body of the third.
    client.MyWinSock_DataArrival(Bytes(all.begin(), all.begin() + 11));
    EXPECT_EQ(client.Counters().receivedTotal, 1u);
    EXPECT_EQ(client.ReceiveBuffered(), 1u);
    client.MyWinSock_DataArrival(Bytes(all.begin() + 11, all.begin() + 25));
    EXPECT_EQ(client.Counters().receivedTotal, 2u);
    client.MyWinSock_DataArrival(Bytes(all.begin() + 25, all.end()));
    EXPECT_EQ(client.Counters().receivedTotal, 3u);
    EXPECT_EQ(client.Counters().hookOn, 1);
    EXPECT_EQ(client.ReceiveBuffered(), 0u);
    EXPECT_EQ(Count("[Error Report]"), 0u);

    // One byte at a time.
    const Bytes one = Event('F');
    for (const std::uint8_t byte : one) {
        client.MyWinSock_DataArrival(Bytes{byte});
    }
    EXPECT_EQ(client.Counters().failed, 1);
}

TEST_F(ClientReceiveTest, TooLongDropsWhatIsBufferedAndTheRest) {
    Bytes tooLong = {0x01, 0x91}; // 401
    const Bytes delivery = Join({Event('I'), tooLong, Event('N')});
    client.MyWinSock_DataArrival(delivery);
    EXPECT_EQ(Count("[Error Report] On Receive, Msg Length is too big.[" +
                    std::to_string(delivery.size()) + "]\r\n"),
              1u);
    EXPECT_EQ(client.Counters().dialTone, 1);
    EXPECT_EQ(client.Counters().hookOn, 0);
    EXPECT_EQ(client.Counters().receivedTotal, 1u);
    EXPECT_EQ(client.ReceiveBuffered(), 0u);

    // Stream starts again with a length.
    client.MyWinSock_DataArrival(Event('N'));
    EXPECT_EQ(client.Counters().hookOn, 1);
}

TEST_F(ClientReceiveTest, LengthOf400IsAccepted) {
    Bytes body(400, 0x00);
    body[0] = 'D';
    client.MyWinSock_DataArrival(Record(body));
    EXPECT_EQ(client.Counters().offering, 1);
}

TEST_F(ClientReceiveTest, LengthZeroDropsTheHeldPartToo) {
    const Bytes first = Event('I');
    client.MyWinSock_DataArrival(Bytes(first.begin(), first.begin() + 4));
    client.MyWinSock_DataArrival(
        Join({Bytes(first.begin() + 4, first.end()), {0x00, 0x00}, Event('N')}));
    EXPECT_EQ(client.Counters().dialTone, 1);
    EXPECT_EQ(Count("[Error Report] On Receive, Error Detected. Received Bytes - 18\r\n"), 1u)
        << client.State().txtRecvData.text;
    EXPECT_EQ(client.Counters().hookOn, 0);

    // A bad length split over two deliveries is found once whole; what follows it goes too.
    client.MyWinSock_DataArrival(Bytes{0x00});
    EXPECT_EQ(client.ReceiveBuffered(), 1u);
    client.MyWinSock_DataArrival(Join({{0x00}, Event('N')}));
    EXPECT_EQ(client.ReceiveBuffered(), 0u);
    EXPECT_EQ(client.Counters().hookOn, 0);
    EXPECT_EQ(Count("Received Bytes - 11\r\n"), 1u);
    client.MyWinSock_DataArrival(Event('N'));
    EXPECT_EQ(client.Counters().hookOn, 1);
}

TEST_F(ClientReceiveTest, RegistrationRecordStartsTheCycleOnce) {
    const Bytes typeZero = {0x00, 0x0A, 0x41, 0xFF, 0xFF, 0x02, 0x00, 0x01, 0xFF, 0x00, 0x00, 0x00};
    client.MyWinSock_DataArrival(Record({'u', 0x01, 0x02}));
    EXPECT_FALSE(client.Registered());
    EXPECT_EQ(client.Counters().receivedTotal, 1u);
    EXPECT_EQ(Count("[Received Event] 'u' 01 02 \r\n"), 1u);

    client.MyWinSock_DataArrival(typeZero);
    EXPECT_TRUE(client.Registered());
    EXPECT_TRUE(client.CallTimerActive());
    client.CallTimer_Timer(); // make call
    ASSERT_EQ(client.Cycle().displayPhase, 1);

    client.MyWinSock_DataArrival(typeZero);
    EXPECT_EQ(client.Counters().receivedTotal, 3u);
    EXPECT_EQ(client.Cycle().displayPhase, 1); // the cycle is not restarted
}

TEST_F(ClientReceiveTest, LogBoxIsEmptiedPastItsLimit) {
    Bytes body(300, 0x11);
    body[0] = 'S';
    for (int i = 0; i < 30; ++i) {
        client.MyWinSock_DataArrival(Record(body));
        EXPECT_LE(client.State().txtRecvData.text.size(),
                  static_cast<std::size_t>(ClientRunController::kLogLimit) + 1000);
    }
    EXPECT_EQ(client.Counters().receivedTotal, 30u);
}

TEST_F(ClientReceiveTest, NothingIsReadWhileDisconnected) {
    client.Disconnect_Click();
    client.MyWinSock_DataArrival(Event('I'));
    EXPECT_EQ(client.Counters().receivedTotal, 0u);
    EXPECT_EQ(client.Counters().dialTone, 0);
}

TEST_F(ClientReceiveTest, BytesFromTheServerArriveThroughTheSocket) {
    const Bytes all = Join({Event('E'), Event('H')});
    peer->write(reinterpret_cast<const char*>(all.data()), 7);
    peer->flush();
    testsupport::SpinFor(std::chrono::milliseconds(50));
    peer->write(reinterpret_cast<const char*>(all.data()) + 7, static_cast<qint64>(all.size() - 7));
    peer->flush();
    ASSERT_TRUE(testsupport::SpinUntil([&] { return client.Counters().receivedTotal == 2; }));
    EXPECT_EQ(client.Counters().connected, 1);
    EXPECT_EQ(client.Counters().held, 1);
}

} // namespace
