#include <engine/OrbSWEventHandler.h>

#include "ClientPortFixture.h"
#include "TraceCapture.h"
#include <engine/LinkState.h>
#include <engine/MonitorFeed.h>
#include <engine/OrbClientConnectionManager.h>
#include <engine/OrbClientSocketUser.h>
#include <engine/OrbIOQueue.h>
#include <engine/OrbListenSocket.h>
#include <engine/OrbManagerDlg.h>
#include <engine/OrbSocket.h>
#include <engine/SwitchDeviceTable.h>
#include <testsupport/PeerSocket.h>
#include <testsupport/TestApp.h>
#include <testsupport/TestSwitch.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

using namespace engine;

using testsupport::TestSwitch;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kWaitMs = 5000;

struct Delivered {
    std::string device;
    std::string second;
    Bytes body;
    int all;
};

struct RecordingFeed : MonitorFeed {
    std::mutex lock;
    std::vector<Bytes> normal, smdrMonitor, smdrPort;
    void SendNormalMsgToMonitor(const std::uint8_t* body, int length) override {
        std::lock_guard<std::mutex> guard(lock);
        normal.emplace_back(body, body + length);
    }
    void SendSMDRUCDMsgToMonitor(const std::uint8_t* body, int length) override {
        std::lock_guard<std::mutex> guard(lock);
        smdrMonitor.emplace_back(body, body + length);
    }
    void SendSMDRUCDMsgToPort(const std::uint8_t* body, int length) override {
        std::lock_guard<std::mutex> guard(lock);
        smdrPort.emplace_back(body, body + length);
    }
};

// letter, FF FF (or a device record's index), device digits, signed byte 0, then the rest.
Bytes Body(std::uint8_t letter, Bytes device, Bytes rest = {}, std::uint16_t index = 0xFFFF) {
    device.resize(4, 0xFF);
    Bytes body{letter, static_cast<std::uint8_t>(index >> 8),
               static_cast<std::uint8_t>(index & 0xFF)};
    body.insert(body.end(), device.begin(), device.end());
    body.push_back(0x00);
    body.insert(body.end(), rest.begin(), rest.end());
    return body;
}

// An 'A' device record with its raw type and sub-type.
Bytes DeviceRecord(std::uint16_t index, Bytes device, std::uint8_t rawType) {
    return Body('A', std::move(device), {rawType, 0x03}, index);
}

const Bytes kEndRecord = Body('A', {}, {0x00, 0x00});

// The owner, the device table, a monitor feed and a handler whose deliveries are recorded, with
// the trace texts collected.
class EventHandlerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_owner = std::make_unique<COrbManagerDlg>();
        m_table = std::make_unique<SwitchDeviceTable>(m_owner.get());
        m_owner->m_pDeviceTable = m_table.get();
        m_owner->m_pMonitorFeed = &m_feed;
        m_owner->m_bMsgMonitorListenerActive = 1;
        m_owner->m_bUseMsgMonitor = 1;
        m_owner->m_bSmdrMonitorListenerActive = 1;
        m_owner->m_bUseSMDRUCDMonitor = 1;
        m_owner->m_bSendListenerActive = 1;
        m_owner->m_bUseSMDRUCDSend = 1;
        MakeHandler();
    }
    void TearDown() override {
        m_handler.reset();
        m_owner->m_pMonitorFeed = nullptr;
        m_owner->m_pDeviceTable = nullptr;
        m_table.reset();
        m_owner.reset();
        ResetLinkState();
    }

    void MakeHandler() {
        m_handler = std::make_unique<COrbSWEventHandler>(m_owner.get());
        m_handler->SetDelivery([this](const std::string& device, protocol::ByteView body,
                                      const std::string& second, int all) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_delivered.push_back({device, second, Bytes(body.begin(), body.end()), all});
            m_deliveredChanged.notify_all();
        });
    }

    void Dispatch(const Bytes& body) {
        // An exact copy, so a read past the body is caught by the sanitizer.
        auto exact = std::make_unique<std::uint8_t[]>(body.size());
        std::copy(body.begin(), body.end(), exact.get());
        m_handler->DispatchSwitchEvent(exact.get(), static_cast<int>(body.size()));
    }
    void Download(const Bytes& body) {
        const Bytes exact(body);
        m_handler->OnDeviceDownloadEvent(exact);
    }

    std::vector<Delivered> Deliveries() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_delivered;
    }
    bool WaitForDeliveries(std::size_t count) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_deliveredChanged.wait_for(guard, std::chrono::milliseconds(kWaitMs),
                                           [&] { return m_delivered.size() >= count; });
    }
    void ClearDeliveries() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_delivered.clear();
    }
    std::size_t Normal() {
        std::lock_guard<std::mutex> guard(m_feed.lock);
        return m_feed.normal.size();
    }
    std::vector<std::string> Ids() {
        std::vector<std::string> ids;
        platform::CriticalSectionLock guard(m_table->GetDevices().Lock());
        for (const auto& entry : m_table->GetDevices().Items())
            ids.push_back(entry->m_strDeviceId + ":" + std::to_string(entry->m_nKind) + ":" +
                          std::to_string(entry->m_nNumber));
        return ids;
    }

    std::unique_ptr<COrbManagerDlg> m_owner;
    RecordingFeed m_feed;
    std::unique_ptr<SwitchDeviceTable> m_table;
    std::unique_ptr<COrbSWEventHandler> m_handler;
    std::mutex m_lock;
    std::condition_variable m_deliveredChanged;
    std::vector<Delivered> m_delivered;
    TraceCapture m_traces;
};

