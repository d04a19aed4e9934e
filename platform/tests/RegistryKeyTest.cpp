#include <platform/Registry.h>

#include <testsupport/ChildProcess.h>
#include <testsupport/FileMode.h>
#include <testsupport/TempRegistry.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;
using platform::RegType;
using platform::RegValue;
namespace fs = std::filesystem;

namespace {

constexpr const char* kOrb = "Software\\Qorvell Electronics\\OrbManager";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class RegistryKey : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registry_.IsReady()); }

    RegKey MustCreate(const std::string& sub, RegRoot root = RegRoot::LocalMachine) {
        RegKey key;
        EXPECT_EQ(RegKey::Create(root, sub, key), RegStatus::Ok) << RegKey::LastErrorText();
        return key;
    }

    testsupport::TempRegistry registry_{"regkey"};
    const fs::path& dir_ = registry_.Dir();
    const fs::path& path_ = registry_.File();
};

TEST_F(RegistryKey, EveryValueTypeRoundTripsThroughTheFile) {
    RegKey key = MustCreate(kOrb);
    const std::string path = "C:\\Program Files\\Orb \"Manager\" \xc3\xa4";
    std::vector<uint8_t> big(300);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(255 - i);
    }
    ASSERT_EQ(key.SetString("OrbPath", path), RegStatus::Ok);
    ASSERT_EQ(key.SetString("", "the default"), RegStatus::Ok);
    ASSERT_EQ(key.SetString("Empty", ""), RegStatus::Ok);
    ASSERT_EQ(key.SetDword("OrbRunCheck", 0), RegStatus::Ok);
    ASSERT_EQ(key.SetDword("Max", 0xffffffffu), RegStatus::Ok);
    ASSERT_EQ(key.SetBinary("Big", big), RegStatus::Ok);
    ASSERT_EQ(key.SetBinary("None", {}), RegStatus::Ok);

    // Fresh handles read only what the file holds.
    RegKey again;
    ASSERT_EQ(RegKey::Open(RegRoot::LocalMachine, kOrb, again), RegStatus::Ok);
    std::string text;
    uint32_t dword = 7;
    std::vector<uint8_t> bytes{1};
    EXPECT_EQ(again.QueryString("OrbPath", text), RegStatus::Ok);
    EXPECT_EQ(text, path);
    EXPECT_EQ(again.QueryString("", text), RegStatus::Ok);
    EXPECT_EQ(text, "the default");
    EXPECT_EQ(again.QueryString("Empty", text), RegStatus::Ok);
    EXPECT_EQ(text, "");
    EXPECT_EQ(again.QueryDword("OrbRunCheck", dword), RegStatus::Ok);
    EXPECT_EQ(dword, 0u);
    EXPECT_EQ(again.QueryDword("Max", dword), RegStatus::Ok);
    EXPECT_EQ(dword, 0xffffffffu);
    EXPECT_EQ(again.QueryBinary("Big", bytes), RegStatus::Ok);
    EXPECT_EQ(bytes, big);
    EXPECT_EQ(again.QueryBinary("None", bytes), RegStatus::Ok);
    EXPECT_TRUE(bytes.empty());

    const std::string file = ReadFile(path_);
    EXPECT_EQ(
        file.rfind("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]"
                   "\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Qorvell Electronics]\r\n\r\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\Qorvell Electronics\\OrbManager]\r\n",
                   0),
        0u)
        << file;
    EXPECT_NE(file.find("\"OrbPath\"=\"C:\\\\Program Files\\\\Orb \\\"Manager\\\" \xc3\xa4\"\r\n"),
              std::string::npos);
    EXPECT_NE(file.find("@=\"the default\"\r\n"), std::string::npos);
    EXPECT_NE(file.find("\"Max\"=dword:ffffffff\r\n"), std::string::npos);
    EXPECT_NE(file.find("\"None\"=hex:\r\n"), std::string::npos);
    EXPECT_EQ(file.find("\n\n"), std::string::npos) << "bare LF written";

    // The two roots are separate trees.
    RegKey user = MustCreate(kOrb, RegRoot::CurrentUser);
    EXPECT_EQ(user.QueryString("OrbPath", text), RegStatus::NotFound);
    ASSERT_EQ(user.SetDword("OrbRunCheck", 5), RegStatus::Ok);
    EXPECT_EQ(again.QueryDword("OrbRunCheck", dword), RegStatus::Ok);
    EXPECT_EQ(dword, 0u);
}

