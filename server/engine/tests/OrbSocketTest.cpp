#include "TraceCapture.h"
#include <engine/OrbSocket.h>
#include <testsupport/TestSwitch.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <cerrno>
#include <future>
#include <string>
#include <vector>

using namespace engine;

using testsupport::TestSwitch;

namespace {

constexpr int kWaitMs = 5000;

// Collects the trace texts of one test.
class OrbSocketTest : public ::testing::Test {
protected:
    TraceCapture m_traces;
};

// A port on which nothing listens.
int ClosedPort() {
    TestSwitch probe;
    return probe.Port();
}

} // namespace

TEST_F(OrbSocketTest, ConnectsByNumberByNameAndToLocalhostForAnEmptyHost) {
    TestSwitch peer;
    ASSERT_TRUE(peer.IsListening());
    const std::string port = std::to_string(peer.Port());

    COrbSocket byNumber;
    EXPECT_EQ(byNumber.Initialize(), 1);
    ASSERT_EQ(byNumber.Connect("127.0.0.1", peer.Port(), SOCK_STREAM), 1);
    EXPECT_TRUE(byNumber.IsValid());
    EXPECT_EQ(m_traces.CountPart(">>> Veltrane Link Connection created with Switch [127.0.0.1 - " +
                                 port + "], Protocol[TCP], IP Type[IPv4]."),
              1);
    EXPECT_EQ(m_traces.CountPart(">>> Veltrane Link is using the local address [127.0.0.1 - "), 1);

    COrbSocket byName;
    ASSERT_EQ(byName.Connect("localhost", peer.Port(), SOCK_STREAM), 1);
    COrbSocket empty;
    ASSERT_EQ(empty.Connect("", peer.Port(), SOCK_STREAM), 1);
    EXPECT_TRUE(peer.WaitForConnection(kWaitMs, 3));
}

TEST_F(OrbSocketTest, ConnectsOverIpv6) {
    TestSwitch peer(AF_INET6);
    if (!peer.IsListening())
        GTEST_SKIP() << "no IPv6 loopback";
    COrbSocket socket;
    ASSERT_EQ(socket.Connect("::1", peer.Port(), SOCK_STREAM), 1);
    EXPECT_EQ(m_traces.CountPart("Switch [::1 - " + std::to_string(peer.Port()) +
                                 "], Protocol[TCP], IP Type[IPv6]."),
              1);
    EXPECT_TRUE(peer.WaitForConnection(kWaitMs));
}

TEST_F(OrbSocketTest, ReportsRefusalResolutionFailureAndTimeOut) {
    COrbSocket refused;
    const int port = ClosedPort();
    EXPECT_EQ(refused.Connect("127.0.0.1", port, SOCK_STREAM), -1);
    EXPECT_FALSE(refused.IsValid());
    EXPECT_EQ(m_traces.CountPart(
                  "[ERROR] Veltrane Link's IPv4 connection to 127.0.0.1[Name : 127.0.0.1] "
                  "failed.[ErrorCode " +
                  std::to_string(ECONNREFUSED) + " - " + SystemErrorText(ECONNREFUSED) + "]"),
              1);

    COrbSocket unresolved;
    EXPECT_EQ(unresolved.Connect("127.0.0.1", 5002, 12345), -1);
    EXPECT_EQ(m_traces.CountPart("[ERROR] getaddrinfo(127.0.0.1 - 5002) failed. [ErrorCode "), 1);

    // A listener whose accept queue is full leaves further connects hanging.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::vector<std::unique_ptr<COrbSocket>> fillers;
    bool hung = false;
    for (int i = 0; i < 8 && !hung; ++i) {
        fillers.push_back(std::make_unique<COrbSocket>());
        hung =
            fillers.back()->Connect("127.0.0.1", ntohs(address.sin_port), SOCK_STREAM, 300) == -1;
    }
    ::close(listener);
    if (!hung)
        GTEST_SKIP() << "this system never lets a connect hang";
    EXPECT_GE(m_traces.CountPart("failed.[ErrorCode " + std::to_string(ETIMEDOUT) + " - "), 1);
}

