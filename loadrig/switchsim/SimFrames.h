#pragma once

#include "SimLinkPort.h"
#include "SimSwitchDatabase.h"
#include "SimTrace.h"
#include "SwitchSimSettings.h"

#include <cstdint>
#include <string>
#include <vector>

// Every frame the simulated switch sends: [00][size - 2][event body], one send per frame, only
// while the link is connected; event frames are then traced ("<<-- ...") and counted. Each
// frame is built in its own buffer.
class SimFrames {
public:
    SimFrames(SimLinkPort& port, SimTrace& trace, const SwitchSimSettings& settings,
              const SimSwitchDatabase& database);

    // The send path. `traced`: a "<<-- " line; `counted`: the sent total. False when the link was
    // not connected (nothing sent, traced or counted).
    bool Send(const std::vector<std::uint8_t>& frame, bool traced = true, bool counted = true);

    // Number fields, for the TelNo Size setting.
    std::array<std::uint8_t, 4> NumberField(int number) const;
    // A request's number field (body offset 4 or 9) copied; with 3 digits the fourth byte is 0x0F.
    std::array<std::uint8_t, 4> CopiedField(const std::uint8_t* body, int length, int offset) const;

    static std::string FormatSentMessage(const std::vector<std::uint8_t>& frame);
    static std::string FormatReceivedMessage(const std::uint8_t* body, int length);

    // Two-number and one-number builders.
    void BuildFrameI(int number);
    void BuildFrameH(int device, int other); // 16 bytes, hold kind 0
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
