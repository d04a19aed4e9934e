#include <platform/Registry.h>

#include <testsupport/TempRegistry.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;
using platform::RegValue;

namespace {

constexpr const char* kKey = "Software\\Qorvell Electronics\\OrbManager\\Shared";

class RegistryConcurrency : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(registry_.IsReady());
        RegKey key;
        ASSERT_EQ(RegKey::Create(RegRoot::LocalMachine, kKey, key), RegStatus::Ok);
    }
    testsupport::TempRegistry registry_{"regconc"};
};

std::string ValueName(int writer, int i) {
    return "W" + std::to_string(writer) + "_" + std::to_string(i);
}

// Adds `count` values of its own, and a subkey of its own holding them too.
bool WriteMany(int writer, int count) {
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kKey, key) != RegStatus::Ok) {
        return false;
    }
    RegKey own;
    if (key.CreateSub("Writer" + std::to_string(writer), own) != RegStatus::Ok) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const uint32_t data = static_cast<uint32_t>(writer * 100000 + i);
        if (key.SetDword(ValueName(writer, i), data) != RegStatus::Ok ||
            own.SetString("V" + std::to_string(i), std::to_string(data)) != RegStatus::Ok) {
            return false;
        }
    }
    return true;
}

// Values are only ever added, so a reader must never see fewer than before nor a torn file.
bool ReadWhileOthersWrite(int rounds) {
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kKey, key) != RegStatus::Ok) {
        return false;
    }
    size_t seen = 0;
    std::vector<RegValue> values;
    for (int i = 0; i < rounds; ++i) {
        if (key.EnumValues(values) != RegStatus::Ok || values.size() < seen) {
            return false;
        }
        seen = values.size();
    }
    return true;
}

void ExpectEverythingWritten(int writers, int count) {
    RegKey key;
    ASSERT_EQ(RegKey::Open(RegRoot::LocalMachine, kKey, key), RegStatus::Ok);
    std::vector<RegValue> values;
    ASSERT_EQ(key.EnumValues(values), RegStatus::Ok);
    EXPECT_EQ(values.size(), static_cast<size_t>(writers * count));
    for (int w = 0; w < writers; ++w) {
        RegKey own;
        ASSERT_EQ(key.OpenSub("Writer" + std::to_string(w), own), RegStatus::Ok);
        std::vector<RegValue> ownValues;
        ASSERT_EQ(own.EnumValues(ownValues), RegStatus::Ok);
        EXPECT_EQ(ownValues.size(), static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            uint32_t data = 0;
            ASSERT_EQ(key.QueryDword(ValueName(w, i), data), RegStatus::Ok) << ValueName(w, i);
            EXPECT_EQ(data, static_cast<uint32_t>(w * 100000 + i));
        }
    }
}

TEST_F(RegistryConcurrency, ProcessesWritingAtOnceLoseNothing) {
    constexpr int kWriters = 3;
    constexpr int kCount = 100;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> children;
    for (int w = 0; w <= kWriters; ++w) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(gate[1]);
            char c;
            (void)::read(gate[0], &c, 1); // returns once the parent closes its end: all start
            const bool ok = w < kWriters ? WriteMany(w, kCount) : ReadWhileOthersWrite(300);
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (size_t i = 0; i < children.size(); ++i) {
        int status = 0;
        ASSERT_EQ(::waitpid(children[i], &status, 0), children[i]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << (i < kWriters ? "writer " : "reader ") << i << " failed";
    }
    ExpectEverythingWritten(kWriters, kCount);
}

TEST_F(RegistryConcurrency, ThreadsWritingAtOnceLoseNothing) {
    constexpr int kWriters = 4;
    constexpr int kCount = 40;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] { failures += WriteMany(w, kCount) ? 0 : 1; });
    }
    threads.emplace_back([&] { failures += ReadWhileOthersWrite(200) ? 0 : 1; });
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0) << RegKey::LastErrorText();
    ExpectEverythingWritten(kWriters, kCount);
}

} // namespace
