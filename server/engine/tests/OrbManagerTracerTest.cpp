#include "TraceCapture.h"
#include <engine/OrbManagerTracer.h>

#include <testsupport/FileMode.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace engine;

namespace fs = std::filesystem;

namespace {

// "[yyyy:mm:dd hh:mm:ss.mmm]\t": 'd' stands for a digit.
bool HasTimeStampPrefix(const std::string& line) {
    static const std::string shape = "[dddd:dd:dd dd:dd:dd.ddd]\t";
    if (line.size() < shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool ok = shape[i] == 'd' ? line[i] >= '0' && line[i] <= '9' : line[i] == shape[i];
        if (!ok)
            return false;
    }
    return true;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The texts of a log file's lines, time stamps checked and taken off. A line that breaks the format
// comes back whole behind "BAD: ".
std::vector<std::string> Texts(const std::string& path) {
    std::vector<std::string> texts;
    std::istringstream in(ReadAll(path));
    std::string line;
    while (std::getline(in, line)) {
        texts.push_back(HasTimeStampPrefix(line) ? line.substr(26) : "BAD: " + line);
    }
    return texts;
}

void WriteFile(const std::string& path, const std::string& text, std::time_t mtime) {
    std::ofstream(path, std::ios::binary) << text;
    const timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

constexpr int kWaitMs = 20000;

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

const std::string kInitialized = ">>> Veltrane Link V2 Message Tracer initialized";
const std::string kPumpsQuit = ">>> [SELF INFO] Veltrane Link V2 Message Tracer pumps WM_QUIT";
const std::string kTerminated = ">>> Veltrane Link V2 Message Tracer terminated.";
const std::string kCannotDelete = "[ERROR] Cannot delete the Log File.\n";

class OrbManagerTracerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tracer-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_root = pattern;
        m_dir = m_root + "/Log";
        SetTraceLogDirectory(m_dir);
        RetractMessageTracer();
        g_TraceQueue.RemoveAll();
        g_nTraceLevel = 2;
        g_nLogFileCount = 30;
        SetTraceLogFileByteLimitForTest(0);
        SetTraceLogReopenIntervalForTest(-1);
        SetTraceFlushDelayForTest(-1);
    }
    void TearDown() override {
        StopMessageTracer(m_tracer);
        SetTraceLogDirectory("");
        SetTraceLogFileByteLimitForTest(0);
        SetTraceLogReopenIntervalForTest(-1);
        SetTraceFlushDelayForTest(-1);
        g_nTraceLevel = 2;
        g_TraceQueue.RemoveAll();
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    std::string File(unsigned n) const { return TraceLogFilePath(m_dir, n); }
    std::string Opened(unsigned n) const {
        return ">>> Veltrane Link V2 Log File opened[FileName : " + File(n) + "]";
    }
    std::string Reopened(unsigned n) const {
        return " [SELF INFO] >>> Veltrane Link V2 Log File opened[FileName : " + File(n) + "]";
    }
    std::string Closed(unsigned n) const {
        return " >>> Veltrane Link V2 Log File closed[File Name : " + File(n) + "]";
    }
    void Start() {
        ASSERT_TRUE(StartMessageTracer(m_tracer));
        ASSERT_TRUE(m_tracer);
        ASSERT_EQ(g_nTracerThreadId.load(), m_tracer->GetThreadId());
    }
    static void SpinUntilQueueEmpty() {
        for (int i = 0; i < 2000 && g_TraceQueue.GetCount() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The byte limit at which the next line of `length` characters no longer fits into file n.
    void RotateOnNextLine(unsigned n, std::size_t length) {
        SetTraceLogFileByteLimitForTest(fs::file_size(File(n)) + 2 * length + 1);
    }

    std::string m_root;
    std::string m_dir;
    std::unique_ptr<COrbManagerTracer> m_tracer;
    // The debugger output.
    TraceCapture m_debug;
};

} // namespace

TEST_F(OrbManagerTracerTest, WritesTheExactLineFormat) {
    Start();
    TraceLog("[USER] hello %d\tend", 5);
    StopMessageTracer(m_tracer);
    EXPECT_FALSE(m_tracer);
    EXPECT_EQ(g_nTracerThreadId.load(), -1);

    const std::string all = ReadAll(File(0));
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back(), '\n');
    EXPECT_EQ(Texts(File(0)),
              (std::vector<std::string>{Opened(0), kInitialized, "[USER] hello 5\tend", kPumpsQuit,
                                        kTerminated}));
    EXPECT_EQ(m_debug.Count(">>> Veltrane Link V2 Message Tracer killed."), 0);
}

TEST_F(OrbManagerTracerTest, CreatesTheLogFolderAndFallsBackToTheCurrentDirectory) {
    m_dir = m_root + "/install/Log";
    SetTraceLogDirectoryFromInstallPath(m_root + "/install");
    Start();
    StopMessageTracer(m_tracer);
    EXPECT_TRUE(fs::is_regular_file(File(0)));

    char saved[4096];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(::chdir(m_root.c_str()), 0);
    SetTraceLogDirectory("");
    const bool started = StartMessageTracer(m_tracer);
    StopMessageTracer(m_tracer);
    ASSERT_EQ(::chdir(saved), 0);
    ASSERT_TRUE(started);
    EXPECT_TRUE(fs::equivalent(GetTraceLogDirectory(), m_root + "/Log"));
    EXPECT_TRUE(fs::is_regular_file(m_root + "/Log/brv0.log"));
}

TEST_F(OrbManagerTracerTest, LevelZeroRefusesToStartAndQueuesNothing) {
    g_nTraceLevel = 0;
    EXPECT_FALSE(StartMessageTracer(m_tracer));
    EXPECT_FALSE(m_tracer);
    EXPECT_EQ(g_nTracerThreadId.load(), -1);
    EXPECT_FALSE(fs::exists(File(0)));
    TraceLog("debugger only");
    EXPECT_EQ(g_TraceQueue.GetCount(), 0u);
    EXPECT_EQ(m_debug.Count("[ERROR] Cannot open the log file for Veltrane Link V2. so it's not "
                            "possible to save any operation log"),
              1);
    EXPECT_EQ(m_debug.Count("[ERROR] Failed to initialize the Veltrane Link V3 Message Tracer."),
              1);
    EXPECT_EQ(m_debug.Count("debugger only"), 1);
}

TEST_F(OrbManagerTracerTest, LevelDecidesWhatIsQueuedAndWritten) {
    Start();
    // Holding the queue keeps the tracer from taking texts, so the count shows what was queued.
    g_TraceQueue.Lock();
    g_nTraceLevel = 0;
    TraceLog("level zero");
    EXPECT_EQ(g_TraceQueue.GetCount(), 0u);
    g_nTraceLevel = 1;
    TraceLog("below the line level");
    EXPECT_EQ(g_TraceQueue.GetCount(), 1u);
    g_TraceQueue.Unlock();
    StopMessageTracer(m_tracer);
    g_nTraceLevel = 2;

    const auto texts = Texts(File(0));
    EXPECT_FALSE(Contains(texts, "level zero"));
    EXPECT_FALSE(Contains(texts, "below the line level"));
    EXPECT_EQ(texts.back(), kTerminated);
    EXPECT_EQ(m_debug.Count("level zero"), 1);
}

TEST_F(OrbManagerTracerTest, StartsOnTheFirstMissingFileEvenWhenAnOlderOneExists) {
    fs::create_directories(m_dir);
    for (unsigned n = 0; n < 5; ++n)
        WriteFile(File(n), "OLD " + std::to_string(n) + "\n", n == 0 ? 1000 : 2000000 + n);
    Start();
    StopMessageTracer(m_tracer);

    EXPECT_EQ(Texts(File(5)).front(), Opened(5));
    for (unsigned n = 0; n < 5; ++n)
        EXPECT_EQ(ReadAll(File(n)), "OLD " + std::to_string(n) + "\n");
    EXPECT_FALSE(fs::exists(File(6)));
}

TEST_F(OrbManagerTracerTest, AllFilesPresentReusesTheLeastRecentlyModified) {
    fs::create_directories(m_dir);
    for (unsigned n = 0; n < 30; ++n)
        WriteFile(File(n), "OLD " + std::to_string(n) + "\n",
                  n == 17 || n == 21 ? 5000 : 1000000 + n);
    Start();
    StopMessageTracer(m_tracer);

    EXPECT_EQ(Texts(File(17)),
              (std::vector<std::string>{Opened(17), kInitialized, kPumpsQuit, kTerminated}));
    for (unsigned n = 0; n < 30; ++n) {
        if (n != 17) {
            EXPECT_EQ(ReadAll(File(n)), "OLD " + std::to_string(n) + "\n") << n;
        }
    }
}

TEST_F(OrbManagerTracerTest, FilesDatedInTheFutureStillGiveTheLeastRecent) {
    fs::create_directories(m_dir);
    const std::time_t now = std::time(nullptr);
    for (unsigned n = 0; n < 30; ++n)
        WriteFile(File(n), "OLD\n", n == 9 ? now + 3600 : now + 86400 + n);
    // A folder in place of a file is never chosen.
    fs::remove(File(3));
    fs::create_directory(File(3));
    const timespec times[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, File(3).c_str(), times, 0), 0);
    Start();
    StopMessageTracer(m_tracer);
    EXPECT_EQ(Texts(File(9)).front(), Opened(9));
    EXPECT_TRUE(fs::is_directory(File(3)));
}

TEST_F(OrbManagerTracerTest, RotatesAtTheSizeLimit) {
    Start();
    const std::string first = "first line, it fits exactly";
    const std::string second = "second line, it does not fit";
    // position + 2 x length + 2 may reach the limit but not pass it.
    SetTraceLogFileByteLimitForTest(fs::file_size(File(0)) + 2 * first.size() + 2);
    TraceLog("%s", first.c_str());
    TraceLog("%s", second.c_str());
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(File(1)) && Contains(Texts(File(1)), second); },
                          kWaitMs));
    SetTraceLogFileByteLimitForTest(0);
    StopMessageTracer(m_tracer);

    EXPECT_EQ(Texts(File(0)),
              (std::vector<std::string>{Opened(0), kInitialized, first, Closed(0)}));
    EXPECT_EQ(Texts(File(1)),
              (std::vector<std::string>{Reopened(1), second, kPumpsQuit, kTerminated}));
}

