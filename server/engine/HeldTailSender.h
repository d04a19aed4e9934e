#pragma once

#include <platform/AsyncSocket.h>
#include <platform/Mutex.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

// Sends whole records on a non-blocking socket from any thread. A record the kernel takes only in
// part is finished from a held tail when the socket is writable again; until then every further
// record is refused, so the peer never sees a torn or interleaved record.
class HeldTailSender {
public:
    enum Result {
        kSent,    // all of it went out, or the rest is held and will follow
        kRefused, // nothing of it went out (socket full or tail still held); it is lost
        kFailed,  // the connection is broken; `error` holds the socket error
    };

    explicit HeldTailSender(platform::AsyncSocket& socket) : m_Socket(socket) {}
    HeldTailSender(const HeldTailSender&) = delete;
    HeldTailSender& operator=(const HeldTailSender&) = delete;

    Result SendRecord(const void* data, int length, int& error) EXCLUDES(m_lock);
    // For the socket's OnSend: pushes the held tail on and asks to be told again while some of it
    // is still waiting.
    void OnWritable() EXCLUDES(m_lock);
    std::size_t PendingBytes() const EXCLUDES(m_lock);

private:
    // True when nothing is left to send.
    bool FlushLocked() REQUIRES(m_lock);

    platform::AsyncSocket& m_Socket;
    mutable platform::Mutex m_lock;
    std::vector<std::uint8_t> m_Tail GUARDED_BY(m_lock);
};

} // namespace engine
