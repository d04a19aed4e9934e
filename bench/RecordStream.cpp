#include "RecordStream.h"

namespace bench {

void RecordStream::Feed(const std::uint8_t* data, std::size_t size, const Handler& handler) {
    // The common case, a receive of whole records with nothing held, runs on the caller's bytes.
    const std::uint8_t* bytes = data;
    std::size_t at = 0;
    std::size_t end = size;
    if (Pending() > 0) {
        m_Bytes.insert(m_Bytes.end(), data, data + size);
        bytes = m_Bytes.data();
        at = m_At;
        end = m_Bytes.size();
    }
    while (end - at >= 2) {
        const std::size_t length = static_cast<std::size_t>(bytes[at] << 8 | bytes[at + 1]);
        if (end - at - 2 < length)
            break;
        handler(bytes + at + 2, length);
        at += 2 + length;
    }
    if (bytes == data) {
        m_Bytes.assign(data + at, data + end);
    } else {
        m_Bytes.erase(m_Bytes.begin(), m_Bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
    m_At = 0;
}

} // namespace bench
