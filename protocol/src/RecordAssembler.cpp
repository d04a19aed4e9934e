#include <protocol/RecordAssembler.h>

#include <algorithm>
#include <utility>

namespace protocol {

RecordAssembler::RecordAssembler(BadLengthPolicy policy, RecordHandler onRecord,
                                 BadLengthHandler onBadLength, std::uint16_t maxBodyLength)
    : policy_(policy), onRecord_(std::move(onRecord)), onBadLength_(std::move(onBadLength)),
      maxBody_(static_cast<std::uint16_t>(
          std::min<std::size_t>(maxBodyLength, CtiRecord::kMaxSentBodyLength))) {}

void RecordAssembler::Reset() {
    held_ = 0;
    skip_ = 0;
    queued_.clear();
    ++generation_;
}

void RecordAssembler::Feed(ByteView chunk) {
    if (feeding_) {
        // A handler fed more bytes: handing them out now would overtake the records still
        // waiting in the current chunk and overwrite the buffer a handler may be looking at.
        queued_.insert(queued_.end(), chunk.begin(), chunk.end());
        return;
    }
    struct FeedingScope {
        bool& flag;
        explicit FeedingScope(bool& f) : flag(f) { flag = true; }
        ~FeedingScope() { flag = false; }
    } scope(feeding_);

    Process(chunk);
    while (!queued_.empty()) {
        const Bytes next = std::exchange(queued_, {});
        Process(next);
    }
}

bool RecordAssembler::Deliver(ByteView frame) {
    const unsigned generation = generation_;
    if (onRecord_)
        onRecord_(*CtiRecord::At(frame));
    return generation == generation_;
}

bool RecordAssembler::RefuseLength(std::uint16_t length) {
    held_ = 0;
    const bool keepChunk = policy_ == BadLengthPolicy::SkipBody;
    if (keepChunk)
        skip_ = length;
    const unsigned generation = generation_;
    if (onBadLength_)
        onBadLength_(length);
    return keepChunk && generation == generation_;
}

void RecordAssembler::Process(ByteView chunk) {
    std::size_t pos = 0;
    while (pos < chunk.size()) {
        const std::size_t avail = chunk.size() - pos;

        if (skip_ > 0) {
            const std::size_t n = std::min(skip_, avail);
            skip_ -= n;
            pos += n;
            continue;
        }

        if (held_ == 0) {
            if (avail < CtiRecord::kLengthSize) {
                buffer_[0] = chunk[pos];
                held_ = 1;
                return;
            }
            const std::uint16_t length = CtiRecord::PeekLength(chunk.subspan(pos));
            if (!IsAccepted(length)) {
                pos += CtiRecord::kLengthSize;
                if (!RefuseLength(length))
                    return;
                continue;
            }
            const std::size_t size = CtiRecord::kLengthSize + length;
            if (avail >= size) {
                const ByteView frame = chunk.subspan(pos, size);
                pos += size;
                if (!Deliver(frame))
                    return;
                continue;
            }
            std::copy_n(chunk.begin() + static_cast<std::ptrdiff_t>(pos), avail, buffer_.begin());
            held_ = avail;
            return;
        }

        if (held_ < CtiRecord::kLengthSize) {
            buffer_[held_++] = chunk[pos++];
            const std::uint16_t length = CtiRecord::PeekLength(buffer_);
            if (!IsAccepted(length)) {
                if (!RefuseLength(length))
                    return;
            }
            continue;
        }

        const std::size_t size = CtiRecord::kLengthSize + CtiRecord::PeekLength(buffer_);
        const std::size_t n = std::min(size - held_, avail);
        std::copy_n(chunk.begin() + static_cast<std::ptrdiff_t>(pos), n, buffer_.begin() + held_);
        held_ += n;
        pos += n;
        if (held_ == size) {
            held_ = 0;
            if (!Deliver(ByteView(buffer_).first(size)))
                return;
        }
    }
}

} // namespace protocol
