#include <protocol/MonitorStartRequest.h>

#include <protocol/CtiRecord.h>

#include <algorithm>

namespace protocol::MonitorStartRequest {

Bytes Build(std::string_view accessCode) {
    Bytes frame(kSize, 0x00);
    CtiRecord::PutLength(frame.data(), static_cast<std::uint16_t>(kSize - CtiRecord::kLengthSize));
    frame[kMessageIdOffset] = kMessageId;
    frame[kEventIdOffset] = kMonitorStart;
    frame[kFillerOffset] = 0xFF;
    frame[kFillerOffset + 1] = 0xFF;
    const std::size_t length = std::min(accessCode.size(), kMaxCodeLength);
    frame[kCodeLengthOffset] = static_cast<std::uint8_t>(length);
    std::copy_n(accessCode.begin(), length,
                frame.begin() + static_cast<std::ptrdiff_t>(kCodeOffset));
    return frame;
}

} // namespace protocol::MonitorStartRequest