TEST_F(OrbManagerTracerTest, RotationWrapsFromTheLastFileToTheFirst) {
    fs::create_directories(m_dir);
    for (unsigned n = 0; n < 29; ++n)
        WriteFile(File(n), "OLD " + std::to_string(n) + "\n", 1000000 + n);
    Start(); // on brv29, the one missing
    RotateOnNextLine(29, 7);
    TraceLog("wrapped");
    ASSERT_TRUE(WaitUntil([&] { return Contains(Texts(File(0)), "wrapped"); }, kWaitMs));
    SetTraceLogFileByteLimitForTest(0);
    StopMessageTracer(m_tracer);

    EXPECT_EQ(Texts(File(29)), (std::vector<std::string>{Opened(29), kInitialized, Closed(29)}));
    EXPECT_EQ(Texts(File(0)),
              (std::vector<std::string>{Reopened(0), "wrapped", kPumpsQuit, kTerminated}));
    EXPECT_EQ(ReadAll(File(1)), "OLD 1\n");
}

// The trace names users, addresses and all the switch says: each file of the ring is made for the
// owner and the group, less what a stricter umask takes, the one an older program left included.
TEST_F(OrbManagerTracerTest, EveryFileOfTheRingIsMadeForTheOwnerAndTheGroup) {
    using testsupport::PermissionsOf;
    g_nLogFileCount = 2;
    {
        testsupport::ScopedUmask usual(022);
        fs::create_directories(m_dir);
        WriteFile(File(0), "OLD 0\n", 5000);
        ASSERT_EQ(PermissionsOf(File(0)), "0644");
        Start(); // on brv1, the one missing
        EXPECT_EQ(PermissionsOf(File(1)), "0640");
        RotateOnNextLine(1, 7);
        TraceLog("wrapped");
        ASSERT_TRUE(WaitUntil([&] { return Contains(Texts(File(0)), "wrapped"); }, kWaitMs));
        SetTraceLogFileByteLimitForTest(0);
        StopMessageTracer(m_tracer);
        EXPECT_EQ(PermissionsOf(File(0)), "0640");
    }
    testsupport::ScopedUmask strict(077);
    fs::remove_all(m_dir);
    Start();
    StopMessageTracer(m_tracer);
    EXPECT_EQ(PermissionsOf(File(0)), "0600");
}

