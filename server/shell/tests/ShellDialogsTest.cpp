#include <shell/ConnEnvDialogModel.h>
#include <shell/ConnectedUsersModel.h>
#include <shell/DialogHost.h>
#include <shell/OptionsDialogModel.h>
#include <shell/ShellDialogs.h>
#include <shell/SplashLibrary.h>
#include <shell/UserDialogsModel.h>

#include "ShellFixture.h"

#include <filesystem>
#include <fstream>

using namespace shell;

namespace shell_test {
namespace {

// Runs each dialog by a script of the test instead of a window.
class ScriptedHost : public DialogHost {
public:
    bool RunConnEnvDialog(ConnEnvDialogModel& model) override {
        ++connEnvRuns;
        return onConnEnv ? onConnEnv(model) : false;
    }
    bool RunOptionsDialog(OptionsDialogModel& model) override {
        ++optionsRuns;
        return onOptions ? onOptions(model) : false;
    }
    void RunUserListDialog(UserListModel& model) override {
        if (onUserList)
            onUserList(model);
    }
    void RunDeviceMapDialog(DeviceMapModel&) override { ++deviceMapRuns; }
    void RunConnectedUsersDialog(ConnectedUsersModel& model) override {
        connectedRows = model.Rows().size();
        ++connectedRuns;
    }
    bool RunDisconnectDialog(const ClientRow&) override { return false; }
    void RefreshConnectedUsers() override { ++refreshes; }
    void ShowSplash() override { ++splashes; }
    void ShowAbout() override {}
    void OpenLogo(const std::string& path) override { logoPath = path; }
    void SetLogoPlaying(bool play) override { logoPlays.push_back(play); }
    void SetMonitorIndicators(bool msg, bool smdr, bool send) override {
        indicators = {msg, smdr, send};
    }
    void RegisterService(bool on) override { services.push_back(on); }

