#include "ClientRequestFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace engine;

using testsupport::TestSwitch;

namespace {

using namespace clienttest;

class ClientDispatch : public ClientRequestFixture {
protected:
    void SetUp() override {
        ClientRequestFixture::SetUp();
        StartLink();
    }
    // A client of the port that has logged in and read its device list.
    COrbClientSocketUser* Registered(COrbClientConnectionManager& manager, Peer& peer,
                                     std::uint8_t kind = 1) {
        COrbClientSocketUser* client = Connect(manager, peer);
        if (!client)
            return nullptr;
        peer.Send(Login(kind));
        // Rowan gets no reply, Maple one.
        EXPECT_TRUE(peer.WaitForRecords(kDevices + 1 + (kind == 9 ? 1 : 0)));
        peer.Clear();
        return client;
    }
    std::vector<Bytes> SwitchRecords() {
        std::vector<Bytes> all;
        for (const TestSwitch::Record& r : theSwitch.Records())
            all.push_back(r.bytes);
        return all;
    }
};

const Bytes kMakeCall = Request('D', {0x02, 0x00, 0x01, 0xFF}, 0x00, 0x00, {0x03, 0x00, 0x05});
const Bytes kDrop = Request('N', {0x02, 0x00, 0x01, 0xFF});

} // namespace

TEST_F(ClientDispatch, ARegisteredClientsRequestsReachTheSwitchByteForByteAndInOrder) {
    Peer peer(firstPort);
    ASSERT_NE(Registered(*clientPort, peer), nullptr);
    const Bytes hold = Request('H', {0x02, 0x00, 0x01, 0xFF}, 0x07, 0x01, Bytes(300, 0x5A));

    peer.Send(kMakeCall);
    ASSERT_TRUE(SwitchGot(1));
    peer.Send(Join({kDrop, hold}));
    ASSERT_TRUE(SwitchGot(3));
    EXPECT_EQ(SwitchRecords(), (std::vector<Bytes>{kMakeCall, kDrop, hold}));
    EXPECT_FALSE(peer.Closed());
    EXPECT_TRUE(peer.Raw().empty()) << "a forwarded request gets no answer from the server";
}

TEST_F(ClientDispatch, ACallRequestRightBehindTheLoginInOneSegmentIsForwarded) {
    Peer peer(secondPort);
    ASSERT_NE(Connect(*bypassPort, peer), nullptr);
    peer.Send(Join({Login(9), kMakeCall, kDrop}));
    ASSERT_TRUE(SwitchGot(2));
    EXPECT_EQ(SwitchRecords(), (std::vector<Bytes>{kMakeCall, kDrop}));
    ASSERT_TRUE(peer.WaitForRecords(1 + kDevices + 1));
    EXPECT_EQ(peer.Records().front(),
              (Bytes{0x00, 0x09, '9', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x09, 0x01}));
}

TEST_F(ClientDispatch, AnUnregisteredClientsCallRequestIsNotForwardedAndClosesIt) {
    for (COrbClientConnectionManager* manager : {clientPort.get(), bypassPort.get()}) {
        SCOPED_TRACE(manager->GetMode());
        theSwitch.ClearReceived();
        Peer stranger(manager == clientPort.get() ? firstPort : secondPort);
        ASSERT_NE(Connect(*manager, stranger), nullptr);
        // What follows in the same segment dies with the client.
        stranger.Send(Join({kMakeCall, Login(manager == clientPort.get() ? 1 : 9), kDrop}));
        ASSERT_TRUE(SpinUntil([&] { return stranger.Closed(); }));
        EXPECT_TRUE(stranger.Raw().empty());

        // A registered client's request, sent after, is the first the switch sees.
        Peer member(manager == clientPort.get() ? firstPort : secondPort);
        ASSERT_NE(Registered(*manager, member, manager == clientPort.get() ? 1 : 9), nullptr);
        member.Send(kDrop);
        ASSERT_TRUE(SwitchGot(1));
        SpinFor(std::chrono::milliseconds(20));
        EXPECT_EQ(SwitchRecords(), std::vector<Bytes>{kDrop});
    }
    EXPECT_EQ(TraceCount("[ERROR] This client is nor registered. Reject it!!!"), 2);
}

TEST_F(ClientDispatch, TheDeviceInformationRequestIsAnsweredLocallyOnlyForItsOwnCase) {
    const Bytes local = Request('i', {0x02, 0x00, 0x07, 0xFF}, 0x00, 0x09);
    const Bytes other = Request('i', {0x02, 0x00, 0x07, 0xFF}, 0x00, 0x08);
    {
        // Answered for a client that never logged in.
        Peer peer(firstPort);
        ASSERT_NE(Connect(*clientPort, peer), nullptr);
        peer.Send(local);
        ASSERT_TRUE(peer.WaitForRecords(1));
        EXPECT_EQ(peer.Raw(),
                  (Bytes{0x00, 0x09, 'F', 0xFF, 0xFF, 0x02, 0x00, 0x07, 0xFF, 0x00, 0x05}));
        EXPECT_FALSE(peer.Closed());
    }
    Peer peer(firstPort);
    ASSERT_NE(Registered(*clientPort, peer), nullptr);
    peer.Send(other);
    ASSERT_TRUE(SwitchGot(1));
    dlg.m_nSwitchType = 1;
    peer.Send(local);
    ASSERT_TRUE(SwitchGot(2));
    EXPECT_EQ(SwitchRecords(), (std::vector<Bytes>{other, local}));
    EXPECT_TRUE(peer.Raw().empty());

    Peer stranger(firstPort);
    ASSERT_NE(Connect(*clientPort, stranger), nullptr);
    stranger.Send(local);
    EXPECT_TRUE(SpinUntil([&] { return stranger.Closed(); }));
}

