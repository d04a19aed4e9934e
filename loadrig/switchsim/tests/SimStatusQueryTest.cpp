#include "SimHandlerRig.h"
#include <switchsim/SimLink.h>
#include <switchsim/SimStatusQuery.h>

#include <testsupport/TestApp.h>

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpSocket>

#include <memory>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct QueryRig : SimHandlerRig {
    explicit QueryRig(int telNoSize = 4) : SimHandlerRig(telNoSize) {}

    // 02 'Q' FF FF <device> 00 <sub-letter>, then the rest.
    Bytes Query(int device, char subLetter, const Bytes& rest = {}) const {
        Bytes body = Request('Q', device, {static_cast<std::uint8_t>(subLetter)});
        body.insert(body.end(), rest.begin(), rest.end());
        return body;
    }
    void Ask(const Bytes& body) {
        query.HandleStatusQuery(body.data(), static_cast<int>(body.size()));
    }
    // The frame a single-frame sub-letter answers with.
    Bytes Answer(int device, char subLetter) {
        port.Clear();
        Ask(Query(device, subLetter));
        EXPECT_EQ(port.frames.size(), 1u) << subLetter;
        return port.frames.empty() ? Bytes{} : port.frames[0];
    }

    SimStatusQuery query{db, frames, trace, settings};
};

Bytes Concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST(SimStatusQueryTest, LinkCheckWithThreeDigitNumbers) {
    QueryRig rig(3);
    const Bytes frame = rig.Answer(201, 'm');
    EXPECT_EQ(frame, Concat({0x00, 0x16, 'Q', 0xFF, 0xFF, 2, 0, 1, 0x0F, 0x00, 'm', 0x01},
                            Bytes(12, 0x00)));
    EXPECT_EQ(rig.trace.totalSent, 1);
    EXPECT_EQ(rig.trace.Text(), ""); // counted, not traced

    // The fourth byte is the switch's 0x0F, whatever the request carried there.
    Bytes body = rig.Query(201, 'm');
    body[7] = 0x05;
    rig.port.Clear();
    rig.Ask(body);
    ASSERT_EQ(rig.port.frames.size(), 1u);
    EXPECT_EQ(rig.port.frames[0][8], 0x0F);
}

