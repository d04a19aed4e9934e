#include "DialogsFixture.h"
#include <shell/SystemInfoReport.h>

#include <engine/FormatNow.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace engine;
using namespace shell;

namespace shell_test {
namespace {

const std::string kFace = "\xB1\xBC\xB8\xB2,Arial";
const std::string kTable = "<TABLE width=80% border=1 cellpadding=6 bgcolor=silver>";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class SystemInfoReportTest : public DialogsTest {
protected:
    void SetUp() override {
        DialogsTest::SetUp();
        dlg.m_strInstallPath = "/opt/veltrane";
        dlg.m_strOsName = "Linux";
        dlg.m_strOsText = "version 6.1 #1 (Build 0)";
        dlg.m_nListenPort = 6000;
    }

    // The template with this state's values, as the report must read.
    std::vector<std::string> Expected(const std::vector<std::string>& connectionRows,
                                      const std::string& switchType,
                                      const std::vector<std::string>& userRows) {
        std::vector<std::string> e = {
            "<HTML><HEAD><TITLE>Veltrane Link System Information</TITLE></HEAD><BODY><CENTER>",
            "<HR size=1 width=80% color=blue>",
            "<FONT size=3  face=\"" + kFace +
                "\" color=orange><B>Veltrane Link System Information</B></FONT>",
            "<HR size=1 width=80% color=blue><BR>",
            "<FONT size=2 face=\"" + kFace + "\">",
            kTable,
            "<TR><TD width=60%><B>System Infomation File Creation Time</B></TD><TD width=40% "
            "align=center><B>Jan 2, 2006 15:04:05</B></TD></TR>",
            "<TR><TD><B>Version No</B></TD><TD align=center><B>Veltrane Link Version "
            "ids311</B></TD></TR>",
            "<TR><TD><B>Installed Path</B></TD><TD align=center><B>/opt/veltrane</B></TD></TR>",
            "<TR><TD><B>OS Version</B></TD><TD align=center><B>Linux version 6.1 #1 (Build "
            "0)</B></TD></TR>",
            "</TABLE><BR>",
            kTable,
            "<TR bgcolor=orange><TD colspan=2 align=center>Configured Option List</TD></TR>",
            "<TR><TD align=center width=60%><B>Item Name</B></TD><TD align=center "
            "width=40%><B>Value</B></TD></TR>",
            "<TR><TD>Use User Data Manager</TD><TD align=center>On</TD></TR>",
            "<TR><TD>Use AutoClear</TD><TD align=center>Off</TD></TR>",
            "<TR><TD>Auto Clear Line Count</TD><TD align=center>1000</TD></TR>",
            "<TR><TD>Use Automatic Switch Connection</TD><TD align=center>Off</TD></TR>",
            "<TR><TD>Use SW Message Monitor</TD><TD align=center>On</TD></TR>",
            "<TR><TD>Use SMDR/UCD Message Monitor</TD><TD align=center>Off</TD></TR>",
            "<TR><TD>Use SMDR/UCD Message Extenal Send</TD><TD align=center>Off</TD></TR>",
            "<TR><TD>Use Linnet Plus Message</TD><TD align=center>Off</TD></TR>",
            "</TABLE><BR>",
            kTable,
            "<TR bgcolor=orange><TD colspan=2 align=center>Communication Environment</TD></TR>",
            "<TR><TD width=60% align=center><B>Item Name</B></TD><TD width=40% "
            "align=center><B>Value</B></TD></TR>",
            "<TR><TD>Switch Type</TD><TD align=center>" + switchType + "</TD></TR>"};
        e.insert(e.end(), connectionRows.begin(), connectionRows.end());
        const std::vector<std::string> tail = {
            "<TR><TD>User Connection Request Listen Port No</TD><TD align=center>6000</TD></TR>",
            "<TR><TD>SW Message Monitor Listen Port No</TD><TD align=center>6001</TD></TR>",
            "<TR><TD>SMDR/UCD Message Monitor Listen Port No</TD><TD align=center>6002</TD></TR>",
            "<TR><TD>SMDR/UCD Message Extenal Send Listen Port No</TD><TD "
            "align=center>6003</TD></TR>",
            "</TABLE><BR>",
            kTable,
            "<TR bgcolor=orange><TD colspan=6 align=center>Stored User Data List : Total [ " +
                std::to_string(userRows.size()) + " ]</TD></TR>",
            "<TR><TD width=10% align=center><B>No</B></TD><TD width=18% align=center><B>IP "
            "Address</B></TD><TD width=18% align=center><B>User Name</B></TD><TD width=18% "
            "align=center><B>User Type</B></TD><TD width=18% align=center><B>Device "
            "ID</B></TD><TD width=18% align=center><B>User Info</B></TD></TR>"};
        e.insert(e.end(), tail.begin(), tail.end());
        e.insert(e.end(), userRows.begin(), userRows.end());
        e.push_back("</TABLE></FONT></CENTER></BODY></HTML>");
        return e;
    }

    std::string Report(int count) {
        return BuildSystemInfoReport(dlg, count, "Jan 2, 2006 15:04:05");
    }
};

void ExpectSameLines(const std::string& report, const std::vector<std::string>& expected) {
    const std::vector<std::string> lines = Lines(report);
    ASSERT_EQ(lines.size(), expected.size()) << report;
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], expected[i]) << "line " << i + 1;
    EXPECT_EQ(report.back(), '\n');
}

