#include "SimStatusQuery.h"

#include <protocol/CtiRequest.h>

#include <algorithm>
#include <limits>
#include <string>

namespace {

using protocol::FrameHead::Put;

constexpr std::uint8_t kNone = protocol::kAbsentByte;
constexpr int kDigitsOffset = protocol::CtiRequest::kDeviceOffset;
constexpr int kSubLetterOffset = protocol::CtiRequest::kParameterOffset;

} // namespace

SimStatusQuery::SimStatusQuery(const SimSwitchDatabase& database, SimFrames& frames,
                               SimTrace& trace, const SwitchSimSettings& settings)
    : m_db(database), m_frames(frames), m_trace(trace), m_settings(settings) {}

int SimStatusQuery::QueriedNumber(const std::uint8_t* body, int length, bool& readable) const {
    // With three-digit numbering the fourth byte is filler and is not read.
    const int places = m_settings.telNoSize == 3 ? 3 : 4;
    readable = body != nullptr && length >= kDigitsOffset + places;
    int number = 0;
    for (int k = 0; k < places; ++k) {
        const int at = kDigitsOffset + k;
        const std::uint8_t byte = body != nullptr && at < length ? body[at] : 0;
        if (byte > 9) {
            readable = false;
        }
        number = number * 10 + byte;
    }
    return number;
}

void SimStatusQuery::HandleStatusQuery(const std::uint8_t* body, int length) {
    if (body == nullptr || length <= kSubLetterOffset) {
        return;
    }
    bool readable = false;
    const int number = QueriedNumber(body, length, readable);
    // A padding byte in a counted place would add up to some other device's number: such a
    // request names no device at all.
    std::uint16_t index = kSimNotFound;
    if (readable && number <= std::numeric_limits<std::int16_t>::max()) {
        index = m_db.FindDeviceIndex(static_cast<std::int16_t>(number));
    }
    if (index >= m_db.devices.size()) {
        m_trace.AppendSwitchLog("[Error Report] Could not find the Device ID - " +
                                std::to_string(number) + "\r\n");
        return;
    }

    const char subLetter = static_cast<char>(body[kSubLetterOffset]);
    if (SendDeviceReply(m_db.devices[index], subLetter, body, length)) {
        return;
    }
    switch (subLetter) {
    case 'G':
        SendGroupsWithMembers(body, length);
        break;
    case 'g':
        SendGroupDirectory(body, length);
        break;
    case 'h':
        SendGroupMembers(body, length);
        break;
    case 'O':
        SendShortNumbers(body, length);
        break;
    case 'T':
        SendCallerTableA(body, length);
        break;
    case 'E':
        SendCallerTableB(body, length);
        break;
    default:
        break;
    }
}

bool SimStatusQuery::SendDeviceReply(const SimDeviceRecord& device, char subLetter,
                                     const std::uint8_t* body, int length) {
    const SimDeviceInfoBlock& info = device.info;
    switch (subLetter) {
    case 'm': {
        // The link server's link check.
        Frame frame = Header(24, 'Q', 'm', body, length);
        frame[11] = 0x01;
        Send(frame);
        return true;
    }
    case 'B':
    case 'M': {
        const bool listB = subLetter == 'B';
        const auto& list = listB ? info.listB : info.listM;
        const std::size_t count =
            std::min<std::size_t>(listB ? info.listBCount : info.listMCount, list.size());
        Frame frame =
            Header(12 + 4 * count, 'Q', static_cast<std::uint8_t>(subLetter), body, length);
        frame[11] = static_cast<std::uint8_t>(count);
        for (std::size_t i = 0; i < count; ++i) {
            Put(frame, 12 + 4 * i, list[i]);
        }
        Send(frame);
        return true;
    }
    case 'K': {
        Frame frame = Header(16, 'K', info.byteK, body, length);
        Put(frame, 11, info.bytesK);
        frame[15] = kNone;
        Send(frame);
        return true;
    }
    case 'D': {
        Frame frame = Header(12, 'Q', 'D', body, length);
        frame[11] = info.byteD;
        Send(frame);
        return true;
    }
    case 'X': {
        const auto& texts = m_db.stationMessages;
        if (info.stnMsgIndex < texts.size()) {
            // A device with a station message set carries its 16 characters.
            const auto& text = texts[info.stnMsgIndex];
            Frame frame = Header(12 + text.size(), 'X', info.stnMsgIndex, body, length);
            frame[11] = static_cast<std::uint8_t>(text.size());
            std::copy(text.begin(), text.end(), frame.begin() + 12);
            Send(frame);
        } else {
            Frame frame = Header(12, 'X', info.stnMsgIndex, body, length);
            frame[11] = 0x00;
            Send(frame);
        }
        return true;
    }
    case 'F': {
        // Only code 0x15 carries the digits themselves.
        const bool withDigits = info.codeF == 0x15;
        const std::size_t count =
            withDigits ? std::min<std::size_t>(info.digitCountF, info.digitsF.size()) : 0;
        Frame frame = Header(18 + count, 'Q', 'F', body, length);
        frame[11] = info.codeF;
        Put(frame, 12, info.bytesF);
        frame[16] = withDigits ? static_cast<std::uint8_t>(count) : info.digitCountF;
        std::copy_n(info.digitsF.begin(), count, frame.begin() + 17);
        Send(frame);
        return true;
    }
    case 'Z': {
        const auto word = static_cast<std::uint16_t>(info.wordZ);
        Frame frame = Header(14, 'Q', 'Z', body, length);
        frame[11] = static_cast<std::uint8_t>(word >> 8);
        frame[12] = static_cast<std::uint8_t>(word & 0xFF);
        frame[13] = kNone;
        Send(frame);
        return true;
    }
    // N, P and U answer under other sub-codes than their own letters.
    case 'N': {
        Frame frame = Header(12, 'Q', 'Q', body, length);
        frame[11] = info.byteN;
        Send(frame);
        return true;
    }
    case 'P': {
        Frame frame = Header(12, 'Q', 'w', body, length);
        frame[11] = info.byteP;
        Send(frame);
        return true;
    }
    case 'U': {
        Frame frame = Header(12, 'Q', 'N', body, length);
        frame[11] = info.byteU;
        Send(frame);
        return true;
    }
    default:
        return false;
    }
}

SimStatusQuery::Frame SimStatusQuery::Header(std::size_t size, char letter, std::uint8_t subCode,
                                             const std::uint8_t* body, int length) const {
    // As received; with three digits the fourth byte is always the switch's 0x0F.
    Frame frame =
        SimFrames::NumbersFrame(letter, size, {m_frames.CopiedField(body, length, kDigitsOffset)});
    frame[protocol::FrameHead::Framed(protocol::CtiEvent::kSubCodeOffset)] = subCode;
    return frame;
}

bool SimStatusQuery::Send(const Frame& frame) {
    return m_frames.Send(frame, false, true);
}
