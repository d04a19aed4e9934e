#include "LogHooksFake.h"
#include "PtySwitch.h"
#include "TraceCapture.h"
#include <engine/LinkState.h>
#include <engine/OrbIOQueue.h>
#include <engine/OrbManagerDlg.h>
#include <engine/OrbSWServiceController.h>
#include <engine/OrbSocket.h>
#include <engine/SerialPort.h>
#include <engine/SwitchDeviceTable.h>
#include <testsupport/TestApp.h>
#include <testsupport/TestSwitch.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace engine;

using testsupport::TestSwitch;

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kIAmAlive{0x02, 0x61, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                      0x20, 0x02, 0x02, 0x20, 0x02, 0x01, 0x81};
const Bytes kPollRecord{0x00, 0x09, 0x02, 0x75, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
const Bytes kQuery202Record{0x00, 0x0A, 0x02, 0x51, 0xFF, 0xFF, 0x02, 0x00, 0x02, 0xFF, 0x00, 0x6D};
const Bytes kSerialLinkClear{0x02, 0x6B, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

Bytes Record(const Bytes& body) {
    Bytes record{static_cast<std::uint8_t>(body.size() >> 8),
                 static_cast<std::uint8_t>(body.size() & 0xFF)};
    record.insert(record.end(), body.begin(), body.end());
    return record;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes DeviceRecord(std::vector<std::uint8_t> digits, std::uint8_t type) {
    Bytes body{'A', 0x00, 0x01};
    digits.resize(4, 0xFF);
    body.insert(body.end(), digits.begin(), digits.end());
    body.push_back(0x00);
    body.push_back(type);
    body.push_back(0x00);
    return body;
}

// The main dialog whose transport never opens.
class NoTransportDlg : public COrbManagerDlg {
public:
    int OpenConnection() override {
        ++opens;
        return 0;
    }
    std::atomic<int> opens{0};
};

class OrbSWServiceController : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        Prepare(dlg);
    }
    void TearDown() override {
        if (HasFailure())
            std::fprintf(stderr, "trace:\n%s", traces.All().c_str());
        if (controller)
            controller->Stop();
        dlg.DeleteLinkHandle();
        if (queue) {
            queue->IOQueueClose();
            queue->JoinThreads();
        }
        controller.reset();
        queue.reset();
        dlg.m_pServiceController = nullptr;
        dlg.m_pIOQueue = nullptr;
        dlg.m_pDeviceTable = nullptr;
        dlg.SetShellHooks(nullptr);
        ResetLinkState();
    }

    void Prepare(COrbManagerDlg& owner) {
        owner.SetShellHooks(&hooks);
        owner.SetResourceLookup([](int id) { return "ids" + std::to_string(id); });
        LinkTimings& t = owner.m_timings;
        t.keepAliveIntervalMs = 60;
        t.sanityTimeoutMs = 60000;
        t.enqAckWaitMs = 1000;
        t.frameAckWaitMs = 1000;
        t.serialSettleMs = 20;
        t.linkClearWaitMs = 20;
        t.dialoguePauseMs = 20;
        t.dialogueLongPauseMs = 20;
        t.serialLinkDownPollMs = 20;
    }

    // The TCP link to the test switch, the queue with its threads and the controller.
    void StartTcp(TestSwitch& sw) {
        dlg.m_nConnType = kConnTypeTcp;
        auto* socket = new COrbSocket;
        ASSERT_EQ(socket->Connect(sw.Host(), sw.Port(), SOCK_STREAM), 1);
        g_pSwitchSocket = socket;
        ASSERT_TRUE(sw.WaitForConnection(2000));
        StartEngine();
    }

    void StartEngine() {
        queue = std::make_unique<COrbIOQueue>(&dlg);
        dlg.m_pIOQueue = queue.get();
        queue->IOQueueStartThreads();
        controller = std::make_unique<COrbSWServiceController>(&dlg);
        dlg.m_pServiceController = controller.get();
        ASSERT_EQ(controller->Start(), 1);
    }

    // The pty switch as COM1, and the port open on it.
    void OpenSerial(PtySwitch& sw, int connType, int readTimeoutMs = 1000) {
        ASSERT_TRUE(sw.MapAsComPort(1));
        dlg.m_nConnType = connType;
        SerialTimeouts timeouts;
        timeouts.readConstantMs = readTimeoutMs;
        dlg.m_pSerialPort = new SerialPort(timeouts);
        ASSERT_EQ(dlg.m_pSerialPort->Open(1), 1);
    }

    PtySwitch::TempRegistry registry;
    TraceCapture traces;
    LogHooksFake hooks;
    COrbManagerDlg dlg;
    std::unique_ptr<COrbIOQueue> queue;
    std::unique_ptr<COrbSWServiceController> controller;
};

} // namespace

