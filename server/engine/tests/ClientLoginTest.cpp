#include "ClientRequestFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace engine;

namespace {

using namespace clienttest;
using ClientLogin = ClientRequestFixture;

Bytes Reply(std::uint8_t letter, std::uint8_t b9, std::uint8_t result) {
    return Bytes{0x00, 0x09, letter, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, b9, result};
}

std::vector<Bytes> With(const std::vector<Bytes>& head, const std::vector<Bytes>& tail) {
    std::vector<Bytes> all = head;
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
}

// Every pause of the device lists holds until the gate opens; the pauses are counted.
class PauseGate {
public:
    explicit PauseGate(COrbClientConnectionManager& manager) {
        manager.SetPauseFunction([this](int) {
            ++paused;
            std::lock_guard<std::mutex> wait(m_gate);
        });
    }
    void Open() { m_held.unlock(); }

    std::atomic<int> paused{0};

private:
    std::mutex m_gate;
    std::unique_lock<std::mutex> m_held{m_gate};
};

} // namespace

TEST_F(ClientLogin, HazelTwiceOnOneConnectionIsAcceptedThenRefusedAndClosed) {
    Peer peer(firstPort);
    COrbClientSocketUser* client = Connect(*clientPort, peer);
    ASSERT_NE(client, nullptr);
    const std::string s = Suffix(peer);

    peer.Send(Login(6));
    ASSERT_TRUE(peer.WaitForRecords(1 + kDevices + 1));
    EXPECT_EQ(peer.Raw(), Join({Reply('6', 0x00, 0x01), DeviceRecord(0), DeviceRecord(1),
                                DeviceRecord(2), EndRecord()}));
    EXPECT_EQ(client->m_bRegistered, 1);
    EXPECT_EQ(client->m_bHazel, 1);
    EXPECT_EQ(Slot(kCountHazel), 1u);
    EXPECT_EQ(dlg.m_nClientCount, 1);
    EXPECT_EQ(hooks.refreshes, 1);
    EXPECT_EQ(hooks.lines, std::vector<std::string>{"0:S279" + s});
    EXPECT_EQ(TraceCount("[USER LOG] S279" + s), 1);
    // The sender traces the list's end after its last record is out.
    const std::string listDone =
        "Complete to send the device list[Total : 4]  to the connected client" + s;
    ASSERT_TRUE(SpinUntil([&] { return TraceCount(listDone) >= 1; }));
    EXPECT_EQ(TraceCount(listDone), 1);

    peer.Clear();
    peer.Send(Login(6));
    ASSERT_TRUE(SpinUntil([&] { return peer.Closed(); }));
    EXPECT_EQ(peer.Raw(), Reply('6', 0x00, 0x00));
    EXPECT_EQ(Count(*clientPort), 0u);
    // The close gave back what the first login counted.
    EXPECT_EQ(Slot(kCountHazel), 0u);
    EXPECT_EQ(dlg.m_nClientCount, 0);
    EXPECT_EQ(hooks.lines, (std::vector<std::string>{"0:S279" + s, "0:S285" + s, "1:S273"}));
    EXPECT_EQ(TraceCount("[USER LOG] S273" + s), 1);
}

