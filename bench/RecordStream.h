#pragma once

// Cuts a TCP byte stream into records behind their 2-byte big-endian length, however the stream
// was split into receives.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace bench {

class RecordStream {
public:
    using Handler = std::function<void(const std::uint8_t* body, std::size_t length)>;

    // Hands every whole record in the bytes so far to `handler`; keeps the rest for later.
    void Feed(const std::uint8_t* data, std::size_t size, const Handler& handler);
    // Bytes of a record not yet complete.
    std::size_t Pending() const { return m_Bytes.size() - m_At; }

private:
    std::vector<std::uint8_t> m_Bytes;
    std::size_t m_At = 0;
};

} // namespace bench
