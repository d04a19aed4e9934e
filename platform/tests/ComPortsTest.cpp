#include <platform/ComPorts.h>
#include <platform/Registry.h>

#include <testsupport/TempRegistry.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;
using platform::ResolveComPort;
namespace fs = std::filesystem;

namespace {

class ComPorts : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registry_.IsReady()); }

    testsupport::TempRegistry registry_{"comports"};
    const fs::path& path_ = registry_.File();
};

TEST_F(ComPorts, WithoutAMapPortNFollowsTtyS) {
    EXPECT_EQ(ResolveComPort("COM1"), "/dev/ttyS0");
    EXPECT_EQ(ResolveComPort("com4"), "/dev/ttyS3");
    EXPECT_EQ(ResolveComPort("Com12"), "/dev/ttyS11");
    EXPECT_EQ(ResolveComPort("\\\\.\\COM10"), "/dev/ttyS9");
    EXPECT_EQ(ResolveComPort("COM256"), "/dev/ttyS255");
}

TEST_F(ComPorts, OtherNamesAreDevicePaths) {
    for (const char* name : {"/dev/ttyUSB0", "ttyS0", "COM", "COM0", "COM01", "COM1a", "COMx",
                             "COM257", "COM9999", "XCOM1", ""}) {
        EXPECT_EQ(ResolveComPort(name), name);
    }
}

TEST_F(ComPorts, SerialCommMapWins) {
    RegKey map;
    ASSERT_EQ(RegKey::Create(RegRoot::LocalMachine, "HARDWARE\\DEVICEMAP\\SERIALCOMM", map),
              RegStatus::Ok);
    ASSERT_EQ(map.SetString("/dev/ttyUSB0", "COM3"), RegStatus::Ok);
    ASSERT_EQ(map.SetString("/dev/ttyACM1", "com1"), RegStatus::Ok);
    ASSERT_EQ(map.SetDword("/dev/ttyNotAString", 2), RegStatus::Ok);
    ASSERT_EQ(map.SetString("", "COM4"), RegStatus::Ok); // the default value names no device

    EXPECT_EQ(ResolveComPort("COM3"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolveComPort("Com1"), "/dev/ttyACM1");
    EXPECT_EQ(ResolveComPort("COM2"), "/dev/ttyS1");
    EXPECT_EQ(ResolveComPort("COM4"), "/dev/ttyS3");
    EXPECT_EQ(ResolveComPort("COM13"), "/dev/ttyS12") << "COM1 entry matched a prefix";
}

TEST_F(ComPorts, UnreadableRegistryFallsBackToTtyS) {
    std::ofstream(path_) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
                            "\"/dev/ttyUSB0\"=\"COM1\n";
    EXPECT_EQ(ResolveComPort("COM1"), "/dev/ttyS0");
}

} // namespace
