// The switch's address from the registry to the link and the report: a link start takes the
// connection settings as stored and fails without them, the settings dialog fills in the missing
// ones, and the report names the address last connected.

#include "ShellFixture.h"

#include <shell/ConnEnvDialogModel.h>
#include <shell/DialogHost.h>

#include <fstream>
#include <iterator>

using namespace shell_test;
using namespace engine;
using namespace shell;

namespace {

// Only the connection settings dialog is run, by the test's script; the rest does nothing.
class ConnEnvOnlyHost : public DialogHost {
public:
    bool RunConnEnvDialog(ConnEnvDialogModel& model) override {
        shown = model.Settings();
        return onConnEnv ? onConnEnv(model) : false;
    }
    bool RunOptionsDialog(OptionsDialogModel&) override { return false; }
    void RunUserListDialog(UserListModel&) override {}
    void RunDeviceMapDialog(DeviceMapModel&) override {}
    void RunConnectedUsersDialog(ConnectedUsersModel&) override {}
    bool RunDisconnectDialog(const ClientRow&) override { return false; }
    void RefreshConnectedUsers() override {}
    void ShowSplash() override {}
    void ShowAbout() override {}
    void OpenLogo(const std::string&) override {}
    void SetLogoPlaying(bool) override {}
    void SetMonitorIndicators(bool, bool, bool) override {}
    void RegisterService(bool) override {}

    std::function<bool(ConnEnvDialogModel&)> onConnEnv;
    ConnEnvSettings shown;
};

class SwitchAddress : public ShellFixture {
protected:
    std::string Report() const {
        std::ifstream file(registry.Dir() / "OrbSysData.html", std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), {});
    }
    static std::string AddressRow(const std::string& address, int port) {
        return "<TR><TD>Switch IP Address - Port No</TD><TD align=center>" + address + " - " +
               std::to_string(port) + "</TD></TR>";
    }
    bool ReportNames(const std::string& address, int port) const {
        return Report().find(AddressRow(address, port)) != std::string::npos;
    }
    static bool Stored(const char* name) {
        platform::RegValue value;
        return CreateKey(kConnEnvKey).QueryValue(name, value) == platform::RegStatus::Ok;
    }
    static std::string StoredText(const char* name) {
        std::string text;
        CreateKey(kConnEnvKey).QueryString(name, text);
        return text;
    }
    static std::uint32_t StoredNumber(const char* name) {
        std::uint32_t value = 0;
        CreateKey(kConnEnvKey).QueryDword(name, value);
        return value;
    }
    static void Remove(std::initializer_list<const char*> names) {
        platform::RegKey key = CreateKey(kConnEnvKey);
        for (const char* name : names)
            ASSERT_EQ(key.DeleteValue(name), platform::RegStatus::Ok) << name;
    }

    ConnEnvOnlyHost host;
};

} // namespace

TEST_F(SwitchAddress, AStartWithoutTheAddressFailsWritesNothingBackAndNamesNoSwitch) {
    WriteSettings(true);
    Remove({"IP Address", "SysInfo Password"});
    OrbManagerServer& s = MakeServer();
    s.SetDialogHost(&host);
    ASSERT_TRUE(s.OnInitDialog());

    // The start reads the settings as stored: no address is no link, whatever the dialog shows.
    EXPECT_EQ(s.m_bLinkRunning, 1);
    EXPECT_EQ(s.m_bStartResult, 0);
    EXPECT_TRUE(traces.Has("COrbManagerDlg::OpenConnection() --> IP Address Read Error!!!!"));
    EXPECT_TRUE(view.HasLog(1, "ids125"));
    EXPECT_EQ(s.m_pIOQueue, nullptr);
    EXPECT_EQ(sw.Switch().ConnectionCount(), 0);
    EXPECT_TRUE(s.IsTimerRunning(OrbManagerServer::kRecoveryTimer));
    EXPECT_FALSE(Stored("IP Address"));
    EXPECT_FALSE(Stored("SysInfo Password"));
    EXPECT_EQ(s.m_strSwitchIPAddress, "1.1.1.1");
    EXPECT_TRUE(ReportNames("1.1.1.1", 5002)) << Report();

    s.OnStartStop();
    ExpectStopped();
    EXPECT_FALSE(Stored("IP Address")) << "a stop writes no setting either";
    EXPECT_TRUE(ReportNames("1.1.1.1", 5002)) << "the stop's report: still no switch reached";
}