TEST_F(SystemInfoReportTest, EachConnectionTypeWritesItsRows) {
    dlg.m_bUseMsgMonitor = 1;
    const std::string serial = "<TR><TD>COM Port No - Baud Rate - Data Bits - Stop Bits</TD><TD "
                               "align=center>COM2 - 19200 - 7 - 3</TD></TR>";
    dlg.m_nCommPort = 2;
    dlg.m_nBaudRate = 19200;
    dlg.m_nByteSize = 7;
    dlg.m_nStopBits = 3;
    const std::string row = "<TR><TD>Switch Connection Type</TD><TD align=center>";

    dlg.m_nConnType = 0;
    ExpectSameLines(Report(0), Expected({row + "SIM</TD></TR>", serial}, "Normal Type", {}));
    dlg.m_nConnType = 1;
    dlg.m_nSwitchType = 1;
    ExpectSameLines(Report(0),
                    Expected({row + "Direct Serial Cable</TD></TR>", serial}, "Veltrane Type", {}));
    dlg.m_nConnType = 2;
    dlg.m_nSwitchType = 7;
    dlg.m_strSwitchIPAddress = "192.168.0.9";
    dlg.m_nSwitchPort = 5002;
    ExpectSameLines(Report(0), Expected({row + "TCP/IP</TD></TR>",
                                         "<TR><TD>Switch IP Address - Port No</TD><TD align=center>"
                                         "192.168.0.9 - 5002</TD></TR>"},
                                        "Normal Type", {}));
    dlg.m_nConnType = 3;
    ExpectSameLines(Report(0),
                    Expected({row + "Unknown(Error Case)</TD></TR>"}, "Normal Type", {}));
}

TEST_F(SystemInfoReportTest, UsersWithAndWithoutADeviceAndTextsEscaped) {
    dlg.m_bUseMsgMonitor = 1;
    dlg.m_nConnType = 3;
    dlg.m_UserList.Add(std::make_unique<UserRecord>("Ann", "10.0.0.1", 0, "desk 4", "201", 3));
    dlg.m_UserList.Add(std::make_unique<UserRecord>("<b>&\"x\"", "10.0.0.2", 5, "a<b"));
    ExpectSameLines(
        Report(2),
        Expected({"<TR><TD>Switch Connection Type</TD><TD align=center>Unknown(Error "
                  "Case)</TD></TR>"},
                 "Normal Type",
                 {"<TR align=center><TD>1</TD><TD>10.0.0.1</TD><TD>Ann</TD><TD>ids181</"
                  "TD><TD>201</TD><TD>desk 4</TD></TR>",
                  "<TR align=center><TD>2</TD><TD>10.0.0.2</TD><TD>&lt;b&gt;&amp;&quot;x&quot;"
                  "</TD><TD>ids182</TD><TD>No Assigned</TD><TD>a&lt;b</TD></TR>"}));
}

TEST_F(SystemInfoReportTest, WritesTheFileOrShowsBox226) {
    DialogPrompts prompts = Prompts();
    dlg.m_strInstallPath = registry.Dir().string();
    dlg.m_strOsText = "version 6.1 #1 (Build 0)\n";
    ASSERT_EQ(WriteSystemInfoReport(dlg, 0, prompts), 1);
    std::ifstream file(registry.Dir() / "OrbSysData.html", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(Lines(text).size(), 39u) << "38 template lines; the system detail text ends its own";
    const std::string timeLine = Lines(text).at(6);
    const std::size_t from = timeLine.find("center><B>") + 10;
    const std::string time = timeLine.substr(from, timeLine.find("</B>", from) - from);
    EXPECT_EQ(time.size(), FormatNow(0).size());
    EXPECT_EQ(text, BuildSystemInfoReport(dlg, 0, time));
    EXPECT_NE(text.find(kFace), std::string::npos);

    // The box names the file and the reason.
    dlg.m_strInstallPath = (registry.Dir() / "missing" / "folder").string();
    EXPECT_EQ(WriteSystemInfoReport(dlg, 0, prompts), 0);
    const std::filesystem::path folder = registry.Dir() / "folder";
    std::filesystem::create_directory(folder);
    std::filesystem::create_directory(folder / "OrbSysData.html");
    dlg.m_strInstallPath = folder.string();
    EXPECT_EQ(WriteSystemInfoReport(dlg, 0, prompts), 0);
    EXPECT_EQ(boxes, (std::vector<int>{226, 226}));
    EXPECT_EQ(boxDetails, (std::vector<std::string>{
                              (registry.Dir() / "missing/folder/OrbSysData.html").string() +
                                  ": No such file or directory",
                              (folder / "OrbSysData.html").string() + ": Is a directory"}));
}

TEST_F(SystemInfoReportTest, DetectsTheRunningSystemWithoutTouchingTheTypeCode) {
    ASSERT_EQ(DetectOSVersion(dlg), 1);
    EXPECT_EQ(dlg.m_strOsName, "Linux");
    EXPECT_EQ(dlg.m_strOsText.rfind("version ", 0), 0u);
    EXPECT_EQ(dlg.OsTypeCode, -1);
}

} // namespace
} // namespace shell_test
