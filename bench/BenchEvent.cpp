#include "BenchEvent.h"

#include <chrono>

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

std::uint64_t GetU64(const std::uint8_t* at) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = value << 8 | at[i];
    return value;
}

// FNV-1a over the stamp bytes.
std::uint32_t Check(const std::uint8_t* at, std::size_t size) {
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= at[i];
        hash *= 16777619u;
    }
    return hash;
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
    const std::uint32_t check = Check(body.data() + kStampAt, 16);
    for (int i = 0; i < 4; ++i)
        body[kCheckAt + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(check >> (24 - 8 * i));
}

std::optional<EventStamp> ReadEventBody(const std::uint8_t* body, std::size_t length) {
    if (body == nullptr || length != kEventBodySize)
        return std::nullopt;
    for (std::size_t i = 0; i < kStampAt; ++i)
        if (body[i] != kHeader[i])
            return std::nullopt;
    std::uint32_t check = 0;
    for (int i = 0; i < 4; ++i)
        check = check << 8 | body[kCheckAt + static_cast<std::size_t>(i)];
    if (check != Check(body + kStampAt, 16))
        return std::nullopt;
    return EventStamp{GetU64(body + kStampAt),
                      static_cast<std::int64_t>(GetU64(body + kStampAt + 8))};
}

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace bench