TEST(SimStatusQueryTest, DeviceRepliesOfAFreshlyBuiltRecord) {
    QueryRig rig;
    const Bytes d{2, 0, 0, 2}; // 2002, copied as received
    auto head = [&](std::uint8_t size, char letter, std::uint8_t subCode) {
        return Concat(Concat({0x00, static_cast<std::uint8_t>(size - 2),
                              static_cast<std::uint8_t>(letter), 0xFF, 0xFF},
                             d),
                      {0x00, subCode});
    };
    EXPECT_EQ(rig.Answer(2002, 'B'), Concat(head(12, 'Q', 'B'), {0x00}));
    EXPECT_EQ(rig.Answer(2002, 'M'), Concat(head(12, 'Q', 'M'), {0x00}));
    EXPECT_EQ(rig.Answer(2002, 'K'), Concat(head(16, 'K', 0x00), {1, 2, 3, 4, 0xFF}));
    EXPECT_EQ(rig.Answer(2002, 'D'), Concat(head(12, 'Q', 'D'), {0x00}));
    EXPECT_EQ(rig.Answer(2002, 'X'), Concat(head(12, 'X', 0xFF), {0x00}));
    EXPECT_EQ(rig.Answer(2002, 'F'), Concat(head(18, 'Q', 'F'), {0x10, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(rig.Answer(2002, 'Z'), Concat(head(14, 'Q', 'Z'), {0x00, 0x00, 0xFF}));
    // N, P and U answer under other sub-codes.
    EXPECT_EQ(rig.Answer(2002, 'N'), Concat(head(12, 'Q', 'Q'), {0x00}));
    EXPECT_EQ(rig.Answer(2002, 'P'), Concat(head(12, 'Q', 'w'), {0x00}));
    EXPECT_EQ(rig.Answer(2002, 'U'), Concat(head(12, 'Q', 'N'), {0x00}));
    EXPECT_EQ(rig.trace.totalSent, 10);
}

TEST(SimStatusQueryTest, DeviceRepliesCarryTheRecordsValues) {
    QueryRig rig;
    SimDeviceInfoBlock& info = rig.Dev(2003).info;
    info.listBCount = 2;
    info.listB[0] = {2, 0, 0, 5};
    info.listB[1] = {2, 0, 0, 6};
    info.listMCount = 9; // more than the list holds: only its five
    info.byteK = 7;
    info.byteD = 3;
    info.wordZ = 0x1234;
    info.byteN = 4;
    info.byteP = 5;
    info.byteU = 6;

    const Bytes b = rig.Answer(2003, 'B');
    ASSERT_EQ(b.size(), 20u);
    EXPECT_EQ(b[1], 18);
    EXPECT_EQ(Bytes(b.begin() + 11, b.end()), (Bytes{2, 2, 0, 0, 5, 2, 0, 0, 6}));
    const Bytes m = rig.Answer(2003, 'M');
    EXPECT_EQ(m.size(), 32u);
    EXPECT_EQ(m[11], 5);
    EXPECT_EQ(rig.Answer(2003, 'K')[10], 7);
    EXPECT_EQ(rig.Answer(2003, 'D')[11], 3);
    const Bytes z = rig.Answer(2003, 'Z');
    EXPECT_EQ(z[11], 0x12);
    EXPECT_EQ(z[12], 0x34);
    EXPECT_EQ(rig.Answer(2003, 'N')[11], 4);
    EXPECT_EQ(rig.Answer(2003, 'P')[11], 5);
    EXPECT_EQ(rig.Answer(2003, 'U')[11], 6);

    // The long 'F' form carries the digits; the count never reaches past them.
    info.codeF = 0x15;
    info.digitCountF = 3;
    info.digitsF[0] = 9;
    info.digitsF[1] = 8;
    info.digitsF[2] = 7;
    const Bytes f = rig.Answer(2003, 'F');
    ASSERT_EQ(f.size(), 21u);
    EXPECT_EQ(f[1], 19);
    EXPECT_EQ(Bytes(f.begin() + 16, f.end()), (Bytes{3, 9, 8, 7, 0x00}));
    info.digitCountF = 200;
    EXPECT_EQ(rig.Answer(2003, 'F').size(), 36u);

    // A station message set: its sixteen characters follow.
    info.stnMsgIndex = 2;
    const Bytes x = rig.Answer(2003, 'X');
    ASSERT_EQ(x.size(), 28u);
    EXPECT_EQ(x[1], 26);
    EXPECT_EQ(x[10], 2);
    EXPECT_EQ(x[11], 16);
    EXPECT_EQ(std::string(x.begin() + 12, x.end()),
              std::string(rig.db.stationMessages[2].begin(), rig.db.stationMessages[2].end()));
}

TEST(SimStatusQueryTest, QueriesThatAreNotAnswered) {
    QueryRig rig;
    // Unknown and lower-case sub-letters.
    rig.Ask(rig.Query(2001, 'b'));
    rig.Ask(rig.Query(2001, '?'));
    // Too short to carry the sub-letter.
    Bytes body = rig.Query(2001, 'm');
    body.pop_back();
    rig.Ask(body);
    rig.Ask({0x02, 'Q'});
    EXPECT_TRUE(rig.port.frames.empty());
    EXPECT_EQ(rig.trace.Text(), "");
    EXPECT_EQ(rig.trace.totalSent, 0);

    // Not connected: dropped, not counted.
    rig.port.connected = false;
    rig.Ask(rig.Query(2001, 'm'));
    EXPECT_TRUE(rig.port.framesWhileClosed.empty());
    EXPECT_EQ(rig.trace.totalSent, 0);
}

TEST(SimStatusQueryTest, AMissingDeviceIsTracedAndNotAnswered) {
    QueryRig rig;
    rig.Ask(rig.Query(999, 'm'));
    rig.Ask(rig.Query(999, 'G')); // the list sub-letters look the device up first too
    EXPECT_TRUE(rig.port.frames.empty());
    EXPECT_EQ(rig.trace.Text(), "[Error Report] Could not find the Device ID - 999\r\n"
                                "[Error Report] Could not find the Device ID - 999\r\n");

    // A padding byte in a counted place names no device, even where its sum would: 2 0 0 FF adds
    // up to 2255, and with 512 stations that is a station's number.
    QueryRig big;
    big.settings.stnCount = 512;
    big.settings.deviceCount = 520;
    big.db.BuildSwitchDatabase(big.settings);
    ASSERT_NE(big.db.FindDeviceIndex(2255), kSimNotFound);
    big.Ask({0x02, 'Q', 0xFF, 0xFF, 2, 0, 0, 0xFF, 0x00, 'm'});
    EXPECT_TRUE(big.port.frames.empty());
    EXPECT_EQ(big.trace.Text(), "[Error Report] Could not find the Device ID - 2255\r\n");
}

// The request dispatcher hands 'Q' and 'i' to their answers.
TEST(SimStatusQueryTest, TheLinkDispatchesQueriesAndDeviceInformation) {
    testsupport::App();
    SwitchSimSettings settings;
    settings.running = -1;
    settings.listenPort = 0;
    settings.stnCount = 8;
    settings.trkCount = 2;
    settings.deviceCount = 10;
    SimSwitchDatabase db;
    db.BuildSwitchDatabase(settings);
    SimTrace trace;
    trace.SetEnabled(true);
    SimLink link(settings, db, trace);
    ASSERT_TRUE(link.StartListening());

    QTcpSocket peer;
    Bytes received;
    QObject::connect(&peer, &QTcpSocket::readyRead, [&] {
        const QByteArray data = peer.readAll();
        received.insert(received.end(), data.begin(), data.end());
    });
    peer.connectToHost(QHostAddress::LocalHost, link.ListeningPort());
    ASSERT_TRUE(testsupport::SpinUntil([&] { return link.IsConnected(); }));

    const Bytes requests{
        0x00, 0x0A, 0x02, 'Q',  0xFF, 0xFF, 2,    0,    0,    1,    0x00, 'm',     // 24 bytes
        0x00, 0x13, 0x02, 'i',  0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 2, // 24 bytes
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    peer.write(reinterpret_cast<const char*>(requests.data()),
               static_cast<qint64>(requests.size()));
    ASSERT_TRUE(testsupport::SpinUntil([&] { return received.size() >= 48; }));
    EXPECT_EQ(received.size(), 48u);
    EXPECT_EQ(received[2], 'Q');
    EXPECT_EQ(received[10], 'm');
    EXPECT_EQ(received[24 + 2], 'i');
    EXPECT_EQ(received[24 + 12], 2);    // reply code of the link check
    EXPECT_EQ(received[24 + 17], 0xE0); // its only frame
    EXPECT_EQ(trace.totalReceived, 2);
    EXPECT_EQ(trace.totalSent, 2);
    EXPECT_EQ(trace.Text(), ""); // neither request nor answer is traced
    link.StopListening();
}

} // namespace
