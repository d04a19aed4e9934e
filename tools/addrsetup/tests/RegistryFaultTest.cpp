#include "AddrSetupFixture.h"

#include <testsupport/ChildProcess.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace addrsetup::test {
namespace {

class RegistryFault : public ConnectionManagerTest {};

TEST_F(RegistryFault, AFileThatDoesNotReadIsNamedAtStartAndLeftAlone) {
    MakeFakeApp(ClientAppOf(ClientKind::Rowan), "Rowan.exe");
    const std::string file = env_.Path("registry.reg");
    std::ifstream good(file, std::ios::binary);
    std::string broken((std::istreambuf_iterator<char>(good)), {});
    good.close();
    broken += "[HKEY_LOCAL_MACHINE\\Software]\r\n\"A\"=dword:zz\r\n";
    const int badLine = static_cast<int>(std::count(broken.begin(), broken.end(), '\n'));
    std::ofstream(file, std::ios::binary | std::ios::trunc) << broken;

    testing::internal::CaptureStderr();
    dlg_.OnInitDialog();
    const std::string told = testing::internal::GetCapturedStderr();
    ASSERT_EQ(ui_.messages, (std::vector<unsigned>{IDS_REGISTRY_FILE_FAULT}));
    const std::string where = file + ":" + std::to_string(badLine) + ": ";
    EXPECT_NE(ui_.texts[0].find(where), std::string::npos) << ui_.texts[0];
    EXPECT_NE(told.find(where), std::string::npos) << "a run without a screen is told too";
    // The paths cannot be read: the buttons go, as for a missing path.
    EXPECT_FALSE(ui_.enabled.at(IDC_EXECUTE_ROWAN));

    std::ifstream after(file, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), {}), broken);

    // A file that reads says nothing.
    std::ofstream(file, std::ios::binary | std::ios::trunc) << "REGEDIT4\r\n";
    ui_.messages.clear();
    dlg_.OnInitDialog();
    EXPECT_TRUE(ui_.messages.empty());
}

#ifdef ADDRSETUP_PATH
// A registry folder that cannot be made (here a plain file stands in its way, which holds for
// root as well): the program ends at once and says which folder and why.
TEST_F(RegistryFault, AProgramThatCannotTakeItsLockNamesTheFolderAndTheCause) {
    const std::string blocker = env_.Path("plain-file");
    std::ofstream(blocker) << "not a folder\n";
    const std::string registry = blocker + "/registry.reg";
    const std::string previous = std::getenv("QORVELL_REGISTRY");
    ::setenv("QORVELL_REGISTRY", registry.c_str(), 1);
    testsupport::ChildProcess::Options options;
    options.outputFile = env_.Path("addrsetup.out");
    testsupport::ChildProcess program(ADDRSETUP_PATH, {}, options);
    ::setenv("QORVELL_REGISTRY", previous.c_str(), 1);
    EXPECT_EQ(program.WaitExit(20000), std::optional<int>(1));
    std::ifstream in(options.outputFile);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("[Reconnect] failed to register this class\n"), std::string::npos)
        << text.str();
    EXPECT_NE(text.str().find(blocker + " "), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("Not a directory"), std::string::npos) << text.str();
}
#endif

} // namespace
} // namespace addrsetup::test
