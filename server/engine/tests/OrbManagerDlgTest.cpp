#include <engine/LinkState.h>
#include <engine/OrbManagerDlg.h>
#include <testsupport/TestApp.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace engine;

namespace {

struct RecordingHooks : ShellHooks {
    std::vector<std::string> lines;
    std::vector<bool> onUiThread;
    int refreshes = 0, purges = 0, logos = 0, changes = 0;
    std::thread::id uiThread = std::this_thread::get_id();

    void AppendLogLine(int image, const std::string& text) override {
        lines.push_back(std::to_string(image) + ":" + text);
        onUiThread.push_back(std::this_thread::get_id() == uiThread);
    }
    void RefreshClientList() override { ++refreshes; }
    void PurgeDeadClients() override { ++purges; }
    void PlayLogoAnimation() override { ++logos; }
    void ClientsChanged() override { ++changes; }
    void ShowStatusText(const std::string& text) override { statuses.push_back(text); }
    std::vector<std::string> statuses;
};

} // namespace

TEST(OrbManagerDlg, StartsWithAFreshLinkState) {
    g_bSwitchLinkUp = 1;
    g_bDeviceListAvailable = 1;
    g_hLinkFailureEvent.Set();
    COrbManagerDlg dlg;
    EXPECT_EQ(g_bSwitchLinkUp, 0);
    EXPECT_EQ(g_bDeviceListAvailable, 0);
    EXPECT_FALSE(g_hLinkFailureEvent.IsSet());
    EXPECT_EQ(g_pSwitchSocket.load(), nullptr);
}

TEST(OrbManagerDlg, CallsFromEngineThreadsRunOnTheUiThreadInOrder) {
    testsupport::App();
    RecordingHooks hooks;
    COrbManagerDlg dlg;
    dlg.SetResourceLookup([](int id) { return "ids" + std::to_string(id); });
    dlg.SetShellHooks(&hooks);
    std::thread engine([&] {
        for (int i = 0; i < 50; ++i)
            dlg.AddLogLine(i % 2, "line " + std::to_string(i));
        dlg.RefreshClientList();
        dlg.PurgeDeadClients();
        dlg.PlayLogoAnimation();
        dlg.ShowStatusText(103);
        dlg.NotifyClientsChanged();
    });
    engine.join();
    EXPECT_TRUE(hooks.lines.empty()) << "nothing may run on the engine thread itself";
    ASSERT_TRUE(testsupport::SpinUntil([&] { return hooks.changes == 1; }));
    ASSERT_EQ(hooks.lines.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(hooks.lines[i], std::to_string(i % 2) + ":line " + std::to_string(i));
        EXPECT_TRUE(hooks.onUiThread[i]);
    }
    EXPECT_EQ(hooks.refreshes, 1);
    EXPECT_EQ(hooks.purges, 1);
    EXPECT_EQ(hooks.logos, 1);
    EXPECT_EQ(hooks.statuses, std::vector<std::string>{"ids103"}) << "looked up by its id";
}

TEST(OrbManagerDlg, CallsQueuedBeforeTheHooksChangeAreDropped) {
    testsupport::App();
    RecordingHooks first, second;
    {
        COrbManagerDlg dlg;
        dlg.SetShellHooks(&first);
        std::thread([&] { dlg.AddLogLine(0, "for the first"); }).join();
        dlg.SetShellHooks(&second);
        dlg.AddLogLine(0, "for the second");
        std::thread([&] { dlg.AddLogLine(0, "queued, then the object goes"); }).join();
    }
    testsupport::SpinFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(first.lines.empty());
    ASSERT_EQ(second.lines.size(), 1u);
    EXPECT_EQ(second.lines[0], "0:for the second");
}
