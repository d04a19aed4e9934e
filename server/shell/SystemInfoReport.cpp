#include "SystemInfoReport.h"

#include <engine/FormatNow.h>
#include <engine/OrbManagerDlg.h>
#include <engine/TraceLog.h>
#include <platform/SystemError.h>

#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace shell {

using namespace engine;

namespace {

constexpr int kBoxReportFailed = 226;
constexpr int kIdsVersion = 311;
constexpr int kIdsUserTypeLine = 181;
constexpr int kIdsUserTypeOther = 182;

// The system font face the report names first, in its own code page.
const std::string kFontFace = "\xB1\xBC\xB8\xB2,Arial";

const char* const kTableStart = "<TABLE width=80% border=1 cellpadding=6 bgcolor=silver>\n";
const char* const kTableEnd = "</TABLE><BR>\n";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(out.data(), out.size() + 1, format, args);
    va_end(args);
    return out;
}

const char* OnOff(int value) {
    return value != 0 ? "On" : "Off";
}

std::string OptionRow(const char* label, int value) {
    return Format("<TR><TD>%s</TD><TD align=center>%s</TD></TR>\n", label, OnOff(value));
}

std::string SerialRow(const COrbManagerDlg& dlg) {
    return Format("<TR><TD>COM Port No - Baud Rate - Data Bits - Stop Bits</TD><TD "
                  "align=center>COM%d - %d - %d - %d</TD></TR>\n",
                  dlg.m_nCommPort.load(), dlg.m_nBaudRate.load(), dlg.m_nByteSize.load(),
                  dlg.m_nStopBits.load());
}

std::string ConnectionRows(const COrbManagerDlg& dlg) {
    const char* const kRow = "<TR><TD>Switch Connection Type</TD><TD align=center>%s</TD></TR>\n";
    switch (dlg.m_nConnType.load()) {
    case 0:
        return Format(kRow, "SIM") + SerialRow(dlg);
    case 1:
        return Format(kRow, "Direct Serial Cable") + SerialRow(dlg);
    case 2:
        return Format(kRow, "TCP/IP") +
               Format("<TR><TD>Switch IP Address - Port No</TD><TD align=center>%s - "
                      "%d</TD></TR>\n",
                      EscapeHtml(dlg.m_strSwitchIPAddress).c_str(), dlg.m_nSwitchPort.load());
    default:
        return Format(kRow, "Unknown(Error Case)");
    }
}

} // namespace