class DeviceDownload : public EventHandlerFixture {};
class DispatchSwitchEvent : public EventHandlerFixture {};

} // namespace

TEST_F(DeviceDownload, KeepsOnlyTheStoredTypesAndEndsAtTypeZero) {
    Download(DeviceRecord(1, {2, 0, 1}, 1));
    Download(DeviceRecord(2, {2, 0, 2}, 2));
    Download(DeviceRecord(3, {2, 0, 3}, 7));
    Download(DeviceRecord(4, {2, 0, 4}, 20));
    EXPECT_EQ(g_bDeviceListAvailable, 0);
    EXPECT_FALSE(g_hDeviceDownloadDoneEvent.IsSet());
    Download(kEndRecord);

    EXPECT_EQ(Ids(), (std::vector<std::string>{"201:1:1", "202:2:2"}));
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kType1), 1);
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kType2), 1);
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kOtherTypes), 1);
    EXPECT_EQ(m_table->GetTotal(), 2);
    EXPECT_EQ(g_bDeviceListAvailable, 1);
    EXPECT_TRUE(g_hDeviceDownloadDoneEvent.IsSet());
    EXPECT_EQ(
        m_traces.CountPart("Device Download Complete!!! --> Total Downloaded Device Count : 2"), 1);
    LineDeviceEntry* entry = m_table->FindDevice("202");
    ASSERT_NE(entry, nullptr);
    for (std::size_t i = 0; i < LineDeviceEntry::kSentSize; ++i)
        EXPECT_EQ(entry->m_EndRecord[i], kEndRecord[i]) << i;
    EXPECT_TRUE(Deliveries().empty()) << "download records reach no client";
    EXPECT_EQ(Normal(), 0u) << "nor the monitors";
}

TEST_F(DeviceDownload, MapsTheSwitchTypesAndCountsARepeatedDeviceAgain) {
    Download(Body('A', {2, 0, 9})); // no type byte: it reads as 0xFF and ends nothing
    Download(DeviceRecord(1, {2, 0, 1}, 17));
    Download(DeviceRecord(2, {2, 0, 2}, 14));
    Download(DeviceRecord(3, {2, 0, 3}, 16));
    Download(DeviceRecord(4, {2, 0, 4}, 15));
    Download(DeviceRecord(5, {2, 0, 5}, 12));
    Download(DeviceRecord(6, {2, 0, 1}, 3)); // again, of another type
    EXPECT_EQ(Ids(),
              (std::vector<std::string>{"201:1:1", "202:2:2", "203:5:3", "204:13:4", "205:12:5"}));
    EXPECT_EQ(m_table->GetTotal(), 6) << "the repeated device is counted, not stored";
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kType3), 1);
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kType5), 1);
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kType13), 1);
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kType12), 1);
    EXPECT_EQ(g_bDeviceListAvailable, 0);
}

