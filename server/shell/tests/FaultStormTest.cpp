// A connection storm on both client ports while events flow: the clients that stay lose nothing,
// and the server gives back every descriptor and thread the storm cost it.

#include "FaultRig.h"

#include <algorithm>
#include <atomic>
#include <random>

namespace {

using namespace fault_test;

constexpr int kStormThreads = 10;
constexpr int kClientsPerThread = 30; // 300 clients in all

// One storm client's life; false when something the server owes it never came.
bool StormClient(int port, bool bypass, std::mt19937& random) {
    RigClient client;
    if (!client.Connect(port))
        return false;
    switch (random() % 4) {
    case 0: // gone before a word
        break;
    case 1: // gone right after the login, the device list still on its way
        if (!bypass && !client.Login())
            return false;
        break;
    case 2: // the whole login, then an abortive close
        if (!bypass && (!client.Login() || !client.WaitListEnd(20000)))
            return false;
        {
            const linger reset{1, 0};
            ::setsockopt(client.Fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        break;
    default: // the whole login and some events
        if (!bypass && (!client.Login() || !client.WaitListEnd(20000)))
            return false;
        client.WaitEvents(3, 200);
        break;
    }
    client.Close();
    return true;
}

TEST(FaultStorm, StayingClientsLoseNothingAndTheServerGivesBackItsDescriptors) {
    BrovikRig rig;
    ASSERT_TRUE(rig.Start());

    std::vector<std::unique_ptr<RigClient>> staying;
    for (int i = 0; i < 3; ++i) {
        staying.push_back(std::make_unique<RigClient>());
        ASSERT_TRUE(staying.back()->Connect(rig.ClientPort()));
        ASSERT_TRUE(staying.back()->Login());
        ASSERT_TRUE(staying.back()->WaitListEnd(10000));
    }
    staying.push_back(std::make_unique<RigClient>());
    ASSERT_TRUE(staying.back()->Connect(rig.BypassPort()));
    // Settled once an event reaches every client: the bypass client's accept may still be on
    // its way.
    std::uint16_t sent = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            rig.SendEvent(sent++);
            return std::all_of(staying.begin(), staying.end(),
                               [](auto& client) { return client->WaitEvents(1, 200); });
        },
        10000, 1));
    const std::uint16_t first = sent;
    const ProcessCounts start = rig.Counts();
    ASSERT_GT(start.fds, 0);

    std::atomic<bool> stormOver{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> storm;
    for (int t = 0; t < kStormThreads; ++t)
        storm.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(1000 + t));
            for (int i = 0; i < kClientsPerThread; ++i) {
                const bool bypass = random() % 5 == 0;
                if (!StormClient(bypass ? rig.BypassPort() : rig.ClientPort(), bypass, random))
                    ++failures;
            }
        });
    std::thread waiter([&] {
        for (auto& thread : storm)
            thread.join();
        stormOver = true;
    });

    // Events all through the storm, read by the staying clients as they come.
    while (!stormOver && sent < 60000) {
        ASSERT_TRUE(rig.SendEvent(sent));
        ++sent;
        for (auto& client : staying)
            client->Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    waiter.join();
    EXPECT_EQ(failures.load(), 0) << "storm clients whose login never completed";
    EXPECT_GT(sent, 100) << "events flowed during the storm";

    std::vector<std::uint16_t> expected;
    for (std::uint16_t seq = first; seq < sent; ++seq)
        expected.push_back(seq);
    for (std::size_t i = 0; i < staying.size(); ++i) {
        RigClient& client = *staying[i];
        const auto storming = [&] {
            std::vector<std::uint16_t> seqs = client.EventSeqs();
            seqs.erase(seqs.begin(), std::find_if(seqs.begin(), seqs.end(),
                                                  [&](std::uint16_t seq) { return seq >= first; }));
            return seqs;
        };
        EXPECT_TRUE(client.WaitUntil([&] { return storming().size() >= expected.size(); }, 20000))
            << "client " << i;
        EXPECT_EQ(storming(), expected) << "client " << i;
        EXPECT_FALSE(client.Stream().Broken()) << "client " << i;
        EXPECT_FALSE(client.PeerClosed()) << "client " << i;
    }

    const ProcessCounts after = rig.WaitCounts(start, 20000);
    EXPECT_EQ(after, start);
    EXPECT_TRUE(rig.Stop());
}

} // namespace
