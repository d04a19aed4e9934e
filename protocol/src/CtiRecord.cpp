#include "protocol/CtiRecord.h"

#include <limits>

namespace protocol {

std::optional<CtiRecord> CtiRecord::At(ByteView bytes) {
    if (bytes.size() < kLengthSize)
        return std::nullopt;
    const std::size_t size = kLengthSize + PeekLength(bytes);
    if (bytes.size() < size)
        return std::nullopt;
    return CtiRecord(bytes.first(size));
}

Bytes CtiRecord::Encode(ByteView body) {
    if (body.size() > std::numeric_limits<std::uint16_t>::max())
        return {};
    Bytes record;
    record.reserve(kLengthSize + body.size());
    record.push_back(static_cast<std::uint8_t>(body.size() >> 8));
    record.push_back(static_cast<std::uint8_t>(body.size() & 0xFF));
    record.insert(record.end(), body.begin(), body.end());
    return record;
}

} // namespace protocol
