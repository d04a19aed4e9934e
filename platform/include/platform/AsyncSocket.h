#pragma once

// A non-blocking IPv4 stream socket whose readiness is reported through virtual notifications
// on the thread that created the object (its owning thread, normally the UI thread).
//
// Threads: Send() and RequestWriteNotification() may be called from any thread. Everything
// else (Create, Listen, Accept, Connect, Attach, Receive, Close, ShutDown, the destructor) belongs
// to the owning thread. Close() and Send() never race: the descriptor is guarded, so a Send()
// that follows or overlaps a Close() fails cleanly and never reaches a reused descriptor. The
// object itself must of course outlive every call made on it from other threads.
//
// Errors: a failed call returns false / -1 and keeps its errno for GetLastError(). The value is
// kept per object (not per thread); a Send() on another thread also records its error there.
// "Would block" is EWOULDBLOCK (== EAGAIN on Linux) and never means a closed connection. Calls
// on an object that holds no socket fail with EBADF.
//
// Notifications follow the rearming rule of asynchronous Winsock sockets, so an ignored
// notification cannot spin the event loop:
//  - OnAccept is not repeated until Accept() is called. A connection that is to be refused
//    must therefore be accepted and closed, or later connections go unnoticed.
//  - OnReceive is not repeated until Receive() is called.
//  - OnClose (peer closed: err 0; connection failed: err = errno) comes once; the socket stays
//    open until Close(). It is found by peeking, so data that arrived before the close is
//    still delivered through OnReceive first.
//  - OnSend comes once per RequestWriteNotification(), when the socket is writable.
//
// Deleting the object from inside one of its own notifications must go through DeleteLater();
// a plain delete there is not supported.

#include <QObject>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

class QSocketNotifier;

namespace platform {

class AsyncSocket : public QObject {
    Q_OBJECT

public:
    explicit AsyncSocket(QObject* parent = nullptr);
    ~AsyncSocket() override;
    AsyncSocket(const AsyncSocket&) = delete;
    AsyncSocket& operator=(const AsyncSocket&) = delete;

    // A stream socket with SO_REUSEADDR, bound to the port (0: any free port) and the dotted
    // IPv4 address ("" : every local address).
    bool Create(unsigned port = 0, const std::string& bindAddress = "");
    bool Listen(int backlog = 5);
    // Takes one pending connection into `into`, which must hold no socket yet and belong to
    // the calling thread. Fails with EWOULDBLOCK when nothing is pending.
    bool Accept(AsyncSocket& into);
    // Connects to an IPv4 host (name or dotted address), waiting at most timeoutMs
    // (ETIMEDOUT). Uses the socket made by Create() when there is one.
    bool Connect(const std::string& host, unsigned port, int timeoutMs = 10000);
    // Takes ownership of a connected stream socket descriptor made elsewhere.
    bool Attach(int fd);

    bool GetPeerName(std::string& dottedAddress, unsigned& port) const;
    bool GetSockName(std::string& dottedAddress, unsigned& port) const;
    bool SetSockOpt(int level, int optionName, int value);

    // Like recv(); 0 means the peer closed, -1 an error (EWOULDBLOCK when nothing is there).
    int Receive(void* buf, int len, int flags = 0);
    // Any thread. Bytes taken, or -1 (EWOULDBLOCK when the send buffer is full). Never raises
    // SIGPIPE.
    int Send(const void* buf, int len, int flags = 0);
    // One piece of a gathered send.
    struct SendPiece {
        const void* data;
        std::size_t size;
    };
    static constexpr int kMaxSendPieces = 128;
    // Any thread. As Send, for the pieces one after the other in one call (at most
    // kMaxSendPieces of them, and less than 2 GB in all).
    int SendPieces(const SendPiece* pieces, int count);

    // Idempotent; stops all notifications, including ones already requested.
    void Close();
    // Closes now and deletes the object once control is back in the owning thread's event loop.
    void DeleteLater();

    // Any thread. The next time the socket is writable OnSend is called once.
    void RequestWriteNotification();
    // Owning thread, listening sockets: no OnAccept until ResumeAccepting(), for a listener that
    // cannot take a connection for a while (out of descriptors).
    void PauseAccepting();
    void ResumeAccepting();

    int GetLastError() const { return lastError_.load(); }
    bool IsOpen() const;
    // The descriptor for diagnostics; -1 when closed. Only meaningful on the owning thread.
    int Handle() const { return fd_; }

protected:
    virtual void OnAccept(int err);
    virtual void OnReceive(int err);
    virtual void OnSend(int err);
    virtual void OnClose(int err);

private:
    bool Fail(int err) const;
    bool IsOwnerThread() const;
    void Watch(int fd, bool listening);
    void ArmRead();
    void EnableWriteNotifier();
    void HandleReadable();
    void HandleWritable();

    mutable std::mutex fdMutex_;
    int fd_ = -1; // written under fdMutex_ on the owning thread only
    bool listening_ = false;
    bool closeSeen_ = false;
    mutable std::atomic<int> lastError_{0};
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
};

} // namespace platform