// The next file cannot be made: first a folder stands in its place, then the log folder is gone.
// Either way logging picks up again once the obstacle is removed.
TEST_F(OrbManagerTracerTest, FailedRotationRecovers) {
    const std::string openFailure = "[ERROR] " + SystemErrorText(ENOENT) +
                                    " Cannot Open a Log file and cannot save any operation log at "
                                    "this time.\n";
    for (bool folderGone : {false, true}) {
        SCOPED_TRACE(folderGone ? "folder gone" : "file blocked");
        fs::remove_all(m_dir);
        m_debug.Clear();
        Start();
        SetTraceLogReopenIntervalForTest(0);
        RotateOnNextLine(0, 4);
        if (folderGone)
            fs::remove_all(m_dir);
        else
            fs::create_directory(File(1));
        TraceLog("lost");
        ASSERT_TRUE(WaitUntil(
            [&] { return m_debug.Count(folderGone ? openFailure : kCannotDelete) > 0; }, kWaitMs));
        if (folderGone)
            fs::create_directories(m_dir);
        else
            fs::remove(File(1));
        SetTraceLogFileByteLimitForTest(0);
        TraceLog("back again");
        ASSERT_TRUE(WaitUntil([&] { return Contains(Texts(File(1)), "back again"); }, kWaitMs));
        StopMessageTracer(m_tracer);

        if (!folderGone) {
            EXPECT_EQ(Texts(File(0)),
                      (std::vector<std::string>{Opened(0), kInitialized, Closed(0)}));
        }
        EXPECT_EQ(Texts(File(1)),
                  (std::vector<std::string>{Reopened(1), "back again", kPumpsQuit, kTerminated}));
    }
}