TEST_F(OrbSWServiceController, TcpAnnouncesThenPollsAndQueriesOnlyAfterTheDownload) {
    TestSwitch sw;
    SwitchDeviceTable table(&dlg);
    table.AddDevice("300", DeviceRecord({3, 0, 0}, 3), 3, 1);
    dlg.m_pDeviceTable = &table;
    dlg.m_nRetryCount = 3;
    ASSERT_NO_FATAL_FAILURE(StartTcp(sw));

    ASSERT_TRUE(sw.WaitForRecords(1, 2000));
    EXPECT_EQ(sw.Records().front().bytes, Record(kIAmAlive));
    EXPECT_EQ(g_bSwitchLinkUp, 1);
    EXPECT_TRUE(g_hLinkAvailableEvent.IsSet());
    EXPECT_TRUE(traces.Has("Sending I Am Alive Command to Switch!!!"));
    EXPECT_TRUE(queue->HasSanityThread());

    // The download runs: its records alone keep the link; nothing else is sent.
    std::this_thread::sleep_for(std::chrono::milliseconds(6 * dlg.m_timings.keepAliveIntervalMs));
    EXPECT_EQ(sw.RecordCount(), 1u);
    EXPECT_EQ(dlg.m_nRetryCount, 3);

    // No device of kind 1 or 2: each tick is the poll alone.
    g_bDeviceListAvailable = 1;
    ASSERT_TRUE(sw.WaitForRecords(4, 3000));
    std::vector<TestSwitch::Record> records = sw.Records();
    for (std::size_t i = 1; i < records.size(); ++i)
        EXPECT_EQ(records[i].bytes, kPollRecord) << i;
    EXPECT_EQ(dlg.m_nRetryCount, 0);
    EXPECT_TRUE(testsupport::SpinUntil([&] { return hooks.purges >= 3; }));
    EXPECT_TRUE(hooks.Has("0:ids215"));
    EXPECT_EQ(hooks.logos.load(), 1) << "once, when the link is back after the restarts";
    EXPECT_EQ(hooks.Statuses(), std::vector<std::string>{"ids103"}) << "the link is up again";

    // With one, each poll is followed by the status query of the first of them.
    table.AddDevice("202", DeviceRecord({2, 0, 2}, 2), 2, 2);
    table.AddDevice("201", DeviceRecord({2, 0, 1}, 1), 1, 3);
    const std::size_t from = sw.RecordCount();
    ASSERT_TRUE(sw.WaitForRecords(from + 6, 3000));
    records = sw.Records();
    std::size_t at = from;
    while (at < records.size() && records[at].bytes != kPollRecord)
        ++at; // a tick that was running when the devices came
    ASSERT_LT(at + 3, records.size());
    EXPECT_EQ(records[at + 1].bytes, kQuery202Record);
    EXPECT_EQ(records[at + 2].bytes, kPollRecord);
    EXPECT_EQ(records[at + 3].bytes, kQuery202Record);

    // The records seen were written by a tick that may still be running; a stop that lands
    // inside a tick ends the loop at its top instead of through the stop event.
    std::this_thread::sleep_for(std::chrono::milliseconds(dlg.m_timings.keepAliveIntervalMs / 3));
    controller->Stop();
    EXPECT_TRUE(controller->Join(2000));
    EXPECT_EQ(controller->IsAlive(), 0);
    EXPECT_EQ(controller->IsRunning(), 0);
    EXPECT_EQ(g_bSwitchLinkUp, 0);
    EXPECT_TRUE(traces.Has("Terminating Switch Service Controller!!!"));
    EXPECT_EQ(dlg.m_bRestartRequest, 0);
}

