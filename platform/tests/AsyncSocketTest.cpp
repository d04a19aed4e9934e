#include <platform/AsyncSocket.h>
#include <platform/SocketInit.h>

#include <testsupport/TestApp.h>

#include <gtest/gtest.h>

#include <QPointer>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using platform::AsyncSocket;
using testsupport::SpinFor;
using testsupport::SpinUntil;

namespace {

// Counts its notifications, checks they arrive on the owning thread, and runs an optional
// reaction to each.
class Probe : public AsyncSocket {
public:
    std::function<void(int)> onAccept, onReceive, onSend, onClose;
    int accepts = 0, receives = 0, sends = 0, closes = 0;
    int sendErr = -1, closeErr = -1;
    bool offThread = false;
    std::string log; // 'R' and 'C' in the order they came

protected:
    void OnAccept(int err) override {
        Note();
        ++accepts;
        if (onAccept) {
            onAccept(err);
        }
    }
    void OnReceive(int err) override {
        Note();
        ++receives;
        log += 'R';
        if (onReceive) {
            onReceive(err);
        }
    }
    void OnSend(int err) override {
        Note();
        ++sends;
        sendErr = err;
        if (onSend) {
            onSend(err);
        }
    }
    void OnClose(int err) override {
        Note();
        ++closes;
        closeErr = err;
        log += 'C';
        if (onClose) {
            onClose(err);
        }
    }

private:
    void Note() { offThread |= QThread::currentThread() != thread(); }
};

// Listener on a free loopback port, a client connected to it and the accepted end in `server`.
// A non-zero clientRcvBuf is set before the connection is made, so the window stays small.
void ConnectPair(Probe& listener, Probe& server, Probe& client, int clientRcvBuf = 0) {
    testsupport::App();
    ASSERT_TRUE(listener.Create(0, "127.0.0.1")) << listener.GetLastError();
    ASSERT_TRUE(listener.Listen());
    std::string addr;
    unsigned port = 0;
    ASSERT_TRUE(listener.GetSockName(addr, port));
    ASSERT_NE(port, 0u);
    listener.onAccept = [&](int) {
        EXPECT_TRUE(listener.Accept(server)) << listener.GetLastError();
    };
    if (clientRcvBuf) {
        ASSERT_TRUE(client.Create());
        ASSERT_TRUE(client.SetSockOpt(SOL_SOCKET, SO_RCVBUF, clientRcvBuf));
    }
    ASSERT_TRUE(client.Connect("127.0.0.1", port)) << client.GetLastError();
    ASSERT_TRUE(SpinUntil([&] { return server.IsOpen(); }));
}

void AbortiveClose(AsyncSocket& s) {
    linger lg{1, 0};
    ASSERT_EQ(::setsockopt(s.Handle(), SOL_SOCKET, SO_LINGER, &lg, sizeof lg), 0);
    s.Close();
}

// Reads everything the socket holds; false once it reports anything but "would block".
bool Drain(AsyncSocket& s) {
    char buf[65536];
    for (;;) {
        const int n = s.Receive(buf, sizeof buf);
        if (n < 0) {
            return s.GetLastError() == EWOULDBLOCK;
        }
        if (n == 0) {
            return false;
        }
    }
}

TEST(AsyncSocketConnection, AcceptsAndDeliversDataOnTheOwningThread) {
    Probe listener, server, client;
    ConnectPair(listener, server, client);

    std::string serverPeer, clientSelf;
    unsigned serverPeerPort = 0, clientSelfPort = 0;
    ASSERT_TRUE(server.GetPeerName(serverPeer, serverPeerPort));
    ASSERT_TRUE(client.GetSockName(clientSelf, clientSelfPort));
    EXPECT_EQ(serverPeer, "127.0.0.1");
    EXPECT_EQ(serverPeer, clientSelf);
    EXPECT_EQ(serverPeerPort, clientSelfPort);

    // Two bytes per notification: the rest must be announced again after each Receive.
    std::string got;
    server.onReceive = [&](int err) {
        EXPECT_EQ(err, 0);
        char buf[2];
        const int n = server.Receive(buf, sizeof buf);
        if (n > 0) {
            got.append(buf, static_cast<size_t>(n));
        }
    };
    ASSERT_EQ(client.Send("hello", 5), 5);
    EXPECT_TRUE(SpinUntil([&] { return got == "hello"; })) << got;
    EXPECT_GE(server.receives, 3);
    EXPECT_EQ(server.closes, 0);
    EXPECT_EQ(listener.accepts, 1);
    EXPECT_FALSE(server.offThread || listener.offThread);
}

TEST(AsyncSocketConnection, GatheredPiecesArriveAsOneStreamInTheirOrder) {
    Probe listener, server, client;
    ConnectPair(listener, server, client);
    std::string got;
    server.onReceive = [&](int) {
        char buf[256];
        const int n = server.Receive(buf, sizeof buf);
        if (n > 0) {
            got.append(buf, static_cast<size_t>(n));
        }
    };
    const std::string first = "one,", second = "two,", third = "three";
    const AsyncSocket::SendPiece pieces[] = {{first.data(), first.size()},
                                             {second.data(), 0},
                                             {second.data(), second.size()},
                                             {third.data(), third.size()}};
    ASSERT_EQ(client.SendPieces(pieces, 4), 13);
    EXPECT_TRUE(SpinUntil([&] { return got == "one,two,three"; })) << got;

    std::vector<AsyncSocket::SendPiece> tooMany(AsyncSocket::kMaxSendPieces + 1, {first.data(), 1});
    EXPECT_EQ(client.SendPieces(tooMany.data(), static_cast<int>(tooMany.size())), -1);
    EXPECT_EQ(client.GetLastError(), EINVAL);
    client.Close();
    EXPECT_EQ(client.SendPieces(pieces, 1), -1);
    EXPECT_EQ(client.GetLastError(), EBADF);
}

TEST(AsyncSocketConnection, UnreadDataIsAnnouncedOnceUntilReceiveIsCalled) {
    Probe listener, server, client;
    ConnectPair(listener, server, client);
    char buf[8];
    EXPECT_EQ(server.Receive(buf, sizeof buf), -1); // nothing there: would block, not a close
    EXPECT_EQ(server.GetLastError(), EWOULDBLOCK);

    ASSERT_EQ(client.Send("ab", 2), 2);
    ASSERT_TRUE(SpinUntil([&] { return server.receives == 1; }));
    SpinFor(100ms);
    EXPECT_EQ(server.receives, 1);
    EXPECT_EQ(server.closes, 0);

    EXPECT_EQ(server.Receive(buf, sizeof buf), 2);
    ASSERT_EQ(client.Send("c", 1), 1);
    EXPECT_TRUE(SpinUntil([&] { return server.receives == 2; }));
}

TEST(AsyncSocketConnection, OrderlyPeerCloseDeliversPendingDataThenOneClose) {
    Probe listener, server, client;
    ConnectPair(listener, server, client);
    std::string got;
    server.onReceive = [&](int) {
        char buf[64];
        const int n = server.Receive(buf, sizeof buf);
        if (n > 0) {
            got.append(buf, static_cast<size_t>(n));
        }
    };
    ASSERT_EQ(client.Send("bye", 3), 3);
    client.Close();
    ASSERT_TRUE(SpinUntil([&] { return server.closes == 1; }));
    EXPECT_EQ(got, "bye");
    EXPECT_EQ(server.closeErr, 0);
    EXPECT_EQ(server.log.front(), 'R');
    EXPECT_EQ(server.log.back(), 'C');
    SpinFor(50ms);
    EXPECT_EQ(server.closes, 1);
    EXPECT_TRUE(server.IsOpen()); // the object closes only when told to
}

TEST(AsyncSocketConnection, ResetByPeerGivesCloseWithTheError) {
    Probe listener, server, client;
    ConnectPair(listener, server, client);
    AbortiveClose(client);
    ASSERT_TRUE(SpinUntil([&] { return server.closes == 1; }));
    EXPECT_EQ(server.closeErr, ECONNRESET);
    EXPECT_EQ(server.receives, 0);
}

TEST(AsyncSocketConnection, AttachedDescriptorIsWatched) {
    testsupport::App();
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    Probe s;
    ASSERT_TRUE(s.Attach(sv[0]));
    ASSERT_EQ(::write(sv[1], "x", 1), 1);
    EXPECT_TRUE(SpinUntil([&] { return s.receives == 1; }));
    ::close(sv[1]);
    char c;
    EXPECT_EQ(s.Receive(&c, 1), 1);
    EXPECT_TRUE(SpinUntil([&] { return s.closes == 1; }));
    EXPECT_EQ(s.closeErr, 0);
}

TEST(AsyncSocketFlowControl, FullSendBufferIsWouldBlockAndDrainGivesOneOnSend) {
    Probe listener, server, client;
    ConnectPair(listener, server, client, 4096);
    ASSERT_TRUE(server.SetSockOpt(SOL_SOCKET, SO_SNDBUF, 4096));

    std::vector<char> chunk(8192, 'x');
    int n = 0;
    for (int i = 0; i < 4096 && n >= 0; ++i) {
        n = server.Send(chunk.data(), static_cast<int>(chunk.size()));
    }
    ASSERT_EQ(n, -1);
    EXPECT_EQ(server.GetLastError(), EWOULDBLOCK);
    EXPECT_TRUE(server.IsOpen());
    EXPECT_EQ(server.closes, 0);

    // Asked for from another thread, as the event side does.
    std::thread([&] { server.RequestWriteNotification(); }).join();
    SpinFor(100ms);
    EXPECT_EQ(server.sends, 0); // still full: the peer has not read

    EXPECT_TRUE(SpinUntil([&] { return Drain(client) && server.sends == 1; }));
    EXPECT_EQ(server.sendErr, 0);
    SpinFor(50ms);
    EXPECT_EQ(server.sends, 1); // once per request, no busy loop
    EXPECT_FALSE(server.offThread);

    server.RequestWriteNotification();
    EXPECT_TRUE(SpinUntil([&] { return server.sends == 2; }));
}

TEST(AsyncSocketFlowControl, CloseCancelsARequestedWriteNotification) {
    Probe listener, server, client;
    ConnectPair(listener, server, client);
    server.RequestWriteNotification();
    std::thread([&] { server.RequestWriteNotification(); }).join(); // arrives after the close
    server.Close();
    SpinFor(50ms);
    EXPECT_EQ(server.sends, 0);
}

TEST(AsyncSocketThreads, SendFromAnotherThreadWhileTheOwnerClosesIsSafe) {
    for (int round = 0; round < 30; ++round) {
        Probe listener, server, client;
        ConnectPair(listener, server, client);
        std::atomic<bool> started{false};
        int finalError = 0;
        std::thread sender([&] {
            char buf[512] = {};
            for (;;) {
                if (server.Send(buf, sizeof buf) < 0 && server.GetLastError() == EBADF) {
                    finalError = EBADF;
                    return;
                }
                started = true;
            }
        });
        while (!started) {
            std::this_thread::yield();
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100 * (round % 5)));
        server.Close();
        sender.join();
        EXPECT_EQ(finalError, EBADF);
    }
}

