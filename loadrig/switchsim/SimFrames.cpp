#include "SimFrames.h"

#include <cstdio>

namespace {

using Frame = std::vector<std::uint8_t>;

constexpr std::uint8_t kNone = 0xFF;
constexpr std::uint8_t kThreeDigitEnd = 0x0F;

// A zero-filled frame of `size` bytes with the common head: length, letter, FF FF.
Frame Head(std::size_t size, char letter) {
    Frame frame(size, 0x00);
    frame[0] = 0x00;
    frame[1] = static_cast<std::uint8_t>(size - 2);
    frame[2] = static_cast<std::uint8_t>(letter);
    frame[3] = kNone;
    frame[4] = kNone;
    return frame;
}

void Put(Frame& frame, std::size_t offset, const std::array<std::uint8_t, 4>& field) {
    for (std::size_t i = 0; i < field.size(); ++i) {
        frame[offset + i] = field[i];
    }
}

std::string FormatMessage(const char* prefix, const std::uint8_t* bytes, std::size_t size,
                          std::size_t letterIndex) {
    std::string line = prefix;
    line.reserve(line.size() + size * 3 + 4);
    char hex[4];
    for (std::size_t i = 0; i < size; ++i) {
        if (i == letterIndex) {
            line += '\'';
            line += static_cast<char>(bytes[i]);
            line += "' ";
        } else {
            std::snprintf(hex, sizeof hex, "%02X ", bytes[i]);
            line += hex;
        }
    }
    line += "\r\n";
    return line;
}

} // namespace

SimFrames::SimFrames(SimLinkPort& port, SimTrace& trace, const SwitchSimSettings& settings,
                     const SimSwitchDatabase& database)
    : m_port(port), m_trace(trace), m_settings(settings), m_database(database) {}

bool SimFrames::Send(const std::vector<std::uint8_t>& frame, bool traced, bool counted) {
    if (!m_port.IsConnected()) {
        return false;
    }
    m_port.SendFrame(frame);
    if (traced) {
        m_trace.AppendSwitchLog(FormatSentMessage(frame));
    }
    if (counted) {
        m_trace.totalSent += 1;
        if (m_trace.changed) {
            m_trace.changed();
        }
    }
    return true;
}

std::array<std::uint8_t, 4> SimFrames::NumberField(int number) const {
    return SimSwitchDatabase::DigitField(number, m_settings.telNoSize);
}

std::array<std::uint8_t, 4> SimFrames::CopiedField(const std::uint8_t* body, int length,
                                                   int offset) const {
    // Bytes the request did not carry read as "no number".
    std::array<std::uint8_t, 4> field{kNone, kNone, kNone, kNone};
    for (int i = 0; i < 4; ++i) {
        const int at = offset + i;
        if (body != nullptr && at >= 0 && at < length) {
            field[static_cast<std::size_t>(i)] = body[at];
        }
    }
    if (m_settings.telNoSize == 3) {
        field[3] = kThreeDigitEnd;
    }
    return field;
}

std::string SimFrames::FormatSentMessage(const std::vector<std::uint8_t>& frame) {
    return FormatMessage("<<-- ", frame.data(), frame.size(), 2);
}

std::string SimFrames::FormatReceivedMessage(const std::uint8_t* body, int length) {
    if (body == nullptr || length <= 0) {
        return FormatMessage("-->> ", nullptr, 0, 1);
    }
    return FormatMessage("-->> ", body, static_cast<std::size_t>(length), 1);
}

void SimFrames::BuildFrameI(int number) {
    Frame frame = Head(10, 'I');
    Put(frame, 5, NumberField(number));
    Send(frame);
}

void SimFrames::BuildFrameH(int device, int other) {
    Frame frame = Head(16, 'H');
    Put(frame, 5, NumberField(device));
    Put(frame, 10, NumberField(other));
    Send(frame);
}

void SimFrames::BuildFrameD(int calling, int called) {
    Frame frame = Head(24, 'D');
    Put(frame, 5, NumberField(calling));
    Put(frame, 10, NumberField(called));
    Put(frame, 14, {kNone, kNone, kNone, kNone});
    frame[22] = 0x04;
    Send(frame);
}

void SimFrames::BuildFrameY(int calling, int called) {
    Frame frame = Head(24, 'Y');
    Put(frame, 5, NumberField(calling));
    Put(frame, 10, NumberField(called));
    Put(frame, 14, {kNone, kNone, kNone, kNone});
    frame[22] = kNone;
    Send(frame);
}