TEST_F(RegistryKey, NamesAreCaseInsensitiveAndKeepTheirCase) {
    MustCreate(std::string(kOrb) + "\\ConnEnv");
    RegKey key;
    ASSERT_EQ(RegKey::Open(RegRoot::LocalMachine, "SOFTWARE\\qorvell electronics\\ORBMANAGER", key),
              RegStatus::Ok);
    EXPECT_EQ(key.SubKey(), kOrb);
    ASSERT_EQ(key.SetString("OrbPath", "/opt/orb"), RegStatus::Ok);
    ASSERT_EQ(key.SetString("ORBPATH", "/srv/orb"), RegStatus::Ok);
    std::vector<RegValue> values;
    ASSERT_EQ(key.EnumValues(values), RegStatus::Ok);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "OrbPath");
    EXPECT_EQ(values[0].text, "/srv/orb");

    // Creating an existing key under another spelling opens it.
    RegKey conn;
    ASSERT_EQ(key.CreateSub("connenv", conn), RegStatus::Ok);
    EXPECT_EQ(conn.SubKey(), std::string(kOrb) + "\\ConnEnv");
    std::vector<std::string> subs;
    ASSERT_EQ(key.EnumSubKeys(subs), RegStatus::Ok);
    EXPECT_EQ(subs, std::vector<std::string>{"ConnEnv"});
    EXPECT_NE(ReadFile(path_).find("[HKEY_LOCAL_MACHINE\\Software\\Qorvell Electronics\\"
                                   "OrbManager\\ConnEnv]"),
              std::string::npos);

    // A value changing its type stays one value.
    ASSERT_EQ(key.SetDword("orbpath", 3), RegStatus::Ok);
    ASSERT_EQ(key.EnumValues(values), RegStatus::Ok);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0], (RegValue{"OrbPath", RegType::Dword, "", 3, {}}));
}

TEST_F(RegistryKey, NotFoundIsTellableFromOtherFailures) {
    RegKey key;
    // No file at all is an empty registry.
    EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine, kOrb, key), RegStatus::NotFound);
    EXPECT_FALSE(key.IsValid());
    EXPECT_NE(RegKey::LastErrorText().find("OrbManager"), std::string::npos);
    EXPECT_FALSE(fs::exists(path_)) << "a read created the file";

    key = MustCreate(kOrb);
    ASSERT_EQ(key.SetDword("Count", 2), RegStatus::Ok);
    std::string text;
    uint32_t dword = 0;
    std::vector<uint8_t> bytes;
    EXPECT_EQ(key.QueryString("Missing", text), RegStatus::NotFound);
    EXPECT_EQ(key.QueryString("Count", text), RegStatus::WrongType);
    EXPECT_EQ(key.QueryBinary("Count", bytes), RegStatus::WrongType);
    EXPECT_EQ(key.QueryDword("Count", dword), RegStatus::Ok);
    EXPECT_EQ(key.DeleteValue("Missing"), RegStatus::NotFound);
    EXPECT_EQ(key.DeleteSubKeyTree("Missing"), RegStatus::NotFound);

    RegKey other;
    EXPECT_EQ(RegKey::Create(RegRoot::LocalMachine, "a\\\\b", other), RegStatus::InvalidArgument);
    EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine, "trailing\\", other), RegStatus::InvalidArgument);
    EXPECT_EQ(key.SetString("Name", "two\nlines"), RegStatus::InvalidArgument);
    EXPECT_EQ(key.SetString("bad\rname", "x"), RegStatus::InvalidArgument);
    EXPECT_EQ(key.SetString("Nul", std::string("a\0b", 3)), RegStatus::InvalidArgument);
    EXPECT_EQ(RegKey().QueryDword("Count", dword), RegStatus::InvalidArgument);
    EXPECT_EQ(RegKey().SetDword("Count", 1), RegStatus::InvalidArgument);

    // A handle outlives its key: afterwards every use reports NotFound.
    RegKey doomed = MustCreate(std::string(kOrb) + "\\Doomed");
    ASSERT_EQ(key.DeleteSubKeyTree("doomed"), RegStatus::Ok);
    EXPECT_EQ(doomed.SetDword("X", 1), RegStatus::NotFound);
    EXPECT_EQ(doomed.QueryDword("X", dword), RegStatus::NotFound);
    EXPECT_EQ(doomed.CreateSub("Child", other), RegStatus::NotFound);
    EXPECT_FALSE(other.IsValid());

    // Where the file cannot be written.
    const fs::path blocker = dir_ / "plainfile";
    WriteFile(blocker, "x");
    ::setenv("QORVELL_REGISTRY", (blocker / "registry.reg").c_str(), 1);
    EXPECT_EQ(RegKey::Create(RegRoot::LocalMachine, kOrb, other), RegStatus::IoError);
    EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine, kOrb, other), RegStatus::IoError);
}

