#pragma once

// The call event the bench sends through the relay: a connected event ('E') from line 201 to
// line 202 whose event-specific data carries a sequence number, the switch-side send time and a
// check over both, so a receiver can time it and tell a whole record from a torn one.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace bench {

struct EventStamp {
    std::uint64_t sequence = 0;
    std::int64_t sentNs = 0; // steady clock
};

// Body bytes: the 16-byte event header with its three numbers, then the stamp.
constexpr std::size_t kEventBodySize = 16 + 8 + 8 + 4;

std::vector<std::uint8_t> MakeEventBody(const EventStamp& stamp);
// Writes the stamp into a body made by MakeEventBody (saves an allocation per event).
void StampEventBody(std::vector<std::uint8_t>& body, const EventStamp& stamp);
// The stamp of a body the bench made; nullopt for any other body or a damaged one.
std::optional<EventStamp> ReadEventBody(const std::uint8_t* body, std::size_t length);

std::int64_t NowNs();

} // namespace bench
