#include <engine/OrbManagerTracer.h>
#include <engine/TraceLog.h>
#include <engine/TraceSettings.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace engine;

namespace {

// Catches the debugger output and sets the trace settings to their defaults for one test.
class TraceLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        RetractMessageTracer();
        g_TraceQueue.RemoveAll();
        g_nTraceLevel = 2;
        g_nDebugMsgPrint = 2;
        SetTraceDebugOutputHookForTest([this](const std::string& text) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_debug.push_back(text);
        });
    }
    void TearDown() override {
        SetTraceDebugOutputHookForTest({});
        g_TraceQueue.RemoveAll();
        g_nTraceLevel = 2;
        g_nDebugMsgPrint = 2;
        g_nMaxLogFileSizeMB = 5;
        SetTraceLogFileByteLimitForTest(0);
    }
    std::vector<std::string> Debug() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_debug;
    }

    std::mutex m_lock;
    std::vector<std::string> m_debug;
};

std::string Traced(const std::vector<std::uint8_t>& record, bool outgoing) {
    // A heap copy of exactly the record's size, so a read past it is caught by the sanitizer.
    std::vector<std::uint8_t> exact(record);
    return FormatSwitchMessage(exact.empty() ? nullptr : exact.data(), exact.size(), outgoing);
}

} // namespace

TEST_F(TraceLogTest, FormatsPrintfStyleToTheDebuggerOutput) {
    TraceLog("[ERROR] code[%d : %s]", 2, "text");
    const std::string longText(3000, 'x');
    TraceLog("%s|%05d", longText.c_str(), 42);
    g_nDebugMsgPrint = 0;
    TraceLog("not shown");

    const auto debug = Debug();
    ASSERT_EQ(debug.size(), 2u);
    EXPECT_EQ(debug[0], "[ERROR] code[2 : text]"); // no line end added
    EXPECT_EQ(debug[1], longText + "|00042");
}

TEST_F(TraceLogTest, QueuesNothingWithoutATracer) {
    ASSERT_EQ(g_nTracerThreadId.load(), -1);
    TraceLog("nobody listens");
    EXPECT_EQ(g_TraceQueue.GetCount(), 0u);
    EXPECT_FALSE(QueueTracerLine("direct", 2));
    EXPECT_EQ(g_TraceQueue.GetCount(), 0u);
    // A stray id without a running tracer is no tracer either.
    g_nTracerThreadId = 12345;
    TraceLog("still nobody");
    EXPECT_EQ(g_TraceQueue.GetCount(), 0u);
    g_nTracerThreadId = -1;
    EXPECT_EQ(Debug().size(), 2u);
}

TEST_F(TraceLogTest, RotationLimitIsFiveMegabytesUnlessInjected) {
    EXPECT_EQ(TraceLogFileByteLimit(), 5ull * 1048576ull);
    SetTraceLogFileByteLimitForTest(300);
    EXPECT_EQ(TraceLogFileByteLimit(), 300u);
    SetTraceLogFileByteLimitForTest(0);
    g_nMaxLogFileSizeMB = 7;
    EXPECT_EQ(TraceLogFileByteLimit(), 7ull * 1048576ull);
}

