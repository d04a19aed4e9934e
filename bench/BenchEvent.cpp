#include "BenchEvent.h"

#include <bit>
#include <chrono>
#include <cstring>

namespace bench {

namespace {

constexpr std::size_t kStampAt = 16;
constexpr std::size_t kCheckAt = kStampAt + 16;

void PutU64(std::uint8_t* at, std::uint64_t value) {
    for (int i = 7; i >= 0; --i) {
        at[i] = static_cast<std::uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

// Big-endian; the receivers read one per record per client, so one load each.
std::uint64_t GetU64(const std::uint8_t* at) {
    std::uint64_t value = 0;
    std::memcpy(&value, at, sizeof value);
    if constexpr (std::endian::native == std::endian::little)
        value = __builtin_bswap64(value);
    return value;
}

// A mix of both stamp words: a torn or damaged stamp fails it, at a few cycles a record.
std::uint32_t Check(std::uint64_t sequence, std::uint64_t sentNs) {
    std::uint64_t hash =
        sequence * 0x9E3779B97F4A7C15ull ^ (sentNs + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
    hash ^= hash >> 29;
    hash *= 0xBF58476D1CE4E5B9ull;
    hash ^= hash >> 32;
    return static_cast<std::uint32_t>(hash);
}

const std::uint8_t kHeader[kStampAt] = {'E',  0xFF, 0xFF, 0x02, 0x00, 0x02, 0xFF, 0x00,
                                        0x02, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

} // namespace

std::vector<std::uint8_t> MakeEventBody(const EventStamp& stamp) {
    std::vector<std::uint8_t> body(kEventBodySize);
    std::copy(std::begin(kHeader), std::end(kHeader), body.begin());
    StampEventBody(body, stamp);
    return body;
}

void StampEventBody(std::vector<std::uint8_t>& body, const EventStamp& stamp) {
    if (body.size() != kEventBodySize)
        body = std::vector<std::uint8_t>(kEventBodySize);
    std::copy(std::begin(kHeader), std::end(kHeader), body.begin());
    PutU64(body.data() + kStampAt, stamp.sequence);
    PutU64(body.data() + kStampAt + 8, static_cast<std::uint64_t>(stamp.sentNs));
    const std::uint32_t check = Check(stamp.sequence, static_cast<std::uint64_t>(stamp.sentNs));
    for (int i = 0; i < 4; ++i)
        body[kCheckAt + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(check >> (24 - 8 * i));
}

std::optional<EventStamp> ReadEventBody(const std::uint8_t* body, std::size_t length) {
    if (body == nullptr || length != kEventBodySize)
        return std::nullopt;
    if (std::memcmp(body, kHeader, kStampAt) != 0)
        return std::nullopt;
    std::uint32_t check = 0;
    for (int i = 0; i < 4; ++i)
        check = check << 8 | body[kCheckAt + static_cast<std::size_t>(i)];
    const std::uint64_t sequence = GetU64(body + kStampAt);
    const std::uint64_t sentNs = GetU64(body + kStampAt + 8);
    if (check != Check(sequence, sentNs))
        return std::nullopt;
    return EventStamp{sequence, static_cast<std::int64_t>(sentNs)};
}

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace bench
