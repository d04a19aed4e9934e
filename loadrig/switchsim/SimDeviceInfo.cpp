#include "SimDeviceInfo.h"

#include <protocol/FrameHead.h>

#include <algorithm>
#include <limits>

namespace {

using protocol::FrameHead::PutWord;

constexpr std::uint8_t kNone = protocol::kAbsentByte;
constexpr std::uint8_t kBlank = 0x20;
constexpr std::size_t kTextAt = 22;
constexpr int kSubTypeOffset = 10;

// A request byte, or the link server's own filler where the request ended early.
std::uint8_t At(const std::uint8_t* body, int length, int offset) {
    return offset < length ? body[offset] : kNone;
}

// Bytes `from` to `to`, both included.
void Fill(SimDeviceInfo::Frame& frame, std::size_t from, std::size_t to, std::uint8_t value) {
    protocol::FrameHead::Fill(frame, from, to + 1 - from, value);
}

void PutIndex(SimDeviceInfo::Frame& frame, std::size_t at, const SimDeviceRecord* device) {
    PutWord(frame, at, device == nullptr ? 0xFFFF : static_cast<std::uint16_t>(device->ownIndex));
}

template <typename Range> std::uint8_t* Copy(const Range& from, std::uint8_t* to) {
    return std::transform(from.begin(), from.end(), to,
                          [](auto b) { return static_cast<std::uint8_t>(b); });
}

} // namespace

SimDeviceInfo::SimDeviceInfo(const SimSwitchDatabase& database, SimFrames& frames,
                             const SwitchSimSettings& settings)
    : m_db(database), m_frames(frames), m_settings(settings) {}

const SimDeviceRecord* SimDeviceInfo::FindDevice(const std::uint8_t* body, int length) const {
    const int places = m_settings.telNoSize == 3 ? 3 : 4;
    if (length < 4 + places) {
        return nullptr;
    }
    int number = 0;
    for (int k = 0; k < places; ++k) {
        const std::uint8_t digit = body[4 + k];
        if (digit > 9) {
            return nullptr;
        }
        number = number * 10 + digit;
    }
    if (number > std::numeric_limits<std::int16_t>::max()) {
        return nullptr;
    }
    const std::uint16_t index = m_db.FindDeviceIndex(static_cast<std::int16_t>(number));
    return index < m_db.devices.size() ? &m_db.devices[index] : nullptr;
}

void SimDeviceInfo::HandleDeviceInfoRequest(const std::uint8_t* body, int length) {
    // Without its sub-type a request asks for nothing.
    if (body == nullptr || length <= kSubTypeOffset) {
        return;
    }
    Request request{body, length, body[kSubTypeOffset], FindDevice(body, length)};
    switch (request.subType) {
    case 0: {
        static constexpr std::array<std::uint8_t, 8> kText{0x00, 0x00, 0x03, 0x02,
                                                           0x13, 0x02, 0x00, 0x54};
        Frame frame = Header(request, 30, 1, kText.size(), 1, true);
        Copy(kText, frame.data() + kTextAt);
        Send(frame);
        break;
    }
    case 2:
        Send(Header(request, 24, 2, 0, 1, true));
        break;
    case 3:
        SendPortInfo(request);
        break;
    case 7:
        SendLineInfo(request);
        break;
    case 13: {
        std::vector<Row> rows;
        for (const NameBcdRecord& record : m_db.nameBcd) {
            Row row{};
            row[0] = static_cast<std::uint8_t>(record.index);
            // The record's closing zero byte is not sent.
            Copy(record.bcd, Copy(record.name, row.data() + 1));
            rows.push_back(row);
        }
        SendRows(request, 13, rows);
        break;
    }
    case 14: {
        std::vector<Row> rows;
        for (const KeyRecord& key : m_db.keys) {
            Row row{};
            std::uint8_t* at = row.data();
            *at++ = key.zero;
            *at++ = key.index;
            at = Copy(key.label, at);
            at = Copy(key.number, at);
            *at++ = key.code;
            *at++ = key.flag;
            at = Copy(key.name, at);
            *at = static_cast<std::uint8_t>(key.blank);
            rows.push_back(row);
        }
        SendRows(request, 14, rows);
        break;
    }
    default:
        // 21, 22, 26 and 34 are known and, like anything else, not answered.
        break;
    }
}

