#include "ClientRequestFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace engine;

namespace {

using namespace clienttest;
using ClientServices = ClientRequestFixture;

const Bytes kLine201{0x02, 0x00, 0x01, 0xFF};

Bytes OwnLine(const Bytes& digits, std::uint8_t application) {
    return Request('5', digits, 0x00, application);
}

// The reply to '9', '8' and '7': 00 09, the letter, FF FF, the digits, the argument, the result.
Bytes Result(std::uint8_t letter, const Bytes& digits, std::uint8_t argument, std::uint8_t result) {
    return Join({{0x00, 0x09, letter, 0xFF, 0xFF}, digits, {argument, result}});
}

Bytes InstantMessage(const Bytes& sender, std::uint8_t argument, std::uint8_t mode,
                     const Bytes& target, const Bytes& text) {
    return Request('7', sender, argument, mode, Join({target, text}));
}

// What the receivers get: the body without its 0x02, letter '8', the two numbers exchanged.
Bytes Relayed(const Bytes& sender, std::uint8_t argument, std::uint8_t mode, const Bytes& target,
              const Bytes& text) {
    const std::size_t body = 1 + 2 + 4 + 2 + 4 + text.size();
    return Join(
        {{static_cast<std::uint8_t>(body >> 8), static_cast<std::uint8_t>(body), '8', 0xFF, 0xFF},
         target,
         {argument, mode},
         sender,
         text});
}

Bytes LarchReply(const Bytes& digits, std::uint8_t application, const std::string& address) {
    return Join({{0x00, static_cast<std::uint8_t>(10 + address.size()), '4', 0xFF, 0xFF},
                 digits,
                 {0xFF, static_cast<std::uint8_t>(address.size()), application},
                 Bytes(address.begin(), address.end())});
}

} // namespace

TEST_F(ClientServices, OwnLineSetsTheLabelOfItsApplicationAndAnswersNothing) {
    Peer peer(firstPort);
    COrbClientSocketUser* client = Connect(*clientPort, peer);
    ASSERT_NE(client, nullptr);

    // Larch needs no login.
    peer.Send(OwnLine(kLine201, 2));
    ASSERT_TRUE(SpinUntil([&] { return hooks.refreshes == 1; }));
    EXPECT_EQ(client->m_strLarchLabel, "[Larch : 201]");
    EXPECT_EQ(TraceCount("[USER LOG] Veltrane Larch uses the Line[201] for its own line"), 1);

    // Rowan's own line without the Rowan flag: nothing but the refresh.
    const std::size_t traced = traces.size();
    peer.Send(OwnLine(kLine201, 0));
    ASSERT_TRUE(SpinUntil([&] { return hooks.refreshes == 2; }));
    EXPECT_EQ(client->m_nOwnLine, 0);
    EXPECT_TRUE(client->m_strRowanLabel.empty());
    EXPECT_EQ(traces.size(), traced);

    peer.Send(OwnLine(kLine201, 4));
    peer.Send(OwnLine(kLine201, 5));
    peer.Send(OwnLine({0x03, 0x01, 0xFF, 0xFF}, 7));
    ASSERT_TRUE(SpinUntil([&] { return hooks.refreshes == 5; }));
    EXPECT_EQ(TraceCount("[USER] No Cedar Connection"), 1);
    EXPECT_EQ(TraceCount("[USER] No Birch Connection"), 1);
    EXPECT_EQ(client->m_strUnknownLabel, "[Unknown : 31]");
    EXPECT_EQ(TraceCount("[USER LOG] Unknown Application uses the Line[31] for its own line"), 1);

    // Line 0 and a record too short for the application byte change nothing.
    peer.Send(OwnLine({0x00, 0x00, 0xFF, 0xFF}, 2));
    peer.Send(Bytes{0x00, 0x08, 0x02, '5', 0xFF, 0xFF, 0x03, 0xFF, 0xFF, 0xFF});
    ASSERT_TRUE(SpinUntil([&] { return TraceCount("too short[Length : 10]") == 1; }));
    EXPECT_EQ(hooks.refreshes, 5);
    EXPECT_EQ(client->m_strLarchLabel, "[Larch : 201]");
    EXPECT_TRUE(peer.Raw().empty());
}