TEST(AsyncSocketThreads, ClosedObjectNeverWritesToAReusedDescriptor) {
    Probe listener, server, client;
    ConnectPair(listener, server, client);
    const int oldFd = server.Handle();
    server.Close();

    // Another connection takes the same descriptor number.
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv), 0);
    ASSERT_EQ(::dup2(sv[0], oldFd), oldFd);
    EXPECT_EQ(server.Send("stale", 5), -1);
    EXPECT_EQ(server.GetLastError(), EBADF);
    char buf[8];
    EXPECT_EQ(::recv(sv[1], buf, sizeof buf, 0), -1);
    EXPECT_EQ(errno, EAGAIN);
    ::close(oldFd);
    ::close(sv[0]);
    ::close(sv[1]);
}

TEST(AsyncSocketSignals, SendingToAResetPeerNeverRaisesSigpipe) {
    // The default action would end this test process if a send raised the signal.
    ASSERT_NE(std::signal(SIGPIPE, SIG_DFL), SIG_ERR);
    Probe listener, server, client;
    ConnectPair(listener, server, client);
    AbortiveClose(client);
    ASSERT_TRUE(SpinUntil([&] { return server.closes == 1; }));
    int lastError = 0;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(server.Send("x", 1), -1);
        lastError = server.GetLastError();
    }
    EXPECT_EQ(lastError, EPIPE);
    ASSERT_TRUE(platform::InitSockets());
}

