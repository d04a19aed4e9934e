#include <platform/Registry.h>

#include <testsupport/ChildProcess.h>
#include <testsupport/TempRegistry.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;
namespace fs = std::filesystem;

namespace {

constexpr const char* kUsers = "Software\\Qorvell Electronics\\OrbManager\\UserData";

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string OneDword(uint32_t value) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Qorvell Electronics\\OrbManager"
                  "\\UserData]\r\n\"UserListCount\"=dword:%08x\r\n\r\n",
                  value);
    return text;
}

class RegistryKeptTree : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registry_.IsReady()); }
    uint32_t Count() {
        RegKey key;
        uint32_t count = 0;
        EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine, kUsers, key), RegStatus::Ok)
            << RegKey::LastErrorText();
        EXPECT_EQ(key.QueryDword("UserListCount", count), RegStatus::Ok);
        return count;
    }

    testsupport::TempRegistry registry_{"regkept"};
    const fs::path& dir_ = registry_.Dir();
    const fs::path& path_ = registry_.File();
};

TEST_F(RegistryKeptTree, TheFileIsParsedOncePerStateAndEveryChangeShows) {
    RegKey users;
    ASSERT_EQ(RegKey::Create(RegRoot::LocalMachine, kUsers, users), RegStatus::Ok);
    for (int i = 0; i < 50; ++i) {
        RegKey sub;
        ASSERT_EQ(users.CreateSub("UserData_" + std::to_string(i), sub), RegStatus::Ok);
        ASSERT_EQ(sub.SetString("UserName", "user" + std::to_string(i)), RegStatus::Ok);
    }
    ASSERT_EQ(users.SetDword("UserListCount", 50), RegStatus::Ok);

    // This process's own writes leave the kept tree current: queries parse nothing.
    const uint64_t afterWrites = platform::RegistryFileParses();
    for (int i = 0; i < 50; ++i) {
        RegKey sub;
        std::string name;
        ASSERT_EQ(users.OpenSub("UserData_" + std::to_string(i), sub), RegStatus::Ok);
        ASSERT_EQ(sub.QueryString("UserName", name), RegStatus::Ok);
        EXPECT_EQ(name, "user" + std::to_string(i));
    }
    EXPECT_EQ(Count(), 50u);
    EXPECT_EQ(platform::RegistryFileParses(), afterWrites);

    // Another program's write (under the lock, by rename) is seen, with one parse.
    EXPECT_EQ(testsupport::InChild(false,
                                   [] {
                                       RegKey key;
                                       RegKey::Open(RegRoot::LocalMachine, kUsers, key);
                                       return key.SetDword("UserListCount", 7) == RegStatus::Ok
                                                  ? ""
                                                  : "failed";
                                   }),
              "");
    EXPECT_EQ(Count(), 7u);
    EXPECT_EQ(Count(), 7u);
    EXPECT_EQ(platform::RegistryFileParses(), afterWrites + 1);

    // Files of the same size put in place one after another, faster than the clock ticks: each
    // is a new file and is seen.
    for (uint32_t value = 1; value <= 20; ++value) {
        const fs::path temp = dir_ / "next.reg";
        WriteFile(temp, OneDword(value));
        fs::rename(temp, path_);
        ASSERT_EQ(Count(), value);
    }
    // An editor that rewrites the file in place.
    WriteFile(path_, OneDword(0x1234) + "; edited\r\n");
    EXPECT_EQ(Count(), 0x1234u);
    // A removed file reads as empty.
    fs::remove(path_);
    RegKey gone;
    EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine, kUsers, gone), RegStatus::NotFound);
}

TEST_F(RegistryKeptTree, AFileThatDoesNotParseIsParsedOnceAndNamedEveryTime) {
    WriteFile(path_, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"A\"=dword:zz\r\n");
    const uint64_t before = platform::RegistryFileParses();
    for (int i = 0; i < 20; ++i) {
        RegKey key;
        EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine, "Software", key), RegStatus::BadFile);
        EXPECT_EQ(RegKey::LastErrorText().rfind(path_.string() + ":4: ", 0), 0u)
            << RegKey::LastErrorText();
        EXPECT_EQ(platform::RegistryFileFault(), RegKey::LastErrorText());
    }
    EXPECT_EQ(platform::RegistryFileParses(), before + 1);
    // Mended, it reads again.
    WriteFile(path_, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"A\"=dword:00000001\r\n");
    RegKey key;
    EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine, "Software", key), RegStatus::Ok);
}

TEST_F(RegistryKeptTree, AFolderThatIsNotWritableIsNamed) {
    RegKey users;
    ASSERT_EQ(RegKey::Create(RegRoot::LocalMachine, kUsers, users), RegStatus::Ok);
    // No lock file yet, and a folder the writer may not create one in.
    const fs::path folder = dir_ / "locked";
    fs::create_directory(folder);
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0); // the writer may pass through
    const fs::path file = folder / "registry.reg";
    fs::copy_file(path_, file);
    ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    ::setenv("QORVELL_REGISTRY", file.c_str(), 1);
    const std::string text = testsupport::InChild(true, [] {
        RegKey key;
        if (RegKey::Open(RegRoot::LocalMachine, kUsers, key) != RegStatus::Ok) {
            return std::string("open failed: ") + RegKey::LastErrorText();
        }
        if (key.SetDword("UserListCount", 3) == RegStatus::Ok) {
            return std::string("written");
        }
        return RegKey::LastErrorText();
    });
    ::setenv("QORVELL_REGISTRY", path_.c_str(), 1);
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(text.rfind("the registry folder " + folder.string() + " is not writable", 0), 0u)
        << text;
}

} // namespace