TEST_F(ClientLogin, EachClientPortKindGetsItsReplyItsFlagAndItsCount) {
    struct Case {
        std::uint8_t code;
        std::vector<Bytes> reply;
        std::atomic<int> COrbClientSocketUser::*flag;
        int slot; // -1: not counted
        int resource;
    };
    const Bytes kind10Accepted{0x00, 0x0C, '9',  0xFF, 0xFF, 0xFF, 0xFF,
                               0xFF, 0xFF, 0x0A, 0x01, 0x00, 0x00, 0x00};
    const std::vector<Case> cases = {
        {0, {Reply('1', 0x00, 0xFF)}, &COrbClientSocketUser::m_bAlder, -1, 319},
        {1, {}, &COrbClientSocketUser::m_bRowan, kCountRowanSpruce, 274},
        {2, {}, &COrbClientSocketUser::m_bElm, kCountElm, 275},
        {3, {}, &COrbClientSocketUser::m_bPoplar, kCountPoplar, 276},
        {5, {}, &COrbClientSocketUser::m_bFir, kCountFir, 278},
        {6, {Reply('6', 0x00, 0x01)}, &COrbClientSocketUser::m_bHazel, kCountHazel, 279},
        {7, {}, &COrbClientSocketUser::m_bSpruce, kCountRowanSpruce, 291},
        {8, {Reply('a', 0x00, 0x01)}, &COrbClientSocketUser::m_bDogwood, kCountDogwood, 297},
        {10, {kind10Accepted}, &COrbClientSocketUser::m_bKind10, kCountKind10, 309},
    };
    std::vector<std::unique_ptr<Peer>> peers;
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        peers.push_back(std::make_unique<Peer>(firstPort));
        Peer& peer = *peers.back();
        COrbClientSocketUser* client = Connect(*clientPort, peer);
        ASSERT_NE(client, nullptr);
        const int clients = dlg.m_nClientCount;
        const unsigned count = c.slot >= 0 ? Slot(c.slot).load() : 0;
        hooks.lines.clear();

        peer.Send(Login(c.code));
        const std::vector<Bytes> expected = With(c.reply, DeviceList());
        ASSERT_TRUE(peer.WaitForRecords(expected.size()));
        EXPECT_EQ(peer.Records(), expected);
        EXPECT_EQ(client->*c.flag, 1);
        EXPECT_EQ(client->m_bRegistered, 1);
        EXPECT_EQ(dlg.m_nClientCount, clients + (c.slot >= 0 ? 1 : 0));
        if (c.slot >= 0) {
            EXPECT_EQ(Slot(c.slot), count + 1);
        }
        EXPECT_EQ(hooks.lines,
                  std::vector<std::string>{"0:S" + std::to_string(c.resource) + Suffix(peer)});
    }
    EXPECT_EQ(Count(*clientPort), cases.size());
    // Alder is counted nowhere.
    EXPECT_EQ(dlg.m_nClientCount, static_cast<int>(cases.size()) - 1);
}

TEST_F(ClientLogin, EachBypassKindGetsItsReplyAndARepeatIsRefusedAndClosed) {
    struct Case {
        std::uint8_t code;
        Bytes accepted; // empty: none
        Bytes refused;  // empty: none
        int slot;
        std::string acceptedLine, refusedLine;
    };
    std::vector<Case> cases = {
        {4, Reply('a', 4, 1), {}, kCountOak, "[USER LOG] S277", "[USER LOG] S271"},
        {9, Reply('9', 9, 1), Reply('9', 9, 0), kCountMaple, "[USER LOG] S294", "[USER LOG] S306"},
        {26, Reply('a', 26, 1), Reply('a', 0, 0), kCountBypassDogwood, "[USER LOG] S297",
         "[USER LOG] S305"},
        {66, Reply('a', 66, 1), Reply('a', 66, 0), kCountJuniper, "[USER] S382", "[USER] S384"},
        {67, Reply('a', 67, 1), Reply('a', 67, 0), kCountMsJuniper, "[USER] S374", "[USER] S376"},
        {68, Reply('a', 68, 1), Reply('a', 68, 0), kCountIbmJuniper, "[USER] S378", "[USER] S380"},
    };
    for (int code = 33; code <= 41; ++code) {
        const auto b = static_cast<std::uint8_t>(code);
        cases.push_back({b, Reply('9', b, 1), Reply('9', b, 0), kCountKind33 + code - 33,
                         "[USER LOG] S" + std::to_string(324 + 3 * (code - 33)),
                         "[USER LOG] S" + std::to_string(326 + 3 * (code - 33))});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        Peer peer(secondPort);
        COrbClientSocketUser* client = Connect(*bypassPort, peer);
        ASSERT_NE(client, nullptr);
        const std::string s = Suffix(peer);
        const int changes = hooks.changes;
        pauses.clear();

        peer.Send(Login(c.code));
        const std::vector<Bytes> expected = With({c.accepted}, DeviceList());
        ASSERT_TRUE(peer.WaitForRecords(expected.size()));
        EXPECT_EQ(peer.Records(), expected);
        EXPECT_EQ(Slot(c.slot), 1u);
        EXPECT_EQ(dlg.m_nBypassClientCount, 1);
        EXPECT_EQ(dlg.m_nClientCount, 0);
        EXPECT_EQ(hooks.changes, changes + 1);
        EXPECT_EQ(TraceCount(c.acceptedLine + s), 1);
        if (c.code == 4) {
            EXPECT_EQ(pauses.front(), 500) << "the Oak pause comes before the reply";
            EXPECT_LT(TraceIndex("Enterting the Wait Routine for Oak."),
                      TraceIndex("Wait Completed."));
        } else {
            EXPECT_TRUE(std::find(pauses.begin(), pauses.end(), 500) == pauses.end());
        }

        peer.Clear();
        peer.Send(Login(c.code));
        ASSERT_TRUE(SpinUntil([&] { return peer.Closed(); }));
        EXPECT_EQ(peer.Raw(), c.refused);
        EXPECT_EQ(TraceCount(c.refusedLine + s), 1);
        EXPECT_EQ(Slot(c.slot), 0u);
        EXPECT_EQ(dlg.m_nBypassClientCount, 0);
        EXPECT_EQ(Count(*bypassPort), 0u);
        (void)client;
    }
    EXPECT_TRUE(hooks.lines.empty()) << "the bypass port writes no log-list lines";
}

