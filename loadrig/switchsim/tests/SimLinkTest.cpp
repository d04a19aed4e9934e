#include <switchsim/SimLink.h>

#include <protocol/CtiRecord.h>
#include <testsupport/RecordReader.h>
#include <testsupport/TestApp.h>

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using testsupport::SpinFor;
using testsupport::SpinUntil;

const Bytes kKeepAlive{0x00, 0x09, 0x02, 'u', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
const Bytes kKeepAliveAnswer{0x00, 0x08, 'u', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes Record(const Bytes& body) {
    return protocol::CtiRecord::Encode(body);
}

// The link server's end: connects, writes raw bytes and cuts what comes back into frames.
class LinkServerEnd {
public:
    bool Connect(std::uint16_t port) {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            const QByteArray data = socket.readAll();
            reader.Feed(reinterpret_cast<const std::uint8_t*>(data.constData()),
                        static_cast<std::size_t>(data.size()));
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
        return SpinUntil([this] { return socket.state() == QAbstractSocket::ConnectedState; });
    }
    void Write(const Bytes& bytes) {
        socket.write(reinterpret_cast<const char*>(bytes.data()),
                     static_cast<qint64>(bytes.size()));
        socket.flush();
    }
    const std::vector<Bytes>& Frames() const { return reader.Frames(); }
    bool WaitFrames(std::size_t count) {
        return SpinUntil([&] { return Frames().size() >= count; });
    }
    bool WaitClosed() {
        return SpinUntil([this] { return socket.state() == QAbstractSocket::UnconnectedState; });
    }

    QTcpSocket socket;
    testsupport::RecordReader reader;
};

class SimLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        settings.running = -1;
        settings.listenPort = 0;
        settings.telNoSize = 4;
        settings.stnCount = 8;
        settings.trkCount = 2;
        settings.deviceCount = 10;
        db.BuildSwitchDatabase(settings);
        trace.SetEnabled(true);
        trace.SetLogSink([this](const std::string& line) { logLines.push_back(line); });
        link = std::make_unique<SimLink>(settings, db, trace);
        QObject::connect(link.get(), &SimLink::callSimEnabled,
                         [this](bool on) { callSim.push_back(on); });
        QObject::connect(link.get(), &SimLink::notice,
                         [this](const QString& text) { notices.push_back(text.toStdString()); });
        ASSERT_TRUE(link->StartListening());
        EXPECT_EQ(link->State(), SimLink::StateListening);
        EXPECT_EQ(link->RunStatusText(), "Listening... ");
        // Listen again on the same port after a link ends.
        settings.listenPort = link->ListeningPort();
    }

    // Connects a link server end and waits until the switch has taken it.
    void Connect(LinkServerEnd& end) {
        ASSERT_TRUE(end.Connect(settings.listenPort));
        ASSERT_TRUE(SpinUntil([this] { return link->State() == SimLink::StateConnected; }));
        EXPECT_EQ(link->LinkStatusText(), "PavoLinker : On ");
    }
    // Sends a keep-alive poll and waits for its answer: everything sent before has been handled.
    void Settle(LinkServerEnd& end) {
        const std::size_t before = end.Frames().size();
        end.Write(kKeepAlive);
        // Its answer comes last: the frames of a request that came before it may still be ahead.
        ASSERT_TRUE(SpinUntil([&] {
            const auto& frames = end.Frames();
            return frames.size() > before && frames.back() == kKeepAliveAnswer;
        }));
    }

    SwitchSimSettings settings;
    SimSwitchDatabase db;
    SimTrace trace;
    std::unique_ptr<SimLink> link;
    std::vector<bool> callSim;
    std::vector<std::string> notices;
    std::vector<std::string> logLines;
};