TEST_F(ClientDispatch, TheLinnetPlusRequestFollowsItsOption) {
    const Bytes linnet = Request('c', {0x02, 0x00, 0x01, 0xFF}, 0x01);
    Peer stranger(firstPort);
    ASSERT_NE(Connect(*clientPort, stranger), nullptr);
    Peer peer(firstPort);
    ASSERT_NE(Registered(*clientPort, peer), nullptr);

    stranger.Send(linnet);
    peer.Send(linnet);
    SpinFor(std::chrono::milliseconds(30));
    EXPECT_FALSE(stranger.Closed()) << "dropped silently, not refused";
    EXPECT_EQ(theSwitch.RecordCount(), 0u);

    dlg.m_bUseLinnetPlusMsg = 1;
    peer.Send(linnet);
    ASSERT_TRUE(SwitchGot(1));
    EXPECT_EQ(SwitchRecords(), std::vector<Bytes>{linnet});
    stranger.Send(linnet);
    EXPECT_TRUE(SpinUntil([&] { return stranger.Closed(); }));
}

TEST_F(ClientDispatch, ABodyThatIsNoCtiRequestIsDroppedAndTheClientStays) {
    Peer peer(firstPort);
    ASSERT_NE(Registered(*clientPort, peer), nullptr);
    Bytes wrong = kMakeCall;
    wrong[2] = 0x01;
    peer.Send(Join({wrong, Bytes{0x00, 0x01, 0x02}, kDrop}));
    ASSERT_TRUE(SwitchGot(1));
    EXPECT_EQ(SwitchRecords(), std::vector<Bytes>{kDrop});
    EXPECT_EQ(TraceCount("[ERROR] Wrong Message ID. This is not CTI Type Message!!!"), 1);
    EXPECT_EQ(TraceCount("too short[Length : 3]"), 1) << "a record without its letter";
    EXPECT_FALSE(peer.Closed());
}

TEST_F(ClientDispatch, ForwardingStopsAtABadLengthOrAShortRecord) {
    // Straight into the forwarding: the socket never hands such a buffer on.
    const Bytes tooLong = Request('E', {0x02, 0x00, 0x01, 0xFF}, 0x00, 0x00, Bytes(400, 0x11));
    const Bytes first = Join({kMakeCall, Bytes{0x00, 0x00}, kDrop});
    clientPort->ProcessSendCommandToSwitch(first.data(), static_cast<int>(first.size()));
    const Bytes second = Join({kDrop, tooLong, kMakeCall});
    clientPort->ProcessSendCommandToSwitch(second.data(), static_cast<int>(second.size()));
    // A last record that runs past the bytes given, and a lone byte after a whole one.
    const Bytes third = Join({kMakeCall, Bytes(kDrop.begin(), kDrop.end() - 1)});
    clientPort->ProcessSendCommandToSwitch(third.data(), static_cast<int>(third.size()));
    const Bytes fourth = Join({kDrop, Bytes{0x00}});
    clientPort->ProcessSendCommandToSwitch(fourth.data(), static_cast<int>(fourth.size()));

    ASSERT_TRUE(SwitchGot(4));
    SpinFor(std::chrono::milliseconds(20));
    EXPECT_EQ(SwitchRecords(), (std::vector<Bytes>{kMakeCall, kDrop, kMakeCall, kDrop}));
    EXPECT_EQ(TraceCount("[ERROR] Message Length is over 400 bytes[0]. Something Wrong!!!"), 1);
    EXPECT_EQ(TraceCount("[ERROR] Message Length is over 400 bytes[410]. Something Wrong!!!"), 1);
    EXPECT_EQ(TraceCount("cut short"), 2);
}

TEST_F(ClientDispatch, AClientThatFloodsAFullQueueIsClosedAndTheOthersStay) {
    Peer flooder(firstPort), other(firstPort);
    ASSERT_NE(Registered(*clientPort, flooder), nullptr);
    ASSERT_NE(Registered(*clientPort, other), nullptr);
    // A switch that takes nothing: the writer holds back and the queue fills.
    g_bSwitchLinkUp = 0;
    g_hLinkAvailableEvent.Reset();
    const Bytes body(kMakeCall.begin() + 2, kMakeCall.end());
    std::size_t queued = 0;
    while (queue->IOQueueWrite(body.data(), static_cast<int>(body.size())) == 1)
        ASSERT_LE(++queued, COrbIOQueue::kMaxOutputCount);
    EXPECT_EQ(queued, COrbIOQueue::kMaxOutputCount);

    flooder.Send(kMakeCall);
    EXPECT_TRUE(SpinUntil([&] { return flooder.Closed(); }));
    EXPECT_EQ(TraceCount("[ERROR] The queue to the switch is full. The client that floods it is "
                         "closed!!!"),
              1);
    EXPECT_EQ(TraceCount("[ERROR] The queue to the switch is full["), 1) << "traced once a filling";
    EXPECT_FALSE(other.Closed());
}
