#include <testsupport/ChildProcess.h>
#include <testsupport/PeerSocket.h>
#include <testsupport/RecordReader.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

using testsupport::Bytes;
using testsupport::RecordReader;

namespace {

Bytes Framed(const Bytes& body) {
    return protocol::CtiRecord::Encode(body);
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

} // namespace

TEST(RecordReader, KeepsRecordsHoweverTheStreamIsSplitAndStaysInStepPastBadLengths) {
    const Bytes a{'E', 1, 2, 3}, b(399, 0x5A), c{'u', 0xFF};
    // A zero length and one above the largest record, each with the body it announces.
    const Bytes stream =
        Join({Framed(a), {0x00, 0x00}, Framed(b), {0x01, 0x90}, Bytes(400, 0x11), Framed(c)});
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, stream.size()}) {
        RecordReader reader;
        for (std::size_t at = 0; at < stream.size(); at += chunk)
            reader.Feed(stream.data() + at, std::min(chunk, stream.size() - at));
        EXPECT_EQ(reader.Bodies(), (std::vector<Bytes>{a, b, c})) << "chunk " << chunk;
        EXPECT_EQ(reader.Frames().front(), Framed(a));
        EXPECT_EQ(reader.BadLengths(), 2u);
        EXPECT_TRUE(reader.Broken());
        EXPECT_EQ(reader.Pending(), 0u);
    }

    RecordReader reader;
    reader.Feed(Bytes{0x00, 0x05, 'E'});
    EXPECT_EQ(reader.Pending(), 3u);
    EXPECT_TRUE(reader.Frames().empty());
    reader.ClearRecords();
    reader.Feed(Bytes{1, 2, 3, 4});
    EXPECT_EQ(reader.Bodies(), (std::vector<Bytes>{{'E', 1, 2, 3, 4}}));
    EXPECT_FALSE(reader.Broken());
    reader.Reset();
    EXPECT_TRUE(reader.Frames().empty());
    EXPECT_EQ(reader.Count(), 0u);
}

TEST(RecordReader, HandsRecordsToItsHandlerOrToTheFeedsOwnAndKeepsNone) {
    std::vector<Bytes> own, fed;
    RecordReader reader([&](const protocol::CtiRecord& record) {
        own.emplace_back(record.Body().begin(), record.Body().end());
    });
    reader.Feed(Join({Framed({1}), Framed({2, 2})}));
    // A record split across feeds goes to the handler of the feed that completes it.
    reader.Feed(Bytes{0x00, 0x01});
    reader.Feed(Bytes{3}, [&](const protocol::CtiRecord& record) {
        fed.emplace_back(record.Body().begin(), record.Body().end());
    });
    reader.Feed(Framed({4}));
    EXPECT_EQ(own, (std::vector<Bytes>{{1}, {2, 2}, {4}}));
    EXPECT_EQ(fed, (std::vector<Bytes>{{3}}));
    EXPECT_TRUE(reader.Frames().empty());
    EXPECT_EQ(reader.Count(), 4u);

    // A moved reader goes on with its own records and handler.
    RecordReader moved = std::move(reader);
    moved.Feed(Framed({5}));
    EXPECT_EQ(own.back(), Bytes{5});
}

TEST(PeerSocket, SendsReceivesCutsAndSeesTheClose) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

    testsupport::PeerSocket peer(ntohs(address.sin_port));
    ASSERT_TRUE(peer.Connected());
    const int server = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(server, 0);
    EXPECT_NE(peer.LocalPort(), 0u);

    ASSERT_TRUE(peer.SendRecord(Bytes{'a', 6}));
    Bytes got(4);
    ASSERT_EQ(::recv(server, got.data(), got.size(), MSG_WAITALL), 4);
    EXPECT_EQ(got, (Bytes{0x00, 0x02, 'a', 6}));

    const Bytes sent = Join({Framed({'E', 1}), {0x00, 0x03, 'Q'}});
    ASSERT_EQ(::send(server, sent.data(), sent.size(), 0), static_cast<ssize_t>(sent.size()));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (peer.Raw().size() < sent.size() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(peer.Raw(), sent);
    EXPECT_EQ(peer.Bodies(), (std::vector<Bytes>{{'E', 1}}));
    EXPECT_EQ(peer.Partial(), 3u);

    Bytes read;
    EXPECT_FALSE(peer.Read(read));
    EXPECT_EQ(read, sent);
    EXPECT_TRUE(peer.Raw().empty()) << "Read takes the bytes";
    EXPECT_EQ(peer.Records().size(), 1u) << "but not the records";

    ::close(server);
    while (!peer.Closed() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(peer.SawClose());
    ::close(listener);
}

TEST(ChildProcess, AppendsToAnOptionListAndAddsANewName) {
    ::setenv("TESTSUPPORT_LIST", "a=1", 1);
    ::unsetenv("TESTSUPPORT_NEW");
    const std::string out = ::testing::TempDir() + "child-env.txt";
    testsupport::ChildProcess::Options options;
    options.environment = {"TESTSUPPORT_LIST=b=2", "TESTSUPPORT_NEW=c"};
    options.outputFile = out;
    testsupport::ChildProcess child(
        "/bin/sh", {"-c", "echo \"$TESTSUPPORT_LIST|$TESTSUPPORT_NEW\"; exit 3"}, options);
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.WaitExit(10000), std::optional<int>(3));
    EXPECT_FALSE(child.Running());
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "a=1:b=2|c\n");
    ::unsetenv("TESTSUPPORT_LIST");
}
