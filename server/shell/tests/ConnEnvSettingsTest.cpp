#include <shell/RegistryConfig.h>

#include <platform/Registry.h>

#include <testsupport/RegistryKeys.h>
#include <testsupport/TempRegistry.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

using namespace engine;

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;
using platform::RegType;
using platform::RegValue;
namespace fs = std::filesystem;

namespace {

constexpr const char* kConnEnv = "Software\\Qorvell Electronics\\OrbManager\\ConnEnv";

bool SameSettings(const ConnEnvSettings& a, const ConnEnvSettings& b) {
    return a.connType == b.connType && a.switchType == b.switchType && a.debugType == b.debugType &&
           a.ipAddress == b.ipAddress && a.portNo == b.portNo && a.listenPortNo == b.listenPortNo &&
           a.commPort == b.commPort && a.baudRate == b.baudRate && a.byteSize == b.byteSize &&
           a.stopBits == b.stopBits && a.sysInfoPassword == b.sysInfoPassword;
}

class ConnEnv : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(registry_.IsReady());
        errorBox_ = [this](int code) { errors_.push_back(code); };
    }

    static RegKey Key() { return testsupport::CreateKey(kConnEnv); }
    static bool KeyExists() {
        RegKey key;
        return RegKey::Open(RegRoot::LocalMachine, kConnEnv, key) == RegStatus::Ok;
    }
    static std::vector<RegValue> Values() {
        RegKey key;
        std::vector<RegValue> values;
        if (RegKey::Open(RegRoot::LocalMachine, kConnEnv, key) == RegStatus::Ok) {
            key.EnumValues(values);
        }
        return values;
    }
    // A key holding every value, as a confirmed dialog leaves it.
    RegKey FullKey() {
        RegKey key = Key();
        key.SetDword("ConnType", 2);
        key.SetDword("SwitchType", 1);
        key.SetDword("Listen Port No", 7000);
        key.SetString("IP Address", "10.0.0.5");
        key.SetString("SysInfo Password", "secret12");
        key.SetDword("Port No", 5100);
        key.SetDword("CommPort", 3);
        key.SetDword("BaudRate", 19200);
        key.SetDword("ByteSize", 7);
        key.SetDword("StopBits", 2);
        key.SetDword("DebugType", 4);
        return key;
    }
    std::uint32_t Dword(const char* name) {
        std::uint32_t value = 0xdeadbeef;
        EXPECT_EQ(Key().QueryDword(name, value), RegStatus::Ok) << name;
        return value;
    }
    std::string Text(const char* name) {
        std::string text = "<none>";
        EXPECT_EQ(Key().QueryString(name, text), RegStatus::Ok) << name;
        return text;
    }

    testsupport::TempRegistry registry_{"connenv"};
    const fs::path& dir_ = registry_.Dir();
    const fs::path& path_ = registry_.File();
    std::vector<int> errors_;
    ShowSystemErrorBox errorBox_;
};

TEST_F(ConnEnv, FreshMachineLoadsNothingAndTheFirstSaveCreatesAllElevenValues) {
    ConnEnvSettings out;
    out.ipAddress = "unchanged";
    EXPECT_FALSE(LoadConnEnv(out, errorBox_));
    EXPECT_EQ(out.ipAddress, "unchanged");
    EXPECT_FALSE(KeyExists());
    EXPECT_FALSE(fs::exists(path_));

    const ConnEnvSettings defaults;
    EXPECT_EQ(defaults.commPort, "COM1");
    EXPECT_EQ(defaults.baudRate, "9600");
    EXPECT_EQ(defaults.byteSize, "8");
    EXPECT_EQ(defaults.stopBits, "1");
    ASSERT_EQ(SaveConnEnv(defaults, errorBox_), ConnEnvSaveResult::Saved);
    EXPECT_TRUE(errors_.empty());

    std::vector<std::string> names;
    for (const RegValue& v : Values()) {
        names.push_back(v.name);
        EXPECT_EQ(v.type, v.name == "IP Address" || v.name == "SysInfo Password" ? RegType::String
                                                                                 : RegType::Dword)
            << v.name;
    }
    const std::vector<std::string> order = {
        "ConnType", "SwitchType", "Listen Port No", "IP Address", "SysInfo Password", "Port No",
        "CommPort", "BaudRate",   "ByteSize",       "StopBits",   "DebugType"};
    EXPECT_EQ(names, order);
    EXPECT_EQ(Dword("ConnType"), 0u);
    EXPECT_EQ(Dword("Listen Port No"), 6000u);
    EXPECT_EQ(Text("IP Address"), "localhost");
    EXPECT_EQ(Text("SysInfo Password"), "8062");
    EXPECT_EQ(Dword("Port No"), 5002u);
    EXPECT_EQ(Dword("CommPort"), 1u);
    EXPECT_EQ(Dword("BaudRate"), 9600u);
    EXPECT_EQ(Dword("ByteSize"), 8u);
    EXPECT_EQ(Dword("StopBits"), 1u);
}

