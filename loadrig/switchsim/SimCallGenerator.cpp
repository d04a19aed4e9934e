#include "SimCallGenerator.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kNone = 0xFF;

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

std::vector<std::uint8_t> Head(std::size_t size, char letter) {
    std::vector<std::uint8_t> frame(size, 0x00);
    frame[1] = static_cast<std::uint8_t>(size - 2);
    frame[2] = static_cast<std::uint8_t>(letter);
    frame[3] = kNone;
    frame[4] = kNone;
    return frame;
}

void Put(std::vector<std::uint8_t>& frame, std::size_t offset,
         const std::array<std::uint8_t, 4>& field) {
    std::copy(field.begin(), field.end(), frame.begin() + static_cast<std::ptrdiff_t>(offset));
}

template <std::size_t N>
std::size_t PutChars(std::vector<std::uint8_t>& frame, std::size_t offset,
                     const std::array<char, N>& text) {
    for (std::size_t i = 0; i < N; ++i) {
        frame[offset + i] = static_cast<std::uint8_t>(text[i]);
    }
    return offset + N;
}

} // namespace

SimCallGenerator::Frame SimCallGenerator::OneNumberFrame(char letter, int number) const {
    Frame frame = Head(10, letter);
    Put(frame, 5, m_frames.NumberField(number));
    return frame;
}

SimCallGenerator::Frame SimCallGenerator::TwoNumberFrame(char letter, int first, int second) const {
    Frame frame = Head(14, letter);
    Put(frame, 5, m_frames.NumberField(first));
    Put(frame, 10, m_frames.NumberField(second));
    return frame;
}

SimCallGenerator::Frame SimCallGenerator::HeldFrame(int device, int other,
                                                    std::uint8_t kind) const {
    Frame frame = Head(16, 'H');
    Put(frame, 5, m_frames.NumberField(device));
    Put(frame, 10, m_frames.NumberField(other));
    frame[14] = kind;
    return frame;
}

SimCallGenerator::Frame SimCallGenerator::TransferFrame(int transferring, int destination,
                                                        int other) const {
    Frame frame = Head(20, 'V');
    Put(frame, 5, m_frames.NumberField(transferring));
    Put(frame, 10, m_frames.NumberField(destination));
    Put(frame, 14, m_frames.NumberField(other));
    frame[18] = 0x01;
    return frame;
}

SimCallGenerator::Frame SimCallGenerator::OfferingFrame(int calling, int called, int third,
                                                        std::uint8_t code, int cliLine) const {
    const bool withIdentity = cliLine >= 0;
    Frame frame = Head(withIdentity ? kLongOfferingSize : kShortOfferingSize, 'D');
    Put(frame, 5, m_frames.NumberField(calling));
    Put(frame, 10, m_frames.NumberField(called));
    if (third < 0) {
        Put(frame, 14, {kNone, kNone, kNone, kNone});
    } else {
        Put(frame, 14, m_frames.NumberField(third));
    }
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
