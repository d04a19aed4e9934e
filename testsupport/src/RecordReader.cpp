#include <testsupport/RecordReader.h>

#include <utility>

namespace testsupport {

RecordReader::RecordReader() {
    Make();
}

RecordReader::RecordReader(Handler onRecord) : m_handler(std::move(onRecord)) {
    Make();
}

// The assembler's callbacks point at `this`, so a move makes a new one; what was buffered in the
// old one goes with it (readers are moved only before they are fed, or to be started afresh).
RecordReader::RecordReader(RecordReader&& other) noexcept
    : m_handler(std::move(other.m_handler)), m_frames(std::move(other.m_frames)),
      m_count(other.m_count), m_badLengths(other.m_badLengths) {
    Make();
}

RecordReader& RecordReader::operator=(RecordReader&& other) noexcept {
    m_handler = std::move(other.m_handler);
    m_frames = std::move(other.m_frames);
    m_count = other.m_count;
    m_badLengths = other.m_badLengths;
    Make();
    return *this;
}

RecordReader::~RecordReader() = default;

void RecordReader::Make() {
    m_assembler = std::make_unique<protocol::RecordAssembler>(
        protocol::RecordAssembler::BadLengthPolicy::SkipBody,
        [this](const protocol::CtiRecord& record) {
            ++m_count;
            if (m_feedHandler != nullptr) {
                (*m_feedHandler)(record);
                return;
            }
            if (m_handler) {
                m_handler(record);
                return;
            }
            const protocol::ByteView frame = record.Frame();
            m_frames.emplace_back(frame.begin(), frame.end());
        },
        [this](std::uint16_t) { ++m_badLengths; });
}

void RecordReader::Feed(protocol::ByteView chunk) {
    m_assembler->Feed(chunk);
}

void RecordReader::Feed(protocol::ByteView chunk, const Handler& onRecord) {
    const Handler* previous = m_feedHandler;
    m_feedHandler = &onRecord;
    m_assembler->Feed(chunk);
    m_feedHandler = previous;
}

std::vector<Bytes> RecordReader::Bodies() const {
    std::vector<Bytes> bodies;
    bodies.reserve(m_frames.size());
    for (const Bytes& frame : m_frames)
        bodies.emplace_back(frame.begin() + protocol::CtiRecord::kLengthSize, frame.end());
    return bodies;
}

std::size_t RecordReader::Pending() const {
    return m_assembler->Buffered() + m_assembler->SkipRemaining();
}

void RecordReader::ClearRecords() {
    m_frames.clear();
}

void RecordReader::Reset() {
    m_frames.clear();
    m_count = 0;
    m_badLengths = 0;
    m_assembler->Reset();
}

} // namespace testsupport