TEST_F(OrbManagerTracerTest, RetriesAfterAFailedRotationAreRateLimited) {
    Start();
    SetTraceLogReopenIntervalForTest(3600 * 1000);
    fs::create_directory(File(1));
    RotateOnNextLine(0, 4);
    TraceLog("lost");
    TraceLog("lost too");
    TraceLog("and lost");
    StopMessageTracer(m_tracer);
    // Only the rotation itself tried; the later lines, the last two included, waited their turn.
    EXPECT_EQ(m_debug.Count(kCannotDelete), 1);
    EXPECT_EQ(Texts(File(0)), (std::vector<std::string>{Opened(0), kInitialized, Closed(0)}));
    EXPECT_TRUE(fs::is_directory(File(1)));
}

TEST_F(OrbManagerTracerTest, LinesQueuedBeforeTheStopComeBeforeTheLastLine) {
    Start();
    g_TraceQueue.Lock();
    for (int i = 0; i < 200; ++i)
        TraceLog("queued %d", i);
    g_TraceQueue.Unlock();
    StopMessageTracer(m_tracer);

    const auto texts = Texts(File(0));
    ASSERT_EQ(texts.back(), kTerminated);
    std::vector<std::string> queued;
    for (const auto& text : texts) {
        if (text.rfind("queued ", 0) == 0)
            queued.push_back(text);
    }
    ASSERT_EQ(queued.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(queued[i], "queued " + std::to_string(i));
}

TEST_F(OrbManagerTracerTest, LinesAfterTheStopBeganReachOnlyTheDebugger) {
    Start();
    TraceLog("before");
    RetractMessageTracer(); // the stop's first step
    TraceLog("during the stop");
    StopMessageTracer(m_tracer);
    TraceLog("after the stop");

    const auto texts = Texts(File(0));
    EXPECT_TRUE(Contains(texts, "before"));
    EXPECT_FALSE(Contains(texts, "during the stop"));
    EXPECT_FALSE(Contains(texts, "after the stop"));
    EXPECT_EQ(texts.back(), kTerminated);
    EXPECT_EQ(m_debug.Count("during the stop"), 1);
    EXPECT_EQ(m_debug.Count("after the stop"), 1);
    EXPECT_EQ(g_TraceQueue.GetCount(), 0u);
}

TEST_F(OrbManagerTracerTest, EndsWithItsOwnExitCode) {
    Start();
    RetractMessageTracer();
    EXPECT_EQ(m_tracer->GetExitCode(), COrbManagerTracer::kStillActive);
    ASSERT_TRUE(m_tracer->PostThreadMessage(COrbManagerTracer::WM_QUIT, 0, 0));
    ASSERT_TRUE(m_tracer->WaitForExit(20000));
    EXPECT_EQ(m_tracer->GetExitCode(), COrbManagerTracer::kNormalExitCode);
    EXPECT_FALSE(m_tracer->IsFileOpen());
    StopMessageTracer(m_tracer);
    EXPECT_FALSE(m_tracer);
    EXPECT_EQ(m_debug.Count(">>> Veltrane Link V2 Message Tracer killed."), 0);
    EXPECT_EQ(Texts(File(0)).back(), kTerminated);

    // Dropping a running tracer without the stop still ends its thread and closes its file.
    Start();
    m_tracer.reset();
    EXPECT_EQ(g_nTracerThreadId.load(), -1);
    EXPECT_EQ(Texts(File(1)).back(), kTerminated);
}

TEST_F(OrbManagerTracerTest, ManyThreadsTracingAtOnceLoseNoLine) {
    constexpr int kThreads = 8;
    constexpr int kEach = 400;
    Start();
    SetTraceLogFileByteLimitForTest(16 * 1024);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i)
                TraceLog("worker %d line %d", t, i);
        });
    }
    for (auto& thread : threads)
        thread.join();
    StopMessageTracer(m_tracer);

    std::vector<int> next(kThreads, 0);
    int seen = 0;
    int bad = 0;
    unsigned files = 0;
    for (unsigned n = 0; n < 30 && fs::exists(File(n)); ++n, ++files) {
        for (const auto& text : Texts(File(n))) {
            int t = -1;
            int i = -1;
            if (text.rfind("BAD: ", 0) == 0)
                ++bad;
            else if (std::sscanf(text.c_str(), "worker %d line %d", &t, &i) == 2) {
                ASSERT_TRUE(t >= 0 && t < kThreads);
                EXPECT_EQ(i, next[t]) << "thread " << t;
                next[t] = i + 1;
                ++seen;
            }
        }
    }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(seen, kThreads * kEach);
    EXPECT_GT(files, 2u);  // it did rotate
    EXPECT_LT(files, 30u); // and never wrapped over its own lines
    EXPECT_EQ(Texts(File(files - 1)).back(), kTerminated);
}

