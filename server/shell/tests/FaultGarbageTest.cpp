// Garbage on every port: random bytes, lengths out of range and records cut off, from clients
// that logged in and from ones that did not, and on the three monitor ports. The server stays up,
// hands the switch only records some client sent whole, and goes on serving everyone else.

#include "FaultRig.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <utility>

using testsupport::TestSwitch;

namespace {

using namespace fault_test;

// Whether the server has read all this client sent, if it is on port `portA` or `portB`: nothing
// left on the client's side, nothing unread on the server's end (or that end is gone). Other
// ports are not waited for: a monitor port need not read past its start request.
bool ServerReadAll(const RigClient& client, int portA, int portB) {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    if (client.Fd() < 0 ||
        ::getpeername(client.Fd(), reinterpret_cast<sockaddr*>(&peer), &size) != 0)
        return true; // no longer connected: nothing more is read
    const unsigned long serverPort = ntohs(peer.sin_port);
    if (serverPort != static_cast<unsigned long>(portA) &&
        serverPort != static_cast<unsigned long>(portB))
        return true;
    int unsent = 0;
    if (::ioctl(client.Fd(), SIOCOUTQ, &unsent) == 0 && unsent > 0)
        return false;
    const unsigned long port = client.LocalPort();
    const auto portOf = [](const std::string& address) {
        const std::size_t colon = address.rfind(':');
        return colon == std::string::npos ? 0ul
                                          : std::stoul(address.substr(colon + 1), nullptr, 16);
    };
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line); // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues;
            if (!(fields >> slot >> local >> remote >> state >> queues))
                continue;
            if (portOf(remote) != port || portOf(local) != serverPort)
                continue;
            if (std::stoul(queues.substr(queues.find(':') + 1), nullptr, 16) > 0)
                return false;
        }
    }
    return true;
}

// Letters the server answers itself; everything else a registered client sends is forwarded.
const std::string kLocalLetters = "45789akuic";

