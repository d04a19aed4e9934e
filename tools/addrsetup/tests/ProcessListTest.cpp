// The process list: processes that end while it is being read are left out, never an error.

#include <addrsetup/ProcessControl.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace addrsetup::test {
namespace {

bool Lists(const std::vector<ProcessEntry>& list, pid_t pid) {
    return std::any_of(list.begin(), list.end(),
                       [pid](const ProcessEntry& entry) { return entry.pid == pid; });
}

TEST(ProcessList, EntriesThatCannotBeReadAfterTheirOpenAreLeftOut) {
    char pattern[] = "/tmp/addrsetup-proc-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::filesystem::path root = pattern;
    const auto stat = [&](const char* pid, const char* text) {
        std::filesystem::create_directory(root / pid);
        std::ofstream(root / pid / "stat") << text;
    };
    stat("4242", "4242 (Dizad.exe) S 1 4242 4242 0 -1 4194560\n");
    stat("4243", "4243 (a (b) c) R 1 4243 4243 0 -1 4194560\n");
    stat("4244", "4244 (Rowan.exe) Z 1 4244 4244 0 -1 4194560\n");
    stat("4245", "4245 (cut"); // ended in the middle
    // A stat that opens but fails to read, as one does whose process ended after the open.
    std::filesystem::create_directories(root / "4246" / "stat");
    std::filesystem::create_directory(root / "self");

    const auto list = ProcessSnapshot(root.string());
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->size(), 2u);
    EXPECT_TRUE(Lists(*list, 4242));
    EXPECT_TRUE(Lists(*list, 4243));
    for (const ProcessEntry& entry : *list) {
        EXPECT_EQ(entry.name, entry.pid == 4242 ? "Dizad.exe" : "a (b) c");
    }
    std::filesystem::remove_all(root);
}

TEST(ProcessList, ProcessesEndingDuringTheSnapshotDoNotBreakIt) {
    // Short-lived children end and are reaped all the while the list is read.
    std::atomic<bool> stop{false};
    std::atomic<int> ended{0};
    std::thread churn([&] {
        while (!stop) {
            const pid_t child = ::fork();
            if (child == 0) {
                ::_exit(0);
            }
            if (child > 0) {
                ::waitpid(child, nullptr, 0);
                ++ended;
            }
        }
    });
    int snapshots = 0;
    bool complete = true;
    for (; snapshots < 400 || ended < 400; ++snapshots) {
        const auto list = ProcessSnapshot();
        if (!list || !Lists(*list, ::getpid())) {
            complete = false;
            break;
        }
        if (snapshots > 20000) {
            break; // the churn thread got no time; what ran is still a valid test
        }
    }
    stop = true;
    churn.join();
    EXPECT_TRUE(complete) << "after " << snapshots << " snapshots";
}

} // namespace
} // namespace addrsetup::test