TEST_F(RegistryKey, DeleteAndEnumerate) {
    RegKey users = MustCreate(std::string(kOrb) + "\\UserData");
    ASSERT_EQ(users.SetDword("UserListCount", 3), RegStatus::Ok);
    for (const char* name : {"UserData_2", "UserData_0", "UserData_10", "UserData_1"}) {
        RegKey sub;
        ASSERT_EQ(users.CreateSub(name, sub), RegStatus::Ok);
        ASSERT_EQ(sub.SetString("UserName", name), RegStatus::Ok);
        ASSERT_EQ(sub.SetString("IPAddress", "10.0.0.1"), RegStatus::Ok);
        ASSERT_EQ(sub.SetString("UserType", "1"), RegStatus::Ok);
    }
    MustCreate(std::string(kOrb) + "\\UserData\\UserData_1\\Deep\\Deeper");

    std::vector<std::string> subs;
    ASSERT_EQ(users.EnumSubKeys(subs), RegStatus::Ok);
    EXPECT_EQ(subs,
              (std::vector<std::string>{"UserData_0", "UserData_1", "UserData_10", "UserData_2"}));
    RegKey one;
    ASSERT_EQ(users.OpenSub("userdata_1", one), RegStatus::Ok);
    std::vector<RegValue> values;
    ASSERT_EQ(one.EnumValues(values), RegStatus::Ok);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].name, "UserName");
    EXPECT_EQ(values[1].name, "IPAddress");
    EXPECT_EQ(values[2].name, "UserType");

    ASSERT_EQ(one.DeleteValue("ipaddress"), RegStatus::Ok);
    ASSERT_EQ(one.EnumValues(values), RegStatus::Ok);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[1].name, "UserType");

    // The whole tree goes, the neighbours stay.
    ASSERT_EQ(users.DeleteSubKeyTree("UserData_1"), RegStatus::Ok);
    ASSERT_EQ(users.EnumSubKeys(subs), RegStatus::Ok);
    EXPECT_EQ(subs, (std::vector<std::string>{"UserData_0", "UserData_10", "UserData_2"}));
    RegKey gone;
    EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine,
                           std::string(kOrb) + "\\UserData\\UserData_1\\Deep", gone),
              RegStatus::NotFound);
    EXPECT_EQ(ReadFile(path_).find("UserData_1\\"), std::string::npos);

    // "" is the key itself.
    ASSERT_EQ(users.DeleteSubKeyTree(""), RegStatus::Ok);
    EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine, std::string(kOrb) + "\\UserData", gone),
              RegStatus::NotFound);
    RegKey orb;
    ASSERT_EQ(RegKey::Open(RegRoot::LocalMachine, kOrb, orb), RegStatus::Ok);
    ASSERT_EQ(orb.EnumSubKeys(subs), RegStatus::Ok);
    EXPECT_TRUE(subs.empty());

    // A root is emptied, never removed.
    RegKey root;
    ASSERT_EQ(RegKey::Open(RegRoot::LocalMachine, "", root), RegStatus::Ok);
    ASSERT_EQ(root.DeleteSubKeyTree(""), RegStatus::Ok);
    ASSERT_EQ(root.EnumSubKeys(subs), RegStatus::Ok);
    EXPECT_TRUE(subs.empty());
    EXPECT_EQ(root.SetDword("AtRoot", 1), RegStatus::Ok);
}

