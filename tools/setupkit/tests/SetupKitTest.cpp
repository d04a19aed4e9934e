// setupkit's exports, called through dlopen as an installer calls them.

#include <telephony/testing/TelephonyTestEnv.h>

#include <QApplication>
#include <QFileDialog>
#include <QTimer>

#include <testsupport/TestApp.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using telephony::test::TelephonyTestEnv;

class SetupKit : public ::testing::Test {
protected:
    void SetUp() override {
        lib_ = ::dlopen(SETUPKIT_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib_, nullptr) << ::dlerror();
    }
    void TearDown() override {
        if (lib_ != nullptr) {
            ::dlclose(lib_);
        }
    }
    template <class F> F Export(const char* name) {
        auto f = reinterpret_cast<F>(::dlsym(lib_, name));
        EXPECT_NE(f, nullptr) << name;
        return f;
    }
    std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    int Registered() {
        platform::RegKey key;
        uint32_t n = 0;
        platform::RegKey::Open(platform::RegRoot::LocalMachine,
                               "Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers",
                               key);
        key.QueryDword("NumProviders", n);
        return static_cast<int>(n);
    }

    TelephonyTestEnv env_;
    void* lib_ = nullptr;
};

using Stamp = int (*)(const char*, const char*, const char*, const char*);
using Owner = int (*)(void*);

TEST_F(SetupKit, StampsTheFirstMarkerAlsoAcrossAChunkBoundaryAndCutsLongFields) {
    auto stamp = Export<Stamp>("StoreNameAndCompany");
    const std::string path = env_.Path("setup.bin");
    // The marker starts 5 bytes before the 2048-byte cut; a second one follows later.
    std::string bytes(2043, 'x');
    bytes += "TUMBRELSOKAP";
    bytes += std::string(300, '.');
    bytes += "TUMBRELSOKAP";
    bytes += std::string(200, '.');
    Write(path, bytes);
    const std::string longName(40, 'N');
    ASSERT_EQ(stamp(path.c_str(), longName.c_str(), "Qorvell", "serial-7"), 1);
    const std::string after = Read(path);
    ASSERT_EQ(after.size(), bytes.size());
    const size_t at = 2043 + 16;
    EXPECT_EQ(after.substr(at, 32), std::string(31, 'N') + '\0');
    EXPECT_EQ(std::string(after.c_str() + at + 32), "Qorvell");
    EXPECT_EQ(std::string(after.c_str() + at + 88), "serial-7");
    // The second marker's region stays as it was.
    const size_t second = 2043 + 12 + 300;
    EXPECT_EQ(after.substr(second, 12 + 200), bytes.substr(second, 12 + 200));

    Write(path, std::string(5000, 'y'));
    EXPECT_EQ(stamp(path.c_str(), "a", "b", "c"), 0);
    EXPECT_EQ(stamp(env_.Path("missing.bin").c_str(), "a", "b", "c"), 0);
}

TEST_F(SetupKit, InstallRegistersTheProviderOnceAndRestoresAParkedApplet) {
    env_.InstallProvider("lynxtsp32.tsp");
    auto install = Export<Owner>("InstallTSPI");
    EXPECT_EQ(install(nullptr), 1); // no applet in the telephony folder
    Write(env_.TelephonyDir() + "/telephon.cp$", "applet");
    EXPECT_EQ(install(nullptr), 0);
    EXPECT_EQ(Read(env_.TelephonyDir() + "/telephon.cpl"), "applet");
    EXPECT_EQ(Registered(), 1);
    // Registered already (under any folder and case): nothing is added.
    EXPECT_EQ(install(nullptr), 0);
    EXPECT_EQ(Registered(), 1);

    EXPECT_EQ(Export<Owner>("ShowlineProperties")(nullptr), 0);
    EXPECT_EQ(Export<int (*)()>("IsTAPI21Installed")(), 1);
}

TEST_F(SetupKit, AnUnreadableRegistryIsAFailureNotSuccess) {
    Write(env_.TelephonyDir() + "/telephon.cpl", "applet");
    env_.InstallProvider("lynxtsp32.tsp");
    // A registry that cannot be read: a failure, never "done".
    Write(env_.Path("registry.reg"), "not a registry file\n[[[\n");
    EXPECT_EQ(Export<Owner>("InstallTSPI")(nullptr), 2);
}

// The picker runs modally on the caller's thread; a timer cancels it as a user would.
TEST_F(SetupKit, FilePickerCancelledLeavesTheBufferUntouched) {
    testsupport::App<QApplication>();
    auto pick = Export<int (*)(void*, char*)>("OpenFileDialog");
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, [&timer] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            if (dialog != nullptr && dialog->isVisible()) {
                timer.stop();
                dialog->reject();
            }
        }
    });
    timer.start(20);
    char buffer[260];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(pick(nullptr, buffer), 0);
    EXPECT_FALSE(timer.isActive()); // the picker was shown and answered
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'Z'));
}

} // namespace
