#pragma once

#include "SwitchSimSettings.h"

#include <string>

// Whether the generated lines of the chosen scenario fit the device table that the run
// settings build. Empty when they do; otherwise the message shown instead of starting Call Run,
// naming the limit that was passed. External calls need a trunk per line (Call Count <= Trk
// Count) and Internal ones two stations per line (2 x Call Count <= Stn Count). The transfer
// scenarios of Auto answer mode ("Mode 4" and "Mode 5") add a transfer target per line: then
// 2 x Call Count <= Stn Count + Trk Count (External) or 3 x Call Count <= Stn Count (Internal).
std::string CheckCallScenarioFits(const SwitchSimSettings& settings);
