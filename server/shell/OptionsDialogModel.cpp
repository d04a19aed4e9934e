#include "OptionsDialogModel.h"

#include <engine/OrbManagerDlg.h>
#include <engine/TraceSettings.h>

#include <cctype>
#include <limits>

namespace shell {

using namespace engine;

namespace {

constexpr int kBoxRecoverCount = 314;
constexpr int kBoxRecoverPeriod = 316;
constexpr int kBoxAutoClearEmpty = 191;
constexpr int kBoxAutoClearRange = 192;
constexpr int kBoxAccessCodeLength = 312;
constexpr int kBoxAccessCodeFactory = 313;
constexpr int kBoxPortInUse = 196;
constexpr int kBoxLinnet = 227;

bool InRange(long long value, long long low, long long high) {
    return value >= low && value <= high;
}

// One monitor port's checks: empty, zero, range, then the ports it must differ from.
std::optional<OptionsCheckFailure> CheckPort(const std::string& text, int emptyBox, int zeroBox,
                                             int rangeBox, int focus,
                                             std::initializer_list<long long> taken) {
    if (text.empty())
        return OptionsCheckFailure{emptyBox, focus};
    const long long port = LeadingNumber(text);
    if (port == 0)
        return OptionsCheckFailure{zeroBox, focus};
    if (!InRange(port, 1024, 65535))
        return OptionsCheckFailure{rangeBox, focus};
    for (long long other : taken)
        if (port == other)
            return OptionsCheckFailure{kBoxPortInUse, kIdcMsgMonitorPort};
    return std::nullopt;
}

} // namespace

long long LeadingNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr long long kLimit = std::numeric_limits<long long>::max() / 10 - 9;
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        if (value < kLimit)
            value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

OptionsDialogModel::OptionsDialogModel(COrbManagerDlg& dlg, DialogPrompts prompts)
    : m_dlg(dlg), m_prompts(std::move(prompts)), m_nLanguage(dlg.m_nExtension.load()) {}

int OptionsDialogModel::LanguageTextId(int code) {
    switch (code) {
    case 0:
        return 229;
    case 2:
        return 362;
    case 3:
        return 363;
    case 4:
        return 364;
    default:
        return 230;
    }
}

OptionFields OptionsDialogModel::Init() {
    OptionFields f;
    m_nLanguage = m_dlg.m_nExtension.load();
    f.language = m_nLanguage >= 0 && m_nLanguage <= 4 ? m_nLanguage : 1;
    f.autoClearCount = std::to_string(m_dlg.m_nAutoClearLineCnt.load());
    f.autoClear = m_dlg.m_bUseAutoClear.load() != 0;
    f.accessCode = m_dlg.m_strMonitorAccessCode;
    if (f.accessCode == kFactoryAccessCode)
        m_prompts.Box(kBoxAccessCodeFactory);
    f.msgMonitorPort = std::to_string(m_dlg.m_nMsgMonitorListenPortNo.load());
    f.msgMonitor = m_dlg.m_bUseMsgMonitor.load() != 0;
    f.smdrMonitorPort = std::to_string(m_dlg.m_nSMDRUCDMonitorListenPortNo.load());
    f.smdrMonitor = m_dlg.m_bUseSMDRUCDMonitor.load() != 0;
    f.smdrSendPort = std::to_string(m_dlg.m_nSMDRUCDSendListenPortNo.load());
    f.smdrSend = m_dlg.m_bUseSMDRUCDSend.load() != 0;
    f.protectSend = m_dlg.m_bUseProtectSMDRUCDSend.load() == 1;
    f.linnet = m_dlg.m_bUseLinnetPlusMsg.load() != 0;
    f.debugPrint = m_dlg.m_bUseDebugMsgPrint.load() != 0;
    f.debugSave = m_dlg.m_bUseDebugMsgSave.load() != 0;
    f.autoConnect = m_dlg.m_bUseAutoConnect.load() != 0;
    f.serviceMode = m_dlg.m_bUseSystemServiceMode.load() != 0;
    f.recoverCount = std::to_string(m_dlg.m_nAutoRecoverCount.load());
    f.recoverPeriod = std::to_string(m_dlg.m_nAutoRecoverTimePeriod.load());
    return f;
}

bool OptionsDialogModel::RecoveryEditable() const {
    return m_dlg.m_bLinkRunning.load() != 1;
}

bool OptionsDialogModel::ConfirmLinnet() {
    return m_prompts.Ask(kBoxLinnet);
}

std::optional<OptionsCheckFailure> OptionsDialogModel::Check(const OptionFields& f) const {
    const auto lengthIn = [](const std::string& text, std::size_t low, std::size_t high) {
        return text.size() >= low && text.size() <= high;
    };
    if (!lengthIn(f.recoverCount, 1, 4) || !InRange(LeadingNumber(f.recoverCount), 30, 9999))
        return OptionsCheckFailure{kBoxRecoverCount, kIdcRecoverCount};
    if (!lengthIn(f.recoverPeriod, 1, 4) || !InRange(LeadingNumber(f.recoverPeriod), 1, 255))
        return OptionsCheckFailure{kBoxRecoverPeriod, kIdcRecoverPeriod};

    if (f.autoClearCount.empty() || LeadingNumber(f.autoClearCount) == 0)
        return OptionsCheckFailure{kBoxAutoClearEmpty, kIdcAutoClearCount};
    if (!InRange(LeadingNumber(f.autoClearCount), 101, 9999))
        return OptionsCheckFailure{kBoxAutoClearRange, kIdcAutoClearCount};

    if (!lengthIn(f.accessCode, 4, 6))
        return OptionsCheckFailure{kBoxAccessCodeLength, kIdcAccessCode};
    if (f.accessCode == kFactoryAccessCode)
        return OptionsCheckFailure{kBoxAccessCodeFactory, kIdcAccessCode};

    const long long listen = m_dlg.m_nListenPort.load();
    if (auto failed = CheckPort(f.msgMonitorPort, 193, 194, 195, kIdcMsgMonitorPort, {listen}))
        return failed;
    const long long msg = LeadingNumber(f.msgMonitorPort);
    if (auto failed =
            CheckPort(f.smdrMonitorPort, 197, 198, 199, kIdcSmdrMonitorPort, {listen, msg}))
        return failed;
    const long long smdr = LeadingNumber(f.smdrMonitorPort);
    if (auto failed =
            CheckPort(f.smdrSendPort, 201, 202, 203, kIdcSmdrSendPort, {listen, msg, smdr}))
        return failed;
    return std::nullopt;
}

std::optional<OptionsCheckFailure> OptionsDialogModel::OnOK(const OptionFields& f) {
    // The dialog has no control for it; OK switches it off whatever else happens.
    m_dlg.m_bUseUserManager = 0;
    if (auto failed = Check(f)) {
        m_prompts.Box(failed->box);
        return failed;
    }
    Store(f);
    return std::nullopt;
}

void OptionsDialogModel::Store(const OptionFields& f) {
    m_dlg.m_nAutoRecoverCount = static_cast<int>(LeadingNumber(f.recoverCount));
    m_dlg.m_nAutoRecoverTimePeriod = static_cast<int>(LeadingNumber(f.recoverPeriod));
    m_dlg.m_bUseAutoClear = f.autoClear ? 1 : 0;
    m_dlg.m_nAutoClearLineCnt = static_cast<int>(LeadingNumber(f.autoClearCount));
    m_dlg.m_strMonitorAccessCode = f.accessCode;
    m_dlg.m_bUseMsgMonitor = f.msgMonitor ? 1 : 0;
    m_dlg.m_nMsgMonitorListenPortNo = static_cast<int>(LeadingNumber(f.msgMonitorPort));
    m_dlg.m_bUseSMDRUCDMonitor = f.smdrMonitor ? 1 : 0;
    m_dlg.m_nSMDRUCDMonitorListenPortNo = static_cast<int>(LeadingNumber(f.smdrMonitorPort));
    m_dlg.m_bUseSMDRUCDSend = f.smdrSend ? 1 : 0;
    m_dlg.m_bUseProtectSMDRUCDSend = f.protectSend ? 1 : 0;
    m_dlg.m_nSMDRUCDSendListenPortNo = static_cast<int>(LeadingNumber(f.smdrSendPort));
    m_dlg.m_bUseLinnetPlusMsg = f.linnet ? 1 : 0;
    m_dlg.m_bUseDebugMsgPrint = f.debugPrint ? 1 : 0;
    g_nDebugMsgPrint = f.debugPrint ? 2 : 0;
    if (!f.debugSave)
        m_dlg.m_bUseDebugMsgSave = 0;
    else if (m_dlg.m_bUseDebugMsgPrint.load() == 1)
        m_dlg.m_bUseDebugMsgSave = 1;
    m_dlg.m_bUseAutoConnect = f.autoConnect ? 1 : 0;
    m_dlg.m_bUseSystemServiceMode = f.serviceMode ? 1 : 0;
    m_nLanguage = LanguageCodeOf(f.language);
}

} // namespace shell