TEST_F(OrbSocketTest, SendsAndReceivesByteCountsAndSeesThePeerClose) {
    TestSwitch peer;
    COrbSocket socket;
    ASSERT_EQ(socket.Connect(peer.Host(), peer.Port(), SOCK_STREAM), 1);
    ASSERT_TRUE(peer.WaitForConnection(kWaitMs));

    const std::uint8_t out[] = {0x00, 0x03, 0x02, 'u', 0xFF};
    EXPECT_EQ(socket.Send(out, 5), 5);
    ASSERT_TRUE(peer.WaitForRawBytes(5, kWaitMs));
    EXPECT_EQ(peer.RawBytes(), std::vector<std::uint8_t>(out, out + 5));

    ASSERT_TRUE(peer.SendRaw({1, 2, 3}));
    std::uint8_t in[16] = {};
    EXPECT_EQ(socket.Recv(in, sizeof in), 3);
    EXPECT_EQ(in[2], 3);

    peer.CloseConnection();
    EXPECT_EQ(socket.Recv(in, sizeof in), 0);
}

// A switch that holds its next small record until the last one is acknowledged would wait for
// the delayed-ack timer; the system may delay the acknowledgement of small segments whether this
// end answers what it receives or never sends. So every receive asks, and is left prompt.
TEST_F(OrbSocketTest, EveryReceiveAsksForThePromptAcknowledgementWithOrWithoutSends) {
    TestSwitch peer;
    COrbSocket socket;
    ASSERT_EQ(socket.Connect(peer.Host(), peer.Port(), SOCK_STREAM), 1);
    ASSERT_TRUE(peer.WaitForConnection(kWaitMs));

    std::uint8_t in[16] = {};
    const std::uint8_t answer[] = {0x00, 0x01, 'u'};
    unsigned long receives = 0;
    std::size_t answered = 0;
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(peer.SendRaw({0x00, 0x01, 'U'}));
        ASSERT_EQ(socket.Recv(in, 3, MSG_WAITALL), 3);
        EXPECT_EQ(socket.QuickAckRequests(), ++receives) << "receive " << i;
        int quick = 0;
        socklen_t size = sizeof quick;
        ASSERT_EQ(::getsockopt(socket.Handle(), IPPROTO_TCP, TCP_QUICKACK, &quick, &size), 0);
        EXPECT_EQ(quick, 1) << "receive " << i;
        // The first half without a send between, the second half answering each.
        if (i >= 6) {
            ASSERT_EQ(socket.Send(answer, 3), 3);
            answered += 3;
            ASSERT_TRUE(peer.WaitForRawBytes(answered, kWaitMs));
        }
    }
}

TEST_F(OrbSocketTest, CloseWakesABlockedReceiveAndMakesTheCloseAbortive) {
    TestSwitch peer;
    COrbSocket socket;
    ASSERT_EQ(socket.Connect(peer.Host(), peer.Port(), SOCK_STREAM), 1);
    ASSERT_TRUE(peer.WaitForConnection(kWaitMs));

    auto blocked = std::async(std::launch::async, [&] {
        std::uint8_t in[4];
        return socket.Recv(in, sizeof in);
    });
    ASSERT_EQ(blocked.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    socket.Close();
    ASSERT_EQ(blocked.wait_for(std::chrono::milliseconds(kWaitMs)), std::future_status::ready);
    EXPECT_LE(blocked.get(), 0);

    // The descriptor stays the object's until it goes, with linger off.
    EXPECT_TRUE(socket.IsValid());
    linger value{};
    socklen_t size = sizeof value;
    ASSERT_EQ(::getsockopt(socket.Handle(), SOL_SOCKET, SO_LINGER, &value, &size), 0);
    EXPECT_EQ(value.l_onoff, 1);
    EXPECT_EQ(value.l_linger, 0);
    EXPECT_TRUE(peer.WaitForPeerClose(kWaitMs));

    const std::uint8_t out[] = {0x00, 0x01, 0x02};
    EXPECT_EQ(socket.Send(out, 3), -1);
    EXPECT_EQ(m_traces.CountPart("[ERROR] COrbSocket::Send --> send() error [error Code - " +
                                 std::to_string(EPIPE) + " : "),
              1);
}

TEST_F(OrbSocketTest, SendToAResetPeerFailsWithoutASignal) {
    TestSwitch peer;
    COrbSocket socket;
    ASSERT_EQ(socket.Connect(peer.Host(), peer.Port(), SOCK_STREAM), 1);
    ASSERT_TRUE(peer.WaitForConnection(kWaitMs));
    peer.ResetConnection();
    ASSERT_TRUE(peer.WaitForPeerClose(kWaitMs));

    const std::uint8_t out[64] = {0x00, 62, 0x02};
    int result = 0;
    for (int i = 0; i < 100 && result >= 0; ++i)
        result = socket.Send(out, sizeof out);
    EXPECT_EQ(result, -1); // and the process is still here: no SIGPIPE
}