TEST_F(OrbSWServiceController, SetupToolRequestsCarryTheirBodies) {
    TestSwitch sw;
    dlg.m_strSysInfoPassword = "4711";
    {
        COrbSWServiceController idle(&dlg);
        EXPECT_EQ(idle.SendFirStartRequest(), 0) << "no queue to take it";
    }
    ASSERT_NO_FATAL_FAILURE(StartTcp(sw));
    ASSERT_TRUE(sw.WaitForRecords(1, 2000));

    EXPECT_EQ(controller->SendFirStartRequest(), 1);
    EXPECT_EQ(controller->SendFirLinkCheck(), 1);
    ASSERT_TRUE(sw.WaitForRecords(3, 2000));
    const std::vector<TestSwitch::Record> records = sw.Records();
    const Bytes start = records[1].Body();
    ASSERT_EQ(start.size(), 28u);
    EXPECT_EQ(start[1], 'i');
    EXPECT_EQ(start[8], 1) << "argument";
    EXPECT_EQ(Bytes(start.begin() + 4, start.begin() + 8), (Bytes{2, 0, 1, 0xFF}));
    EXPECT_EQ(Bytes(start.begin() + 20, start.end()), Text("4711    "));
    EXPECT_TRUE(traces.Has("Sending Fir Start Request Command to Switch!!!"));
    const Bytes check = records[2].Body();
    ASSERT_EQ(check.size(), 19u);
    EXPECT_EQ(check[1], 'i');
    EXPECT_EQ(check[8], 0);
}

TEST_F(OrbSWServiceController, StopEndsTheThreadAtOnceWhileUpOrInTheStartDialogue) {
    {
        TestSwitch sw;
        dlg.m_timings.keepAliveIntervalMs = 13000;
        ASSERT_NO_FATAL_FAILURE(StartTcp(sw));
        ASSERT_TRUE(sw.WaitForRecords(1, 2000));
        controller->Stop();
        EXPECT_TRUE(controller->Join(1000)) << "the keep-alive wait ends on the stop event";
        EXPECT_EQ(controller->IsAlive(), 0);
        dlg.DeleteLinkHandle();
        queue.reset();
        controller.reset();
    }
    ResetLinkState();

    // The start dialogue's pauses (3 s, 1 s, 5 s) are waits on the stop event too.
    dlg.m_timings = LinkTimings();
    PtySwitch sw;
    ASSERT_NO_FATAL_FAILURE(OpenSerial(sw, kConnTypeSim));
    ASSERT_NO_FATAL_FAILURE(StartEngine());
    ASSERT_TRUE(sw.Expect({0x02, 0x19, 0x05}, 3000));
    controller->Stop();
    EXPECT_TRUE(controller->Join(1000));
    EXPECT_EQ(controller->IsAlive(), 0);
    EXPECT_EQ(dlg.m_bRestartRequest, 0) << "a stop is no failure";
    EXPECT_TRUE(traces.Has("Terminating the Switch Service Controller!!!"));
    EXPECT_TRUE(sw.QuietFor(100)) << "nothing more of the dialogue is written";
}

