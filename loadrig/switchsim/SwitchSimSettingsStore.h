#pragma once

#include "SimTrace.h"
#include "SwitchSimSettings.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

// The simulated switch's settings as the user chooses them: the fixed item lists, their stored
// positions in the registry, and the run values taken from them at Run and at Call Run.

// HKEY_LOCAL_MACHINE key of the settings.
inline constexpr const char* kSwitchSimKeyPath = "SOFTWARE\\Qorvell Electronics\\DODEDIdi";

// Message box texts and titles of the settings (shown by the window).
inline constexpr const char* kSwitchSimTitle = "SW Load Rig";
inline constexpr const char* kKeyCreatedTitle = "QMX SW Load Rig";
inline constexpr const char* kTelNoSizeChangedText = "Tel No Size will be changed to 4 digits.";
inline constexpr const char* kNumericOnlyText = "Numeric Value can only be allowed.";

// One fixed item list: its registry value name, the caption of its label and the items in
// their list order (what the combo box shows).
struct SwitchSettingList {
    const char* valueName;
    const char* caption;
    std::vector<std::string> items;
    bool numeric; // the run value is the item's number; otherwise it is the position
};

// The fourteen lists, indexed by SimStoredWord (kWordTelNoSize .. kWordIdleTime).
const std::array<SwitchSettingList, kWordOprInbndCount>& SwitchSettingLists();
// The registry names of the seventeen stored values in their write order.
const std::array<const char*, 17>& SwitchSettingValueNames();

// The twenty station message texts, 16 characters each, blank-padded, longer texts cut.
using StationMessageText = std::array<char, 16>;
const std::array<StationMessageText, 20>& StationMessageTexts();

// The address the listening socket reports: the first non-loopback IPv4 address of this
// machine, else "127.0.0.1".
std::string SwitchLocalAddress();

// Form load: positions, call-step words, flags and operator mode 0; simulation time 1; elapsed
// time 0; local address; listen port 5002. The counters of `trace` (when given) become 0.
void InitSwitchDefaults(SwitchSimSettings& settings, SimTrace* trace = nullptr);

struct SwitchSettingsStoreResult {
    bool ok = true;          // false when the registry could not be read or written
    bool keyCreated = false; // the key was missing and was created with its defaults
};
// The message shown when the key had to be created ("Created HKEY_LOCAL_MACHINE\...").
std::string KeyCreatedMessage();
// Why the settings could not be loaded or saved: the registry file with its line or system error
// when it does not read, else the last registry failure (a folder that cannot be written, say).
std::string SettingsStoreFault();
// The box after a load that failed: the defaults are used, nothing is saved, and why.
std::string RegistryFaultMessage();

// Reads the stored positions, "OprInbnd Count", "Sim Time" and "Opr Mode". REG_SZ decimal text
// and REG_DWORD are read; a missing or unreadable value reads as 0. A list position outside its
// list falls back to the first item. A stored simulation time of 1 to 720 hours is applied,
// anything else gives 1.
SwitchSettingsStoreResult LoadSwitchSettings(SwitchSimSettings& settings);
// Writes the seventeen values as decimal text (creating the key with defaults when missing).
SwitchSettingsStoreResult SaveSwitchSettings(const SwitchSimSettings& settings);

// Run and Call Run: run values from the positions; StnMem Count at most Stn Count (its list then
// shows "8"); operator mode off in Internal call mode; numbering bases by TelNo Size; call
// generation on; call-step state 0, 0, 1, 1. Returns true when the StnMem Count position changed.
bool ReadSwitchSettings(SwitchSimSettings& settings);

// The choice handlers of the lists. Each stores the position (one outside the list is ignored).
void SelectStoredWord(SwitchSimSettings& settings, SimStoredWord word, int position);
// 3 digits caps Stn Count and Trk Count at "96" and "80"; true when either had to change.
bool SelectTelNoSize(SwitchSimSettings& settings, int position);
// "256"/"512" stations or "112"/"128" trunks need 4 digits: true when TelNo Size was switched
// (the window shows kTelNoSizeChangedText).
bool SelectStnCount(SwitchSimSettings& settings, int position);
bool SelectTrkCount(SwitchSimSettings& settings, int position);

// The run value of a list position (the item's number, or the position for text lists);
// a position outside the list is taken as 0.
int SwitchSettingRunValue(SimStoredWord word, int position);

// Status bar texts: panel 1 (address, " : ", port, blank) and panel 4 (call-step mode).
std::string AddressPanelText(const SwitchSimSettings& settings);
std::string CallStepPanelText(int callStepMode);

// The leading numeric part of a text as a number, as settings texts are read: blanks skipped,
// optional sign, digits, optional fraction; empty or no number gives 0.
double LeadingNumber(std::string_view text);
// The leading number rounded to a whole 16-bit value (beyond the range: the nearest end).
std::int16_t LeadingWholeNumber(std::string_view text);
// True for a text that is a number as a whole (blanks around it allowed).
bool IsNumericText(std::string_view text);
// The shortest decimal text of a number (24 gives "24", 1.5 gives "1.5").
std::string ShortestDecimal(double value);
