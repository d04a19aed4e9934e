#include "SwitchSimSettingsStore.h"

#include <platform/Registry.h>

#include <QHostAddress>
#include <QNetworkInterface>

#include <charconv>
#include <cmath>
#include <limits>

namespace {

const std::vector<std::string> kTimeItems{"1", "2", "4", "8", "16", "20", "30", "60", "90", "120"};

constexpr int kStnCountCapFor3Digits = 6; // "96"
constexpr int kTrkCountCapFor3Digits = 6; // "80"
constexpr int kMemberListFallback = 2;    // "8"
constexpr double kDefaultSimHours = 1;
constexpr double kMaxSimHours = 720;

bool IsListWord(int word) {
    return word >= 0 && word < kWordOprInbndCount;
}

bool InList(SimStoredWord word, int position) {
    return IsListWord(word) && position >= 0 &&
           position < static_cast<int>(SwitchSettingLists()[word].items.size());
}

int Position(const SwitchSimSettings& settings, SimStoredWord word) {
    const int position = settings.stored[word];
    return InList(word, position) ? position : 0;
}

std::string StoredText(const platform::RegKey& key, const char* name) {
    platform::RegValue value;
    if (key.QueryValue(name, value) != platform::RegStatus::Ok) {
        return {};
    }
    switch (value.type) {
    case platform::RegType::String:
        return value.text;
    case platform::RegType::Dword:
        return std::to_string(value.dword);
    default:
        return {};
    }
}

bool WriteDefaults(platform::RegKey& key) {
    bool ok = true;
    for (const char* name : SwitchSettingValueNames()) {
        const bool simTime = std::string_view(name) == "Sim Time";
        ok = key.SetString(name, simTime ? "1" : "0") == platform::RegStatus::Ok && ok;
    }
    return ok;
}

// Opens the key, creating it with its defaults when it is missing.
platform::RegStatus OpenOrCreate(platform::RegKey& key, SwitchSettingsStoreResult& result) {
    platform::RegStatus status =
        platform::RegKey::Open(platform::RegRoot::LocalMachine, kSwitchSimKeyPath, key);
    if (status != platform::RegStatus::NotFound) {
        return status;
    }
    status = platform::RegKey::Create(platform::RegRoot::LocalMachine, kSwitchSimKeyPath, key);
    if (status != platform::RegStatus::Ok) {
        return status;
    }
    result.keyCreated = true;
    if (!WriteDefaults(key)) {
        result.ok = false;
    }
    return status;
}

std::int16_t ToWord(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    const double rounded = std::round(value);
    if (rounded >= std::numeric_limits<std::int16_t>::max()) {
        return std::numeric_limits<std::int16_t>::max();
    }
    if (rounded <= std::numeric_limits<std::int16_t>::min()) {
        return std::numeric_limits<std::int16_t>::min();
    }
    return static_cast<std::int16_t>(rounded);
}

// Length of the number at the start of `text` (after `start`), 0 when there is none.
std::size_t NumberLength(std::string_view text, std::size_t start) {
    std::size_t i = start;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
            ++digits;
        }
    }
    return digits == 0 ? 0 : i - start;
}

std::size_t SkipBlanks(std::string_view text, std::size_t i) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    return i;
}

} // namespace