namespace {
Frame TwoNumbers(char letter, const std::array<std::uint8_t, 4>& a,
                 const std::array<std::uint8_t, 4>& b) {
    Frame frame = Head(14, letter);
    Put(frame, 5, a);
    Put(frame, 10, b);
    return frame;
}
} // namespace

void SimFrames::BuildFrameN(int a, int b) {
    Send(TwoNumbers('N', NumberField(a), NumberField(b)));
}

void SimFrames::BuildFrameR(int a, int b) {
    Send(TwoNumbers('R', NumberField(a), NumberField(b)));
}

void SimFrames::BuildFrameS(int a, int b) {
    Send(TwoNumbers('S', NumberField(a), NumberField(b)));
}

void SimFrames::BuildFrameE(int a, int b) {
    Send(TwoNumbers('E', NumberField(a), NumberField(b)));
}

void SimFrames::BuildFrameT(int a) {
    Frame frame = Head(10, 'T');
    Put(frame, 5, NumberField(a));
    Send(frame);
}

void SimFrames::BuildFrameFEvent(int a, int b) {
    Frame frame = Head(16, 'F');
    Put(frame, 5, NumberField(a));
    frame[10] = 0x02; // the cause this event always reports
    Put(frame, 11, NumberField(b));
    Send(frame);
}

void SimFrames::SendFrameD(int a, int b, int c) {
    Frame frame = Head(24, 'D');
    Put(frame, 5, NumberField(a));
    Put(frame, 10, NumberField(b));
    Put(frame, 14, NumberField(c));
    Send(frame);
}

void SimFrames::BuildFrameV(int a, int b, int c, int code) {
    Frame frame = Head(20, 'V');
    Put(frame, 5, NumberField(a));
    Put(frame, 10, NumberField(b));
    Put(frame, 14, NumberField(c));
    frame[18] = static_cast<std::uint8_t>(code);
    Send(frame);
}

void SimFrames::BuildFrameLowerP(int a, int b, int c) {
    Frame frame = Head(18, 'p');
    Put(frame, 5, NumberField(a));
    Put(frame, 10, NumberField(b));
    Put(frame, 14, NumberField(c));
    Send(frame);
}

void SimFrames::SendFrameH(const std::uint8_t* body, int length) {
    Frame frame = Head(16, 'H');
    Put(frame, 5, CopiedField(body, length, 4));
    Put(frame, 10, CopiedField(body, length, 9));
    frame[14] = 0x01; // hold kind: plain hold
    Send(frame);
}

void SimFrames::SendFramesIR(const std::uint8_t* body, int length) {
    Frame dialTone = Head(10, 'I');
    Put(dialTone, 5, CopiedField(body, length, 4));
    if (!Send(dialTone)) {
        return;
    }
    Send(TwoNumbers('R', CopiedField(body, length, 4), CopiedField(body, length, 9)));
}

void SimFrames::SendFramesSE(const std::uint8_t* body, int length) {
    const auto first = CopiedField(body, length, 4);
    const auto second = CopiedField(body, length, 9);
    if (m_settings.callMode == 0) {
        Frame frame = Head(16, 'S');
        Put(frame, 5, first);
        Put(frame, 10, second);
        if (!Send(frame)) {
            return;
        }
    }
    Send(TwoNumbers('E', second, first));
}

void SimFrames::SendFailReply(const std::uint8_t* body, int length, int cause) {
    Frame frame = Head(16, 'F');
    Put(frame, 5, CopiedField(body, length, 4));
    frame[10] = static_cast<std::uint8_t>(cause >= 0 && cause <= 7 ? cause : 0);
    for (std::size_t i = 11; i < 16; ++i) {
        frame[i] = kNone;
    }
    Send(frame, false, true);
}

void SimFrames::SendDeviceList() {
    const auto& devices = m_database.devices;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        Frame frame = Head(12, 'A');
        frame[3] = static_cast<std::uint8_t>((i >> 8) & 0xFF);
        frame[4] = static_cast<std::uint8_t>(i & 0xFF);
        Put(frame, 5, NumberField(devices[i].number));
        frame[10] = devices[i].type;
        // A closed link ends the download here, without the end record.
        if (!Send(frame, false, true)) {
            return;
        }
    }
    // Device type 0 tells the link server that the download is complete.
    Frame end = Head(12, 'A');
    if (devices.empty()) {
        Put(end, 5, {kNone, kNone, kNone, kNone});
    } else {
        Put(end, 5, NumberField(devices.front().number));
    }
    Send(end, false, false);
}

void SimFrames::SendKeepAliveAnswer() {
    Frame frame = Head(10, 'u');
    for (std::size_t i = 5; i < 9; ++i) {
        frame[i] = kNone;
    }
    Send(frame, false, false);
}
