#include "AddrSetupFixture.h"

#include <algorithm>
#include <fstream>
#include <iterator>

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

    dlg_.OnInitDialog();
    ASSERT_EQ(ui_.messages, (std::vector<unsigned>{IDS_REGISTRY_FILE_FAULT}));
    EXPECT_NE(ui_.texts[0].find(file + ":" + std::to_string(badLine) + ": "), std::string::npos)
        << ui_.texts[0];
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

} // namespace
} // namespace addrsetup::test