TEST_F(TraceLogTest, SystemErrorTextIsThreadSafe) {
    EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");

    const std::string noEntry = SystemErrorText(ENOENT);
    const std::string denied = SystemErrorText(EACCES);
    ASSERT_NE(noEntry, denied);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const bool even = (t + i) % 2 == 0;
                if (SystemErrorText(even ? ENOENT : EACCES) != (even ? noEntry : denied))
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(TraceLogTest, SwitchMessageHexInBothDirections) {
    // Outgoing: two length bytes, 0x02, the letter, then the rest.
    const std::vector<std::uint8_t> makeCall{0x00, 0x0A, 0x02, 'D',  0xFF, 0xFF,
                                             0x01, 0x02, 0xFF, 0xFF, 0x00, 0x05};
    EXPECT_EQ(Traced(makeCall, true), "[SW : 12] --->>> : 'D' FF FF 01 02 FF FF 00 05 ");
    // Incoming: the letter right after the length.
    const std::vector<std::uint8_t> connected{0x00, 0x0A, 'E',  0xFF, 0xFF, 0x00,
                                              0x01, 0x02, 0x03, 0x00, 0x11, 0xA0};
    EXPECT_EQ(Traced(connected, false), "[SW : 12] <<<--- : 'E' FF FF 00 01 02 03 00 11 A0 ");

    // The same bytes read in the other direction put a different byte in the letter's place.
    EXPECT_EQ(Traced(connected, true), "[SW : 12] --->>> : '\xFF' FF 00 01 02 03 00 11 A0 ");

    TraceSwitchMessage(makeCall.data(), makeCall.size(), true);
    const auto debug = Debug();
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_EQ(debug[0], "[SW : 12] --->>> : 'D' FF FF 01 02 FF FF 00 05 ");
}

TEST_F(TraceLogTest, LinkSupervisionIsNotTraced) {
    std::vector<std::uint8_t> out(14, 0x00);
    out[2] = 0x02;
    for (char letter : {'a', 'u'}) {
        out[3] = static_cast<std::uint8_t>(letter);
        EXPECT_EQ(Traced(out, true), "") << letter;
    }
    out[3] = 'Q';
    out[11] = 'm';
    EXPECT_EQ(Traced(out, true), "");
    // 'm' one byte early is an ordinary byte for an outgoing record.
    out[11] = 's';
    out[10] = 'm';
    EXPECT_NE(Traced(out, true), "");

    std::vector<std::uint8_t> in(12, 0x00);
    for (char letter : {'a', 'u'}) {
        in[2] = static_cast<std::uint8_t>(letter);
        EXPECT_EQ(Traced(in, false), "") << letter;
    }
    in[2] = 'Q';
    in[10] = 'm';
    EXPECT_EQ(Traced(in, false), "");
    // An incoming record with 'a' where an outgoing one has its letter is traced.
    in[10] = 0;
    in[3] = 'a';
    EXPECT_EQ(Traced(in, false), "[SW : 12] <<<--- : 'Q' 61 00 00 00 00 00 00 00 00 ");

    out[3] = 'u';
    TraceSwitchMessage(out.data(), out.size(), true);
    EXPECT_TRUE(Debug().empty());
}

TEST_F(TraceLogTest, ShortRecordsAreReadOnlyAsFarAsTheyGo) {
    EXPECT_EQ(Traced({}, true), "[SW : 0] --->>> : ");
    EXPECT_EQ(Traced({0x00, 0x01, 0x02}, true), "[SW : 3] --->>> : 00 01 02 ");
    EXPECT_EQ(Traced({0x00, 0x01}, false), "[SW : 2] <<<--- : 00 01 ");
    EXPECT_EQ(Traced({0x00, 0x02, 0x02, 'N'}, true), "[SW : 4] --->>> : 'N' ");
    EXPECT_EQ(Traced({0x00, 0x01, 'u'}, false), "");
    // A sub-letter position past the end is never looked at.
    EXPECT_EQ(Traced({0x00, 0x08, 'I', 0xFF, 0xFF, 0x01, 0x02, 0x03, 0x04, 0x00}, false),
              "[SW : 10] <<<--- : 'I' FF FF 01 02 03 04 00 ");
    EXPECT_EQ(FormatSwitchMessage(nullptr, 40, true), "[SW : 0] --->>> : ");
}

// The tracer stamps many lines of one second in a row: each stamp is still that of its own time,
// across second, minute and day boundaries and back again.
TEST_F(TraceLogTest, TimeStampsOfAnyTimeInAnyOrder) {
    using Clock = std::chrono::system_clock;
    auto expected = [](Clock::time_point at) {
        const std::time_t seconds = Clock::to_time_t(at);
        std::tm local{};
        localtime_r(&seconds, &local);
        char text[64];
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() %
            1000;
        std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                      static_cast<int>(ms));
        return std::string(text);
    };
    // 2031-03-05 23:59:59.998 UTC and the milliseconds around it, then earlier and later times.
    const Clock::time_point base{std::chrono::milliseconds(1930521599998LL)};
    const std::vector<std::int64_t> offsets{0, 1, 2, 3, 1, 999, 1000, -86400000, 0, 60000, 2};
    for (const std::int64_t offset : offsets) {
        const Clock::time_point at = base + std::chrono::milliseconds(offset);
        EXPECT_EQ(TraceTimeStamp(at), expected(at)) << offset;
        std::string appended = "[";
        AppendTraceTimeStamp(appended, at);
        EXPECT_EQ(appended, "[" + expected(at)) << offset;
    }
    const std::string now = TraceTimeStamp();
    ASSERT_EQ(now.size(), 23u);
    EXPECT_EQ(now[4], ':');
    EXPECT_EQ(now[19], '.');
}
