#include <platform/DebugOutput.h>
#include <platform/SystemError.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using platform::DebugOutput;
using platform::SystemErrorText;

TEST(SystemErrorTest, KnownCodesGiveTheSystemText) {
    const std::string expected = std::strerror(ENOENT);
    EXPECT_EQ(SystemErrorText(ENOENT), expected);
    EXPECT_NE(SystemErrorText(EACCES), SystemErrorText(ENOENT));
    EXPECT_FALSE(SystemErrorText(0).empty());
}

TEST(SystemErrorTest, UnknownCodesGiveATextWithTheNumber) {
    EXPECT_NE(SystemErrorText(987654).find("987654"), std::string::npos);
    EXPECT_NE(SystemErrorText(-5).find("-5"), std::string::npos);
}

TEST(SystemErrorTest, TextsStayRightWhenManyThreadsAskAtOnce) {
    std::map<int, std::string> expected;
    for (int code = 1; code < 40; ++code) {
        expected[code] = std::strerror(code);
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const int code = 1 + (i * 7 + t) % 39;
                if (SystemErrorText(code) != expected[code]) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong, 0);
}

namespace {

// Points standard error at the given descriptor for the lifetime of the object.
class StderrRedirect {
public:
    explicit StderrRedirect(int fd) : saved_(::dup(STDERR_FILENO)) {
        std::fflush(stderr);
        ::dup2(fd, STDERR_FILENO);
    }
    ~StderrRedirect() {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }

private:
    int saved_;
};

std::string ReadAll(int fd) {
    std::string all;
    ::lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
        all.append(buffer, static_cast<size_t>(n));
    }
    return all;
}

} // namespace

TEST(SystemErrorDebugOutputTest, WritesTextsAsGivenWithoutInterleaving) {
    char path[] = "/tmp/debugoutputXXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::unlink(path);
    {
        StderrRedirect redirect(fd);
        DebugOutput("no line end");
        DebugOutput("");
        DebugOutput(" joined\n");
        std::vector<std::thread> threads;
        for (int t = 0; t < 6; ++t) {
            threads.emplace_back([t] {
                const std::string pad(300, static_cast<char>('a' + t));
                for (int i = 0; i < 200; ++i) {
                    DebugOutput("[" + std::to_string(t) + ":" + std::to_string(i) + "] " + pad +
                                "\n");
                }
            });
        }
        for (auto& t : threads) {
            t.join();
        }
    }
    const std::string all = ReadAll(fd);
    ::close(fd);

    std::istringstream lines(all);
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, "no line end joined");
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        ASSERT_GE(line.size(), 4u) << line;
        const int t = line[1] - '0';
        ASSERT_TRUE(t >= 0 && t < 6) << line;
        const std::string pad(300, static_cast<char>('a' + t));
        EXPECT_EQ(line.substr(line.size() - pad.size()), pad) << "interleaved: " << line;
    }
    EXPECT_EQ(count, 6 * 200);
}

TEST(SystemErrorDebugOutputTest, ABrokenPipeLosesTheTextButNotTheProcess) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]); // nobody reads: a write raises SIGPIPE
    {
        StderrRedirect redirect(fds[1]);
        errno = 1234;
        DebugOutput("into the void\n");
        EXPECT_EQ(errno, 1234); // callers may be in the middle of reporting errno
    }
    ::close(fds[1]);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}