const std::array<SwitchSettingList, kWordOprInbndCount>& SwitchSettingLists() {
    static const std::array<SwitchSettingList, kWordOprInbndCount> lists{{
        {"TelNo Size", "Tel No Size", {"3", "4"}, true},
        {"Stn Count",
         "Stn Cnt",
         {"8", "16", "32", "48", "64", "80", "96", "128", "256", "512"},
         true},
        {"StnGrp Count", "Stn Grp Cnt", {"30", "80"}, true},
        {"StnMem Count", "Mem Cnt", {"0", "4", "8", "16", "30"}, true},
        {"Trk Count",
         "Trk Cnt",
         {"8", "16", "24", "32", "48", "64", "80", "96", "112", "128"},
         true},
        {"SIM Mode", "Sim Mode", {"Auto", "Manual"}, false},
        {"Call Mode", "Call Mode", {"External", "Internal"}, false},
        {"Call Count",
         "Call Count",
         {"1", "4", "8", "16", "24", "32", "48", "64", "80", "96", "112", "128"},
         true},
        {"CLI Mode", "CLI/DID Mode", {"Random", "Fixed"}, false},
        {"CallStep Mode",
         "Call Step Mode",
         {"Mode 1", "Mode 2", "Mode 3", "Mode 4", "Mode 5"},
         false},
        {"Ring Time", "Ring Time", kTimeItems, true},
        {"Ans Time", "Ans Time", kTimeItems, true},
        {"Hold Time", "Hold Time", kTimeItems, true},
        {"Idle Time", "Idle Time", kTimeItems, true},
    }};
    return lists;
}

const std::array<const char*, 17>& SwitchSettingValueNames() {
    static const std::array<const char*, 17> names{
        "TelNo Size", "Stn Count",  "StnGrp Count",   "StnMem Count",  "Trk Count", "SIM Mode",
        "Call Mode",  "Call Count", "CLI Mode",       "CallStep Mode", "Ring Time", "Ans Time",
        "Hold Time",  "Idle Time",  "OprInbnd Count", "Sim Time",      "Opr Mode"};
    return names;
}

const std::array<StationMessageText, 20>& StationMessageTexts() {
    static const std::array<StationMessageText, 20> texts = [] {
        const char* source[20] = {
            "GIVE ME THE CALL", "TAKE A MESSAGE",    "ASK THEM TO HOLD", "SEND TO MY VM",
            "TRSF TO MY SECY",  "LEAVE A MESSAGE",   "PAGE ME",          "OUT OF TOWN",
            "IN A MEETING",     "I WILL GO BACK",    "YOU ARE FIRED",    "OUT OF OFFICE",
            "IN EDUCATION",     "IN A CONFERENCE",   "BUSINESS TRAVEL",  "PRIVATE MEETING",
            "UNKNOWN POSITION", "MISSING IN ACTION", "KILLED IN ACTION", "GO TO HEAVEN"};
        std::array<StationMessageText, 20> out{};
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i].fill(' ');
            const std::string_view text(source[i]);
            for (std::size_t c = 0; c < out[i].size() && c < text.size(); ++c) {
                out[i][c] = text[c];
            }
        }
        return out;
    }();
    return texts;
}

std::string SwitchLocalAddress() {
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback()) {
            return address.toString().toStdString();
        }
    }
    return "127.0.0.1";
}

void InitSwitchDefaults(SwitchSimSettings& settings, SimTrace* trace) {
    settings.stored.fill(0);
    settings.callStep = CallStepState{};
    settings.running = 0;
    settings.callSimRunning = 0;
    settings.callGeneration = 0;
    settings.trace = 0;
    settings.oprMode = 0;
    settings.simTimeHours = kDefaultSimHours;
    settings.elapsedSeconds = 0;
    settings.localAddress = SwitchLocalAddress();
    settings.listenPort = 5002;
    if (trace != nullptr) {
        trace->totalSent = 0;
        trace->totalReceived = 0;
        trace->sent = SentEventCounters{};
        if (trace->changed) {
            trace->changed();
        }
    }
}

std::string KeyCreatedMessage() {
    return std::string("Created ") + "HKEY_LOCAL_MACHINE\\" + kSwitchSimKeyPath;
}

std::string SettingsStoreFault() {
    const std::string fault = platform::RegistryFileFault();
    return fault.empty() ? platform::RegKey::LastErrorText() : fault;
}

std::string RegistryFaultMessage() {
    const std::string fault = platform::RegistryFileFault();
    return "The settings cannot be read; the defaults are used and nothing is saved.\n\n" +
           (fault.empty() ? platform::RegKey::LastErrorText() : "Registry file: " + fault);
}

