#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace engine {

// Records copied in once and then referred to by the send buffers of every client they are
// for. Whoever fills it is its only user until it hands it out; from then on its bytes do not
// change, and it lives as long as some buffer still refers to part of it. The bytes never move,
// so a send may read them while more are appended behind them.
class SendBatch {
public:
    explicit SendBatch(std::size_t capacity)
        : m_pBytes(new std::uint8_t[capacity]), m_nCapacity(capacity) {}
    SendBatch(const SendBatch&) = delete;
    SendBatch& operator=(const SendBatch&) = delete;

    const std::uint8_t* Data() const { return m_pBytes.get(); }
    std::size_t Size() const { return m_nSize; }
    std::size_t Capacity() const { return m_nCapacity; }
    std::size_t Room() const { return m_nCapacity - m_nSize; }

    // Appends behind what is there; the caller has checked the room. Only before it is handed
    // out, or by the one buffer that owns it behind the bytes it has already queued.
    void Append(const void* data, std::size_t length) {
        if (length == 0)
            return; // an undeliverable event has no bytes, and maybe no pointer
        std::memcpy(m_pBytes.get() + m_nSize, data, length);
        m_nSize += length;
    }
    // Only while nobody refers to its bytes any more.
    void Clear() { m_nSize = 0; }

private:
    std::unique_ptr<std::uint8_t[]> m_pBytes;
    std::size_t m_nCapacity;
    std::size_t m_nSize = 0;
};

} // namespace engine
