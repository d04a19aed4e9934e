#pragma once

#include "DialogPrompts.h"

#include <optional>
#include <string>

namespace engine {
class COrbManagerDlg;
}

namespace shell {

// Control ids of the options dialog.
enum OptionsControlId : int {
    kIdcMsgMonitor = 1082,
    kIdcSmdrMonitor = 1084,
    kIdcSmdrSend = 1087,
    kIdcSmdrSendPort = 1088,
    kIdcMsgMonitorPort = 1091,
    kIdcSmdrMonitorPort = 1092,
    kIdcAccessCode = 1093,
    kIdcRecoverCount = 1094,
    kIdcAutoClear = 1095,
    kIdcAutoClearCount = 1096,
    kIdcRecoverPeriod = 1097,
    kIdcProtectSend = 1098,
    kIdcLinnet = 1111,
    kIdcDebugPrint = 1113,
    kIdcLanguage = 1116,
    kIdcAutoConnect = 1118,
    kIdcDebugSave = 1134,
    kIdcServiceMode = 1188,
};

// What the options dialog shows and edits, in the text forms of its controls.
struct OptionFields {
    std::string recoverCount, recoverPeriod;
    bool autoClear = false;
    std::string autoClearCount;
    std::string accessCode;
    bool msgMonitor = false;
    std::string msgMonitorPort;
    bool smdrMonitor = false;
    std::string smdrMonitorPort;
    bool smdrSend = false, protectSend = false;
    std::string smdrSendPort;
    bool linnet = false, debugPrint = false, debugSave = false;
    bool autoConnect = false, serviceMode = false;
    int language = 1; // list index: KOR, ENG, GER, ITA, RUS
};

// A check that failed: its message box and the control that takes the focus.
struct OptionsCheckFailure {
    int box;
    int focus;
};

// The options dialog's logic over the main dialog's option members. OK checks every field
// before it stores any, so a failed check or Cancel leaves the options as they were (apart from
// the user manager switch, which OK always clears).
class OptionsDialogModel {
public:
    OptionsDialogModel(engine::COrbManagerDlg& dlg, DialogPrompts prompts);

    // The fields from the members; box 313 when the access code is the factory default.
    OptionFields Init();
    // The two recovery fields may be edited only while the link is stopped.
    bool RecoveryEditable() const;

    // Checking the Linnet box asks box 227; false (box cleared again) unless OK.
    bool ConfirmLinnet();
    // The language list's index as the language code: 1..4 as they are, anything else 0.
    static int LanguageCodeOf(int index) { return index >= 1 && index <= 4 ? index : 0; }
    // String id of a language code's list entry.
    static int LanguageTextId(int code);

    // Every check in the dialog's order, against the ports as the fields would set them.
    std::optional<OptionsCheckFailure> Check(const OptionFields& f) const;
    // OK: the failure (box shown, dialog stays open) or nothing once every field is stored.
    std::optional<OptionsCheckFailure> OnOK(const OptionFields& f);

    // The language code the dialog ended with.
    int LanguageCode() const { return m_nLanguage; }

    // The factory access code the dialog refuses.
    static constexpr const char* kFactoryAccessCode = "507193";

private:
    void Store(const OptionFields& f);

    engine::COrbManagerDlg& m_dlg;
    DialogPrompts m_prompts;
    int m_nLanguage = 1;
};

// The leading decimal number of a text (blanks and a sign allowed), 0 without digits.
long long LeadingNumber(const std::string& text);

} // namespace shell
