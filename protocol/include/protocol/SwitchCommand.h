#pragma once

#include <protocol/Bytes.h>

#include <array>
#include <cstdint>
#include <string_view>

namespace protocol {

// A request that the server builds itself: a zero-filled 400-byte frame of which the first
// Length() bytes are the body handed to the link I/O queue.
class SwitchCommand {
public:
    static constexpr std::size_t kFrameSize = 400;
    using FrameBuffer = std::array<std::uint8_t, kFrameSize>;

    const FrameBuffer& Frame() const { return frame_; }
    std::size_t Length() const { return length_; }
    ByteView Body() const { return ByteView(frame_).first(length_); }

protected:
    explicit SwitchCommand(std::uint8_t letter);

    void SetDevice(std::string_view device);
    void SetLength(std::size_t length) { length_ = length; }

    FrameBuffer frame_{};

private:
    std::size_t length_ = 0;
};

// 'u', every 13 s while the link is up.
class KeepAlivePollCommand : public SwitchCommand {
public:
    explicit KeepAlivePollCommand(std::uint8_t argument);
};

// 'a', once when the link comes up; the switch answers with the device download.
class IAmAliveCommand : public SwitchCommand {
public:
    IAmAliveCommand();
};

// 'Q' for one device; the server's own query carries the sub-letter 'm'.
class DeviceQueryCommand : public SwitchCommand {
public:
    static constexpr std::uint8_t kServerSubLetter = 'm';

    DeviceQueryCommand(std::uint8_t argument, std::string_view device, std::uint8_t subLetter);
};

// 'i' that starts the setup-tool session; the password fills bytes 20 .. 27.
class FirStartRequestCommand : public SwitchCommand {
public:
    static constexpr std::size_t kPasswordOffset = 20;
    static constexpr std::size_t kPasswordSize = 8;

    FirStartRequestCommand(std::uint8_t argument, std::string_view device,
                           std::string_view password);
};

// 'i' that checks the setup-tool session.
class FirLinkCheckCommand : public SwitchCommand {
public:
    FirLinkCheckCommand(std::uint8_t argument, std::string_view device);
};

// 'k', sent as a fixed body: at link start on a direct serial cable, and at link stop on TCP.
struct LinkClearRequest {
    static constexpr std::array<std::uint8_t, 10> kSerial{0x02, 'k',  0xFF, 0xFF, 0xFF,
                                                          0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    static constexpr std::array<std::uint8_t, 9> kTcp{0x02, 'k',  0xFF, 0xFF, 0xFF,
                                                      0xFF, 0xFF, 0xFF, 0x00};
};

} // namespace protocol