TEST_F(OrbManagerTracerTest, RepeatedLinesAreFoldedAndAFullQueueCountsWhatItDrops) {
    Start();
    for (int i = 0; i < 1000; ++i)
        TraceLog("[ERROR] the same line");
    TraceLog("[USER] another line");
    // Held, so nothing is taken while the bound is reached.
    const std::size_t saved = g_nMaxQueuedTraceLines.load();
    g_TraceQueue.Lock();
    g_nMaxQueuedTraceLines = g_TraceQueue.GetCount() + 12;
    for (int i = 0; i < 50; ++i)
        TraceLog("[USER] line %d", i);
    EXPECT_LE(g_TraceQueue.GetCount(), g_nMaxQueuedTraceLines.load());
    g_TraceQueue.Unlock();
    SpinUntilQueueEmpty();
    g_nMaxQueuedTraceLines = saved;
    TraceLog("[USER] after the flood");
    TraceLog("[USER] after the flood");
    StopMessageTracer(m_tracer);

    const auto texts = Texts(File(0));
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "[ERROR] the same line"), 1);
    EXPECT_TRUE(Contains(texts, "... repeated 999 times"));
    EXPECT_TRUE(Contains(texts, "[USER] line 9"));
    EXPECT_FALSE(Contains(texts, "[USER] line 10"));
    EXPECT_TRUE(Contains(texts, "[ERROR] The trace queue was full: 40 lines were dropped!!!"));
    EXPECT_TRUE(Contains(texts, "[USER] after the flood"));
    // A count still held at the stop is written too.
    EXPECT_TRUE(Contains(texts, "... repeated 1 times"));
}