Bytes RandomBytes(std::mt19937& random, std::size_t count) {
    Bytes bytes(count);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

// A request the server forwards: 0x02, a letter it does not handle itself, random parameters.
Bytes ForwardedRequest(std::mt19937& random) {
    const std::size_t length = 4 + random() % 60;
    Bytes body = RandomBytes(random, length);
    body[0] = 0x02;
    do {
        body[1] = static_cast<std::uint8_t>('A' + random() % 58);
    } while (kLocalLetters.find(static_cast<char>(body[1])) != std::string::npos);
    Bytes record{0x00, static_cast<std::uint8_t>(length)};
    record.insert(record.end(), body.begin(), body.end());
    return record;
}

// A record that keeps the stream in step but that the server must not forward as it is: too
// short for a letter, not a request, or one it does forward.
Bytes FramedRecord(std::mt19937& random) {
    switch (random() % 4) {
    case 0: {
        const std::size_t length = 1 + random() % 3;
        Bytes bytes{0x00, static_cast<std::uint8_t>(length)};
        const Bytes body = RandomBytes(random, length);
        bytes.insert(bytes.end(), body.begin(), body.end());
        return bytes;
    }
    case 1: {
        Bytes bytes = ForwardedRequest(random);
        bytes[2] = static_cast<std::uint8_t>(0x03 + random() % 0xF0);
        return bytes;
    }
    default:
        return ForwardedRequest(random);
    }
}

// One run of a hostile stream that soon loses its step.
Bytes GarbageRun(std::mt19937& random) {
    switch (random() % 6) {
    case 0:
        return RandomBytes(random, 1 + random() % 80);
    case 1: { // a length beyond any record, with some of its announced body
        Bytes bytes{static_cast<std::uint8_t>(0x01 + random() % 0xFF),
                    static_cast<std::uint8_t>(random())};
        const Bytes tail = RandomBytes(random, random() % 100);
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        return bytes;
    }
    case 2:
        return Bytes{0x00, 0x00};
    case 3: { // a record cut off halfway
        Bytes bytes = ForwardedRequest(random);
        bytes.resize(2 + (bytes.size() - 2) / 2);
        return bytes;
    }
    default:
        return ForwardedRequest(random);
    }
}

class FaultGarbage : public ::testing::Test {
protected:
    FaultGarbage() : m_rig(RigOptions{true, 3}) {}

    void SetUp() override {
        ASSERT_TRUE(m_rig.Start());
        ASSERT_TRUE(m_observer.Connect(m_rig.ClientPort()));
        ASSERT_TRUE(m_observer.Login());
        ASSERT_TRUE(m_observer.WaitListEnd(10000));
        ASSERT_TRUE(m_monitor.Connect(m_rig.MonitorPorts()[0]));
        ASSERT_TRUE(m_monitor.StartMonitor());
        // Both settled once an event reaches both.
        ASSERT_TRUE(WaitFor(
            [&] {
                m_rig.SendEvent(m_seq++);
                return m_observer.WaitEvents(1, 200) && m_monitor.WaitEvents(1, 200);
            },
            10000, 1));
        m_first = m_seq;
    }

    // Writes the stream in parts of random size, so the server sees every kind of cut; what
    // was written is kept for the check of what reached the switch.
    void SendHostile(RigClient& client, const Bytes& stream, std::mt19937& random) {
        std::size_t at = 0;
        while (at < stream.size()) {
            const std::size_t size = std::min<std::size_t>(1 + random() % 300, stream.size() - at);
            const Bytes part(stream.begin() + static_cast<std::ptrdiff_t>(at),
                             stream.begin() + static_cast<std::ptrdiff_t>(at + size));
            if (!client.SendRaw(part))
                break; // closed by the server: fair for garbage
            at += size;
            m_rig.SendEvent(m_seq++);
            m_observer.Pump();
            m_monitor.Pump();
            if (random() % 4 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        m_sent.emplace_back(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(at));
    }

    // A stream of garbage runs, behind the login bytes when given.
    static Bytes HostileStream(std::mt19937& random, const Bytes& login, int runs, bool framed) {
        Bytes stream = login;
        for (int i = 0; i < runs; ++i) {
            const Bytes run = framed ? FramedRecord(random) : GarbageRun(random);
            stream.insert(stream.end(), run.begin(), run.end());
        }
        return stream;
    }

    // True when the record (length bytes included) lies whole, as one run, in what one
    // client sent.
    bool SentWhole(const Bytes& record) const {
        return std::any_of(m_sent.begin(), m_sent.end(), [&](const Bytes& stream) {
            return std::search(stream.begin(), stream.end(), record.begin(), record.end()) !=
                   stream.end();
        });
    }

    BrovikRig m_rig;
    RigClient m_observer;
    RigClient m_monitor;
    std::uint16_t m_seq = 0;
    std::uint16_t m_first = 0;
    std::vector<Bytes> m_sent;
};

TEST_F(FaultGarbage, EveryPortSurvivesGarbageAndTheSwitchGetsOnlyWholeRecords) {
    std::mt19937 random(20240611);
    const Bytes clientLogin{0x00, 0x0A, 0x02, 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 6, 0x00};
    const Bytes bypassLogin{0x00, 0x0A, 0x02, 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 9, 0x00};
    std::vector<int> ports{m_rig.ClientPort(), m_rig.BypassPort()};
    for (const int port : m_rig.MonitorPorts())
        ports.push_back(port);

    for (int round = 0; round < 3; ++round) {
        // Kept open until the server has read it all: a client that is gone has its unread
        // records dropped, which would leave the forwarding untried.
        std::vector<std::unique_ptr<RigClient>> open;
        for (std::size_t p = 0; p < ports.size(); ++p) {
            const bool clientPort = p < 2;
            // Logged in first (client ports only), so that garbage gets as far as forwarding;
            // kind 2 keeps its records in step.
            for (const int kind : {0, 1, 2}) {
                const bool loggedIn = kind > 0;
                if (loggedIn && !clientPort)
                    continue;
                open.push_back(std::make_unique<RigClient>());
                RigClient& hostile = *open.back();
                ASSERT_TRUE(hostile.Connect(ports[p])) << "port " << ports[p] << " round " << round;
                if (loggedIn) {
                    ASSERT_TRUE(hostile.SendRaw(p == 0 ? clientLogin : bypassLogin));
                    ASSERT_TRUE(hostile.WaitUntil(
                        [&] {
                            return p == 0 ? hostile.HasListEnd()
                                          : !hostile.Stream().Bodies().empty();
                        },
                        10000))
                        << "login on port " << ports[p];
                }
                SendHostile(hostile, HostileStream(random, {}, 150, kind == 2), random);
                // Some end on a record half sent.
                if (random() % 2 == 0)
                    hostile.SendRaw(Bytes{0x00, 0x30, 0x02, 'D', 0xFF});
                hostile.Pump();
                EXPECT_FALSE(hostile.Stream().Broken()) << "port " << ports[p];
            }
        }
        // Pure noise, and a monitor start request cut off, on every port.
        for (const int port : ports) {
            open.push_back(std::make_unique<RigClient>());
            ASSERT_TRUE(open.back()->Connect(port));
            SendHostile(*open.back(), RandomBytes(random, 4096), random);
            open.push_back(std::make_unique<RigClient>());
            ASSERT_TRUE(open.back()->Connect(port));
            open.back()->SendRaw(Bytes{0x00, 0x0B, 0x09, 'Z', 0xFF});
        }
        // Settled: the client ports have read all that was sent to them.
        EXPECT_TRUE(WaitFor(
            [&] {
                return std::all_of(open.begin(), open.end(), [&](const auto& client) {
                    return ServerReadAll(*client, ports[0], ports[1]);
                });
            },
            30000))
            << "round " << round;
        m_observer.Pump();
        m_monitor.Pump();
        ASSERT_TRUE(m_rig.ServerRunning()) << "round " << round;
    }

    // A marked request of the observer still reaches the switch, after everything before it.
    Bytes marked{0x02, 'D', 0xFF, 0xFF, 2, 0, 1, 0xFF, 0x00, 'M', 'A', 'R', 'K'};
    ASSERT_TRUE(m_observer.SendRecord(marked));
    m_sent.push_back(Bytes{0x00, static_cast<std::uint8_t>(marked.size())});
    m_sent.back().insert(m_sent.back().end(), marked.begin(), marked.end());
    ASSERT_TRUE(m_rig.Link()
                    .WaitForRecord([&](const TestSwitch::Record& r) { return r.Body() == marked; },
                                   10000, 0)
                    .has_value());

    // The link never broke, and its bytes cut cleanly into records that clients sent whole
    // (or that the server makes itself: I-am-alive, polls and its own status query).
    EXPECT_EQ(m_rig.Link().ConnectionCount(), 1);
    RecordStream link;
    const Bytes raw = m_rig.Link().RawBytes();
    link.Feed(raw.data(), raw.size());
    EXPECT_FALSE(link.Broken());
    EXPECT_EQ(link.Pending(), 0u);
    int forwarded = 0;
    for (const Bytes& record : link.Frames()) {
        const Bytes body(record.begin() + protocol::CtiRecord::kLengthSize, record.end());
        const bool own = body.size() >= 2 && body.size() <= 20 && body[0] == 0x02 &&
                         (body[1] == 'a' || body[1] == 'u' || body[1] == 'Q');
        if (own)
            continue;
        ++forwarded;
        EXPECT_EQ(body[0], 0x02) << "a request that does not start as one";
        EXPECT_TRUE(SentWhole(record)) << "record of " << body.size() << " bytes, letter "
                                       << static_cast<int>(body.size() > 1 ? body[1] : 0);
    }
    EXPECT_GT(forwarded, 20) << "the garbage reached the forwarding";

    // Everyone else was served all along: every event, whole, to the client and the monitor.
    ASSERT_TRUE(m_rig.SendEvent(m_seq));
    const std::uint16_t last = m_seq++;
    for (RigClient* peer : {&m_observer, &m_monitor}) {
        ASSERT_TRUE(peer->WaitUntil(
            [&] { return !peer->EventSeqs().empty() && peer->EventSeqs().back() == last; }, 20000));
        std::vector<std::uint16_t> seqs = peer->EventSeqs();
        seqs.erase(seqs.begin(), std::find(seqs.begin(), seqs.end(), m_first));
        std::vector<std::uint16_t> expected;
        for (std::uint16_t seq = m_first; seq <= last; ++seq)
            expected.push_back(seq);
        EXPECT_EQ(seqs, expected);
        EXPECT_FALSE(peer->Stream().Broken());
        EXPECT_FALSE(peer->PeerClosed());
    }
    EXPECT_TRUE(m_rig.Stop());
}

} // namespace
