#pragma once

// Shared by linesweep's tests: a screen that records what it was asked to show, and the
// telephony environment with the maker's provider and a foreign one.

#include <linesweep/LineSweepController.h>
#include <telephony/testing/TelephonyTestEnv.h>
#include <testsupport/TestApp.h>

#include <string>
#include <utility>
#include <vector>

namespace linesweep::test {

struct RecordingUi : LineSweepUi {
    void MessageBox(const std::string& text, MessageIcon icon) override {
        messages.emplace_back(text, icon);
    }
    void Beep() override { ++beeps; }
    std::vector<std::pair<std::string, MessageIcon>> messages;
    int beeps = 0;
};

inline const std::string kClearRequest = "51 4D 58 52 30 00";

} // namespace linesweep::test
