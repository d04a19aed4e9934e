#include "ClientRequestFrames.h"

#include <cstdio>

namespace clientframes {

namespace {

constexpr std::uint8_t kRequestId = 0x02;

// 00 L 02 letter FF FF, the rest of `size` zero.
Frame Header(char letter, std::size_t size) {
    Frame frame(size, 0x00);
    frame[1] = static_cast<std::uint8_t>(size - 2);
    frame[2] = kRequestId;
    frame[3] = static_cast<std::uint8_t>(letter);
    frame[4] = 0xFF;
    frame[5] = 0xFF;
    return frame;
}

Frame TwoDevices(char letter, int first, int second, int digitCount) {
    Frame frame = Header(letter, 15);
    PutDeviceDigits(frame, 6, first, digitCount);
    PutDeviceDigits(frame, 11, second, digitCount);
    return frame;
}

void PutDigits(Frame& frame, std::size_t at, int number, int digitCount) {
    int divisor = digitCount == 4 ? 1000 : 100;
    for (int i = 0; i < digitCount; ++i) {
        frame[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(number / divisor % 10);
        divisor /= 10;
    }
}

} // namespace

void PutDeviceDigits(Frame& frame, std::size_t at, int number, int digitCount) {
    PutDigits(frame, at, number, digitCount);
    if (digitCount == 3) {
        frame[at + 3] = 0xFF;
    }
}

Frame LoginRequest(int clientKind) {
    Frame frame = Header('a', 17);
    for (std::size_t i = 6; i < 10; ++i) {
        frame[i] = 0xFF;
    }
    frame[10] = static_cast<std::uint8_t>(clientKind);
    const std::uint8_t tail[] = {0x01, 0x08, 0x03, 0x02, 0x01, 0x01};
    for (std::size_t i = 0; i < sizeof tail; ++i) {
        frame[11 + i] = tail[i];
    }
    return frame;
}

Frame MakeCall(int caller, int callee, int digitCount) {
    Frame frame = Header('D', static_cast<std::size_t>(12 + digitCount));
    PutDeviceDigits(frame, 6, caller, digitCount);
    frame[11] = static_cast<std::uint8_t>(digitCount);
    PutDigits(frame, 12, callee, digitCount);
    return frame;
}

Frame MakeCallFreeDial(int caller, const std::string& dialled, int digitCount) {
    Frame frame = Header('D', 12 + dialled.size());
    PutDeviceDigits(frame, 6, caller, digitCount);
    frame[11] = static_cast<std::uint8_t>(dialled.size());
    for (std::size_t i = 0; i < dialled.size(); ++i) {
        const char c = dialled[i];
        frame[12 + i] = c == '#' ? 0x0B : c == '*' ? 0x0A : static_cast<std::uint8_t>(c - '0');
    }
    return frame;
}

Frame AnswerCall(int first, int second, int digitCount) {
    return TwoDevices('F', first, second, digitCount);
}

Frame HoldCall(int first, int second, int digitCount) {
    return TwoDevices('H', first, second, digitCount);
}

Frame RetrieveCall(int first, int second, int digitCount) {
    return TwoDevices('R', first, second, digitCount);
}

Frame DropCall(int device, int digitCount) {
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
    std::string line = "[Sent Event] ";
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (i == 3) {
            line += '\'';
            line += static_cast<char>(frame[i]);
            line += "' ";
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X ", frame[i]);
            line += hex;
        }
    }
    line += "\r\n";
    return line;
}

} // namespace clientframes