TEST_F(RegistryKey, HandFileWithLfAndImplicitParentsIsKeptOnRewrite) {
    WriteFile(path_, "REGEDIT4\n"
                     "\n"
                     "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
                     "\"/dev/ttyUSB0\"=\"COM3\"\n"
                     "\"Blob\"=hex:de,ad,\\\n"
                     "    be,ef\n"
                     "\n");
    RegKey hw;
    ASSERT_EQ(RegKey::Open(RegRoot::LocalMachine, "hardware", hw), RegStatus::Ok);
    std::vector<std::string> subs;
    ASSERT_EQ(hw.EnumSubKeys(subs), RegStatus::Ok);
    EXPECT_EQ(subs, std::vector<std::string>{"DEVICEMAP"});

    RegKey map;
    ASSERT_EQ(hw.OpenSub("DeviceMap\\SerialComm", map), RegStatus::Ok);
    ASSERT_EQ(map.SetDword("Added", 1), RegStatus::Ok);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(map.QueryBinary("blob", bytes), RegStatus::Ok);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0xde, 0xad, 0xbe, 0xef}));
    std::string text;
    ASSERT_EQ(map.QueryString("/dev/ttyUSB0", text), RegStatus::Ok);
    EXPECT_EQ(text, "COM3");
    EXPECT_EQ(ReadFile(path_), "REGEDIT4\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE]\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE\\HARDWARE]\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP]\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\r\n"
                               "\"/dev/ttyUSB0\"=\"COM3\"\r\n"
                               "\"Blob\"=hex:de,ad,be,ef\r\n"
                               "\"Added\"=dword:00000001\r\n"
                               "\r\n");

    // Every operation reads the file anew: a change by another program shows at once.
    WriteFile(path_, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
                     "\"/dev/ttyUSB0\"=\"COM4\"\n");
    ASSERT_EQ(map.QueryString("/dev/ttyUSB0", text), RegStatus::Ok);
    EXPECT_EQ(text, "COM4");
}

TEST_F(RegistryKey, MalformedFileIsRefusedAndNeverTouched) {
    EXPECT_EQ(platform::RegistryFileFault(), ""); // none yet, which is no fault
    const std::string bad = "REGEDIT4\r\n"
                            "\r\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Qorvell Electronics\\OrbManager]\r\n"
                            "\"OrbPath\"=\"/opt/orb\"\r\n"
                            "\"OrbRunCheck\"=dword:xyz\r\n";
    WriteFile(path_, bad);
    const fs::path backup = dir_ / "backup.reg";
    WriteFile(backup, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"A\"=dword:00000001\r\n");
    const std::string where = path_.string() + ":5: ";

    EXPECT_EQ(platform::RegistryFileFault().rfind(where, 0), 0u) << platform::RegistryFileFault();
    RegKey key;
    EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine, kOrb, key), RegStatus::BadFile);
    EXPECT_EQ(RegKey::LastErrorText().rfind(where, 0), 0u) << RegKey::LastErrorText();
    EXPECT_EQ(RegKey::Create(RegRoot::LocalMachine, "Software\\Other", key), RegStatus::BadFile);
    EXPECT_EQ(RegKey::LastErrorText().rfind(where, 0), 0u) << RegKey::LastErrorText();

    RegKey root;
    ASSERT_EQ(RegKey::Open(RegRoot::LocalMachine, "", root), RegStatus::BadFile);
    // A root handle needs no file to exist; build one from a clean registry to probe the writes.
    ::setenv("QORVELL_REGISTRY", (dir_ / "clean.reg").c_str(), 1);
    ASSERT_EQ(RegKey::Open(RegRoot::LocalMachine, "", root), RegStatus::Ok);
    ::setenv("QORVELL_REGISTRY", path_.c_str(), 1);

    uint32_t dword = 0;
    std::vector<std::string> subs;
    EXPECT_EQ(root.QueryDword("x", dword), RegStatus::BadFile);
    EXPECT_EQ(root.EnumSubKeys(subs), RegStatus::BadFile);
    EXPECT_EQ(root.SetDword("x", 1), RegStatus::BadFile);
    EXPECT_EQ(root.SetString("x", "y"), RegStatus::BadFile);
    EXPECT_EQ(root.SetBinary("x", {1}), RegStatus::BadFile);
    EXPECT_EQ(root.DeleteValue("x"), RegStatus::BadFile);
    EXPECT_EQ(root.DeleteSubKeyTree("Software"), RegStatus::BadFile);
    EXPECT_EQ(root.DeleteSubKeyTree(""), RegStatus::BadFile);
    EXPECT_EQ(root.CreateSub("Software", key), RegStatus::BadFile);
    EXPECT_EQ(root.RestoreKey(backup.string()), RegStatus::BadFile);
    EXPECT_EQ(root.SaveKey((dir_ / "out.reg").string()), RegStatus::BadFile);
    EXPECT_EQ(RegKey::LastErrorText().rfind(where, 0), 0u) << RegKey::LastErrorText();

    EXPECT_EQ(ReadFile(path_), bad);
    for (const auto& entry : fs::directory_iterator(dir_)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "registry.reg" || name == "registry.reg.lock" || name == "backup.reg")
            << "left behind: " << name;
    }
}