TEST_F(ClientServices, OwnLineOfEachLoggedInApplication) {
    Peer peer(firstPort);
    COrbClientSocketUser* client = Connect(*clientPort, peer);
    ASSERT_NE(client, nullptr);
    client->m_bRowan = 1;
    client->m_bElm = 1;
    client->m_bCedar = 1;
    client->m_bBirch = 1;
    client->m_bOwnLineFilter = 1;

    peer.Send(OwnLine(kLine201, 0));
    ASSERT_TRUE(SpinUntil([&] { return hooks.refreshes == 1; }));
    EXPECT_EQ(client->m_nOwnLine, 201);
    EXPECT_EQ(client->m_strRowanLabel, "[Rowan : 201]");
    EXPECT_EQ(client->m_bOwnLineFilter, 1) << "an Elm client keeps its filter here";
    EXPECT_EQ(TraceCount("[USER LOG] Veltrane Rowan uses the Line[201] for its own line"), 1);

    peer.Send(OwnLine({0x02, 0x02, 0xFF, 0xFF}, 1));
    ASSERT_TRUE(SpinUntil([&] { return hooks.refreshes == 2; }));
    EXPECT_EQ(client->m_strElmLabel, "[Elm : 22]");
    EXPECT_EQ(client->m_nOwnLine, 201);
    EXPECT_EQ(client->m_bOwnLineFilter, 0);

    peer.Send(OwnLine({0x04, 0xFF, 0xFF, 0xFF}, 4));
    peer.Send(OwnLine({0x05, 0xFF, 0xFF, 0xFF}, 5));
    ASSERT_TRUE(SpinUntil([&] { return hooks.refreshes == 4; }));
    EXPECT_EQ(client->m_strCedarLabel, "[Cedar : 4]");
    EXPECT_EQ(client->m_strBirchLabel, "[Birch : 5]");
    EXPECT_EQ(TraceCount("[USER] Veltrane Cedar uses the Line[4] for its own line"), 1);
    EXPECT_EQ(TraceCount("[USER] Veltrane Birch uses the Line[5] for its own line"), 1);
}

TEST_F(ClientServices, RegisteringAndUnregisteringInstantMessageDevices) {
    dlg.m_bUseDebugMsgPrint = 1;
    Peer peer(firstPort);
    COrbClientSocketUser* client = Connect(*clientPort, peer);
    ASSERT_NE(client, nullptr);
    const Bytes device{0x03, 0x00, 0x05, 0xFF};

    peer.Send(Request('9', device, 0x42));
    peer.Send(Request('9', device, 0x43));
    ASSERT_TRUE(peer.WaitForRecords(2));
    EXPECT_EQ(peer.Records(),
              (std::vector<Bytes>{Result('9', device, 0x42, 1), Result('9', device, 0x43, 1)}));
    EXPECT_EQ(client->m_IMDevices, std::vector<std::string>{"305"});
    EXPECT_EQ(TraceCount("Device ID - 305 is registered to VL for IM"), 2);
    EXPECT_EQ(TraceCount("IM User List[Total Count : 1] --> 305 "), 2);

    // Unregistering is answered with the register letter, also for a device never registered.
    peer.Clear();
    peer.Send(Request('8', {0x07, 0xFF, 0xFF, 0xFF}, 0x01));
    peer.Send(Request('8', device, 0x02));
    ASSERT_TRUE(peer.WaitForRecords(2));
    EXPECT_EQ(peer.Records(), (std::vector<Bytes>{Result('9', {0x07, 0xFF, 0xFF, 0xFF}, 0x01, 1),
                                                  Result('9', device, 0x02, 1)}));
    EXPECT_TRUE(client->m_IMDevices.empty());
    EXPECT_EQ(TraceCount("Device ID - 305 is unregistered from VL for IM"), 1);

    // Number 0 is refused both ways.
    peer.Clear();
    peer.Send(Request('9', {0x00, 0x00, 0xFF, 0xFF}, 0x05));
    peer.Send(Request('8', {0x0A, 0x01, 0xFF, 0xFF}, 0x06));
    ASSERT_TRUE(peer.WaitForRecords(2));
    EXPECT_EQ(peer.Records(), (std::vector<Bytes>{Result('9', {0x00, 0x00, 0xFF, 0xFF}, 0x05, 0),
                                                  Result('9', {0x0A, 0x01, 0xFF, 0xFF}, 0x06, 0)}));
    EXPECT_EQ(TraceCount("[ERROR] Device ID -  is failed to unregister from VL for IM"), 1);
    EXPECT_TRUE(client->m_IMDevices.empty());
}