    std::function<bool(ConnEnvDialogModel&)> onConnEnv;
    std::function<bool(OptionsDialogModel&)> onOptions;
    std::function<void(UserListModel&)> onUserList;
    int connEnvRuns = 0, optionsRuns = 0, deviceMapRuns = 0, connectedRuns = 0, refreshes = 0;
    int splashes = 0;
    std::size_t connectedRows = 0;
    std::string logoPath;
    std::vector<bool> logoPlays;
    std::vector<bool> indicators;
    std::vector<bool> services;
};

class ShellDialogsTest : public ShellFixture {
protected:
    OrbManagerServer& Initialised() {
        OrbManagerServer& s = MakeServer();
        s.SetDialogHost(&host);
        EXPECT_TRUE(s.OnInitDialog());
        return s;
    }
    std::string Report() const {
        std::ifstream file(registry.Dir() / "OrbSysData.html", std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), {});
    }
    ScriptedHost host;
};

TEST_F(ShellDialogsTest, InitialisationShowsTheSplashOpensTheLogoLoadsUsersAndWritesTheReport) {
    platform::RegKey users = CreateKey("Software\\Qorvell Electronics\\OrbManager\\UserData");
    users.SetDword("UserListCount", 1);
    platform::RegKey sub;
    users.CreateSub("UserData_0", sub);
    for (const auto& [name, value] : {std::pair{"UserName", "Ann"},
                                      {"IPAddress", "10.0.0.1"},
                                      {"UserType", "0"},
                                      {"UserInfo", ""},
                                      {"DeviceID", "-1"},
                                      {"DeviceSeqNo", "-1"}})
        sub.SetString(name, value);
    OrbManagerServer& s = Initialised();
    EXPECT_EQ(host.splashes, 1);
    EXPECT_EQ(host.logoPath, registry.Dir().string() + "/OrbLogo.avi");
    EXPECT_EQ(s.Dialogs().StoredUserCount(), 1);
    EXPECT_NE(Report().find("Stored User Data List : Total [ 1 ]"), std::string::npos);
    EXPECT_NE(Report().find("<TD>10.0.0.1</TD><TD>Ann</TD>"), std::string::npos);
    EXPECT_NE(s.m_strOsName, "Unknown");
}

TEST_F(ShellDialogsTest, InitialisationStartsTheSwitchedOnMonitorListenersAndTicksTheirBoxes) {
    const int port = FreeListenPortPair();
    ASSERT_NE(port, 0);
    SetOption("UseMsgMonitor", 1);
    SetOption("MsgMonitorListenPortNo", static_cast<std::uint32_t>(port));
    SetOption("UseSMDRUCDMonitor", 0);
    SetOption("UseSMDRUCDSend", 1);
    SetOption("SMDRUCDSendListenPortNo", static_cast<std::uint32_t>(port + 500));
    OrbManagerServer& s = Initialised();
    EXPECT_EQ(host.indicators, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(s.m_bMsgMonitorListenerActive, 1);
    EXPECT_EQ(s.m_bSmdrMonitorListenerActive, 0);
    EXPECT_EQ(s.m_bSendListenerActive, 1);
    EXPECT_FALSE(PortRefuses(port));
    EXPECT_FALSE(PortRefuses(port + 500));
}

TEST_F(ShellDialogsTest, ConnectionSettingsOkCopiesTheTypesAndRewritesTheReport) {
    OrbManagerServer& s = Initialised();
    host.onConnEnv = [](ConnEnvDialogModel& model) {
        model.OnConnType(1);
        model.OnSwitchType(1);
        return model.OnOK(model.Settings());
    };
    s.OnButton(kIdcConnEnv);
    EXPECT_EQ(s.m_nConnType, 1);
    EXPECT_EQ(s.m_nSwitchType, 1);
    EXPECT_EQ(view.connTypeText, "ids127");
    EXPECT_NE(Report().find("Direct Serial Cable"), std::string::npos);
    EXPECT_NE(Report().find("Veltrane Type"), std::string::npos);

    // Cancel changes nothing.
    host.onConnEnv = [](ConnEnvDialogModel& model) {
        model.OnConnType(2);
        return false;
    };
    s.OnButton(kIdcConnEnv);
    EXPECT_EQ(s.m_nConnType, 1);
    EXPECT_EQ(host.connEnvRuns, 2);
}

TEST_F(ShellDialogsTest, OptionsOkAppliesLanguageServiceMonitorsAndSaves) {
    OrbManagerServer& s = Initialised();
    s.m_strMonitorAccessCode = "4444";
    host.onOptions = [](OptionsDialogModel& model) {
        OptionFields f = model.Init();
        f.msgMonitor = true;
        f.msgMonitorPort = std::to_string(FreeListenPortPair());
        f.serviceMode = false;
        f.language = 2;
        return !model.OnOK(f).has_value();
    };
    s.OnButton(kIdcOptions);
    EXPECT_EQ(s.m_nExtension, 2);
    EXPECT_EQ(std::count(view.boxes.begin(), view.boxes.end(), 232), 1);
    EXPECT_EQ(host.services, (std::vector<bool>{false}));
    EXPECT_EQ(host.indicators, (std::vector<bool>{true, false, false}));
    EXPECT_EQ(s.m_bMsgMonitorListenerActive, 1);
    std::string extension;
    CreateKey(kOptionsKey).QueryString("Extension", extension);
    EXPECT_EQ(extension, "GER");
    std::uint32_t userManager = 1;
    CreateKey(kOptionsKey).QueryDword("UseUserManager", userManager);
    EXPECT_EQ(userManager, 0u);
    EXPECT_NE(Report().find("<TR><TD>Use SW Message Monitor</TD><TD align=center>On</TD></TR>"),
              std::string::npos);

    // Cancel: the listeners follow the options as they stand; nothing is saved.
    s.m_bUseMsgMonitor = 0;
    host.onOptions = [](OptionsDialogModel&) { return false; };
    s.OnButton(kIdcOptions);
    EXPECT_EQ(s.m_bMsgMonitorListenerActive, 0);
    EXPECT_EQ(host.services.size(), 1u);
    std::uint32_t stored = 0;
    CreateKey(kOptionsKey).QueryDword("UseMsgMonitor", stored);
    EXPECT_EQ(stored, 1u);
}

// The stop asked for while the dialog is open waits for the button's action to end: what the
// action does after its dialog must not reopen what the stop has closed.
TEST_F(ShellDialogsTest, AStopWhileADialogIsOpenEndsTheServerOnceTheButtonsActionIsOver) {
    const int port = FreeListenPortPair();
    ASSERT_NE(port, 0);
    SetOption("UseMsgMonitor", 1);
    SetOption("MsgMonitorListenPortNo", static_cast<std::uint32_t>(port));
    OrbManagerServer& s = Initialised();
    ASSERT_EQ(s.m_bMsgMonitorListenerActive, 1);
    bool endedWhileOpen = true;
    host.onOptions = [&](OptionsDialogModel&) {
        s.RequestOrderlyStop();
        endedWhileOpen = !endings.empty();
        return false; // rejected by the stop
    };
    s.OnButton(kIdcOptions);
    EXPECT_FALSE(endedWhileOpen);
    EXPECT_TRUE(endings.empty()) << "not before the action is over";
    ASSERT_TRUE(testsupport::SpinUntil([&] { return !endings.empty(); }));
    EXPECT_EQ(endings, std::vector<int>{OrbManagerServer::kResultOk});
    EXPECT_EQ(s.m_bMsgMonitorListenerActive, 0);
    EXPECT_TRUE(PortRefuses(port));
}

TEST_F(ShellDialogsTest, UserDialogsRewriteTheReportAndTheTrayTipShowsTheLinkState) {
    OrbManagerServer& s = Initialised();
    host.onUserList = [](UserListModel& model) { model.Add({"10.0.0.5", "Eve", "", 0}); };
    s.OnButton(kIdcUserList);
    EXPECT_NE(Report().find("<TD>10.0.0.5</TD><TD>Eve</TD>"), std::string::npos);
    s.OnButton(kIdcUserManager);
    EXPECT_EQ(host.deviceMapRuns, 1);
    s.OnButton(kIdcConnectedUsers);
    EXPECT_EQ(host.connectedRuns, 1);
    EXPECT_EQ(host.connectedRows, 0u);

    EXPECT_EQ(s.Dialogs().TrayTip(), "VeltraneLink - ids102");
    s.m_bLinkRunning = 1;
    EXPECT_EQ(s.Dialogs().TrayTip(), "VeltraneLink - ids103[ids237 0 / 0]");
    s.SetResourceLookup([](int id) { return id == 103 ? std::string(80, 'x') : TestText(id); });
    EXPECT_EQ(s.Dialogs().TrayTip().size(), 63u);
    s.m_bLinkRunning = 0;
}

TEST_F(ShellDialogsTest, TheLogoPlaysWhileTheLinkIsUp) {
    OrbManagerServer& s = Initialised();
    s.OnStartStop();
    ASSERT_TRUE(CompletelyRunning());
    ASSERT_FALSE(host.logoPlays.empty());
    EXPECT_TRUE(host.logoPlays.back());
    s.OnStartStop();
    EXPECT_FALSE(host.logoPlays.back());
}

TEST(SplashLibraryTest, CarriesTheSplashBitmapAndAMissingLibraryMeansNone) {
    SplashLibrary library;
    EXPECT_FALSE(library.Load({"/nonexistent"}));
    EXPECT_TRUE(library.Bitmap(SplashLibrary::kBitmapName).empty());
#ifdef RESDLL_DIR
    ASSERT_TRUE(library.Load({"/nonexistent", RESDLL_DIR}));
    const std::vector<std::uint8_t> bitmap = library.Bitmap(SplashLibrary::kBitmapName);
    ASSERT_GT(bitmap.size(), 54u);
    EXPECT_EQ(bitmap[0], 'B');
    EXPECT_EQ(bitmap[1], 'M');
    EXPECT_TRUE(library.Bitmap("IDB_OTHER").empty());
#endif
}

} // namespace
} // namespace shell_test
