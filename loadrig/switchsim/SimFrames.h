#pragma once

#include "SimLinkPort.h"
#include "SimSwitchDatabase.h"
#include "SimTrace.h"
#include "SwitchSimSettings.h"

#include <protocol/CtiEvent.h>
#include <protocol/FrameHead.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// Every frame the simulated switch sends: [00][size - 2][event body], one send per frame, only
// while the link is connected; event frames are then traced ("<<-- ...") and counted. Each
// frame is built in its own buffer.
class SimFrames {
public:
    using Frame = std::vector<std::uint8_t>;
    using Field = protocol::DeviceDigits::Field;

    // Where an event's first, second and third numbers stand in a whole frame.
    static constexpr std::size_t kFirstNumberAt =
        protocol::FrameHead::Framed(protocol::CtiEvent::kDeviceOffset);
    static constexpr std::size_t kSecondNumberAt =
        protocol::FrameHead::Framed(protocol::CtiEvent::kSecondOffset);
    static constexpr std::size_t kThirdNumberAt =
        protocol::FrameHead::Framed(protocol::CtiEvent::kThirdOffset);

    SimFrames(SimLinkPort& port, SimTrace& trace, const SwitchSimSettings& settings,
              const SimSwitchDatabase& database);

    // The send path. `traced`: a "<<-- " line; `counted`: the sent total. False when the link was
    // not connected (nothing sent, traced or counted).
    bool Send(const std::vector<std::uint8_t>& frame, bool traced = true, bool counted = true);

    // Number fields, for the TelNo Size setting.
    Field NumberField(int number) const;
    // A request's number field (body offset 4 or 9) copied; with 3 digits the fourth byte is 0x0F.
    Field CopiedField(const std::uint8_t* body, int length, int offset) const;

    // An event frame of `size` bytes, zero-filled behind the head, with the numbers given (at most
    // three) at their places.
    static Frame NumbersFrame(char letter, std::size_t size, std::initializer_list<Field> numbers);
    Frame OneNumberFrame(char letter, int number) const;             // 10 bytes: 'I', 'T'
    Frame TwoNumberFrame(char letter, int first, int second) const;  // 14 bytes: 'E', 'N', 'R'
    Frame HeldFrame(int device, int other, std::uint8_t kind) const; // 16 bytes
    // 'V', 20 bytes: the three numbers and the transfer code.
    Frame TransferFrame(int transferring, int destination, int other, int code) const;
    // A negative third number is sent as "none" (FF FF FF FF).
    Frame ThreeNumberFrame(char letter, std::size_t size, int first, int second, int third) const;

    static std::string FormatSentMessage(const std::vector<std::uint8_t>& frame);
    static std::string FormatReceivedMessage(const std::uint8_t* body, int length);

    // Two-number and one-number builders.
    void BuildFrameI(int number);
    void BuildFrameH(int device, int other);   // 16 bytes, hold kind 0
    void BuildFrameD(int calling, int called); // 24 bytes, 0xFF third number, 0x04 at byte 22
    void BuildFrameY(int calling, int called);
    void BuildFrameN(int a, int b);
    void BuildFrameR(int a, int b);
    void BuildFrameS(int a, int b);
    void BuildFrameE(int a, int b);
    void BuildFrameT(int a);
    void BuildFrameFEvent(int a, int b);
    void SendFrameD(int a, int b, int c);
    void BuildFrameV(int a, int b, int c, int code);
    void BuildFrameLowerP(int a, int b, int c);

    // Builders that copy the request's numbers.
    void SendFrameH(const std::uint8_t* body, int length);
    void SendFramesIR(const std::uint8_t* body, int length);
    void SendFramesSE(const std::uint8_t* body, int length);

    // The request result 'F' that refuses a request: counted, not traced.
    void SendFailReply(const std::uint8_t* body, int length, int cause);

    // The answers to 'a' and 'u'.
    void SendDeviceList();
    void SendKeepAliveAnswer();

private:
    SimLinkPort& m_port;
    SimTrace& m_trace;
    const SwitchSimSettings& m_settings;
    const SimSwitchDatabase& m_database;
};