TEST_F(ClientServices, InstantMessagesReachTheirPortsClients) {
    Peer sender(firstPort), target(firstPort), quiet(firstPort), elsewhere(secondPort);
    COrbClientSocketUser* senderClient = Connect(*clientPort, sender);
    COrbClientSocketUser* targetClient = Connect(*clientPort, target);
    ASSERT_NE(senderClient, nullptr);
    ASSERT_NE(targetClient, nullptr);
    ASSERT_NE(Connect(*clientPort, quiet), nullptr);
    ASSERT_NE(Connect(*bypassPort, elsewhere), nullptr);
    const Bytes from{0x02, 0x01, 0xFF, 0xFF}, to{0x02, 0x02, 0xFF, 0xFF};
    const Bytes text{'h', 'e', 'l', 'l', 'o'};
    senderClient->AddIMDevice("21");
    targetClient->AddIMDevice("22");

    // Mode 1: every client of the port, the sender too.
    sender.Send(InstantMessage(from, 0x11, 1, {0xFF, 0xFF, 0xFF, 0xFF}, text));
    ASSERT_TRUE(sender.WaitForRecords(2));
    const Bytes toAll = Relayed(from, 0x11, 1, {0xFF, 0xFF, 0xFF, 0xFF}, text);
    EXPECT_EQ(sender.Records(), (std::vector<Bytes>{toAll, Result('7', from, 0x11, 1)}));
    ASSERT_TRUE(target.WaitForRecords(1));
    ASSERT_TRUE(quiet.WaitForRecords(1));
    EXPECT_EQ(target.Records(), std::vector<Bytes>{toAll});
    EXPECT_EQ(quiet.Records(), std::vector<Bytes>{toAll});

    // Mode 2: the clients that registered the target.
    sender.Clear();
    target.Clear();
    quiet.Clear();
    sender.Send(InstantMessage(from, 0x12, 2, to, text));
    ASSERT_TRUE(sender.WaitForRecords(1));
    EXPECT_EQ(sender.Records(), std::vector<Bytes>{Result('7', from, 0x12, 1)});
    ASSERT_TRUE(target.WaitForRecords(1));
    EXPECT_EQ(target.Records(), std::vector<Bytes>{Relayed(from, 0x12, 2, to, text)});

    // Nobody registered 23, and another port's clients are never reached.
    sender.Clear();
    target.Clear();
    sender.Send(InstantMessage(from, 0x13, 2, {0x02, 0x03, 0xFF, 0xFF}, text));
    ASSERT_TRUE(sender.WaitForRecords(1));
    EXPECT_EQ(sender.Records(), std::vector<Bytes>{Result('7', from, 0x13, 0)});
    SpinFor(std::chrono::milliseconds(20));
    EXPECT_TRUE(target.Raw().empty());
    EXPECT_TRUE(quiet.Raw().empty());
    EXPECT_TRUE(elsewhere.Raw().empty());
}

TEST_F(ClientServices, AnInstantMessageThatCannotBeRelayedGetsResultZeroAndReachesNobody) {
    Peer sender(firstPort), other(firstPort);
    COrbClientSocketUser* senderClient = Connect(*clientPort, sender);
    ASSERT_NE(senderClient, nullptr);
    ASSERT_NE(Connect(*clientPort, other), nullptr);
    senderClient->AddIMDevice("21");
    const Bytes from{0x02, 0x01, 0xFF, 0xFF}, none{0xFF, 0xFF, 0xFF, 0xFF};

    struct Refused {
        Bytes request;
        Bytes senderDigits;
    };
    const Bytes unregistered{0x02, 0x09, 0xFF, 0xFF}, zero{0x00, 0xFF, 0xFF, 0xFF};
    const std::vector<Refused> refused = {
        // The sender's device not registered by this client.
        {InstantMessage(unregistered, 0x01, 1, none, {'x'}), unregistered},
        // Sender number 0.
        {InstantMessage(zero, 0x02, 1, none, {'x'}), zero},
        // Mode 2 without a target.
        {InstantMessage(from, 0x03, 2, none, {'x'}), from},
        // L = 204: one byte more than the relay buffer holds.
        {InstantMessage(from, 0x04, 1, none, Bytes(190, 'y')), from},
        // L = 13: the target's last digit is missing.
        {InstantMessage(from, 0x05, 1, Bytes{0x02, 0x02, 0x02}, {}), from},
    };
    std::vector<Bytes> expected;
    for (const Refused& r : refused) {
        sender.Send(r.request);
        expected.push_back(Result('7', r.senderDigits, r.request[10], 0));
    }
    ASSERT_TRUE(sender.WaitForRecords(expected.size()));
    EXPECT_EQ(sender.Records(), expected);

    // The longest message that fits is relayed whole.
    sender.Clear();
    sender.Send(InstantMessage(from, 0x06, 1, none, Bytes(189, 'z')));
    ASSERT_TRUE(other.WaitForRecords(1));
    EXPECT_EQ(other.Records(), std::vector<Bytes>{Relayed(from, 0x06, 1, none, Bytes(189, 'z'))});
    EXPECT_EQ(other.Records().front().size(), 204u);
}

