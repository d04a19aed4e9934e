#include "SimScenarioLimits.h"

namespace {

// Call Step Mode positions of "Mode 4" (consultation transfer) and "Mode 5" (BT/RT).
constexpr int kModeConsultTransfer = 3;
constexpr int kModeBtRt = 4;

// Manual answer mode runs no call steps, so it never consults a transfer target.
bool UsesTransferTargets(const SwitchSimSettings& settings) {
    return settings.answerMode == 0 &&
           (settings.callStepMode == kModeConsultTransfer || settings.callStepMode == kModeBtRt);
}

} // namespace

std::string CheckCallScenarioFits(const SwitchSimSettings& settings) {
    const int calls = settings.callCount;
    if (calls <= 0) {
        return {};
    }
    const int stations = settings.stnCount;
    const int trunks = settings.trkCount;
    const bool transfers = UsesTransferTargets(settings);
    const std::string head = "Call Count " + std::to_string(calls);

    if (settings.callMode == 0) {
        if (calls > trunks) {
            return head + " is above Trk Count " + std::to_string(trunks) +
                   ": each External call needs a trunk of its own.";
        }
        if (transfers && 2 * calls > stations + trunks) {
            return head + " needs " + std::to_string(2 * calls) +
                   " devices with its transfer targets (2 x Call Count), above Stn Count + Trk "
                   "Count " +
                   std::to_string(stations + trunks) + ".";
        }
        return {};
    }

    const int factor = transfers ? 3 : 2;
    if (factor * calls > stations) {
        return head + " needs " + std::to_string(factor * calls) + " stations for Internal calls" +
               (transfers ? " with transfer targets" : "") + " (" + std::to_string(factor) +
               " x Call Count), above Stn Count " + std::to_string(stations) + ".";
    }
    return {};
}