SimDeviceInfo::Frame SimDeviceInfo::Header(const Request& request, std::size_t size,
                                           std::uint8_t replyCode, std::size_t textLength,
                                           std::uint8_t sequence, bool last) const {
    // The start and link checks name no device.
    const bool anonymous = request.subType == 0 || request.subType == 2;
    Frame frame = protocol::FrameHead::Event('i', size);
    if (request.subType == 0) {
        PutWord(frame, 3, 0x0000);
    }
    for (int i = 0; i < 4; ++i) {
        frame[5 + static_cast<std::size_t>(i)] =
            anonymous ? kNone : At(request.body, request.length, 4 + i);
    }
    frame[11] = At(request.body, request.length, 9);
    frame[12] = replyCode;
    frame[13] = 0xD0;
    frame[15] = sequence;
    frame[16] = static_cast<std::uint8_t>(textLength);
    frame[17] = last ? 0xE0 : 0x00;
    if (anonymous) {
        Fill(frame, 18, 21, kNone);
    } else {
        PutIndex(frame, 18, request.device);
        frame[20] = At(request.body, request.length, 18);
        frame[21] = At(request.body, request.length, 19);
    }
    return frame;
}

void SimDeviceInfo::SendRows(const Request& request, std::uint8_t replyCode,
                             const std::vector<Row>& rows) {
    std::uint8_t sequence = 1;
    for (std::size_t first = 0; first < rows.size(); first += kRowsPerFrame, ++sequence) {
        const std::size_t count = std::min(kRowsPerFrame, rows.size() - first);
        const std::size_t textLength = count * Row().size();
        const bool last = first + count == rows.size();
        Frame frame = Header(request, kTextAt + textLength, replyCode, textLength, sequence, last);
        for (std::size_t r = 0; r < count; ++r) {
            Copy(rows[first + r], frame.data() + kTextAt + r * Row().size());
        }
        if (!Send(frame)) {
            return;
        }
    }
}

void SimDeviceInfo::SendPortInfo(const Request& request) {
    Frame frame = Header(request, 54, 4, 32, 1, true);
    std::uint8_t* text = frame.data() + kTextAt;
    text[1] = 0x2A;
    PutIndex(frame, kTextAt + 2, request.device);
    text[5] = 0x0A;
    text[13] = 0x06;
    Fill(frame, kTextAt + 15, kTextAt + 30, kBlank);
    text[31] = kNone;
    Send(frame);
}

void SimDeviceInfo::SendLineInfo(const Request& request) {
    Frame frame = Header(request, 86, 7, 64, 1, true);
    const std::size_t t = kTextAt;
    // A device the table does not hold reports the values every built record has.
    if (request.device != nullptr) {
        const SimDeviceInfoBlock& info = request.device->info;
        frame[t + 0] = info.byteK; // byte 25 of the information block
        frame[t + 1] = info.codeF >= 16 && info.codeF <= 22 ? info.codeF - 16 : 0;
    }
    Fill(frame, t + 2, t + 12, kNone);
    Fill(frame, t + 13, t + 23, kBlank);
    frame[t + 26] = 0x01;
    frame[t + 27] = kNone;
    frame[t + 28] = kNone;
    frame[t + 30] = kNone;
    frame[t + 31] = kNone;
    Fill(frame, t + 33, t + 35, kNone);
    Fill(frame, t + 36, t + 51, kBlank);
    static constexpr std::array<std::uint8_t, 12> kTail{0xFF, 0xFF, 0x03, 0x02, 0x19, 0x02,
                                                        0x00, 0x19, 0x03, 0xFF, 0xFF, 0xFF};
    Copy(kTail, frame.data() + t + 52);
    Send(frame);
}

bool SimDeviceInfo::Send(const Frame& frame) {
    return m_frames.Send(frame, false, true);
}