SwitchSettingsStoreResult LoadSwitchSettings(SwitchSimSettings& settings) {
    SwitchSettingsStoreResult result;
    platform::RegKey key;
    const bool open = OpenOrCreate(key, result) == platform::RegStatus::Ok;
    if (!open) {
        result.ok = false;
    }

    const auto& names = SwitchSettingValueNames();
    std::array<std::string, 17> texts;
    for (std::size_t i = 0; i < names.size() && open; ++i) {
        texts[i] = StoredText(key, names[i]);
    }

    settings.localAddress = SwitchLocalAddress();
    settings.listenPort = 5002;

    for (int word = 0; word < kStoredWordCount; ++word) {
        const std::int16_t value = LeadingWholeNumber(texts[static_cast<std::size_t>(word)]);
        // A hand-edited position outside its list cannot be shown: it falls back to the first.
        settings.stored[word] =
            IsListWord(word) && !InList(static_cast<SimStoredWord>(word), value) ? 0 : value;
    }
    const double hours = std::round(LeadingNumber(texts[15]));
    settings.simTimeHours = hours >= 1 && hours <= kMaxSimHours ? hours : kDefaultSimHours;
    settings.oprMode = LeadingWholeNumber(texts[16]) != 0 ? 1 : 0;
    return result;
}

SwitchSettingsStoreResult SaveSwitchSettings(const SwitchSimSettings& settings) {
    SwitchSettingsStoreResult result;
    platform::RegKey key;
    if (OpenOrCreate(key, result) != platform::RegStatus::Ok) {
        result.ok = false;
        return result;
    }
    const auto& names = SwitchSettingValueNames();
    bool ok = true;
    for (int word = 0; word < kStoredWordCount; ++word) {
        ok = key.SetString(names[static_cast<std::size_t>(word)],
                           std::to_string(settings.stored[word])) == platform::RegStatus::Ok &&
             ok;
    }
    ok = key.SetString(names[15], ShortestDecimal(settings.simTimeHours)) ==
             platform::RegStatus::Ok &&
         ok;
    ok =
        key.SetString(names[16], std::to_string(settings.oprMode)) == platform::RegStatus::Ok && ok;
    result.ok = result.ok && ok;
    return result;
}

int SwitchSettingRunValue(SimStoredWord word, int position) {
    if (!IsListWord(word)) {
        return 0;
    }
    const SwitchSettingList& list = SwitchSettingLists()[word];
    const int at = InList(word, position) ? position : 0;
    return list.numeric ? std::stoi(list.items[static_cast<std::size_t>(at)]) : at;
}

bool ReadSwitchSettings(SwitchSimSettings& settings) {
    auto value = [&](SimStoredWord word) {
        return static_cast<std::int16_t>(SwitchSettingRunValue(word, Position(settings, word)));
    };
    bool memberListChanged = false;

    settings.telNoSize = value(kWordTelNoSize);
    settings.stnCount = value(kWordStnCount);
    settings.stnGrpCount = value(kWordStnGrpCount);
    settings.stnMemCount = value(kWordStnMemCount);
    settings.trkCount = value(kWordTrkCount);
    if (settings.stnMemCount > settings.stnCount) {
        settings.stnMemCount = settings.stnCount;
        memberListChanged = settings.stored[kWordStnMemCount] != kMemberListFallback;
        settings.stored[kWordStnMemCount] = kMemberListFallback;
    }
    settings.deviceCount = static_cast<std::int16_t>(settings.trkCount + settings.stnCount);

    settings.answerMode = value(kWordSimMode);
    settings.oprMode = settings.oprMode != 0 ? 1 : 0;
    settings.callMode = value(kWordCallMode);
    if (settings.callMode == 1) {
        settings.oprMode = 0;
    }
    settings.callCount = value(kWordCallCount);
    settings.cliMode = value(kWordCliMode);
    settings.callStepMode = value(kWordCallStepMode);
    settings.ringTime = value(kWordRingTime);
    settings.ansTime = value(kWordAnsTime);
    settings.holdTime = value(kWordHoldTime);
    settings.idleTime = value(kWordIdleTime);

    const bool threeDigits = settings.telNoSize == 3;
    settings.firstStation = threeDigits ? 201 : 2001;
    settings.firstGroup = threeDigits ? 500 : 5000;
    settings.firstTrunk = threeDigits ? 701 : 7001;

    settings.callGeneration = -1;
    settings.callStep = CallStepState{0, 0, 1, 1};
    return memberListChanged;
}