TEST_F(DispatchSwitchEvent, CallEventsCarryTheirDeliveryTextsAndAllFlag) {
    const Bytes connected = Body('E', {2, 0, 1}, {3, 0, 1, 0xFF, 9, 9});
    Dispatch(connected);
    Dispatch(Body('N', {2, 0, 1}, {0, 3, 0, 1}));
    Dispatch(Body('T', {2, 0, 2}));
    Dispatch(Body('D', {2, 0, 1}, {3, 0, 1, 0xFF, 4, 0, 1, 0xFF}));
    Dispatch(Body('Y', {2, 0, 1}, {3, 0, 1, 0xFF, 0x00, 4, 0, 1, 0xFF}));
    Dispatch(Body('V', {2, 0, 1}, {3, 0, 1, 0xFF, 4, 0, 1, 0xFF}));
    Dispatch(Body('q', {2, 0, 1}, {3, 0, 2, 0xFF, 0, 1, 0, 0, 2}));
    Dispatch(Body('F', {2, 0, 1}, {0x05})); // no record class of its own
    Dispatch(Body('D', {2, 0, 1}));         // without its numbers

    const std::vector<Delivered> got = Deliveries();
    ASSERT_EQ(got.size(), 9u);
    EXPECT_EQ(got[0].body, connected) << "the body goes out as received";
    const std::vector<std::tuple<std::string, std::string, int>> expected{
        {"201", "301", 0}, {"201", "0301", 1}, {"202", "", 1}, {"201", "301", 0}, {"201", "201", 0},
        {"201", "301", 0}, {"201", "302", 0},  {"201", "", 0}, {"201", "", 0}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(got[i].device, std::get<0>(expected[i])) << i;
        EXPECT_EQ(got[i].second, std::get<1>(expected[i])) << i;
        EXPECT_EQ(got[i].all, std::get<2>(expected[i])) << i;
    }
    EXPECT_EQ(Normal(), 9u) << "every call event is copied to the message monitor";
}

TEST_F(DispatchSwitchEvent, SmdrAndUcdGoToTheirMonitorsOnlyAndSupervisionNowhere) {
    const Bytes smdr = Body('Z', {}, {3, 'a', 'b', 'c'});
    Dispatch(smdr);
    Dispatch(Body('U', {}, {0}));
    Dispatch(Body('a', {}));
    Dispatch(Body('u', {}));
    EXPECT_TRUE(Deliveries().empty());
    std::lock_guard<std::mutex> guard(m_feed.lock);
    EXPECT_TRUE(m_feed.normal.empty());
    ASSERT_EQ(m_feed.smdrMonitor.size(), 2u);
    EXPECT_EQ(m_feed.smdrMonitor[0], smdr);
    ASSERT_EQ(m_feed.smdrPort.size(), 2u);
    EXPECT_EQ(m_feed.smdrPort[0], smdr);
}

TEST_F(DispatchSwitchEvent, MonitorCopiesFollowTheListenerFlagsAndOptions) {
    const Bytes smdr = Body('Z', {}, {1, 'x'});
    const Bytes held = Body('H', {2, 0, 1});
    m_owner->m_bMsgMonitorListenerActive = 0;
    m_owner->m_bUseSMDRUCDSend = 0;
    Dispatch(held);
    Dispatch(smdr);
    m_owner->m_bMsgMonitorListenerActive = 1;
    m_owner->m_bUseMsgMonitor = 0;
    m_owner->m_bSmdrMonitorListenerActive = 0;
    m_owner->m_bUseSMDRUCDSend = 1;
    Dispatch(held);
    Dispatch(smdr);
    {
        std::lock_guard<std::mutex> guard(m_feed.lock);
        EXPECT_TRUE(m_feed.normal.empty());
        EXPECT_EQ(m_feed.smdrMonitor.size(), 1u);
        EXPECT_EQ(m_feed.smdrPort.size(), 1u);
    }
    m_owner->m_pMonitorFeed = nullptr;
    Dispatch(held); // no monitor at all
    EXPECT_EQ(Deliveries().size(), 3u) << "the clients get the events whatever the monitors";
}

TEST_F(DispatchSwitchEvent, StatusReplyOnHoldOnlyWhileADogwoodIsLoggedIn) {
    const Bytes hold = Body('Q', {0, 2, 0, 1}, {'H'});
    Dispatch(hold);
    EXPECT_TRUE(Deliveries().empty());
    EXPECT_EQ(Normal(), 1u) << "the monitors still see it";

    m_owner->m_nKindLoginCounts[kCountBypassDogwood] = 1;
    Dispatch(hold);
    m_owner->m_nKindLoginCounts[kCountBypassDogwood] = 0;
    m_owner->m_nKindLoginCounts[kCountDogwood] = 2;
    Dispatch(hold);
    m_owner->m_nKindLoginCounts[kCountDogwood] = 0;
    Dispatch(Body('Q', {2, 0, 1}, {'F', 0x00, 3, 0, 1, 0xFF}));
    const std::vector<Delivered> got = Deliveries();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].device, "0201") << "the status reply keeps the number as sent";
    EXPECT_EQ(got[0].second, std::string(1, '\x01'));
    EXPECT_EQ(got[2].second, std::string(1, '\0'));
    EXPECT_EQ(got[2].all, 0);
}

