#include <protocol/ClientRequestFrames.h>

#include <protocol/CtiRequest.h>
#include <protocol/FrameHead.h>
#include <protocol/HexTrace.h>

#include <algorithm>

namespace protocol::ClientRequestFrames {

namespace {

using FrameHead::Put;

Frame Header(char letter, std::size_t size) {
    return FrameHead::Request(static_cast<std::uint8_t>(letter), size);
}

Frame TwoDevices(char letter, int first, int second, int digitCount) {
    Frame frame = Header(letter, 15);
    PutDeviceDigits(frame, 6, first, digitCount);
    PutDeviceDigits(frame, 11, second, digitCount);
    return frame;
}

DeviceDigits::Field Digits(int number, int digitCount) {
    return FrameHead::NumberDigits(static_cast<unsigned>(number), digitCount,
                                   DeviceDigits::kServerFiller);
}

} // namespace

void PutDeviceDigits(Frame& frame, std::size_t at, int number, int digitCount) {
    Put(frame, at, Digits(number, digitCount));
}

Frame LoginRequest(int clientKind) {
    Frame frame = Header('a', 17);
    FrameHead::Fill(frame, 6, DeviceDigits::kSize, DeviceDigits::kServerFiller);
    frame[10] = static_cast<std::uint8_t>(clientKind);
    const std::uint8_t tail[] = {0x01, 0x08, 0x03, 0x02, 0x01, 0x01};
    for (std::size_t i = 0; i < sizeof tail; ++i) {
        frame[11 + i] = tail[i];
    }
    return frame;
}

Frame MakeCallRequest(int caller, int callee, int digitCount) {
    Frame frame = Header('D', static_cast<std::size_t>(12 + digitCount));
    PutDeviceDigits(frame, 6, caller, digitCount);
    frame[11] = static_cast<std::uint8_t>(digitCount);
    // The dialled digits only, without a filler.
    const DeviceDigits::Field dialled = Digits(callee, digitCount);
    std::copy_n(dialled.begin(), digitCount, frame.begin() + 12);
    return frame;
}

Frame MakeCallFreeDialRequest(int caller, const std::string& dialled, int digitCount) {
    Frame frame = Header('D', 12 + dialled.size());
    PutDeviceDigits(frame, 6, caller, digitCount);
    frame[11] = static_cast<std::uint8_t>(dialled.size());
    FrameHead::PutDialled(frame, 12, dialled);
    return frame;
}

Frame AnswerCallRequest(int first, int second, int digitCount) {
    return TwoDevices('F', first, second, digitCount);
}

Frame HoldCallRequest(int first, int second, int digitCount) {
    return TwoDevices('H', first, second, digitCount);
}

Frame RetrieveCallRequest(int first, int second, int digitCount) {
    return TwoDevices('R', first, second, digitCount);
}

Frame DropCallRequest(int device, int digitCount) {
    Frame frame = Header('N', 11);
    PutDeviceDigits(frame, 6, device, digitCount);
    return frame;
}

int FreeDialRoom(int digitCount) {
    return digitCount == 4 ? 18 : 17;
}

bool IsValidFreeDial(const std::string& text, int digitCount) {
    if (text.empty() || static_cast<int>(text.size()) > FreeDialRoom(digitCount)) {
        return false;
    }
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || c == '*' || c == '#')) {
            return false;
        }
    }
    return true;
}

std::string SentLogLine(const Frame& frame) {
    return HexTraceLine("[Sent Event] ", frame, FrameHead::Framed(CtiRequest::kLetterOffset)) +
           "\r\n";
}

} // namespace protocol::ClientRequestFrames
