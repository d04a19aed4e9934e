#pragma once

#include "SimFrames.h"
#include "SimSwitchDatabase.h"
#include "SwitchSimSettings.h"

#include <array>
#include <cstdint>
#include <vector>

// The device information request 'i': fixed answers to the link server's start and link checks,
// and rows of the constant name and key tables, in frames of up to nine rows. The frames are
// counted, not traced, and a request is never refused: a device the table does not hold only
// shows as FF FF where its own index would stand.
class SimDeviceInfo {
public:
    using Frame = std::vector<std::uint8_t>;
    using Row = std::array<std::uint8_t, 26>;

    static constexpr std::size_t kRowsPerFrame = 9;

    SimDeviceInfo(const SimSwitchDatabase& database, SimFrames& frames,
                  const SwitchSimSettings& settings);

    void HandleDeviceInfoRequest(const std::uint8_t* body, int length);

private:
    struct Request {
        const std::uint8_t* body = nullptr;
        int length = 0;
        std::uint8_t subType = 0;
        const SimDeviceRecord* device = nullptr; // null when the table does not hold it
    };

    // The device of the request (body 4..7), or null.
    const SimDeviceRecord* FindDevice(const std::uint8_t* body, int length) const;
    // A zero-filled frame of `size` bytes with the reply head and text length `textLength`.
    Frame Header(const Request& request, std::size_t size, std::uint8_t replyCode,
                 std::size_t textLength, std::uint8_t sequence, bool last) const;
    // The rows in frames of kRowsPerFrame, sequence 1, 2, ...; stops when the link has gone.
    void SendRows(const Request& request, std::uint8_t replyCode, const std::vector<Row>& rows);
    void SendPortInfo(const Request& request); // sub-type 3
    void SendLineInfo(const Request& request); // sub-type 7
    bool Send(const Frame& frame);

    const SimSwitchDatabase& m_db;
    SimFrames& m_frames;
    const SwitchSimSettings& m_settings;
};