TEST_F(OrbSWServiceController, FailedInitialisationLeavesARestartRequest) {
    NoTransportDlg owner;
    Prepare(owner);
    owner.m_nConnType = kConnTypeTcp;
    {
        COrbSWServiceController ctl(&owner);
        ASSERT_EQ(ctl.Start(), 1);
        EXPECT_TRUE(ctl.Join(2000));
        EXPECT_EQ(ctl.IsAlive(), 0);
        EXPECT_EQ(ctl.IsRunning(), 0);
    }
    EXPECT_EQ(owner.opens, 1) << "a TCP link without a socket is opened again";
    EXPECT_EQ(owner.m_bRestartRequest, 1);
    EXPECT_TRUE(traces.Has("InitializeSW() --> Socket Handler is NULL!!!"));
    EXPECT_TRUE(traces.Has("[ERROR] InitializeSW() --> Fail to make the new connection handle!!!"));
    EXPECT_EQ(g_bSwitchLinkUp, 0);

    owner.m_bRestartRequest = 0;
    owner.m_nConnType = 5;
    {
        COrbSWServiceController ctl(&owner);
        EXPECT_EQ(ctl.InitializeSW(), 0);
    }
    EXPECT_TRUE(traces.Has("[ERROR] Unknown Link Type!!!"));

    // A serial link whose port cannot be made again fails the same way.
    owner.m_nConnType = kConnTypeDirectSerial;
    {
        COrbSWServiceController ctl(&owner);
        ASSERT_EQ(ctl.Start(), 1);
        EXPECT_TRUE(ctl.Join(2000));
    }
    EXPECT_TRUE(traces.Has("InitializeSW() --> COM Port Handle is NULL!!!"));
    EXPECT_EQ(owner.m_bRestartRequest, 1);
    owner.SetShellHooks(nullptr);
}

TEST_F(OrbSWServiceController, LinkFailureEndsTheLoopAndIsLogged) {
    TestSwitch sw;
    dlg.m_timings.sanityTimeoutMs = 150;
    ASSERT_NO_FATAL_FAILURE(StartTcp(sw));
    ASSERT_TRUE(sw.WaitForRecords(1, 2000));
    // The switch stays silent: the sanity thread ends the link.
    ASSERT_TRUE(WaitUntil([&] { return controller->IsAlive() == 0; }, 5000));
    EXPECT_TRUE(controller->Join(1000));
    EXPECT_EQ(g_bSwitchLinkUp, 0);
    EXPECT_EQ(dlg.m_bRestartRequest, 0) << "the liveness check restarts a lost link";
    EXPECT_TRUE(testsupport::SpinUntil([&] { return hooks.Lines().size() >= 2; }));
    EXPECT_EQ(hooks.Lines(), (std::vector<std::string>{"1:ids210", "1:ids211"}));
    EXPECT_TRUE(traces.Has("ids210"));
    EXPECT_TRUE(traces.Has("ids211"));
}

// A reader that fails the link marks it down, then gives up the socket and announces the
// failure; a controller that looks in between must not bring the link up again (with the socket
// gone it would open a second connection beside the failing one).
TEST_F(OrbSWServiceController, ALinkFoundDownBeforeItsFailureIsAnnouncedIsNotBroughtUpAgain) {
    TestSwitch sw;
    ASSERT_NO_FATAL_FAILURE(StartTcp(sw));
    ASSERT_TRUE(sw.WaitForRecords(1, 2000));
    ASSERT_EQ(g_bSwitchLinkUp, 1);
    // The keep-alive wait (60 ms) times out and the controller looks at the link again.
    g_bSwitchLinkUp = 0;
    ASSERT_TRUE(WaitUntil([&] { return controller->IsAlive() == 0; }, 5000));
    EXPECT_TRUE(controller->Join(1000));
    EXPECT_EQ(sw.RecordCount(), 1u) << "one I-am-alive";
    EXPECT_EQ(g_bSwitchLinkUp, 0);
    EXPECT_EQ(dlg.m_bRestartRequest, 0) << "the liveness check restarts a lost link";
    EXPECT_TRUE(testsupport::SpinUntil([&] { return hooks.Lines().size() >= 2; }));
    EXPECT_EQ(hooks.Lines(), (std::vector<std::string>{"1:ids210", "1:ids211"}));
}