TEST_F(RegistryKey, SaveAndRestoreASubtree) {
    const std::string userData = std::string(kOrb) + "\\UserData";
    RegKey users = MustCreate(userData);
    ASSERT_EQ(users.SetDword("UserListCount", 2), RegStatus::Ok);
    for (int i = 0; i < 2; ++i) {
        RegKey sub;
        ASSERT_EQ(users.CreateSub("UserData_" + std::to_string(i), sub), RegStatus::Ok);
        ASSERT_EQ(sub.SetString("UserName", "user " + std::to_string(i)), RegStatus::Ok);
        ASSERT_EQ(sub.SetString("DeviceID", "-1"), RegStatus::Ok);
    }
    RegKey orb;
    ASSERT_EQ(RegKey::Open(RegRoot::LocalMachine, kOrb, orb), RegStatus::Ok);
    ASSERT_EQ(orb.SetString("OrbPath", "/opt/orb"), RegStatus::Ok);

    const std::string backup = (dir_ / "OrbBKUP.BIN").string();
    ASSERT_EQ(users.SaveKey(backup), RegStatus::Ok) << RegKey::LastErrorText();
    const std::string saved = ReadFile(backup);
    EXPECT_EQ(saved.rfind("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + std::string(kOrb) +
                              "\\UserData]\r\n\"UserListCount\"=dword:00000002\r\n",
                          0),
              0u)
        << saved;
    EXPECT_EQ(saved.find("OrbPath"), std::string::npos) << "saved more than the subtree";

    auto snapshot = [](const RegKey& key) {
        std::string out;
        std::vector<RegValue> values;
        std::vector<std::string> subs;
        EXPECT_EQ(key.EnumValues(values), RegStatus::Ok);
        EXPECT_EQ(key.EnumSubKeys(subs), RegStatus::Ok);
        for (const RegValue& v : values) {
            out += v.name + "=" + v.text + std::to_string(v.dword) + ";";
        }
        for (const std::string& s : subs) {
            RegKey sub;
            EXPECT_EQ(key.OpenSub(s, sub), RegStatus::Ok);
            std::vector<RegValue> subValues;
            EXPECT_EQ(sub.EnumValues(subValues), RegStatus::Ok);
            out += "[" + s + "]";
            for (const RegValue& v : subValues) {
                out += v.name + "=" + v.text + ";";
            }
        }
        return out;
    };
    const std::string before = snapshot(users);

    // Change everything, then restore.
    ASSERT_EQ(users.SetDword("UserListCount", 3), RegStatus::Ok);
    ASSERT_EQ(users.DeleteSubKeyTree("UserData_0"), RegStatus::Ok);
    MustCreate(userData + "\\UserData_2\\Extra");
    ASSERT_EQ(users.SetString("Stray", "x"), RegStatus::Ok);
    ASSERT_EQ(users.RestoreKey(backup), RegStatus::Ok) << RegKey::LastErrorText();
    EXPECT_EQ(snapshot(users), before);
    std::string text;
    EXPECT_EQ(orb.QueryString("OrbPath", text), RegStatus::Ok) << "restore reached outside";

    // The file's key path need not be the restored key's.
    RegKey copy = MustCreate("Software\\Copy", RegRoot::CurrentUser);
    ASSERT_EQ(copy.RestoreKey(backup), RegStatus::Ok);
    EXPECT_EQ(snapshot(copy), before);

    // Failures leave the registry as it was.
    const std::string registryBefore = ReadFile(path_);
    EXPECT_EQ(users.RestoreKey((dir_ / "missing.bin").string()), RegStatus::NotFound);
    const fs::path broken = dir_ / "broken.bin";
    WriteFile(broken, saved.substr(0, saved.size() - 2) + "\"Tail\"=dword:\r\n");
    EXPECT_EQ(users.RestoreKey(broken.string()), RegStatus::BadFile);
    EXPECT_EQ(RegKey::LastErrorText().rfind(broken.string() + ":", 0), 0u);
    WriteFile(broken, saved + "[HKEY_LOCAL_MACHINE\\Elsewhere]\r\n");
    EXPECT_EQ(users.RestoreKey(broken.string()), RegStatus::BadFile);
    WriteFile(broken, "REGEDIT4\r\n\r\n");
    EXPECT_EQ(users.RestoreKey(broken.string()), RegStatus::BadFile);
    EXPECT_EQ(ReadFile(path_), registryBefore);

    EXPECT_EQ(users.SaveKey((dir_ / "no such folder" / "b.bin").string()), RegStatus::IoError);
    RegKey gone = MustCreate("Software\\Gone");
    ASSERT_EQ(gone.DeleteSubKeyTree(""), RegStatus::Ok);
    EXPECT_EQ(gone.SaveKey(backup), RegStatus::NotFound);
    EXPECT_EQ(gone.RestoreKey(backup), RegStatus::NotFound);
    EXPECT_EQ(ReadFile(backup), saved);
}

