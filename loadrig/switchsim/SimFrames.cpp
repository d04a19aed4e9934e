#include "SimFrames.h"

#include <protocol/FrameHead.h>
#include <protocol/HexTrace.h>

#include <iterator>

namespace {

using Frame = SimFrames::Frame;
using Field = SimFrames::Field;
using protocol::FrameHead::Put;

constexpr std::uint8_t kNone = protocol::kAbsentByte;
constexpr std::uint8_t kThreeDigitEnd = protocol::DeviceDigits::kSwitchFiller;
constexpr Field kNoNumber{kNone, kNone, kNone, kNone};

Frame Head(std::size_t size, char letter) {
    return protocol::FrameHead::Event(static_cast<std::uint8_t>(letter), size);
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

SimFrames::Field SimFrames::NumberField(int number) const {
    return SimSwitchDatabase::DigitField(number, m_settings.telNoSize);
}

SimFrames::Field SimFrames::CopiedField(const std::uint8_t* body, int length, int offset) const {
    // Bytes the request did not carry read as "no number".
    Field field = kNoNumber;
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
    return protocol::HexTraceLine("<<-- ", frame, protocol::FrameHead::Framed(0)) + "\r\n";
}

std::string SimFrames::FormatReceivedMessage(const std::uint8_t* body, int length) {
    const protocol::ByteView bytes =
        body == nullptr || length <= 0 ? protocol::ByteView{}
                                       : protocol::ByteView(body, static_cast<std::size_t>(length));
    if (bytes.size() < 2) {
        return protocol::HexTraceLine("-->> ", bytes) + "\r\n";
    }
    // The letter stands as it came, whatever byte the peer sent there.
    std::string line = protocol::HexTraceLine("-->> ", bytes.first(1));
    line += '\'';
    line += static_cast<char>(bytes[1]);
    line += "' ";
    protocol::AppendHexTrace(line, bytes.subspan(2));
    line += "\r\n";
    return line;
}

SimFrames::Frame SimFrames::NumbersFrame(char letter, std::size_t size,
                                         std::initializer_list<Field> numbers) {
    static constexpr std::size_t kPlaces[] = {kFirstNumberAt, kSecondNumberAt, kThirdNumberAt};
    Frame frame = Head(size, letter);
    std::size_t place = 0;
    for (const Field& number : numbers) {
        if (place == std::size(kPlaces)) {
            break;
        }
        Put(frame, kPlaces[place++], number);
    }
    return frame;
}

SimFrames::Frame SimFrames::OneNumberFrame(char letter, int number) const {
    return NumbersFrame(letter, 10, {NumberField(number)});
}

SimFrames::Frame SimFrames::TwoNumberFrame(char letter, int first, int second) const {
    return NumbersFrame(letter, 14, {NumberField(first), NumberField(second)});
}

SimFrames::Frame SimFrames::HeldFrame(int device, int other, std::uint8_t kind) const {
    Frame frame = NumbersFrame('H', 16, {NumberField(device), NumberField(other)});
    frame[14] = kind;
    return frame;
}

SimFrames::Frame SimFrames::ThreeNumberFrame(char letter, std::size_t size, int first, int second,
                                             int third) const {
    // A negative third number is "none".
    return NumbersFrame(
        letter, size,
        {NumberField(first), NumberField(second), third < 0 ? kNoNumber : NumberField(third)});
}

void SimFrames::BuildFrameI(int number) {
    Send(OneNumberFrame('I', number));
}

void SimFrames::BuildFrameH(int device, int other) {
    Send(HeldFrame(device, other, 0x00));
}

void SimFrames::BuildFrameD(int calling, int called) {
    Frame frame = ThreeNumberFrame('D', 24, calling, called, -1);
    frame[22] = 0x04;
    Send(frame);
}

void SimFrames::BuildFrameY(int calling, int called) {
    Frame frame = ThreeNumberFrame('Y', 24, calling, called, -1);
    frame[22] = kNone;
    Send(frame);
}

void SimFrames::BuildFrameN(int a, int b) {
    Send(TwoNumberFrame('N', a, b));
}

void SimFrames::BuildFrameR(int a, int b) {
    Send(TwoNumberFrame('R', a, b));
}

void SimFrames::BuildFrameS(int a, int b) {
    Send(TwoNumberFrame('S', a, b));
}

void SimFrames::BuildFrameE(int a, int b) {
    Send(TwoNumberFrame('E', a, b));
}

void SimFrames::BuildFrameT(int a) {
    Send(OneNumberFrame('T', a));
}

void SimFrames::BuildFrameFEvent(int a, int b) {
    Frame frame = NumbersFrame('F', 16, {NumberField(a)});
    frame[10] = 0x02; // the cause this event always reports
    Put(frame, 11, NumberField(b));
    Send(frame);
}

void SimFrames::SendFrameD(int a, int b, int c) {
    Send(NumbersFrame('D', 24, {NumberField(a), NumberField(b), NumberField(c)}));
}

SimFrames::Frame SimFrames::TransferFrame(int transferring, int destination, int other,
                                          int code) const {
    Frame frame = NumbersFrame(
        'V', 20, {NumberField(transferring), NumberField(destination), NumberField(other)});
    frame[18] = static_cast<std::uint8_t>(code);
    return frame;
}

void SimFrames::BuildFrameV(int a, int b, int c, int code) {
    Send(TransferFrame(a, b, c, code));
}

void SimFrames::BuildFrameLowerP(int a, int b, int c) {
    Send(NumbersFrame('p', 18, {NumberField(a), NumberField(b), NumberField(c)}));
}

void SimFrames::SendFrameH(const std::uint8_t* body, int length) {
    Frame frame =
        NumbersFrame('H', 16, {CopiedField(body, length, 4), CopiedField(body, length, 9)});
    frame[14] = 0x01; // hold kind: plain hold
    Send(frame);
}

void SimFrames::SendFramesIR(const std::uint8_t* body, int length) {
    const Field first = CopiedField(body, length, 4);
    if (!Send(NumbersFrame('I', 10, {first}))) {
        return;
    }
    Send(NumbersFrame('R', 14, {first, CopiedField(body, length, 9)}));
}

void SimFrames::SendFramesSE(const std::uint8_t* body, int length) {
    const auto first = CopiedField(body, length, 4);
    const auto second = CopiedField(body, length, 9);
    if (m_settings.callMode == 0) {
        if (!Send(NumbersFrame('S', 16, {first, second}))) {
            return;
        }
    }
    Send(NumbersFrame('E', 14, {second, first}));
}

void SimFrames::SendFailReply(const std::uint8_t* body, int length, int cause) {
    Frame frame = NumbersFrame('F', 16, {CopiedField(body, length, 4)});
    frame[10] = static_cast<std::uint8_t>(cause >= 0 && cause <= 7 ? cause : 0);
    protocol::FrameHead::Fill(frame, 11, 5, kNone);
    Send(frame, false, true);
}

void SimFrames::SendDeviceList() {
    const auto& devices = m_database.devices;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        Frame frame = NumbersFrame('A', 12, {NumberField(devices[i].number)});
        protocol::FrameHead::PutWord(frame, 3, static_cast<std::uint16_t>(i));
        frame[10] = devices[i].type;
        // A closed link ends the download here, without the end record.
        if (!Send(frame, false, true)) {
            return;
        }
    }
    // Device type 0 tells the link server that the download is complete.
    Send(NumbersFrame('A', 12, {devices.empty() ? kNoNumber : NumberField(devices.front().number)}),
         false, false);
}

void SimFrames::SendKeepAliveAnswer() {
    Send(NumbersFrame('u', 10, {kNoNumber}), false, false);
}