TEST_F(ClientLogin, RefusedKindsGetAClosedConnectionAndNoBytes) {
    for (std::uint8_t code : {4, 9, 11, 12, 200, 255}) {
        SCOPED_TRACE(static_cast<int>(code));
        Peer peer(firstPort);
        ASSERT_NE(Connect(*clientPort, peer), nullptr);
        hooks.lines.clear();
        // A closed peer's port may come round again in this loop.
        const int before = TraceCount("[USER LOG] S286" + Suffix(peer));
        peer.Send(Login(code));
        ASSERT_TRUE(SpinUntil([&] { return peer.Closed(); }));
        EXPECT_TRUE(peer.Raw().empty());
        EXPECT_EQ(hooks.lines, std::vector<std::string>{"1:S286"});
        EXPECT_EQ(TraceCount("[USER LOG] S286" + Suffix(peer)), before + 1);
    }
    for (std::uint8_t code : {0, 1, 6, 8, 10, 27, 32, 42, 65, 69}) {
        SCOPED_TRACE(static_cast<int>(code));
        Peer peer(secondPort);
        ASSERT_NE(Connect(*bypassPort, peer), nullptr);
        const int before = TraceCount("[USER LOG] S286" + Suffix(peer));
        peer.Send(Login(code));
        ASSERT_TRUE(SpinUntil([&] { return peer.Closed(); }));
        EXPECT_TRUE(peer.Raw().empty());
        EXPECT_EQ(TraceCount("[USER LOG] S286" + Suffix(peer)), before + 1);
    }
    EXPECT_EQ(Count(*clientPort), 0u);
    EXPECT_EQ(Count(*bypassPort), 0u);
    EXPECT_EQ(dlg.m_nClientCount, 0);
    EXPECT_EQ(dlg.m_nBypassClientCount, 0);
    EXPECT_EQ(TraceCount("Sending the device list"), 0);
}