TEST_F(ClientServices, LarchLookupFindsAnotherPoplarClientByItsLabel) {
    Peer larch(firstPort), asker(firstPort);
    COrbClientSocketUser* larchClient = Connect(*clientPort, larch);
    ASSERT_NE(larchClient, nullptr);
    ASSERT_NE(Connect(*clientPort, asker), nullptr);
    larch.Send(Login(3));
    ASSERT_TRUE(larch.WaitForRecords(kDevices + 1));
    larch.Send(OwnLine(kLine201, 2));
    ASSERT_TRUE(SpinUntil([&] { return larchClient->m_strLarchLabel == "[Larch : 201]"; }));
    larch.Clear();

    asker.Send(Request('4', kLine201, 0x00, 2));
    ASSERT_TRUE(asker.WaitForRecords(1));
    EXPECT_EQ(asker.Records(), std::vector<Bytes>{LarchReply(kLine201, 2, "127.0.0.1")});

    // The key carries the digits as sent: "0201" is not the label's 201.
    const Bytes leadingZero{0x00, 0x02, 0x00, 0x01};
    const Bytes asks[] = {
        Request('4', leadingZero, 0x00, 2),
        Request('4', kLine201, 0x00, 3),
        Request('4', {0x00, 0xFF, 0xFF, 0xFF}, 0x00, 2),
    };
    asker.Clear();
    for (const Bytes& ask : asks)
        asker.Send(ask);
    ASSERT_TRUE(asker.WaitForRecords(3));
    EXPECT_EQ(asker.Records(),
              (std::vector<Bytes>{LarchReply(leadingZero, 2, ""), LarchReply(kLine201, 3, ""),
                                  LarchReply({0x00, 0xFF, 0xFF, 0xFF}, 2, "")}));

    // The only match is the asker itself.
    larch.Send(Request('4', kLine201, 0x00, 2));
    ASSERT_TRUE(larch.WaitForRecords(1));
    EXPECT_EQ(larch.Records(), std::vector<Bytes>{LarchReply(kLine201, 2, "")});

    // Without the Poplar flag the label alone does not count.
    larchClient->m_bPoplar = 0;
    asker.Clear();
    asker.Send(Request('4', kLine201, 0x00, 2));
    ASSERT_TRUE(asker.WaitForRecords(1));
    EXPECT_EQ(asker.Records(), std::vector<Bytes>{LarchReply(kLine201, 2, "")});
}

TEST_F(ClientServices, AlderAnnounceEchoesAndAnAlderClientGetsItsReplyAgain) {
    const Bytes echo{0x00, 0x08, 'u', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    const Bytes alderReply{0x00, 0x09, '1', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF};
    Peer plain(firstPort), alder(firstPort);
    ASSERT_NE(Connect(*clientPort, plain), nullptr);
    ASSERT_NE(Connect(*clientPort, alder), nullptr);

    plain.Send(Bytes{0x00, 0x02, 0x02, 'u'});
    ASSERT_TRUE(plain.WaitForRecords(1));
    SpinFor(std::chrono::milliseconds(20));
    EXPECT_EQ(plain.Raw(), echo);

    alder.Send(Login(0));
    ASSERT_TRUE(alder.WaitForRecords(1 + kDevices + 1));
    alder.Clear();
    alder.Send(Request('u'));
    ASSERT_TRUE(alder.WaitForRecords(2));
    EXPECT_EQ(alder.Raw(), Join({echo, alderReply}));
    EXPECT_EQ(TraceCount("[USER LOG] The Current Alder at " + Suffix(alder) +
                         " is running without any qorvell cti software."),
              1);
}