TEST(AsyncSocketSignals, InitSocketsIgnoresSigpipeAndIsRepeatable) {
    ASSERT_NE(std::signal(SIGPIPE, SIG_DFL), SIG_ERR);
    EXPECT_TRUE(platform::InitSockets());
    EXPECT_TRUE(platform::InitSockets());
    struct sigaction now {};
    ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_IGN);

    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    ::close(p[0]);
    EXPECT_EQ(::write(p[1], "x", 1), -1); // would have killed the process without it
    EXPECT_EQ(errno, EPIPE);
    ::close(p[1]);
}

TEST(AsyncSocketLifetime, DeleteLaterFromInsideItsOwnNotification) {
    Probe listener, client;
    testsupport::App();
    ASSERT_TRUE(listener.Create(0, "127.0.0.1"));
    ASSERT_TRUE(listener.Listen());
    std::string addr;
    unsigned port = 0;
    ASSERT_TRUE(listener.GetSockName(addr, port));
    QPointer<Probe> watch;
    listener.onAccept = [&](int) {
        auto* s = new Probe;
        ASSERT_TRUE(listener.Accept(*s));
        s->onReceive = [s](int) {
            char buf[16];
            s->Receive(buf, sizeof buf);
            s->DeleteLater();
            EXPECT_FALSE(s->IsOpen()); // closed at once, deleted later
        };
        watch = s;
    };
    ASSERT_TRUE(client.Connect("127.0.0.1", port));
    ASSERT_TRUE(SpinUntil([&] { return !watch.isNull(); }));
    ASSERT_EQ(client.Send("x", 1), 1);
    EXPECT_TRUE(SpinUntil([&] { return watch.isNull(); }));
    // The peer sees the close that DeleteLater made.
    EXPECT_TRUE(SpinUntil([&] { return client.closes == 1; }));
}