TEST_F(DispatchSwitchEvent, OwnStatusQueryAnswerReachesClientsButNoMonitor) {
    Dispatch(Body('Q', {2, 0, 1}, {'m'}));
    EXPECT_EQ(Deliveries().size(), 1u);
    EXPECT_EQ(Normal(), 0u);
}

TEST_F(DispatchSwitchEvent, SetupToolAnswersAreWithheldAndSetTheCheckInterval) {
    // body[8..19], then the text: parameter at 9, sub-code at 10, text length at 14.
    auto info = [](std::uint8_t parameter, std::uint8_t subCode, Bytes text) {
        Bytes rest{0x00, parameter, subCode, 0, 0, 0, static_cast<std::uint8_t>(text.size()),
                   0,    0,         0,       0, 0};
        rest.insert(rest.end(), text.begin(), text.end());
        return Body('i', {2, 0, 1}, rest);
    };
    Dispatch(info(9, 1, {0, 30}));
    EXPECT_EQ(m_owner->m_nFirCheckInterval, 30);
    EXPECT_TRUE(g_hFirLinkCheckEvent.IsSet());
    g_hFirLinkCheckEvent.Reset();
    Dispatch(info(9, 1, {5, 30}));
    EXPECT_EQ(m_owner->m_nFirCheckInterval, -1);
    Dispatch(info(9, 1, {7, 30}));
    EXPECT_EQ(m_owner->m_nFirCheckInterval, -2);
    m_owner->m_nFirCheckInterval = 0;
    Dispatch(info(9, 1, {})); // an answer without its result is no success
    EXPECT_EQ(m_owner->m_nFirCheckInterval, -2);
    EXPECT_TRUE(g_hFirLinkCheckEvent.IsSet());
    g_hFirLinkCheckEvent.Reset();
    Dispatch(info(9, 2, {0, 30}));
    EXPECT_FALSE(g_hFirLinkCheckEvent.IsSet());
    EXPECT_EQ(m_owner->m_nFirCheckInterval, -2);
    EXPECT_TRUE(Deliveries().empty()) << "no client asked for the setup tool's answers";

    Dispatch(info(8, 1, {0, 30}));
    Dispatch(info(9, 3, {0, 30}));
    Dispatch(info(4, 1, {0, 30}));
    Dispatch(Body('i', {2, 0, 1}, {0x00, 9})); // no sub-code: it reads as 0xFF
    const std::vector<Delivered> got = Deliveries();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].second, "");
    EXPECT_EQ(got[0].all, 0);
    EXPECT_EQ(m_owner->m_nFirCheckInterval, -2);
    EXPECT_EQ(Normal(), 9u) << "every 'i' is copied to the message monitor";
}

TEST_F(DispatchSwitchEvent, DeviceNumberChangeRenamesTheEntry) {
    Download(DeviceRecord(1, {2, 0, 1}, 1));
    Download(kEndRecord);
    Dispatch(Body('m', {2, 0, 1}, {3, 0, 1, 0xFF}));
    ASSERT_EQ(Deliveries().size(), 1u);
    EXPECT_EQ(Deliveries()[0].second, "301");
    EXPECT_EQ(Ids(), (std::vector<std::string>{"301:1:1"}));

    // Without the new number the device keeps its own.
    Dispatch(Body('m', {3, 0, 1}));
    Dispatch(Body('m', {3, 0, 1}, {0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Deliveries().size(), 3u);
    EXPECT_EQ(Ids(), (std::vector<std::string>{"301:1:1"}));
}

TEST_F(DispatchSwitchEvent, DeviceRecordsAfterTheDownloadAreDeliveredAndStoredOnce) {
    Download(DeviceRecord(1, {2, 0, 1}, 1));
    Download(kEndRecord);
    const int type1 = m_table->GetCounter(SwitchDeviceTable::kType1);

    Dispatch(DeviceRecord(7, {2, 0, 1}, 2)); // stored already
    EXPECT_EQ(m_traces.CountPart("this device[201] is existing in the current list!!!"), 1);
    Dispatch(DeviceRecord(8, {2, 0, 3}, 3)); // type 3 raises the total alone
    Dispatch(DeviceRecord(9, {2, 0, 4}, 17));
    Dispatch(DeviceRecord(10, {2, 0, 5}, 7)); // not kept
    Dispatch(DeviceRecord(11, {2, 0, 6}, 20));

    EXPECT_EQ(Deliveries().size(), 5u) << "every 'A' reaches the clients";
    EXPECT_EQ(Ids(), (std::vector<std::string>{"201:1:1", "203:3:2", "204:1:3"}));
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kType3), 0);
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kType1), type1 + 1);
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kOtherTypes), 0);
    LineDeviceEntry* late = m_table->FindDevice("203");
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(late->m_EndRecord, m_table->FindDevice("201")->m_EndRecord)
        << "a late device ends the list as the first one does";

    // A second end record refreshes the end records; one without FF FF does nothing.
    const Bytes laterEnd = Body('A', {}, {0x00, 0x09});
    Dispatch(Body('A', {}, {0x00, 0x08}, 0x0001));
    EXPECT_EQ(m_table->FindDevice("204")->m_EndRecord[9], 0x00);
    Dispatch(laterEnd);
    EXPECT_EQ(m_table->FindDevice("204")->m_EndRecord[9], 0x09);
    EXPECT_EQ(
        m_traces.CountPart("Device Download Complete!!! --> Total Downloaded Device Count : 3"), 1);
}