void SelectStoredWord(SwitchSimSettings& settings, SimStoredWord word, int position) {
    if (InList(word, position)) {
        settings.stored[word] = static_cast<std::int16_t>(position);
    }
}

bool SelectTelNoSize(SwitchSimSettings& settings, int position) {
    SelectStoredWord(settings, kWordTelNoSize, position);
    if (settings.stored[kWordTelNoSize] != 0) {
        return false;
    }
    bool changed = false;
    if (settings.stored[kWordStnCount] > 7) {
        settings.stored[kWordStnCount] = kStnCountCapFor3Digits;
        changed = true;
    }
    if (settings.stored[kWordTrkCount] > 7) {
        settings.stored[kWordTrkCount] = kTrkCountCapFor3Digits;
        changed = true;
    }
    return changed;
}

namespace {
bool SelectNeedingFourDigits(SwitchSimSettings& settings, SimStoredWord word, int position) {
    SelectStoredWord(settings, word, position);
    if (settings.stored[kWordTelNoSize] == 0 && settings.stored[word] >= 8) {
        settings.stored[kWordTelNoSize] = 1;
        return true;
    }
    return false;
}
} // namespace

bool SelectStnCount(SwitchSimSettings& settings, int position) {
    return SelectNeedingFourDigits(settings, kWordStnCount, position);
}

bool SelectTrkCount(SwitchSimSettings& settings, int position) {
    return SelectNeedingFourDigits(settings, kWordTrkCount, position);
}

std::string AddressPanelText(const SwitchSimSettings& settings) {
    return settings.localAddress + " : " + std::to_string(settings.listenPort) + " ";
}

std::string CallStepPanelText(int callStepMode) {
    static const char* const texts[] = {
        "Call Step : Inbnd->Drop ",
        "Call Step : Inbnd->Ans->Drop ",
        "Call Step : Inbnd->Ans->Hold->Unhold->Drop ",
        "Call Step : Inbnd->Ans->T-Hold/Dial->Ans->CT->Drop ",
        "Call Step : Inbnd->BT/RT->Ans->Drop ",
    };
    return callStepMode >= 0 && callStepMode < 5 ? texts[callStepMode] : "";
}

double LeadingNumber(std::string_view text) {
    const std::size_t start = SkipBlanks(text, 0);
    const std::size_t length = NumberLength(text, start);
    if (length == 0) {
        return 0;
    }
    std::string_view number = text.substr(start, length);
    const bool negative = number.front() == '-';
    if (number.front() == '+' || number.front() == '-') {
        number.remove_prefix(1);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (error != std::errc()) {
        // Out of a double's range: huge when a whole digit is not 0, else vanishingly small.
        const std::string_view whole = number.substr(0, number.find('.'));
        value = whole.find_first_not_of('0') == std::string_view::npos
                    ? 0
                    : std::numeric_limits<double>::max();
    }
    return negative ? -value : value;
}

std::int16_t LeadingWholeNumber(std::string_view text) {
    return ToWord(LeadingNumber(text));
}

bool IsNumericText(std::string_view text) {
    const std::size_t start = SkipBlanks(text, 0);
    const std::size_t length = NumberLength(text, start);
    return length > 0 && SkipBlanks(text, start + length) == text.size();
}

std::string ShortestDecimal(double value) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (error != std::errc()) {
        return "0";
    }
    return std::string(buffer, end);
}
