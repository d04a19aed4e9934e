#pragma once

// Test support: a switch link that keeps every frame it is given instead of sending it.
//
//   FramePort port;                  // connected by default
//   SimFrames frames(port, trace, settings, database);
//   ... run a handler ...
//   ASSERT_EQ(port.frames.size(), 2u);
//   EXPECT_EQ(port.Letter(0), 'I');
//   EXPECT_EQ(port.frames[0], (FramePort::Bytes{0x00, 0x0E, 'I', ...}));

#include <switchsim/SimLinkPort.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class FramePort : public SimLinkPort {
public:
    using Bytes = std::vector<std::uint8_t>;

    bool IsConnected() const override { return connected; }
    // Frames given while "not connected" are kept apart: the senders must not call this then.
    void SendFrame(const Bytes& frame) override {
        if (connected) {
            frames.push_back(frame);
        } else {
            framesWhileClosed.push_back(frame);
        }
    }

    // The event letter (byte 2) of frame i, or 0 when the frame is too short or missing.
    char Letter(std::size_t i) const {
        return i < frames.size() && frames[i].size() > 2 ? static_cast<char>(frames[i][2]) : '\0';
    }
    // Every frame's letter in order, e.g. "IR".
    std::string Letters() const {
        std::string out;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            out.push_back(Letter(i));
        }
        return out;
    }
    // The 2-byte big-endian length field of frame i (bytes 0..1), or -1.
    int LengthField(std::size_t i) const {
        if (i >= frames.size() || frames[i].size() < 2) {
            return -1;
        }
        return (frames[i][0] << 8) | frames[i][1];
    }
    void Clear() {
        frames.clear();
        framesWhileClosed.clear();
    }

    bool connected = true;
    std::vector<Bytes> frames;
    std::vector<Bytes> framesWhileClosed;
};