TEST_F(ConnEnv, AStoredRecordLoadsInItsTextFormsAndSavesBackUnchanged) {
    FullKey();
    ConnEnvSettings out;
    ASSERT_TRUE(LoadConnEnv(out, errorBox_));
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(out.connType, 2u);
    EXPECT_EQ(out.switchType, 1u);
    EXPECT_EQ(out.debugType, 4u);
    EXPECT_EQ(out.ipAddress, "10.0.0.5");
    EXPECT_EQ(out.portNo, "5100");
    EXPECT_EQ(out.listenPortNo, "7000");
    EXPECT_EQ(out.commPort, "COM3");
    EXPECT_EQ(out.baudRate, "19200");
    EXPECT_EQ(out.byteSize, "7");
    EXPECT_EQ(out.stopBits, "2");
    EXPECT_EQ(out.sysInfoPassword, "secret12");
    const std::vector<RegValue> before = Values();

    ASSERT_EQ(SaveConnEnv(out, errorBox_), ConnEnvSaveResult::Saved);
    EXPECT_EQ(Values(), before);
    ConnEnvSettings again;
    ASSERT_TRUE(LoadConnEnv(again, errorBox_));
    EXPECT_TRUE(SameSettings(again, out));
}

TEST_F(ConnEnv, MissingAddressPasswordAndPortsAreWrittenBackOnLoad) {
    RegKey key = Key();
    key.SetDword("DebugType", 0);
    key.SetDword("ConnType", 2);
    key.SetDword("SwitchType", 0);
    key.SetDword("CommPort", 2);
    key.SetDword("BaudRate", 9600);
    key.SetDword("ByteSize", 8);
    key.SetDword("StopBits", 1);
    ConnEnvSettings out;
    ASSERT_TRUE(LoadConnEnv(out, errorBox_));
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(out.portNo, "5002");
    EXPECT_EQ(out.listenPortNo, "6000");
    EXPECT_EQ(out.ipAddress, "localhost");
    EXPECT_EQ(out.sysInfoPassword, "8062");
    EXPECT_EQ(out.commPort, "COM2");
    // Written at once, whatever the dialog does next.
    EXPECT_EQ(Dword("Port No"), 5002u);
    EXPECT_EQ(Dword("Listen Port No"), 6000u);
    EXPECT_EQ(Text("IP Address"), "localhost");
    EXPECT_EQ(Text("SysInfo Password"), "8062");
}

TEST_F(ConnEnv, UnreadableTypesAndSerialValuesShowTheSystemErrorAndAreNotWrittenBack) {
    RegKey key = Key();
    key.SetString("ConnType", "2"); // wrong type
    ConnEnvSettings out;
    out.connType = 9;
    out.switchType = 9;
    ASSERT_TRUE(LoadConnEnv(out, errorBox_));
    // DebugType, ConnType, SwitchType, then CommPort, BaudRate, ByteSize, StopBits.
    EXPECT_EQ(errors_, (std::vector<int>{ENOENT, EINVAL, ENOENT, ENOENT, ENOENT, ENOENT, ENOENT}));
    EXPECT_EQ(out.debugType, 0u);
    EXPECT_EQ(out.connType, 0u);
    EXPECT_EQ(out.switchType, 0u);
    EXPECT_EQ(out.commPort, "COM1");
    EXPECT_EQ(out.baudRate, "9600");
    EXPECT_EQ(out.byteSize, "8");
    EXPECT_EQ(out.stopBits, "1");
    std::vector<std::string> names;
    for (const RegValue& v : Values()) {
        names.push_back(v.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ConnType", "SysInfo Password", "IP Address",
                                               "Port No", "Listen Port No"}));
}

TEST_F(ConnEnv, TextsTooLongForTheirBuffersAreReplacedByTheDefaults) {
    RegKey key = FullKey();
    key.SetString("SysInfo Password", "123456789");
    key.SetString("IP Address", std::string(513, 'a'));
    ConnEnvSettings out;
    ASSERT_TRUE(LoadConnEnv(out, errorBox_));
    EXPECT_EQ(out.sysInfoPassword, "8062");
    EXPECT_EQ(out.ipAddress, "localhost");
    EXPECT_EQ(Text("SysInfo Password"), "8062");
    EXPECT_EQ(Text("IP Address"), "localhost");

    key.SetString("SysInfo Password", "12345678");
    key.SetString("IP Address", std::string(512, 'a'));
    ASSERT_TRUE(LoadConnEnv(out, errorBox_));
    EXPECT_EQ(out.sysInfoPassword, "12345678");
    EXPECT_EQ(out.ipAddress, std::string(512, 'a'));
}