// The handler on its own thread behind a real I/O queue on a loopback link to a test switch.
class OrbSWEventHandler : public EventHandlerFixture {
protected:
    void SetUp() override {
        EventHandlerFixture::SetUp();
        m_owner->m_nConnType = kConnTypeTcp;
        ASSERT_TRUE(m_switch.IsListening());
        auto* socket = new COrbSocket;
        g_pSwitchSocket = socket;
        ASSERT_EQ(socket->Connect(m_switch.Host(), m_switch.Port(), SOCK_STREAM, kWaitMs), 1);
        ASSERT_TRUE(m_switch.WaitForConnection(kWaitMs));
        m_queue = std::make_unique<COrbIOQueue>(m_owner.get());
        m_owner->m_pIOQueue = m_queue.get();
        m_queue->IOQueueStartThreads();
        g_bSwitchLinkUp = 1;
        g_hLinkAvailableEvent.Set();
        MakeHandler(); // after the queue, as the link start makes them
    }
    void TearDown() override {
        if (m_queue) {
            m_queue->IOQueueClose();
            EXPECT_TRUE(m_queue->JoinThreads());
        }
        m_handler.reset();
        m_queue.reset();
        m_owner->m_pIOQueue = nullptr;
        delete g_pSwitchSocket.exchange(nullptr);
        EventHandlerFixture::TearDown();
    }
    TestSwitch m_switch;
    std::unique_ptr<COrbIOQueue> m_queue;
};

TEST_F(OrbSWEventHandler, EndsWhenTheQueueClosesAndIsJoined) {
    ASSERT_EQ(m_handler->Start(), 1);
    m_switch.SendRecord(kEndRecord);
    m_switch.SendRecord(Body('E', {2, 0, 1}));
    ASSERT_TRUE(WaitForDeliveries(1));
    EXPECT_EQ(m_handler->IsAlive(), 1);

    m_queue->IOQueueClose();
    EXPECT_TRUE(m_handler->Join(kWaitMs));
    EXPECT_EQ(m_handler->IsAlive(), 0);
    EXPECT_EQ(m_handler->IsRunning(), 0);
    EXPECT_EQ(m_traces.CountPart("Switch Event Handler Thread Terminated!!"), 1);
}

TEST_F(OrbSWEventHandler, StopEmptiesTheTableAndTheNextRecordEndsTheThread) {
    ASSERT_EQ(m_handler->Start(), 1);
    m_switch.SendRecord(DeviceRecord(1, {2, 0, 1}, 1));
    m_switch.SendRecord(kEndRecord);
    m_switch.SendRecord(Body('E', {2, 0, 1}));
    ASSERT_TRUE(WaitForDeliveries(1));
    ClearDeliveries();

    EXPECT_EQ(m_handler->Stop(), 1);
    EXPECT_TRUE(Ids().empty());
    EXPECT_EQ(m_table->GetTotal(), 0);
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kType1), 1) << "the counters stay";
    m_switch.SendRecord(DeviceRecord(2, {2, 0, 2}, 1));
    EXPECT_TRUE(m_handler->Join(kWaitMs));
    EXPECT_EQ(m_handler->IsAlive(), 0);
    EXPECT_TRUE(Deliveries().empty()) << "a record after the stop is not handled";
    EXPECT_TRUE(Ids().empty());
}