TEST(AsyncSocketSetup, RestartOnAPortInTimeWaitSucceeds) {
    unsigned port = 0;
    {
        Probe listener, server, client;
        ConnectPair(listener, server, client);
        std::string addr;
        ASSERT_TRUE(listener.GetSockName(addr, port));
        server.Close(); // the server closes first, so its end goes to TIME_WAIT
        ASSERT_TRUE(SpinUntil([&] { return client.closes == 1; }));
        client.Close();
        SpinFor(20ms);
    }
    Probe again;
    EXPECT_TRUE(again.Create(port, "127.0.0.1")) << again.GetLastError();
    EXPECT_TRUE(again.Listen());
}

TEST(AsyncSocketSetup, FailuresKeepTheirErrorPerObject) {
    testsupport::App();
    Probe bad, idle, listener, second, fresh;
    EXPECT_FALSE(bad.Create(0, "not-an-address"));
    EXPECT_EQ(bad.GetLastError(), EINVAL);
    EXPECT_EQ(idle.GetLastError(), 0);

    char buf[4];
    EXPECT_EQ(idle.Send("x", 1), -1);
    EXPECT_EQ(idle.GetLastError(), EBADF);
    EXPECT_EQ(idle.Receive(buf, sizeof buf), -1);
    EXPECT_FALSE(idle.Listen());
    EXPECT_EQ(idle.GetLastError(), EBADF);
    idle.Close();
    idle.Close();

    ASSERT_TRUE(listener.Create(0, "127.0.0.1"));
    ASSERT_TRUE(listener.Listen());
    std::string addr;
    unsigned port = 0;
    ASSERT_TRUE(listener.GetSockName(addr, port));
    EXPECT_FALSE(second.Create(port, "127.0.0.1"));
    EXPECT_EQ(second.GetLastError(), EADDRINUSE);

    EXPECT_FALSE(listener.Accept(fresh));
    EXPECT_EQ(listener.GetLastError(), EWOULDBLOCK);
    EXPECT_FALSE(listener.Accept(listener));
    EXPECT_EQ(listener.GetLastError(), EISCONN);

    std::string peer;
    unsigned peerPort = 0;
    EXPECT_FALSE(listener.GetPeerName(peer, peerPort));
    EXPECT_EQ(listener.GetLastError(), ENOTCONN);

    listener.Close();
    Probe refused;
    EXPECT_FALSE(refused.Connect("127.0.0.1", port));
    EXPECT_EQ(refused.GetLastError(), ECONNREFUSED);
    EXPECT_FALSE(refused.IsOpen());
}

} // namespace