TEST_F(RegistryKey, FileLocation) {
    EXPECT_EQ(platform::RegistryFilePath(), path_.string());

    ::unsetenv("QORVELL_REGISTRY");
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    ::setenv("XDG_DATA_HOME", "/xdg/data", 1);
    if (::geteuid() == 0) {
        EXPECT_EQ(platform::RegistryFilePath(), "/var/lib/qorvell/registry.reg");
    } else {
        EXPECT_EQ(platform::RegistryFilePath(), "/xdg/data/qorvell/registry.reg");
        const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
        ::setenv("XDG_DATA_HOME", "relative", 1);
        ::setenv("HOME", "/home/someone", 1);
        EXPECT_EQ(platform::RegistryFilePath(), "/home/someone/.local/share/qorvell/registry.reg");
        ::setenv("HOME", home.c_str(), 1);
    }
    if (oldXdg) {
        ::setenv("XDG_DATA_HOME", savedXdg.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }

    // Missing folders are made on the first write.
    const fs::path deep = dir_ / "a" / "b" / "registry.reg";
    ::setenv("QORVELL_REGISTRY", deep.c_str(), 1);
    MustCreate(kOrb);
    EXPECT_TRUE(fs::exists(deep));

    // A registry path that is a symlink stays one; the file behind it takes the change.
    const fs::path link = dir_ / "link.reg";
    fs::create_symlink(deep, link);
    ::setenv("QORVELL_REGISTRY", link.c_str(), 1);
    RegKey key = MustCreate(kOrb);
    ASSERT_EQ(key.SetDword("ThroughLink", 1), RegStatus::Ok);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_NE(ReadFile(deep).find("\"ThroughLink\"=dword:00000001"), std::string::npos);
}

} // namespace

