#include <platform/Registry.h>

#include <testsupport/TempRegistry.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class RegistryAbsence : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registry_.IsReady()); }
    void PointAt(const fs::path& file) { ::setenv("QORVELL_REGISTRY", file.c_str(), 1); }

    testsupport::TempRegistry registry_;
};

} // namespace

TEST_F(RegistryAbsence, NamesTheMissingFileOrFolderAndGivesWayToAFileThatDoesNotParse) {
    const fs::path file = registry_.Dir() / "absent.reg";
    PointAt(file);
    EXPECT_EQ(platform::RegistryFileAbsence(),
              "the registry file " + file.string() + " does not exist");
    EXPECT_EQ(platform::RegistryFileProblem(), platform::RegistryFileAbsence());
    EXPECT_FALSE(platform::RegistryFolderMissing());
    EXPECT_TRUE(platform::RegistryFileFault().empty()) << "a missing file reads as empty";

    const fs::path folder = registry_.Dir() / "gone" / "deeper";
    PointAt(folder / "registry.reg");
    EXPECT_EQ(platform::RegistryFileAbsence(), "the registry folder " + folder.string() +
                                                   " does not exist (registry file " +
                                                   (folder / "registry.reg").string() + ")");
    EXPECT_TRUE(platform::RegistryFolderMissing());
    EXPECT_FALSE(fs::exists(registry_.Dir() / "gone")) << "looking creates nothing";

    // A name below a plain file is neither file nor folder: the system's reason is told.
    std::ofstream(file) << "REGEDIT4\r\n";
    PointAt(file / "registry.reg");
    EXPECT_EQ(platform::RegistryFileAbsence(),
              (file / "registry.reg").string() + ": Not a directory");

    PointAt(file);
    EXPECT_TRUE(platform::RegistryFileAbsence().empty());
    EXPECT_TRUE(platform::RegistryFileProblem().empty());
    std::ofstream(file, std::ios::trunc) << "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A\r\n";
    EXPECT_TRUE(platform::RegistryFileAbsence().empty());
    EXPECT_EQ(platform::RegistryFileProblem().rfind(file.string() + ":2: ", 0), 0u)
        << platform::RegistryFileProblem();
}
