#include "ShellFixture.h"

#include <engine/FormatNow.h>

#include <cctype>
#include <thread>

using namespace shell_test;

using namespace engine;
using namespace shell;

namespace {

// '#' stands for a digit, '@' for a letter, everything else for itself.
bool HasShape(const std::string& text, const std::string& shape) {
    if (text.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (shape[i] == '#' ? !std::isdigit(c) : shape[i] == '@' ? !std::isalpha(c) : c != shape[i])
            return false;
    }
    return true;
}

bool IsLogTime(const std::string& text) {
    return HasShape(text, "@@@ #, #### ##:##:##") || HasShape(text, "@@@ ##, #### ##:##:##");
}

class LogList : public ShellFixture {
protected:
    // The engine's entry, as every engine object calls it.
    static void Log(OrbManagerServer& s, int image, const std::string& text) {
        static_cast<COrbManagerDlg&>(s).AddLogLine(image, text);
    }
};

} // namespace

TEST(LogListTime, FormatsTheFourStyles) {
    std::tm t{};
    t.tm_year = 2006 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 2;
    t.tm_hour = 15;
    t.tm_min = 4;
    t.tm_sec = 5;
    EXPECT_EQ(FormatTime(0, t, 7), "Jan 2, 2006 15:04:05");
    EXPECT_EQ(FormatTime(1, t, 7), "01-02-2006");
    EXPECT_EQ(FormatTime(2, t, 7), "15:04:05");
    EXPECT_EQ(FormatTime(3, t, 7), "20060102 15:04:05.007");
    t.tm_mon = 11;
    t.tm_mday = 31;
    t.tm_hour = 0;
    EXPECT_EQ(FormatTime(0, t, 999), "Dec 31, 2006 00:04:05");
    EXPECT_EQ(FormatTime(3, t, 999), "20061231 00:04:05.999");
    for (int style : {-1, 4, 100})
        EXPECT_EQ(FormatTime(style, t, 0), "") << style;
    t.tm_mon = 12;
    EXPECT_EQ(FormatTime(0, t, 0), "") << "no month name to show";

    EXPECT_TRUE(IsLogTime(FormatNow(0))) << FormatNow(0);
    EXPECT_TRUE(HasShape(FormatNow(1), "##-##-####"));
    EXPECT_TRUE(HasShape(FormatNow(2), "##:##:##"));
    EXPECT_TRUE(HasShape(FormatNow(3), "######## ##:##:##.###"));
    EXPECT_EQ(FormatNow(4), "");
}

TEST_F(LogList, LinesCarryTimeAndImageAndComeFromAnyThread) {
    OrbManagerServer& s = MakeServer();
    Log(s, 1, "an error");
    std::thread([&] { Log(s, 0, "from an engine thread"); }).join();
    ASSERT_TRUE(testsupport::SpinUntil([&] { return view.rows.size() == 2; }));
    EXPECT_EQ(view.rows[0].image, 1);
    EXPECT_EQ(view.rows[0].text, "an error");
    EXPECT_TRUE(IsLogTime(view.rows[0].time)) << view.rows[0].time;
    EXPECT_EQ(view.rows[1].text, "from an engine thread");
    EXPECT_EQ(s.m_nLogLineCount, 2);
}

TEST_F(LogList, AutoClearEmptiesTheListAtItsCount) {
    OrbManagerServer& s = MakeServer();
    s.m_bUseAutoClear = 1;
    s.m_nAutoClearLineCnt = 3;
    for (int i = 0; i < 7; ++i)
        Log(s, 0, "line " + std::to_string(i));
    EXPECT_EQ(view.clears, 2) << "before the 4th and the 7th line";
    ASSERT_EQ(view.rows.size(), 1u);
    EXPECT_EQ(view.rows[0].text, "line 6");
    EXPECT_EQ(s.m_nLogLineCount, 1);
}

TEST_F(LogList, WithoutAutoClearTheListStillStopsAt9999) {
    OrbManagerServer& s = MakeServer();
    s.m_bUseAutoClear = 0;
    s.m_nAutoClearLineCnt = 3; // not used then
    for (int i = 0; i < 9999; ++i)
        Log(s, 0, "x");
    EXPECT_EQ(view.clears, 0);
    EXPECT_EQ(view.rows.size(), 9999u);
    Log(s, 0, "the next");
    EXPECT_EQ(view.clears, 1);
    ASSERT_EQ(view.rows.size(), 1u);
    EXPECT_EQ(view.rows[0].text, "the next");
}

TEST_F(LogList, EngineStatusTextAndClientChangesReachTheView) {
    OrbManagerServer& s = MakeServer();
    std::thread([&] {
        s.ShowStatusText(103);
        s.NotifyClientsChanged();
    }).join();
    ASSERT_TRUE(testsupport::SpinUntil([&] { return view.clientReloads == 1; }));
    EXPECT_EQ(view.LastStatus(), "ids103");
    EXPECT_EQ(view.clientCountText, "0");
    EXPECT_TRUE(view.clientRows.empty()) << "no client port";
}

TEST_F(LogList, UserManagerRowsNeedARegisteredClientWithAStoredUser) {
    SetOption("UseUserManager", 1);
    OrbManagerServer& s = StartedServer();
    ASSERT_TRUE(CompletelyRunning());
    EXPECT_EQ(view.clientTitles.size(), 7u);
    const int client = ConnectLoopback(listenPort);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(testsupport::SpinUntil([&] { return ClientPortClients() == 1; }));
    EXPECT_TRUE(s.ClientListRows().empty()) << "not registered";
    ::close(client);
}
