#pragma once

#include <array>
#include <cstdint>
#include <string>

// The call generator's state words: the step that ran last (0 idle), the countdown in seconds,
// the next step (0..8) and the first-time flag.
struct CallStepState {
    std::int16_t displayPhase = 0;
    std::int16_t countdown = 0;
    std::int16_t nextStep = 0;
    std::int16_t firstTime = 0;
};

// Positions of the fifteen stored words, in the registry's order.
enum SimStoredWord : int {
    kWordTelNoSize,
    kWordStnCount,
    kWordStnGrpCount,
    kWordStnMemCount,
    kWordTrkCount,
    kWordSimMode,
    kWordCallMode,
    kWordCallCount,
    kWordCliMode,
    kWordCallStepMode,
    kWordRingTime,
    kWordAnsTime,
    kWordHoldTime,
    kWordIdleTime,
    kWordOprInbndCount,
    kStoredWordCount
};

// Everything the simulated switch is shaped by: the stored list positions, the run values taken
// from them at Run and at Call Run, the flags and the numbering bases.
struct SwitchSimSettings {
    std::uint16_t listenPort = 5002;
    std::string localAddress;

    std::array<std::int16_t, kStoredWordCount> stored{}; // list positions (+ OprInbnd Count)
    CallStepState callStep;

    // Run values.
    std::int16_t telNoSize = 4; // 3 or 4 digits per number
    std::int16_t stnCount = 8;
    std::int16_t stnGrpCount = 30;
    std::int16_t stnMemCount = 0;
    std::int16_t trkCount = 8;
    std::int16_t deviceCount = 16; // stnCount + trkCount
    std::int16_t answerMode = 0;   // 0 Auto, 1 Manual
    std::int16_t callMode = 0;     // 0 External, 1 Internal
    std::int16_t callCount = 1;
    std::int16_t cliMode = 0;      // 0 Random, 1 Fixed
    std::int16_t callStepMode = 0; // 0..4 for Mode 1..5
    std::int16_t ringTime = 1;
    std::int16_t ansTime = 1;
    std::int16_t holdTime = 1;
    std::int16_t idleTime = 1;

    // Flags: -1 true, 0 false.
    std::int16_t running = 0;
    std::int16_t callSimRunning = 0;
    std::int16_t callGeneration = 0;
    std::int16_t trace = 0;
    std::int16_t oprMode = 0; // 1 or 0

    double simTimeHours = 1;
    double elapsedSeconds = 0;

    // Numbering bases (201/500/701 with 3 digits, 2001/5000/7001 with 4).
    std::int16_t firstStation = 2001;
    std::int16_t firstGroup = 5000;
    std::int16_t firstTrunk = 7001;
};