TEST_F(SwitchAddress, TheSettingsDialogWritesTheFourBackAndTheLinkThenReachesLocalhost) {
    Remove({"IP Address", "SysInfo Password", "Port No", "Listen Port No"});
    SetConnEnv("DebugType", 0); // every other value there, so that no error box is expected
    OrbManagerServer& s = MakeServer();
    s.SetDialogHost(&host);
    ASSERT_TRUE(s.OnInitDialog());
    EXPECT_TRUE(ReportNames("1.1.1.1", 5002)) << "before any start";
    EXPECT_FALSE(Stored("IP Address")) << "the start-up writes nothing back";
    EXPECT_FALSE(Stored("Listen Port No"));

    // Opening the dialog is enough, a cancel keeps what it wrote back.
    const std::size_t boxesBefore = view.boxes.size();
    s.OnButton(kIdcConnEnv);
    EXPECT_EQ(host.shown.ipAddress, "localhost");
    EXPECT_EQ(StoredText("IP Address"), "localhost");
    EXPECT_EQ(StoredText("SysInfo Password"), "8062");
    EXPECT_EQ(StoredNumber("Port No"), 5002u);
    EXPECT_EQ(StoredNumber("Listen Port No"), 6000u);
    EXPECT_EQ(view.boxes.size(), boxesBefore) << "no system error box for the four";
    EXPECT_TRUE(StoredNumber("CommPort") == 1 && Stored("BaudRate") && Stored("StopBits"))
        << "the values that were there stay";

    // The address written back is the one the next start connects to.
    SetConnEnv("Port No", static_cast<std::uint32_t>(sw.Port()));
    SetConnEnv("Listen Port No", static_cast<std::uint32_t>(listenPort));
    s.OnStartStop();
    ASSERT_TRUE(CompletelyRunning());
    EXPECT_EQ(s.m_strSwitchIPAddress, "localhost");
    EXPECT_EQ(s.m_nSwitchPort, sw.Port());
    EXPECT_EQ(s.m_strSysInfoPassword, "8062");
    EXPECT_TRUE(view.HasLog(0, "ids134 [Switch IP Address - localhost, Port No - " +
                                   std::to_string(sw.Port()) + "]"));
    EXPECT_TRUE(ReportNames("1.1.1.1", 5002)) << "the start's report comes before it connects";
    s.OnStartStop();
    ExpectStopped();
    EXPECT_TRUE(ReportNames("localhost", sw.Port())) << Report();
}

TEST_F(SwitchAddress, TheReportKeepsTheSwitchLastConnectedThroughFailedStartsAndNewSettings) {
    OrbManagerServer& s = StartedServer();
    ASSERT_TRUE(CompletelyRunning());
    s.OnStartStop();
    ExpectStopped();
    ASSERT_TRUE(ReportNames(sw.Host(), sw.Port())) << Report();

    // New settings are no connection: the report still names the switch reached.
    host.onConnEnv = [](ConnEnvDialogModel& model) {
        ConnEnvSettings fields = model.Settings();
        fields.ipAddress = "192.0.2.7";
        fields.portNo = "5003";
        return model.OnOK(fields);
    };
    s.SetDialogHost(&host);
    s.OnButton(kIdcConnEnv);
    EXPECT_EQ(StoredText("IP Address"), "192.0.2.7");
    EXPECT_TRUE(ReportNames(sw.Host(), sw.Port())) << Report();

    // A start that fails before it connects leaves them too.
    s.m_bSocketsReady = 0;
    s.OnStartStop();
    EXPECT_EQ(s.m_bStartResult, 0);
    EXPECT_TRUE(view.HasLog(1, "ids131 [Switch IP Address - 192.0.2.7, Port No - 5003]"));
    s.OnStartStop();
    ExpectStopped();
    EXPECT_EQ(s.m_strSwitchIPAddress, sw.Host());
    EXPECT_EQ(s.m_nSwitchPort, sw.Port());
    EXPECT_TRUE(ReportNames(sw.Host(), sw.Port())) << Report();
}