TEST_F(SimLinkTest, IAmAliveIsAnsweredWithTheDeviceDownload) {
    LinkServerEnd end;
    Connect(end);
    end.Write(Record({0x02, 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(end.WaitFrames(11));
    const auto frames = end.Frames();
    EXPECT_EQ(frames[0], (Bytes{0x00, 0x0A, 'A', 0, 0, 2, 0, 0, 1, 0, 2, 0}));
    EXPECT_EQ(frames[9], (Bytes{0x00, 0x0A, 'A', 0, 9, 7, 0, 0, 2, 0, 4, 0}));
    EXPECT_EQ(frames[10], (Bytes{0x00, 0x0A, 'A', 0xFF, 0xFF, 2, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(callSim, (std::vector<bool>{true}));
    EXPECT_EQ(trace.totalReceived, 1);
    EXPECT_EQ(trace.totalSent, 10);
    EXPECT_EQ(trace.Text(), ""); // neither the request nor the records are traced
}

TEST_F(SimLinkTest, APeerThatDoesNotReadIsNotReadFromAndLosesNothing) {
    // The peer asks for the device list over and over and reads nothing back: 132 bytes of
    // answers for every 17 of requests.
    QTcpSocket peer;
    peer.setReadBufferSize(1);
    peer.connectToHost(QHostAddress::LocalHost, settings.listenPort);
    ASSERT_TRUE(SpinUntil([&] { return link->State() == SimLink::StateConnected; }));
    const Bytes request =
        Record({0x02, 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0, 0, 0, 0, 0, 0});
    constexpr int kRequests = 150000;
    QByteArray flood;
    for (int i = 0; i < kRequests; ++i) {
        flood.append(reinterpret_cast<const char*>(request.data()),
                     static_cast<qsizetype>(request.size()));
    }
    peer.write(flood);
    qint64 mostUnsent = 0;
    const auto watch = [&] {
        mostUnsent = std::max(mostUnsent, link->UnsentBytes());
        return false;
    };
    SpinUntil(watch, std::chrono::milliseconds(1500));
    EXPECT_GT(mostUnsent, 0);
    // One read step's answers may come on top of the limit, no more.
    EXPECT_LE(mostUnsent, SimLink::kMaxUnsentBytes + SimLink::kReadChunk / 17 * 132 + 132);

    // Once the peer reads, every request is answered: however slowly a loaded machine sends
    // them, the wait ends only when the answers stop coming.
    peer.setReadBufferSize(0);
    qint64 received = 0;
    const qint64 expected = qint64{kRequests} * 11 * 12;
    for (qint64 before = -1; received < expected && received != before;) {
        before = received;
        SpinUntil(
            [&] {
                received += peer.readAll().size();
                watch();
                return received >= expected;
            },
            std::chrono::milliseconds(10000));
    }
    EXPECT_EQ(received, expected);
    EXPECT_LE(mostUnsent, SimLink::kMaxUnsentBytes + SimLink::kReadChunk / 17 * 132 + 132);
}

TEST_F(SimLinkTest, RecordsAreReassembledAcrossReceives) {
    LinkServerEnd end;
    Connect(end);
    // The length bytes alone, then the body: one answer.
    end.Write(Bytes(kKeepAlive.begin(), kKeepAlive.begin() + 2));
    SpinFor(std::chrono::milliseconds(50));
    end.Write(Bytes(kKeepAlive.begin() + 2, kKeepAlive.end()));
    ASSERT_TRUE(end.WaitFrames(1));
    // Two in one segment: both answered, in order.
    end.Write(Join({kKeepAlive, kKeepAlive}));
    ASSERT_TRUE(end.WaitFrames(3));
    // A record split in the middle of its body, sent with the start of the next one.
    const Bytes both = Join({kKeepAlive, kKeepAlive});
    end.Write(Bytes(both.begin(), both.begin() + 5));
    SpinFor(std::chrono::milliseconds(50));
    end.Write(Bytes(both.begin() + 5, both.begin() + 13));
    SpinFor(std::chrono::milliseconds(50));
    end.Write(Bytes(both.begin() + 13, both.end()));
    ASSERT_TRUE(end.WaitFrames(5));
    Settle(end);

    const auto frames = end.Frames();
    EXPECT_EQ(frames.size(), 6u);
    for (const Bytes& frame : frames) {
        EXPECT_EQ(frame, kKeepAliveAnswer);
    }
    EXPECT_EQ(trace.totalReceived, 6);
    EXPECT_EQ(trace.totalSent, 0); // keep-alive answers are not counted
    EXPECT_EQ(trace.Text(), "");
}

TEST_F(SimLinkTest, AnOverlongRecordIsLoggedAndTheBufferDropped) {
    LinkServerEnd end;
    Connect(end);
    const Bytes bad = Join({Bytes{0x01, 0x91, 0x02, 'u'}, kKeepAlive}); // length 401
    end.Write(bad);
    ASSERT_TRUE(SpinUntil([&] { return !trace.Text().empty(); }));
    EXPECT_EQ(trace.Text(), "[Error Report] On Receive, Msg Length is too big.[" +
                                std::to_string(bad.size()) + "]\r\n");
    // The link stays up and the next record is read afresh.
    Settle(end);
    EXPECT_EQ(end.Frames().size(), 1u);
    EXPECT_EQ(link->State(), SimLink::StateConnected);
    EXPECT_EQ(trace.totalReceived, 1);

    // 400 itself is accepted.
    Bytes longest{0x02, 'Z'};
    longest.resize(400, 0x00);
    end.Write(Record(longest));
    Settle(end);
    EXPECT_EQ(trace.totalReceived, 3);
}

TEST_F(SimLinkTest, RequestsAreCheckedLoggedAndCounted) {
    LinkServerEnd end;
    Connect(end);
    end.Write(Join({Record({0x05, 'u', 0xFF}),                           // not a request
                    Record({0x02}),                                      // no letter
                    Bytes{0x00, 0x00},                                   // empty record
                    Record({0x02, 'Q', 0xFF, 0xFF, 2, 0, 0, 1, 0, 'm'}), // a status reply
                    Record({0x02, 'i', 0xFF, 0xFF, 2, 0, 0, 1, 0}),      // no sub-type: no reply
                    Record({0x02, '?', 0xFF})}));
    Settle(end);
    ASSERT_EQ(end.Frames().size(), 2u);
    EXPECT_EQ(end.Frames()[0].size(), 24u);
    EXPECT_EQ(end.Frames()[0][2], 'Q');
    EXPECT_EQ(trace.totalReceived, 4);
    EXPECT_EQ(trace.Text(), "");

    // Call-control requests are traced before their handler runs.
    end.Write(Record({0x02, 'D', 0xFF, 0xFF, 2, 0, 0, 1, 0x00, 4, 2, 0, 0, 2}));
    Settle(end);
    EXPECT_EQ(trace.Text().rfind("-->> 02 'D' FF FF 02 00 00 01 00 04 02 00 00 02 \r\n", 0), 0u)
        << trace.Text();
    const auto frames = end.Frames();
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[2][2], 'I');
    EXPECT_EQ(frames[3][2], 'D');
    EXPECT_EQ(trace.totalReceived, 6);
    EXPECT_EQ(trace.totalSent, 3);
}

TEST_F(SimLinkTest, LinkOffClosesAndListensAgain) {
    int counts = 0;
    QObject::connect(link.get(), &SimLink::countsChanged, [&](double, double) { ++counts; });
    LinkServerEnd end;
    Connect(end);
    // Nobody else gets in while a link server is served.
    LinkServerEnd intruder;
    intruder.socket.connectToHost(QHostAddress::LocalHost, settings.listenPort);
    ASSERT_TRUE(intruder.WaitClosed());

    // A keep-alive behind the 'k' in the same segment goes with the connection.
    end.Write(Join({kKeepAlive, Record({0x02, 'k', 0xFF, 0xFF}), kKeepAlive}));
    ASSERT_TRUE(end.WaitClosed());
    EXPECT_EQ(end.Frames().size(), 1u);
    ASSERT_TRUE(SpinUntil([this] { return link->State() == SimLink::StateListening; }));
    EXPECT_EQ(link->LinkStatusText(), "PavoLinker : Off ");
    EXPECT_EQ(callSim, (std::vector<bool>{false}));
    EXPECT_EQ(trace.totalReceived, 2);
    EXPECT_EQ(counts, 2);
    EXPECT_TRUE(notices.empty());

    LinkServerEnd next;
    Connect(next);
    Settle(next);
}

TEST_F(SimLinkTest, PeerCloseListensAgain) {
    LinkServerEnd end;
    Connect(end);
    end.Write(Bytes{0x00, 0x09, 0x02}); // a partial record must not leak into the next link
    SpinFor(std::chrono::milliseconds(50));
    end.socket.disconnectFromHost();
    ASSERT_TRUE(SpinUntil([this] { return link->State() == SimLink::StateListening; }));
    EXPECT_EQ(link->LinkStatusText(), "PavoLinker : Off ");
    EXPECT_EQ(notices, (std::vector<std::string>{"Socket Listening State"}));

    LinkServerEnd next;
    Connect(next);
    Settle(next);
    EXPECT_EQ(next.Frames().size(), 1u);
    EXPECT_EQ(trace.totalReceived, 1);
}

TEST_F(SimLinkTest, ConnectionsAreRefusedWhileNotRunning) {
    settings.running = 0;
    LinkServerEnd end;
    end.socket.connectToHost(QHostAddress::LocalHost, settings.listenPort);
    ASSERT_TRUE(end.WaitClosed());
    EXPECT_EQ(link->State(), SimLink::StateListening);
    EXPECT_FALSE(link->IsConnected());
    link->SendFrame(kKeepAliveAnswer); // dropped without a connection
}

TEST_F(SimLinkTest, StopClosesEverything) {
    LinkServerEnd end;
    Connect(end);
    end.Write(Record({0x02, 'a', 0xFF, 0xFF}));
    ASSERT_TRUE(end.WaitFrames(11));
    link->StopListening();
    EXPECT_EQ(link->State(), SimLink::StateClosed);
    EXPECT_EQ(link->RunStatusText(), "Stopped ");
    EXPECT_EQ(link->LinkStatusText(), "PavoLinker : Off ");
    ASSERT_TRUE(end.WaitClosed());
    link->Frames().BuildFrameI(2001);
    EXPECT_EQ(trace.totalSent, 10);

    // The port is free again for the next Run.
    EXPECT_TRUE(link->StartListening());
    LinkServerEnd next;
    Connect(next);
}

TEST_F(SimLinkTest, APortInUseIsReported) {
    SimLink other(settings, db, trace);
    QString failure;
    QObject::connect(&other, &SimLink::listenFailed, [&](const QString& text) { failure = text; });
    EXPECT_FALSE(other.StartListening());
    EXPECT_EQ(other.State(), SimLink::StateClosed);
    EXPECT_TRUE(failure.startsWith("Listen Error : ")) << failure.toStdString();
    ASSERT_FALSE(logLines.empty());
    EXPECT_EQ(logLines.back().rfind("[Error Report] Listen Error : ", 0), 0u);
}

TEST(SimLinkStates, StateTexts) {
    EXPECT_EQ(SimLink::StateText(0), "Socket Closed State");
    EXPECT_EQ(SimLink::StateText(2), "Socket Listening State");
    EXPECT_EQ(SimLink::StateText(7), "Socket Connected State");
    EXPECT_EQ(SimLink::StateText(9), "Socket Error State");
    EXPECT_EQ(SimLink::StateText(10), "Socket State : Unknown");
    EXPECT_EQ(SimLink::StateText(-1), "Socket State : Unknown");
}

} // namespace