TEST_F(RegistryKey, DepthIsLimitedAndRewritesKeepOwnerAndTellTheRealError) {
    std::string deep;
    for (size_t i = 0; i < platform::regfile::kMaxKeyDepth; ++i) {
        deep += i == 0 ? "k" : "\\k";
    }
    RegKey key = MustCreate(deep);
    RegKey deeper;
    EXPECT_EQ(key.CreateSub("one-more", deeper), RegStatus::InvalidArgument);
    EXPECT_EQ(key.SetDword("v", 1), RegStatus::Ok);

    // Owner and group stay when another user (root here) rewrites the file.
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(path_.c_str(), 4321, 4322), 0);
        ASSERT_EQ(::chmod(path_.c_str(), 0600), 0);
        EXPECT_EQ(key.SetDword("v", 2), RegStatus::Ok);
        struct stat st {};
        ASSERT_EQ(::stat(path_.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        ASSERT_EQ(::chmod(path_.c_str(), 0666), 0);
    }

    // In a folder the user may not write to, the write fails for want of permission.
    ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
    const std::string text = testsupport::InChild(root, [] {
        RegKey again;
        std::string text = "open failed";
        if (RegKey::Open(RegRoot::LocalMachine, "k", again) == RegStatus::Ok) {
            again.SetDword("w", 1);
            text = RegKey::LastErrorText();
        }
        return text;
    });
    ::chmod(dir_.c_str(), 0755);
    EXPECT_NE(text.find(std::strerror(EACCES)), std::string::npos) << text;
}

// The file holds the switch's password and the monitors' access code: what is made is its owner's
// alone, and a rewrite keeps the rights its owner has given since.
TEST_F(RegistryKey, FilesAreMadeForTheOwnerAloneAndRewritesKeepTheirMode) {
    using testsupport::PermissionsOf;
    const std::string lock = path_.string() + ".lock";
    const std::string backup = (dir_ / "OrbBKUP.BIN").string();
    {
        testsupport::ScopedUmask usual(022);
        RegKey key = MustCreate(kOrb);
        ASSERT_EQ(key.SetString("SysInfo Password", "8062"), RegStatus::Ok);
        EXPECT_EQ(PermissionsOf(path_.string()), "0600");
        EXPECT_EQ(PermissionsOf(lock), "0600");
        ASSERT_EQ(key.SaveKey(backup), RegStatus::Ok) << RegKey::LastErrorText();
        EXPECT_EQ(PermissionsOf(backup), "0600");

        ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
        ASSERT_EQ(::chmod(backup.c_str(), 0644), 0);
        ASSERT_EQ(key.SetDword("OrbRunCheck", 1), RegStatus::Ok);
        EXPECT_EQ(PermissionsOf(path_.string()), "0640");
        ASSERT_EQ(key.SaveKey(backup), RegStatus::Ok);
        EXPECT_EQ(PermissionsOf(backup), "0644");
        ASSERT_EQ(key.RestoreKey(backup), RegStatus::Ok) << RegKey::LastErrorText();
        EXPECT_EQ(PermissionsOf(path_.string()), "0640");
    }
    // A stricter umask takes away what it masks; it does not touch a file that is there.
    testsupport::ScopedUmask strict(0277);
    RegKey key = MustCreate(kOrb);
    const std::string second = (dir_ / "second.bin").string();
    ASSERT_EQ(key.SaveKey(second), RegStatus::Ok) << RegKey::LastErrorText();
    EXPECT_EQ(PermissionsOf(second), "0400");
    ASSERT_EQ(key.SaveKey(backup), RegStatus::Ok);
    EXPECT_EQ(PermissionsOf(backup), "0644");
    ::setenv("QORVELL_REGISTRY", (dir_ / "strict.reg").c_str(), 1);
    MustCreate(kOrb);
    ::setenv("QORVELL_REGISTRY", path_.c_str(), 1);
    EXPECT_EQ(PermissionsOf((dir_ / "strict.reg").string()), "0400");
    EXPECT_EQ(PermissionsOf((dir_ / "strict.reg.lock").string()), "0400");
}
