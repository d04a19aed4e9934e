#include <engine/tests/TraceCapture.h>
#include <shell/HeadlessView.h>
#include <shell/WaitDialogModel.h>
#include <testsupport/TestApp.h>

#include <engine/LinkState.h>
#include <engine/OrbManagerDlg.h>

#include <gtest/gtest.h>

using namespace engine;
using namespace shell;

namespace {

class WaitModel : public ::testing::Test {
protected:
    void SetUp() override { ResetLinkState(); }
    void TearDown() override { ResetLinkState(); }

    // Ticks until the wait ends; the number of ticks that did not end it.
    static int RunOut(WaitDialogModel& model, int most = 1000) {
        int running = 0;
        while (running < most && !model.OnTick()) {
            ++running;
            EXPECT_GE(model.Position(), 0);
            EXPECT_LE(model.Position(), model.TickLimit());
        }
        return running;
    }

    COrbManagerDlg owner;
};

} // namespace

TEST_F(WaitModel, LimitIsLongerOnASerialLink) {
    owner.m_nConnType = kConnTypeTcp;
    WaitDialogModel tcp(owner);
    EXPECT_EQ(tcp.TickLimit(), 240);
    EXPECT_EQ(tcp.Step(), 20);
    EXPECT_EQ(RunOut(tcp), 240);
    EXPECT_EQ(tcp.TickCount(), 241) << "ends once the count exceeds the limit";
    EXPECT_TRUE(tcp.IsDone());
    EXPECT_TRUE(tcp.OnTick()) << "and stays ended";
    EXPECT_EQ(tcp.TickCount(), 241);

    for (int type : {kConnTypeSim, kConnTypeDirectSerial}) {
        owner.m_nConnType = type;
        WaitDialogModel serial(owner);
        EXPECT_EQ(serial.TickLimit(), 360) << type;
        EXPECT_EQ(RunOut(serial), 360) << type;
    }
}

TEST_F(WaitModel, ProgressStepsAndStartsOverWhenFull) {
    owner.m_nConnType = kConnTypeTcp;
    WaitDialogModel model(owner);
    EXPECT_EQ(model.Position(), 0);
    ASSERT_FALSE(model.OnTick());
    EXPECT_EQ(model.Position(), 20);
    for (int i = 0; i < 11; ++i)
        ASSERT_FALSE(model.OnTick());
    EXPECT_EQ(model.Position(), 240);
    ASSERT_FALSE(model.OnTick());
    EXPECT_EQ(model.Position(), 20);
}

TEST_F(WaitModel, EndsOnTheDeviceListTheFailedStartTheEndedLinkOrAnAbort) {
    owner.m_nConnType = kConnTypeTcp;
    {
        WaitDialogModel model(owner);
        EXPECT_FALSE(model.OnTick());
        EXPECT_FALSE(model.OnTick()) << "a link that is not up yet does not end the wait";
        g_bDeviceListAvailable = 1;
        EXPECT_TRUE(model.OnTick());
        EXPECT_EQ(model.TickCount(), 2);
        g_bDeviceListAvailable = 0;
    }
    {
        WaitDialogModel model(owner);
        EXPECT_FALSE(model.OnTick());
        owner.m_bStartResult = 0;
        EXPECT_TRUE(model.OnTick());
        owner.m_bStartResult = 1;
    }
    {
        bool alive = true;
        WaitDialogModel model(owner, [&] { return alive; });
        EXPECT_FALSE(model.OnTick());
        alive = false;
        EXPECT_TRUE(model.OnTick()) << "a link whose threads have ended brings no download";
    }
    {
        WaitDialogModel model(owner);
        EXPECT_FALSE(model.OnTick());
        model.Abort();
        EXPECT_FALSE(model.IsDone()) << "at its next tick";
        EXPECT_TRUE(model.OnTick());
        EXPECT_EQ(model.TickCount(), 1);
    }
}

TEST_F(WaitModel, HeadlessViewRunsTheWaitAndAnswersOk) {
    testsupport::App();
    owner.m_nConnType = kConnTypeTcp;
    HeadlessView view;
    WaitDialogModel model(owner);
    // The download ends while the wait's loop runs.
    QTimer::singleShot(30, [] { g_bDeviceListAvailable = 1; });
    view.RunWaitDialog(model, 5);
    EXPECT_TRUE(model.IsDone());
    EXPECT_GE(model.TickCount(), 1);
    EXPECT_LT(model.TickCount(), model.TickLimit());
    view.RunWaitDialog(model, 5); // over already: returns at once

    TraceCapture traces;
    EXPECT_TRUE(view.AskOkCancel(137, "stop?", true));
    view.ShowMessageBox(131, "no sockets");
    EXPECT_TRUE(traces.Has("[USER] stop?"));
    EXPECT_TRUE(traces.Has("[USER] no sockets"));

    view.AppendLogRow(0, "t", "a");
    view.AppendLogRow(1, "t", "b");
    view.ClearLogRows();
    view.AppendLogRow(0, "t", "c");
    EXPECT_EQ(view.LogRowCount(), 1u);
    EXPECT_EQ(view.TotalLogRows(), 3u);
}
