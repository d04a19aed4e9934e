#include "DialogsFixture.h"
#include <shell/OptionsDialogModel.h>

#include <engine/TraceSettings.h>

using namespace engine;
using namespace shell;

namespace shell_test {
namespace {

class OptionsDialogModelTest : public DialogsTest {
protected:
    void SetUp() override {
        DialogsTest::SetUp();
        dlg.m_nListenPort = 6000;
        dlg.m_strMonitorAccessCode = "4321";
        model = std::make_unique<OptionsDialogModel>(dlg, Prompts());
    }
    // Fields that pass every check.
    OptionFields Valid() {
        OptionFields f = model->Init();
        f.recoverCount = "30";
        f.recoverPeriod = "1";
        f.autoClearCount = "101";
        f.accessCode = "0000";
        f.msgMonitorPort = "1024";
        f.smdrMonitorPort = "65535";
        f.smdrSendPort = "7003";
        return f;
    }
    // The failure of one changed field, with its box and focus.
    std::pair<int, int> Failure(void (*change)(OptionFields&)) {
        OptionFields f = Valid();
        change(f);
        const auto failed = model->Check(f);
        return failed ? std::make_pair(failed->box, failed->focus) : std::make_pair(0, 0);
    }
    std::unique_ptr<OptionsDialogModel> model;
};

TEST_F(OptionsDialogModelTest, EveryCheckGivesItsBoxAndFocus) {
    using F = OptionFields;
    EXPECT_EQ(Failure([](F&) {}), std::make_pair(0, 0));
    EXPECT_EQ(Failure([](F& f) { f.recoverCount = "29"; }), std::make_pair(314, 1094));
    EXPECT_EQ(Failure([](F& f) { f.recoverCount = "10000"; }), std::make_pair(314, 1094));
    EXPECT_EQ(Failure([](F& f) { f.recoverCount = ""; }), std::make_pair(314, 1094));
    EXPECT_EQ(Failure([](F& f) { f.recoverPeriod = "256"; }), std::make_pair(316, 1097));
    EXPECT_EQ(Failure([](F& f) { f.recoverPeriod = "0"; }), std::make_pair(316, 1097));
    EXPECT_EQ(Failure([](F& f) { f.autoClearCount = ""; }), std::make_pair(191, 1096));
    EXPECT_EQ(Failure([](F& f) { f.autoClearCount = "abc"; }), std::make_pair(191, 1096));
    EXPECT_EQ(Failure([](F& f) { f.autoClearCount = "100"; }), std::make_pair(192, 1096));
    EXPECT_EQ(Failure([](F& f) { f.autoClearCount = "9999"; }), std::make_pair(0, 0));
    EXPECT_EQ(Failure([](F& f) { f.accessCode = "123"; }), std::make_pair(312, 1093));
    EXPECT_EQ(Failure([](F& f) { f.accessCode = "1234567"; }), std::make_pair(312, 1093));
    EXPECT_EQ(Failure([](F& f) { f.accessCode = "507193"; }), std::make_pair(313, 1093));
    EXPECT_EQ(Failure([](F& f) { f.msgMonitorPort = ""; }), std::make_pair(193, 1091));
    EXPECT_EQ(Failure([](F& f) { f.msgMonitorPort = "0"; }), std::make_pair(194, 1091));
    EXPECT_EQ(Failure([](F& f) { f.msgMonitorPort = "1023"; }), std::make_pair(195, 1091));
    EXPECT_EQ(Failure([](F& f) { f.msgMonitorPort = "6000"; }), std::make_pair(196, 1091));
    EXPECT_EQ(Failure([](F& f) { f.smdrMonitorPort = ""; }), std::make_pair(197, 1092));
    EXPECT_EQ(Failure([](F& f) { f.smdrMonitorPort = "0"; }), std::make_pair(198, 1092));
    EXPECT_EQ(Failure([](F& f) { f.smdrMonitorPort = "65536"; }), std::make_pair(199, 1092));
    EXPECT_EQ(Failure([](F& f) { f.smdrMonitorPort = "1024"; }), std::make_pair(196, 1091));
    EXPECT_EQ(Failure([](F& f) { f.smdrSendPort = ""; }), std::make_pair(201, 1088));
    EXPECT_EQ(Failure([](F& f) { f.smdrSendPort = "0"; }), std::make_pair(202, 1088));
    EXPECT_EQ(Failure([](F& f) { f.smdrSendPort = "1023"; }), std::make_pair(203, 1088));
    EXPECT_EQ(Failure([](F& f) { f.smdrSendPort = "1024"; }), std::make_pair(196, 1091));
    EXPECT_EQ(Failure([](F& f) { f.smdrSendPort = "65535"; }), std::make_pair(196, 1091));
    EXPECT_EQ(Failure([](F& f) { f.smdrSendPort = "6000"; }), std::make_pair(196, 1091));
    // In the dialog's order: the first failing field is the one reported.
    EXPECT_EQ(Failure([](F& f) {
                  f.accessCode = "1";
                  f.recoverPeriod = "0";
              }),
              std::make_pair(316, 1097));
}

TEST_F(OptionsDialogModelTest, AFailedOkStoresNothingButTheUserManagerSwitch) {
    OptionFields f = Valid();
    f.recoverCount = "500";
    f.autoClear = true;
    f.msgMonitor = true;
    f.msgMonitorPort = "6000"; // the client listen port
    ASSERT_TRUE(model->OnOK(f).has_value());
    EXPECT_EQ(boxes, (std::vector<int>{196}));
    EXPECT_EQ(dlg.m_bUseUserManager, 0);
    EXPECT_EQ(dlg.m_nAutoRecoverCount, 30);
    EXPECT_EQ(dlg.m_bUseAutoClear, 0);
    EXPECT_EQ(dlg.m_bUseMsgMonitor, 0);
    EXPECT_EQ(dlg.m_strMonitorAccessCode, "4321");
}

TEST_F(OptionsDialogModelTest, AValidOkStoresEveryField) {
    OptionFields f = Valid();
    f.recoverCount = "45";
    f.recoverPeriod = "9";
    f.autoClear = true;
    f.autoClearCount = "2000";
    f.accessCode = "8888";
    f.msgMonitor = f.smdrMonitor = f.smdrSend = f.protectSend = f.linnet = true;
    f.autoConnect = f.serviceMode = true;
    f.debugPrint = false;
    f.debugSave = true;
    f.language = 2;
    ASSERT_FALSE(model->OnOK(f).has_value());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(dlg.m_nAutoRecoverCount, 45);
    EXPECT_EQ(dlg.m_nAutoRecoverTimePeriod, 9);
    EXPECT_EQ(dlg.m_bUseAutoClear, 1);
    EXPECT_EQ(dlg.m_nAutoClearLineCnt, 2000);
    EXPECT_EQ(dlg.m_strMonitorAccessCode, "8888");
    EXPECT_EQ(dlg.m_nMsgMonitorListenPortNo, 1024);
    EXPECT_EQ(dlg.m_nSMDRUCDMonitorListenPortNo, 65535);
    EXPECT_EQ(dlg.m_nSMDRUCDSendListenPortNo, 7003);
    EXPECT_EQ(dlg.m_bUseMsgMonitor + dlg.m_bUseSMDRUCDMonitor + dlg.m_bUseSMDRUCDSend +
                  dlg.m_bUseProtectSMDRUCDSend + dlg.m_bUseLinnetPlusMsg + dlg.m_bUseAutoConnect +
                  dlg.m_bUseSystemServiceMode,
              7);
    EXPECT_EQ(dlg.m_bUseUserManager, 0);
    // Debug output off: saving it stays as it was; the trace's debugger output goes off too.
    EXPECT_EQ(dlg.m_bUseDebugMsgPrint, 0);
    EXPECT_EQ(dlg.m_bUseDebugMsgSave, 0);
    EXPECT_EQ(g_nDebugMsgPrint.load(), 0u);
    EXPECT_EQ(model->LanguageCode(), 2);

    f.debugPrint = true;
    ASSERT_FALSE(model->OnOK(f).has_value());
    EXPECT_EQ(dlg.m_bUseDebugMsgSave, 1);
    EXPECT_EQ(g_nDebugMsgPrint.load(), 2u);
    f.debugSave = false;
    ASSERT_FALSE(model->OnOK(f).has_value());
    EXPECT_EQ(dlg.m_bUseDebugMsgSave, 0);
}

TEST_F(OptionsDialogModelTest, OpeningShowsTheMembersAndWarnsOfTheFactoryCode) {
    dlg.m_nAutoRecoverCount = 77;
    dlg.m_bUseProtectSMDRUCDSend = 2; // only 1 checks the box
    dlg.m_nExtension = 4;
    dlg.m_bLinkRunning = 1;
    OptionFields f = model->Init();
    EXPECT_EQ(f.recoverCount, "77");
    EXPECT_FALSE(f.protectSend);
    EXPECT_EQ(f.language, 4);
    EXPECT_FALSE(model->RecoveryEditable());
    EXPECT_TRUE(boxes.empty());
    dlg.m_strMonitorAccessCode = OptionsDialogModel::kFactoryAccessCode;
    model->Init();
    EXPECT_EQ(boxes, (std::vector<int>{313}));

    EXPECT_EQ(OptionsDialogModel::LanguageTextId(0), 229);
    EXPECT_EQ(OptionsDialogModel::LanguageTextId(1), 230);
    EXPECT_EQ(OptionsDialogModel::LanguageTextId(3), 363);
    EXPECT_EQ(OptionsDialogModel::LanguageCodeOf(-1), 0);

    answers[227] = false;
    EXPECT_FALSE(model->ConfirmLinnet());
    answers[227] = true;
    EXPECT_TRUE(model->ConfirmLinnet());
    EXPECT_EQ(asked, (std::vector<int>{227, 227}));
}

} // namespace
} // namespace shell_test