TEST_F(ConnEnv, StopBitsAndCommPortTextForms) {
    RegKey key = FullKey();
    const struct {
        std::uint32_t stopBits;
        const char* stopText;
        std::uint32_t saved;
        std::uint32_t comm;
        const char* commText;
    } cases[] = {{3, "1.5", 3, 4, "COM4"},
                 {0, "1", 1, 0, "COM1"},
                 {2, "2", 2, 2, "COM2"},
                 {7, "1", 1, 5, "COM1"},
                 {1, "1", 1, 1, "COM1"}};
    for (const auto& c : cases) {
        key.SetDword("StopBits", c.stopBits);
        key.SetDword("CommPort", c.comm);
        ConnEnvSettings out;
        ASSERT_TRUE(LoadConnEnv(out, errorBox_));
        EXPECT_EQ(out.stopBits, c.stopText) << c.stopBits;
        EXPECT_EQ(out.commPort, c.commText) << c.comm;
        ASSERT_EQ(SaveConnEnv(out, errorBox_), ConnEnvSaveResult::Saved);
        EXPECT_EQ(Dword("StopBits"), c.saved) << c.stopBits;
        EXPECT_EQ(Dword("CommPort"), std::string(c.commText)[3] - '0') << c.comm;
    }
}

TEST_F(ConnEnv, SaveFillsEmptyTextsAndTakesLeadingDecimalValues) {
    ConnEnvSettings in;
    in.ipAddress = "";
    in.sysInfoPassword = "";
    in.listenPortNo = "";
    in.portNo = " 5003x";
    in.baudRate = "38400 baud";
    in.byteSize = "";
    in.stopBits = "abc";
    in.commPort = "COM";
    ASSERT_EQ(SaveConnEnv(in, errorBox_), ConnEnvSaveResult::Saved);
    EXPECT_EQ(Text("IP Address"), "localhost");
    EXPECT_EQ(Text("SysInfo Password"), "8062");
    EXPECT_EQ(Dword("Listen Port No"), 6000u);
    EXPECT_EQ(Dword("Port No"), 5003u);
    EXPECT_EQ(Dword("BaudRate"), 38400u);
    EXPECT_EQ(Dword("ByteSize"), 0u);
    EXPECT_EQ(Dword("StopBits"), 0u);
    EXPECT_EQ(Dword("CommPort"), 1u); // no digit to take: the first port, never a wrapped number
}

TEST_F(ConnEnv, PortsOutsideTheirRangesAreRefusedBeforeAnythingIsWritten) {
    const struct {
        const char* port;
        const char* listen;
        ConnEnvSaveResult result;
    } refused[] = {
        {"5002", "abc", ConnEnvSaveResult::BadListenPort},
        {"5002", "0", ConnEnvSaveResult::BadListenPort},
        {"5002", "65036", ConnEnvSaveResult::BadListenPort},
        {"5002", "-6000", ConnEnvSaveResult::BadListenPort},
        {"abc", "6000", ConnEnvSaveResult::BadSwitchPort},
        {"", "6000", ConnEnvSaveResult::BadSwitchPort},
        {"65536", "6000", ConnEnvSaveResult::BadSwitchPort},
        {"99999", "6000", ConnEnvSaveResult::BadSwitchPort},
        {"99999999999999999999999", "6000", ConnEnvSaveResult::BadSwitchPort},
    };
    for (const auto& c : refused) {
        ConnEnvSettings in;
        in.portNo = c.port;
        in.listenPortNo = c.listen;
        EXPECT_EQ(SaveConnEnv(in, errorBox_), c.result) << c.port << " " << c.listen;
        EXPECT_FALSE(KeyExists()) << c.port << " " << c.listen;
    }

    FullKey();
    const std::vector<RegValue> before = Values();
    ConnEnvSettings in;
    in.listenPortNo = "abc";
    EXPECT_EQ(SaveConnEnv(in, errorBox_), ConnEnvSaveResult::BadListenPort);
    EXPECT_EQ(Values(), before);
    EXPECT_TRUE(errors_.empty());

    in.listenPortNo = "65035";
    in.portNo = "65535";
    ASSERT_EQ(SaveConnEnv(in, errorBox_), ConnEnvSaveResult::Saved);
    EXPECT_EQ(Dword("Listen Port No"), 65035u);
    EXPECT_EQ(Dword("Port No"), 65535u);
    in.listenPortNo = "1";
    in.portNo = "1";
    ASSERT_EQ(SaveConnEnv(in, errorBox_), ConnEnvSaveResult::Saved);
    EXPECT_EQ(Dword("Listen Port No"), 1u);
    EXPECT_EQ(Dword("Port No"), 1u);
}

TEST_F(ConnEnv, RegistryFailuresOnSaveShowTheSystemError) {
    // The value before the failing one is stored; nothing after it.
    Key();
    ConnEnvSettings in;
    in.connType = 2;
    in.ipAddress = "bad\nhost";
    EXPECT_EQ(SaveConnEnv(in, errorBox_), ConnEnvSaveResult::WriteFailed);
    EXPECT_EQ(errors_, std::vector<int>{EINVAL});
    std::vector<std::string> names;
    for (const RegValue& v : Values()) {
        names.push_back(v.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ConnType", "SwitchType", "Listen Port No"}));

    errors_.clear();
    std::ofstream(path_) << "not a registry\n[\n";
    EXPECT_EQ(SaveConnEnv(ConnEnvSettings{}, errorBox_), ConnEnvSaveResult::KeyNotCreated);
    EXPECT_EQ(errors_, std::vector<int>{EBADMSG});
    ConnEnvSettings out;
    EXPECT_FALSE(LoadConnEnv(out, errorBox_));
}

} // namespace