TEST_F(ClientLogin, RefusedRepeatsOfClientPortKindsSendTheirRefusalBeforeTheClose) {
    struct Case {
        std::uint8_t code;
        Bytes refused;
        std::string line;
    };
    const std::vector<Case> cases = {
        {5, {}, "1:S272"},
        {8, Reply('a', 0x00, 0x00), "1:S305"},
        {10, Reply('9', 0x0A, 0x00), "1:S308"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        Peer peer(firstPort);
        ASSERT_NE(Connect(*clientPort, peer), nullptr);
        peer.Send(Login(c.code));
        ASSERT_TRUE(peer.WaitForRecords(kDevices + 1));
        peer.Clear();
        hooks.lines.clear();
        peer.Send(Login(c.code));
        ASSERT_TRUE(SpinUntil([&] { return peer.Closed(); }));
        EXPECT_EQ(peer.Raw(), c.refused);
        ASSERT_EQ(hooks.lines.size(), 2u);
        EXPECT_EQ(hooks.lines[1], c.line);
    }
    EXPECT_EQ(dlg.m_nClientCount, 0);
    for (int slot : {kCountFir, kCountDogwood, kCountKind10})
        EXPECT_EQ(Slot(slot), 0u) << slot;
}

TEST_F(ClientLogin, ASecondAlderLoginClosesTheConnectionWithItsLine) {
    Peer peer(firstPort);
    ASSERT_NE(Connect(*clientPort, peer), nullptr);
    peer.Send(Login(0));
    ASSERT_TRUE(peer.WaitForRecords(1 + kDevices + 1));
    peer.Clear();
    hooks.lines.clear();
    peer.Send(Login(0));
    ASSERT_TRUE(SpinUntil([&] { return peer.Closed(); }));
    EXPECT_TRUE(peer.Raw().empty());
    EXPECT_EQ(TraceCount("[USER LOG ERROR] Alder is already connected." + Suffix(peer)), 1);
    // Only the close's own Alder line reaches the log list.
    EXPECT_EQ(hooks.lines, std::vector<std::string>{"0:S320" + Suffix(peer)});
    EXPECT_EQ(dlg.m_nClientCount, 0);
}

TEST_F(ClientLogin, ARegisteredConnectionIsNotServedAgainAndLeavesNoCountBehind) {
    Peer other(firstPort);
    ASSERT_NE(Connect(*clientPort, other), nullptr);
    other.Send(Login(1));
    ASSERT_TRUE(other.WaitForRecords(kDevices + 1));

    Peer peer(firstPort);
    ASSERT_NE(Connect(*clientPort, peer), nullptr);
    peer.Send(Login(1));
    ASSERT_TRUE(peer.WaitForRecords(kDevices + 1));
    // A flood of logins in one write: the list went out once, a new kind is still counted.
    Bytes flood;
    for (int i = 0; i < 100; ++i)
        flood = Join({flood, Login(1)});
    peer.Send(Join({flood, Login(7), Login(2), Login(2), Login(3)}));
    ASSERT_TRUE(SpinUntil([&] { return Slot(kCountPoplar) == 1u; }));
    ASSERT_TRUE(SpinUntil([&] { return clientPort->DeviceLists().Idle(); }));
    SpinFor(std::chrono::milliseconds(30));
    EXPECT_EQ(peer.Records(), DeviceList());
    EXPECT_EQ(TraceCount("Repeated login is ignored." + Suffix(peer)), 101);
    EXPECT_EQ(Slot(kCountRowanSpruce), 3u);
    EXPECT_EQ(Slot(kCountElm), 1u);
    EXPECT_EQ(dlg.m_nClientCount, 5);

    peer.Send(Request('k', {0xFF, 0xFF, 0xFF, 0xFF}, 1));
    ASSERT_TRUE(SpinUntil([&] { return peer.Closed(); }));
    ASSERT_TRUE(SpinUntil([&] { return Count(*clientPort) == 1; }));
    // What the other connection counted stays.
    EXPECT_EQ(Slot(kCountRowanSpruce), 1u);
    EXPECT_EQ(Slot(kCountElm), 0u);
    EXPECT_EQ(Slot(kCountPoplar), 0u);
    EXPECT_EQ(dlg.m_nClientCount, 1);
}

TEST_F(ClientLogin, TheDeviceListIsPacedOffTheWindowThreadAndDroppedWithItsClient) {
    for (int i = kDevices; i < 60; ++i)
        AddDevice(i);
    table->SetEndRecord(EndBody());
    // Each pause of the list holds until released: the window thread must go on meanwhile.
    PauseGate gate(*clientPort);
    Peer slow(firstPort);
    ASSERT_NE(Connect(*clientPort, slow), nullptr);
    slow.Send(Login(1));
    ASSERT_TRUE(SpinUntil([&] { return gate.paused.load() == 1; }));
    // Another client is accepted and served while the first list waits.
    Peer quick(firstPort);
    ASSERT_NE(Connect(*clientPort, quick), nullptr);
    quick.Send(Login(2));
    ASSERT_TRUE(SpinUntil([&] { return Slot(kCountElm) == 1u; }));
    // The first client leaves; the rest of its list goes nowhere.
    slow.Send(Request('k', {0xFF, 0xFF, 0xFF, 0xFF}, 1));
    ASSERT_TRUE(SpinUntil([&] { return Count(*clientPort) == 1; }));
    clientPort->SetPauseFunction([](int) {});
    gate.Open();
    ASSERT_TRUE(quick.WaitForRecords(61));
    ASSERT_TRUE(SpinUntil([&] { return clientPort->DeviceLists().Idle(); }));
    EXPECT_EQ(quick.Records(), DeviceList(60));
    EXPECT_LE(slow.Records().size(), 2u);
    EXPECT_EQ(TraceCount("Complete to send the device list[Total : 61]"), 1);
}

TEST_F(ClientLogin, TheListsOfDifferentClientsGoOutSideBySide) {
    for (int i = kDevices; i < 60; ++i)
        AddDevice(i);
    table->SetEndRecord(EndBody());
    // The first pause holds until the second client has its list queued.
    PauseGate gate(*clientPort);
    Peer longList(firstPort), shortList(firstPort);
    ASSERT_NE(Connect(*clientPort, longList), nullptr);
    ASSERT_NE(Connect(*clientPort, shortList), nullptr);
    longList.Send(Login(1));
    ASSERT_TRUE(SpinUntil([&] { return gate.paused.load() == 1; }));
    // The second client logs in to a shorter table.
    table->ClearDevices();
    for (int i = 0; i < kDevices; ++i)
        AddDevice(i);
    table->SetEndRecord(EndBody());
    shortList.Send(Login(2));
    ASSERT_TRUE(SpinUntil([&] { return Slot(kCountElm) == 1u; }));
    gate.Open();

    ASSERT_TRUE(longList.WaitForRecords(61));
    ASSERT_TRUE(shortList.WaitForRecords(kDevices + 1));
    ASSERT_TRUE(SpinUntil([&] { return clientPort->DeviceLists().Idle(); }));
    EXPECT_EQ(longList.Records(), DeviceList(60));
    EXPECT_EQ(shortList.Records(), DeviceList());
    // The short list did not wait for the long one to end.
    const int shortDone = TraceIndex("Complete to send the device list[Total : 4]  to the "
                                     "connected client" +
                                     Suffix(shortList));
    const int longDone = TraceIndex("Complete to send the device list[Total : 61]  to the "
                                    "connected client" +
                                    Suffix(longList));
    ASSERT_GE(shortDone, 0);
    EXPECT_LT(shortDone, longDone);
    // Each list kept its own pause after every record.
    EXPECT_EQ(gate.paused.load(), 59 + kDevices);
}

TEST_F(ClientLogin, LogoutKeepsTheConnectionOnlyForItsFourCodesOnTheClientPort) {
    std::vector<std::unique_ptr<Peer>> kept;
    for (std::uint8_t code : {0, 3, 4, 11}) {
        kept.push_back(std::make_unique<Peer>(firstPort));
        Peer& peer = *kept.back();
        ASSERT_NE(Connect(*clientPort, peer), nullptr);
        peer.Send(Request('k', {0xFF, 0xFF, 0xFF, 0xFF}, code));
        SpinFor(std::chrono::milliseconds(30));
        EXPECT_FALSE(peer.Closed()) << static_cast<int>(code);
        EXPECT_TRUE(peer.Raw().empty());
    }
    EXPECT_EQ(Count(*clientPort), 4u);
    for (std::uint8_t code : {1, 2, 5, 6, 12}) {
        Peer peer(firstPort);
        ASSERT_NE(Connect(*clientPort, peer), nullptr);
        peer.Send(Request('k', {0xFF, 0xFF, 0xFF, 0xFF}, code));
        EXPECT_TRUE(SpinUntil([&] { return peer.Closed(); })) << static_cast<int>(code);
        EXPECT_TRUE(peer.Raw().empty());
    }
    // Without its kind byte the logout is dropped, not guessed.
    {
        kept.push_back(std::make_unique<Peer>(firstPort));
        Peer& peer = *kept.back();
        ASSERT_NE(Connect(*clientPort, peer), nullptr);
        peer.Send(Bytes{0x00, 0x04, 0x02, 'k', 0xFF, 0xFF});
        ASSERT_TRUE(SpinUntil([&] { return TraceCount("too short[Length : 6]") == 1; }));
        EXPECT_FALSE(peer.Closed());
    }
    for (std::uint8_t code : {0, 3}) {
        Peer peer(secondPort);
        ASSERT_NE(Connect(*bypassPort, peer), nullptr);
        peer.Send(Request('k', {0xFF, 0xFF, 0xFF, 0xFF}, code));
        EXPECT_TRUE(SpinUntil([&] { return peer.Closed(); })) << static_cast<int>(code);
    }
    EXPECT_EQ(Count(*clientPort), 5u);
    EXPECT_EQ(Count(*bypassPort), 0u);
}

TEST_F(ClientLogin, ALoginTooShortForItsKindIsDropped) {
    Peer peer(firstPort);
    COrbClientSocketUser* client = Connect(*clientPort, peer);
    ASSERT_NE(client, nullptr);
    peer.Send(Bytes{0x00, 0x08, 0x02, 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    ASSERT_TRUE(SpinUntil([&] { return TraceCount("too short[Length : 10]") == 1; }));
    EXPECT_FALSE(peer.Closed());
    EXPECT_TRUE(peer.Raw().empty());
    EXPECT_EQ(client->m_bRegistered, 0);
    EXPECT_EQ(client->m_bAlder, 0);
}

TEST_F(ClientLogin, ALongDeviceListIsPacedAndCountedWithItsEndRecord) {
    for (int i = kDevices; i < 120; ++i)
        AddDevice(i);
    table->SetEndRecord(EndBody());
    Peer peer(firstPort);
    ASSERT_NE(Connect(*clientPort, peer), nullptr);
    peer.Send(Login(1));
    ASSERT_TRUE(peer.WaitForRecords(121));
    EXPECT_EQ(peer.Records(), DeviceList(120));
    // A pause after every record but the 50th and the 100th.
    ASSERT_TRUE(SpinUntil([&] { return clientPort->DeviceLists().Idle(); }));
    EXPECT_EQ(pauses, std::vector<int>(118, 10));
    EXPECT_EQ(TraceCount("Complete to send the device list[Total : 121]"), 1);
}

TEST_F(ClientLogin, TheDeviceListIsSentWholeWhileTheTableChanges) {
    Peer peer(firstPort);
    ASSERT_NE(Connect(*clientPort, peer), nullptr);
    // The event handler empties the table in the middle of the send.
    clientPort->SetPauseFunction([this](int) { table->ClearDevices(); });
    peer.Send(Login(3));
    ASSERT_TRUE(peer.WaitForRecords(kDevices + 1));
    EXPECT_EQ(peer.Records(), DeviceList());
    ASSERT_TRUE(SpinUntil([&] { return clientPort->DeviceLists().Idle(); }));
    EXPECT_EQ(TraceCount("Complete to send the device list[Total : 4]"), 1);
}

TEST_F(ClientLogin, AnEmptyDeviceTableClosesTheClient) {
    table->ClearDevices();
    Peer peer(firstPort);
    ASSERT_NE(Connect(*clientPort, peer), nullptr);
    peer.Send(Login(6));
    ASSERT_TRUE(SpinUntil([&] { return peer.Closed(); }));
    // The reply went out before the list was found empty.
    EXPECT_EQ(peer.Raw(), Reply('6', 0x00, 0x01));
    EXPECT_EQ(TraceCount("[ERROR] Veltrane Link can't search the Assigned Device ID from the "
                         "download device list. Rejected!!!"),
              1);
    EXPECT_EQ(hooks.lines.back(), "1:S216");
    EXPECT_EQ(Slot(kCountHazel), 0u);
    EXPECT_EQ(dlg.m_nClientCount, 0);
}