// The counts the stop writes were queued without a time of their own: they are stamped when
// written, never at the clock's zero.
TEST_F(OrbManagerTracerTest, CountsHeldAtTheStopAreStampedWhenWritten) {
    Start();
    TraceLog("[USER] twice");
    TraceLog("[USER] twice");
    StopMessageTracer(m_tracer);

    std::istringstream in(ReadAll(File(0)));
    std::string line, twice, count;
    while (std::getline(in, line)) {
        if (line.size() > 26 && line.substr(26) == "[USER] twice")
            twice = line.substr(0, 26);
        if (line.size() > 26 && line.substr(26) == "... repeated 1 times")
            count = line.substr(0, 26);
    }
    ASSERT_TRUE(HasTimeStampPrefix(twice));
    ASSERT_TRUE(HasTimeStampPrefix(count));
    // The stamp reads year first, so text order is time order.
    EXPECT_GE(count, twice);
}

namespace {

// A log file's lines with the byte offset each starts at.
struct FileLine {
    std::uint64_t offset = 0;
    std::string text; // time stamp taken off
};
std::vector<FileLine> LinesWithOffsets(const std::string& path) {
    std::vector<FileLine> lines;
    const std::string all = ReadAll(path);
    std::uint64_t offset = 0;
    std::istringstream in(all);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back({offset, HasTimeStampPrefix(line) ? line.substr(26) : "BAD: " + line});
        offset += line.size() + 1;
    }
    return lines;
}

constexpr int kLongDelayMs = 3600 * 1000;
int LongDelay() {
    return kLongDelayMs;
}
int NoDelay() {
    return 0;
}

} // namespace

// A batch written at once still rotates exactly where a line at a time did: a line goes into the
// file while the file's size before it plus twice its length plus 2 stays within the limit, and
// otherwise opens the next file.
TEST_F(OrbManagerTracerTest, ABatchRotatesWhereLineByLineWritingDid) {
    constexpr int kLines = 300;
    constexpr std::uint64_t kLimit = 4000;
    Start();
    SetTraceLogFileByteLimitForTest(kLimit);
    // Held, so every line waits and they are written as one batch.
    g_TraceQueue.Lock();
    for (int i = 0; i < kLines; ++i)
        TraceLog("batch line %d %s", i, std::string(static_cast<std::size_t>(i % 37), 'x').c_str());
    g_TraceQueue.Unlock();
    const std::string last = "batch line " + std::to_string(kLines - 1);
    auto lastWritten = [&] {
        for (unsigned n = 0; n < 30; ++n) {
            for (const auto& text : Texts(File(n)))
                if (text.rfind(last, 0) == 0)
                    return true;
        }
        return false;
    };
    ASSERT_TRUE(WaitUntil(lastWritten, kWaitMs)) << "written without a stop";

    int next = 0;
    unsigned files = 0;
    for (unsigned n = 0; n < 30 && fs::exists(File(n)); ++n, ++files) {
        const auto lines = LinesWithOffsets(File(n));
        ASSERT_GE(lines.size(), 2u) << n;
        EXPECT_EQ(lines.front().text, n == 0 ? Opened(0) : Reopened(n));
        const bool closed = lines.back().text == Closed(n);
        for (std::size_t k = 0; k < lines.size(); ++k) {
            int number = -1;
            if (std::sscanf(lines[k].text.c_str(), "batch line %d", &number) != 1)
                continue;
            EXPECT_EQ(number, next) << "file " << n;
            ++next;
            EXPECT_LE(lines[k].offset + 2 * lines[k].text.size() + 2, kLimit)
                << "file " << n << ": " << lines[k].text;
        }
        if (closed && fs::exists(File(n + 1))) {
            // The line that rotated did not fit where the closing line now stands.
            const auto following = LinesWithOffsets(File(n + 1));
            ASSERT_GE(following.size(), 2u);
            EXPECT_GT(lines.back().offset + 2 * following[1].text.size() + 2, kLimit) << n;
        }
    }
    EXPECT_EQ(next, kLines);
    EXPECT_GE(files, 4u);
}

