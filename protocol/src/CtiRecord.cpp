#include <protocol/CtiRecord.h>

#include <algorithm>
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

bool CtiRecord::EncodeInto(Bytes& out, ByteView body) {
    if (body.size() > std::numeric_limits<std::uint16_t>::max()) {
        out.clear();
        return false;
    }
    out.resize(kLengthSize + body.size());
    PutLength(out.data(), static_cast<std::uint16_t>(body.size()));
    std::copy(body.begin(), body.end(), out.begin() + kLengthSize);
    return true;
}

Bytes CtiRecord::Encode(ByteView body) {
    Bytes record;
    EncodeInto(record, body);
    return record;
}

} // namespace protocol
