#include "SimCallGenerator.h"

#include <algorithm>

namespace {

// Sizes of the four caller-identity fields of the long offering, in their order.
constexpr std::uint8_t kCallerNumberLength = 16;
constexpr std::uint8_t kCallerNameLength = 11;
constexpr std::uint8_t kDidNumberLength = 14;
constexpr std::uint8_t kDidNameLength = 16;

constexpr std::size_t kLongOfferingSize = 80;
constexpr std::size_t kShortOfferingSize = 24;

} // namespace

SimCallGenerator::SimCallGenerator(SimSwitchDatabase& database, SimFrames& frames, SimTrace& trace,
                                   const SwitchSimSettings& settings)
    : m_db(database), m_frames(frames), m_trace(trace), m_settings(settings) {}

int SimCallGenerator::LineCount() const {
    return std::max<int>(0, m_settings.callCount);
}

int SimCallGenerator::NumberAt(int position) const {
    if (position < 0 || static_cast<std::size_t>(position) >= m_db.devices.size()) {
        return -1;
    }
    return m_db.devices[static_cast<std::size_t>(position)].number;
}

int SimCallGenerator::OriginPosition(int line) const {
    return External() ? m_settings.stnCount + line : m_settings.callCount + line;
}

int SimCallGenerator::TargetPosition(int line) const {
    return External() ? m_settings.callCount + line : 2 * m_settings.callCount + line;
}

namespace {

template <std::size_t N>
std::size_t PutChars(std::vector<std::uint8_t>& frame, std::size_t offset,
                     const std::array<char, N>& text) {
    for (std::size_t i = 0; i < N; ++i) {
        frame[offset + i] = static_cast<std::uint8_t>(text[i]);
    }
    return offset + N;
}

} // namespace

SimCallGenerator::Frame SimCallGenerator::OfferingFrame(int calling, int called, int third,
                                                        std::uint8_t code, int cliLine) const {
    const bool withIdentity = cliLine >= 0;
    Frame frame = m_frames.ThreeNumberFrame(
        'D', withIdentity ? kLongOfferingSize : kShortOfferingSize, calling, called, third);
    if (!withIdentity) {
        frame[22] = code;
        return frame;
    }
    frame[18] = kCallerNumberLength;
    frame[19] = kCallerNameLength;
    frame[20] = kDidNumberLength;
    frame[21] = kDidNameLength;
    const std::size_t record = static_cast<std::size_t>(cliLine) % m_db.cli.size();
    const CliRecord& caller = m_db.cli[record];
    const DidRecord& did = m_db.did[record % m_db.did.size()];
    std::size_t at = PutChars(frame, 22, caller.callerNumber);
    at = PutChars(frame, at, caller.callerName);
    at = PutChars(frame, at, did.number);
    at = PutChars(frame, at, did.name);
    frame[at] = code;
    return frame;
}

bool SimCallGenerator::Send(const Frame& frame, double* counter) {
    if (!m_frames.Send(frame)) {
        return false;
    }
    if (counter != nullptr) {
        *counter += 1;
        if (m_trace.changed) {
            m_trace.changed();
        }
    }
    return true;
}