// Lines wait for the tracer at most the delay, or until they make a whole batch; the stop, and
// dropping the tracer, write whatever still waits.
TEST_F(OrbManagerTracerTest, WaitingLinesReachTheFileWithoutAStopAndAtEveryStop) {
    Start();
    SetTraceFlushDelayForTest(20);
    TraceLog("alone");
    EXPECT_TRUE(WaitUntil([&] { return Contains(Texts(File(0)), "alone"); }, kWaitMs))
        << "a single line needs no other after it";

    SetTraceFlushDelayForTest(kLongDelayMs);
    for (std::size_t i = 0; i < COrbManagerTracer::kFullBatchLines; ++i)
        TraceLog("full %zu", i);
    const std::string lastOfBatch =
        "full " + std::to_string(COrbManagerTracer::kFullBatchLines - 1);
    EXPECT_TRUE(WaitUntil([&] { return Contains(Texts(File(0)), lastOfBatch); }, kWaitMs))
        << "a whole batch does not wait out the delay";

    TraceLog("waits for the stop");
    TraceLog("and so do I");
    StopMessageTracer(m_tracer);
    auto texts = Texts(File(0));
    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ(
        std::vector<std::string>(texts.end() - 4, texts.end()),
        (std::vector<std::string>{"waits for the stop", "and so do I", kPumpsQuit, kTerminated}));

    Start();
    TraceLog("waits for the destructor");
    m_tracer.reset();
    texts = Texts(File(1));
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[texts.size() - 3], "waits for the destructor");
    EXPECT_EQ(texts.back(), kTerminated);
}

TEST(TracerMessageQueueTest, MessagesComeFirstAndLinesWhenDue) {
    TracerMessageQueue queue;
    TracerMessage message;
    queue.LinesQueued(false);
    ASSERT_TRUE(queue.Post(TracerMessage{7, 1, 2}));
    ASSERT_EQ(queue.Wait(message, LongDelay), TracerMessageQueue::Woken::Message);
    EXPECT_EQ(message.message, 7u);
    EXPECT_EQ(message.lParam, 2);
    queue.LinesQueued(true); // full: due at once, however long the delay
    EXPECT_EQ(queue.Wait(message, LongDelay), TracerMessageQueue::Woken::Lines);
    queue.LinesQueued(false);
    queue.LinesQueued(false); // one note for the batch
    EXPECT_EQ(queue.Wait(message, NoDelay), TracerMessageQueue::Woken::Lines);

    // A waiter with nothing noted is woken by the note of a whole batch.
    std::thread noter([&queue] { queue.LinesQueued(true); });
    EXPECT_EQ(queue.Wait(message, LongDelay), TracerMessageQueue::Woken::Lines);
    noter.join();
    std::thread closer([&queue] { queue.Close(); });
    EXPECT_EQ(queue.Wait(message, LongDelay), TracerMessageQueue::Woken::Closed);
    closer.join();
    EXPECT_FALSE(queue.Post(TracerMessage{7, 0, 0}));
}