TEST_F(OrbSWServiceController, ScriptedStartDialogueOverTheSerialLine) {
    PtySwitch sw;
    ASSERT_NO_FATAL_FAILURE(OpenSerial(sw, kConnTypeSim));
    ASSERT_NO_FATAL_FAILURE(StartEngine());

    EXPECT_TRUE(sw.Expect({0x02, 0x19, 0x05}, 2000));
    EXPECT_TRUE(sw.Expect({'A'}, 2000));
    EXPECT_TRUE(sw.Expect({'T'}, 2000));
    EXPECT_TRUE(sw.Expect({0x0D}, 2000));
    // Only the length of the prompt counts; "CTI\r" waits for all eight bytes.
    ASSERT_TRUE(sw.Send(Text("QMX")));
    EXPECT_TRUE(sw.QuietFor(200));
    ASSERT_TRUE(sw.Send(Text("junk!")));
    EXPECT_TRUE(sw.Expect(Text("CTI\r"), 2000));
    EXPECT_EQ(g_bSwitchLinkUp, 0) << "not before the echo";
    sw.AutoAnswer(PtySwitch::Answer::Ack, PtySwitch::Answer::Ack);
    ASSERT_TRUE(sw.Send(Text("CTX")));

    const std::optional<Bytes> first = sw.WaitBody(3000);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, kIAmAlive);
    EXPECT_EQ(g_bSwitchLinkUp, 1);
    EXPECT_TRUE(traces.Has("Received the Response [QMXData>]!!!"));
    EXPECT_TRUE(traces.Has("Link Initialization Success!!!"));
}

TEST_F(OrbSWServiceController, ScriptedStartFailsWithoutPromptOrEcho) {
    PtySwitch sw;
    ASSERT_NO_FATAL_FAILURE(OpenSerial(sw, kConnTypeSim, 100));
    COrbSWServiceController ctl(&dlg);
    EXPECT_EQ(ctl.InitializeSW(), 0);
    EXPECT_TRUE(traces.Has("[ERROR] Unable to get Response from the Switch!!!"));
    EXPECT_FALSE(traces.Has("Waiting for CTI Echo!!!"));

    sw.DiscardPending();
    auto result = std::async(std::launch::async, [&] { return ctl.InitializeSW(); });
    ASSERT_TRUE(sw.Expect({0x02, 0x19, 0x05, 'A', 'T', 0x0D}, 2000));
    ASSERT_TRUE(sw.Send(Text("QMXData>")));
    EXPECT_TRUE(sw.Expect(Text("CTI\r"), 2000));
    EXPECT_EQ(result.get(), 0);
    EXPECT_TRUE(traces.Has("[ERROR] Unable to receive CTI Echo!!!"));
    EXPECT_FALSE(traces.Has("Link Initialization Success!!!"));
}

TEST_F(OrbSWServiceController, DirectCableClearsTheLinkOnceUpThenAnnounces) {
    PtySwitch sw;
    sw.AutoAnswer(PtySwitch::Answer::Ack, PtySwitch::Answer::Ack);
    ASSERT_NO_FATAL_FAILURE(OpenSerial(sw, kConnTypeDirectSerial));
    ASSERT_NO_FATAL_FAILURE(StartEngine());

    const std::optional<Bytes> first = sw.WaitBody(3000);
    const std::optional<Bytes> second = sw.WaitBody(3000);
    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(*first, kSerialLinkClear);
    EXPECT_EQ(*second, kIAmAlive);
    EXPECT_EQ(g_bSwitchLinkUp, 1);
    const long clearing = traces.IndexOf("Clearing the previous Link Information. Please, Wait...");
    const long success = traces.IndexOf("Link Initialization Success!!!");
    const long alive = traces.IndexOf("Sending I Am Alive Command to Switch!!!");
    EXPECT_GE(success, 0);
    EXPECT_GT(clearing, success);
    EXPECT_GT(alive, clearing);
}