std::string EscapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string BuildSystemInfoReport(COrbManagerDlg& dlg, int storedUserCount,
                                  const std::string& creationTime) {
    std::string r;
    r += "<HTML><HEAD><TITLE>Veltrane Link System Information</TITLE></HEAD><BODY><CENTER>\n";
    r += "<HR size=1 width=80% color=blue>\n";
    r += "<FONT size=3  face=\"" + kFontFace +
         "\" color=orange><B>Veltrane Link System Information</B></FONT>\n";
    r += "<HR size=1 width=80% color=blue><BR>\n";
    r += "<FONT size=2 face=\"" + kFontFace + "\">\n";
    r += kTableStart;
    r += Format("<TR><TD width=60%%><B>System Infomation File Creation Time</B></TD><TD "
                "width=40%% align=center><B>%s</B></TD></TR>\n",
                EscapeHtml(creationTime).c_str());
    r += Format("<TR><TD><B>Version No</B></TD><TD align=center><B>Veltrane Link Version "
                "%s</B></TD></TR>\n",
                EscapeHtml(dlg.ResString(kIdsVersion)).c_str());
    r += Format("<TR><TD><B>Installed Path</B></TD><TD align=center><B>%s</B></TD></TR>\n",
                EscapeHtml(dlg.m_strInstallPath).c_str());
    r += Format("<TR><TD><B>OS Version</B></TD><TD align=center><B>%s %s</B></TD></TR>\n",
                EscapeHtml(dlg.m_strOsName).c_str(), EscapeHtml(dlg.m_strOsText).c_str());
    r += kTableEnd;

    r += kTableStart;
    r += "<TR bgcolor=orange><TD colspan=2 align=center>Configured Option List</TD></TR>\n";
    r += "<TR><TD align=center width=60%><B>Item Name</B></TD><TD align=center "
         "width=40%><B>Value</B></TD></TR>\n";
    r += OptionRow("Use User Data Manager", dlg.m_bUseUserManager.load());
    r += OptionRow("Use AutoClear", dlg.m_bUseAutoClear.load());
    r += Format("<TR><TD>Auto Clear Line Count</TD><TD align=center>%d</TD></TR>\n",
                dlg.m_nAutoClearLineCnt.load());
    r += OptionRow("Use Automatic Switch Connection", dlg.m_bUseAutoConnect.load());
    r += OptionRow("Use SW Message Monitor", dlg.m_bUseMsgMonitor.load());
    r += OptionRow("Use SMDR/UCD Message Monitor", dlg.m_bUseSMDRUCDMonitor.load());
    r += OptionRow("Use SMDR/UCD Message Extenal Send", dlg.m_bUseSMDRUCDSend.load());
    r += OptionRow("Use Linnet Plus Message", dlg.m_bUseLinnetPlusMsg.load());
    r += kTableEnd;

    r += kTableStart;
    r += "<TR bgcolor=orange><TD colspan=2 align=center>Communication Environment</TD></TR>\n";
    r += "<TR><TD width=60% align=center><B>Item Name</B></TD><TD width=40% "
         "align=center><B>Value</B></TD></TR>\n";
    r += Format("<TR><TD>Switch Type</TD><TD align=center>%s</TD></TR>\n",
                dlg.m_nSwitchType.load() == 1 ? "Veltrane Type" : "Normal Type");
    r += ConnectionRows(dlg);
    r += Format("<TR><TD>User Connection Request Listen Port No</TD><TD "
                "align=center>%d</TD></TR>\n",
                dlg.m_nListenPort.load());
    r += Format("<TR><TD>SW Message Monitor Listen Port No</TD><TD align=center>%d</TD></TR>\n",
                dlg.m_nMsgMonitorListenPortNo.load());
    r += Format("<TR><TD>SMDR/UCD Message Monitor Listen Port No</TD><TD "
                "align=center>%d</TD></TR>\n",
                dlg.m_nSMDRUCDMonitorListenPortNo.load());
    r += Format("<TR><TD>SMDR/UCD Message Extenal Send Listen Port No</TD><TD "
                "align=center>%d</TD></TR>\n",
                dlg.m_nSMDRUCDSendListenPortNo.load());
    r += kTableEnd;

    r += kTableStart;
    r += Format("<TR bgcolor=orange><TD colspan=6 align=center>Stored User Data List : Total [ "
                "%d ]</TD></TR>\n",
                storedUserCount);
    r += "<TR><TD width=10% align=center><B>No</B></TD><TD width=18% align=center><B>IP "
         "Address</B></TD><TD width=18% align=center><B>User Name</B></TD><TD width=18% "
         "align=center><B>User Type</B></TD><TD width=18% align=center><B>Device ID</B></TD><TD "
         "width=18% align=center><B>User Info</B></TD></TR>\n";
    const std::string lineType = EscapeHtml(dlg.ResString(kIdsUserTypeLine));
    const std::string otherType = EscapeHtml(dlg.ResString(kIdsUserTypeOther));
    {
        platform::CriticalSectionLock guard(dlg.m_UserList.Lock());
        int number = 0;
        for (const auto& record : dlg.m_UserList.Items()) {
            if (!record)
                continue;
            const std::string device = record->GetDeviceID();
            r += Format("<TR align=center><TD>%d</TD><TD>%s</TD><TD>%s</TD><TD>%s</TD><TD>%s</"
                        "TD><TD>%s</TD></TR>\n",
                        ++number, EscapeHtml(record->GetIPAddress()).c_str(),
                        EscapeHtml(record->GetUserName()).c_str(),
                        (record->GetUserType() == 0 ? lineType : otherType).c_str(),
                        device == UserRecord::kNoDeviceId ? "No Assigned"
                                                          : EscapeHtml(device).c_str(),
                        EscapeHtml(record->GetUserInfo()).c_str());
        }
    }
    r += "</TABLE></FONT></CENTER></BODY></HTML>\n";
    return r;
}

int WriteSystemInfoReport(COrbManagerDlg& dlg, int storedUserCount, const DialogPrompts& prompts) {
    const std::string path = dlg.m_strInstallPath + kSystemInfoReportName;
    const std::string text = BuildSystemInfoReport(dlg, storedUserCount, FormatNow(0));
    errno = 0;
    std::ofstream file(path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (file) {
        file << text;
        file.close();
    }
    if (!file) {
        const int error = errno;
        prompts.Box(kBoxReportFailed,
                    path + ": " +
                        (error != 0 ? platform::SystemErrorText(error) : "it cannot be written"));
        return 0;
    }
    return 1;
}

int DetectOSVersion(COrbManagerDlg& dlg) {
    utsname name{};
    if (::uname(&name) != 0) {
        dlg.m_strOsName = "Unknown OS";
        TraceLog("OS Type : Unknown OS");
        return 0;
    }
    int major = 0, minor = 0, build = 0;
    std::sscanf(name.release, "%d.%d.%d", &major, &minor, &build);
    dlg.m_strOsName = name.sysname;
    dlg.m_strOsText = Format("version %d.%d %s (Build %d)\n", major, minor, name.version, build);
    TraceLog("OS Type : %s", name.sysname);
    return 1;
}

} // namespace shell
