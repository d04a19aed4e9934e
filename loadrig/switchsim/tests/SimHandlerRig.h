#pragma once

// Test support for the call-control handlers: a built table of 8 stations and 8 trunks, a
// recording link, and request bodies as the link server writes them (0xFF behind a 3-digit
// number).

#include "FramePort.h"
#include <switchsim/SimCallHandlers.h>
#include <switchsim/SimFrames.h>
#include <switchsim/SimSwitchDatabase.h>
#include <switchsim/SimTrace.h>
#include <switchsim/SwitchSimSettings.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

struct SimHandlerRig {
    using Bytes = std::vector<std::uint8_t>;

    explicit SimHandlerRig(int telNoSize = 4, int callMode = 0) {
        settings.telNoSize = static_cast<std::int16_t>(telNoSize);
        settings.callMode = static_cast<std::int16_t>(callMode);
        settings.stnCount = 8;
        settings.trkCount = 8;
        settings.deviceCount = 16;
        settings.stnGrpCount = 30;
        settings.firstStation = telNoSize == 3 ? 201 : 2001;
        settings.firstGroup = telNoSize == 3 ? 500 : 5000;
        settings.firstTrunk = telNoSize == 3 ? 701 : 7001;
        db.BuildSwitchDatabase(settings);
        trace.SetEnabled(true);
    }

    // Station s (0-based) and trunk t numbers for the rig's numbering.
    int Stn(int s) const { return settings.firstStation + s; }
    int Trk(int t) const { return settings.firstTrunk + t; }

    SimDeviceRecord& Dev(int number) {
        const std::uint16_t index = db.FindDeviceIndex(static_cast<std::int16_t>(number));
        EXPECT_NE(index, kSimNotFound) << number;
        return db.devices.at(index);
    }
    void SetSlot(int device, int slot, std::int16_t state, int partner) {
        Dev(device).callSlots.at(slot) = CallSlot{state, static_cast<std::int16_t>(partner)};
    }
    // A connected call a <-> b in the first free slots, both counted.
    void Connect(int a, int b) {
        Place(a, SlotConnected, b);
        Place(b, SlotConnected, a);
    }
    void Place(int device, std::int16_t state, int partner) {
        SimDeviceRecord& d = Dev(device);
        for (CallSlot& slot : d.callSlots) {
            if (slot.state == SlotFree) {
                slot = CallSlot{state, static_cast<std::int16_t>(partner)};
                ++d.callCount;
                return;
            }
        }
        ADD_FAILURE() << "no free slot at " << device;
    }
    // A slot as "(state, partner)", e.g. "(3, 2002)".
    std::string Slot(int device, int slot) {
        const CallSlot& s = Dev(device).callSlots.at(slot);
        return "(" + std::to_string(s.state) + ", " + std::to_string(s.partner) + ")";
    }
    static std::string SlotText(int state, int partner) {
        return "(" + std::to_string(state) + ", " + std::to_string(partner) + ")";
    }

    Bytes Digits(int number) const {
        if (settings.telNoSize == 3) {
            return {static_cast<std::uint8_t>(number / 100),
                    static_cast<std::uint8_t>(number % 100 / 10),
                    static_cast<std::uint8_t>(number % 10), 0xFF};
        }
        return {static_cast<std::uint8_t>(number / 1000),
                static_cast<std::uint8_t>(number % 1000 / 100),
                static_cast<std::uint8_t>(number % 100 / 10),
                static_cast<std::uint8_t>(number % 10)};
    }
    // 02 letter FF FF <first> 00, then the rest as given.
    Bytes Request(char letter, int first, const Bytes& rest = {}) const {
        Bytes body{0x02, static_cast<std::uint8_t>(letter), 0xFF, 0xFF};
        const Bytes digits = Digits(first);
        body.insert(body.end(), digits.begin(), digits.end());
        body.push_back(0x00);
        body.insert(body.end(), rest.begin(), rest.end());
        return body;
    }
    // 'D' / long 'L': the digit count at byte 9, then the digits of `dialled`.
    Bytes Dialling(char letter, int first, int dialled) const {
        const std::string text = std::to_string(dialled);
        Bytes rest{static_cast<std::uint8_t>(text.size())};
        for (char c : text) {
            rest.push_back(static_cast<std::uint8_t>(c - '0'));
        }
        return Request(letter, first, rest);
    }
    // Two or three numbers at bytes 4, 9 and 13.
    Bytes Numbers(char letter, int a, int b, int c = -1) const {
        Bytes rest = Digits(b);
        if (c >= 0) {
            const Bytes third = Digits(c);
            rest.insert(rest.end(), third.begin(), third.end());
        }
        return Request(letter, a, rest);
    }

    // The number in a frame's 4-byte field at frame offset `at`, read back with the rig's size.
    int FrameNumber(std::size_t frame, std::size_t at) const {
        const Bytes& f = port.frames.at(frame);
        if (settings.telNoSize == 3) {
            EXPECT_EQ(f.at(at + 3), 0x0F);
            return f.at(at) * 100 + f.at(at + 1) * 10 + f.at(at + 2);
        }
        return f.at(at) * 1000 + f.at(at + 1) * 100 + f.at(at + 2) * 10 + f.at(at + 3);
    }
    // Letter and first/second numbers of a frame, e.g. "N 2001 2003".
    std::string Event(std::size_t frame, bool second = true) const {
        std::string text(1, port.Letter(frame));
        text += " " + std::to_string(FrameNumber(frame, 5));
        if (second) {
            text += " " + std::to_string(FrameNumber(frame, 10));
        }
        return text;
    }
    // The only frame is a refusal 'F' with this cause.
    void ExpectRefused(int cause) const {
        ASSERT_EQ(port.frames.size(), 1u) << port.Letters();
        const Bytes& f = port.frames[0];
        ASSERT_EQ(f.size(), 16u);
        EXPECT_EQ(f[2], 'F');
        EXPECT_EQ(f[10], cause);
        EXPECT_EQ(f[11], 0xFF);
    }
    bool Logged(const std::string& line) const {
        return trace.Text().find(line + "\r\n") != std::string::npos;
    }
    // Copies of the device table, to compare after a refusal.
    std::vector<SimDeviceRecord> Snapshot() const { return db.devices; }
    static bool SameTable(const std::vector<SimDeviceRecord>& x,
                          const std::vector<SimDeviceRecord>& y) {
        if (x.size() != y.size()) {
            return false;
        }
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (x[i].holdMode != y[i].holdMode || x[i].heldParty != y[i].heldParty ||
                x[i].transferTarget != y[i].transferTarget || x[i].callCount != y[i].callCount) {
                return false;
            }
            for (int k = 0; k < kCallSlots; ++k) {
                if (x[i].callSlots[k].state != y[i].callSlots[k].state ||
                    x[i].callSlots[k].partner != y[i].callSlots[k].partner) {
                    return false;
                }
            }
        }
        return true;
    }

    template <typename Handler> void Run(Handler handler, const Bytes& body) {
        (handlers.*handler)(body.data(), static_cast<int>(body.size()));
    }

    SwitchSimSettings settings;
    SimSwitchDatabase db;
    SimTrace trace;
    FramePort port;
    SimFrames frames{port, trace, settings, db};
    SimCallHandlers handlers{db, frames, trace, settings};
};