namespace {

// A client application on loopback that collects the records the server sends it.
class ClientApp : public testsupport::PeerSocket {
public:
    explicit ClientApp(unsigned port) : PeerSocket(static_cast<int>(port)) {
        EXPECT_TRUE(Connected());
    }
};

} // namespace

// After a link failure the clients stay connected while the switch downloads its devices again:
// they get nothing until the end record, then the events their port and registration allow.
TEST_F(OrbSWEventHandler, ClientsGetNothingUntilTheRepeatedDownloadEnds) {
    testsupport::App();
    g_bDeviceListAvailable = 1; // the ports accept only while the list is available
    COrbClientConnectionManager clientPort(m_owner.get());
    COrbClientConnectionManager bypassPort(m_owner.get());
    const unsigned first = clienttest::Listen(clientPort, 0);
    const unsigned second = clienttest::Listen(bypassPort, 1);
    ClientApp registered(first), unregistered(first), bypass(second);
    COrbClientSocketUser* client = clienttest::WaitFor(clientPort, registered);
    ASSERT_NE(client, nullptr);
    client->m_bRegistered = 1;
    ASSERT_NE(clienttest::WaitFor(clientPort, unregistered), nullptr);
    ASSERT_NE(clienttest::WaitFor(bypassPort, bypass), nullptr);
    m_owner->m_pClientManager = &clientPort;
    m_owner->m_pBypassClientManager = &bypassPort;

    g_bDeviceListAvailable = 0; // the link failed; the switch sends its list again
    g_hDeviceDownloadDoneEvent.Set();
    auto handler = std::make_unique<COrbSWEventHandler>(m_owner.get()); // the real delivery
    ASSERT_EQ(handler->Start(), 1);
    EXPECT_EQ(handler->IsAlive(), 1);
    ASSERT_TRUE(WaitUntil([] { return !g_hDeviceDownloadDoneEvent.IsSet(); }, kWaitMs));
    m_switch.SendRecord(Body('E', {2, 0, 1}, {3, 0, 1, 0xFF}));
    m_switch.SendRecord(DeviceRecord(1, {2, 0, 1}, 17));
    m_switch.SendRecord(Body('N', {2, 0, 1}));
    m_switch.SendRecord(DeviceRecord(2, {2, 0, 2}, 9));
    m_switch.SendRecord(Body('Z', {}, {1, 'x'}));
    m_switch.SendRecord(DeviceRecord(3, {2, 0, 3}, 18));
    m_switch.SendRecord(DeviceRecord(4, {2, 0, 4}, 40));
    m_switch.SendRecord(DeviceRecord(5, {2, 0, 5}, 4));
    m_switch.SendRecord(kEndRecord);
    m_switch.SendRecord(Body('U', {}, {1, 'y'}));
    const Bytes connected = Body('E', {2, 0, 3}, {3, 0, 2, 0xFF});
    const Bytes hookOn = Body('N', {2, 0, 1}, {3, 0, 2, 0xFF});
    m_switch.SendRecord(connected);
    m_switch.SendRecord(hookOn);

    const std::vector<Bytes> expected{connected, hookOn};
    EXPECT_TRUE(testsupport::SpinUntil(
        [&] { return registered.Bodies().size() >= 2 && bypass.Bodies().size() >= 2; }));
    EXPECT_EQ(registered.Bodies(), expected);
    EXPECT_EQ(bypass.Bodies(), expected);
    EXPECT_TRUE(unregistered.Bodies().empty());
    EXPECT_TRUE(g_hDeviceDownloadDoneEvent.IsSet());
    EXPECT_EQ(Ids(), (std::vector<std::string>{"201:1:1", "203:2:2", "205:4:3"}));
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kType1), 1);
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kType2), 1);
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kType4), 1);
    EXPECT_EQ(m_table->GetCounter(SwitchDeviceTable::kOtherTypes), 1);
    EXPECT_EQ(m_table->GetTotal(), 3);
    {
        std::lock_guard<std::mutex> guard(m_feed.lock);
        EXPECT_EQ(m_feed.normal, expected) << "the monitors too see nothing before the end";
        EXPECT_EQ(m_feed.smdrMonitor.size(), 1u);
    }

    m_queue->IOQueueClose();
    EXPECT_TRUE(handler->Join(kWaitMs));
    handler.reset();
    m_owner->m_pClientManager = nullptr;
    m_owner->m_pBypassClientManager = nullptr;
}
