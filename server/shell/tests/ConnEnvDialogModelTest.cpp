#include "DialogsFixture.h"
#include <shell/ConnEnvDialogModel.h>

using namespace engine;
using namespace shell;

namespace shell_test {
namespace {

class ConnEnvDialogModelTest : public DialogsTest {
protected:
    ConnEnvDialogModel Make(bool running) {
        return ConnEnvDialogModel(running, Prompts(), [this](int code) { errors.push_back(code); });
    }
    std::vector<int> errors;
};

TEST_F(ConnEnvDialogModelTest, AMissingKeyOpensWithTheDefaultsAndOkCreatesIt) {
    ConnEnvDialogModel model = Make(false);
    model.Init();
    const ConnEnvSettings& s = model.Settings();
    EXPECT_EQ(s.commPort, "COM1");
    EXPECT_EQ(s.baudRate, "9600");
    EXPECT_EQ(s.ipAddress, "localhost");
    EXPECT_EQ(s.sysInfoPassword, "8062");
    platform::RegKey key;
    EXPECT_EQ(platform::RegKey::Open(platform::RegRoot::LocalMachine, kConnEnvKey, key),
              platform::RegStatus::NotFound)
        << "opening the dialog writes nothing";

    ConnEnvSettings fields = s;
    model.OnConnType(2);
    fields.ipAddress = "10.1.1.1";
    fields.portNo = "65535";
    ASSERT_TRUE(model.OnOK(fields));
    ASSERT_EQ(platform::RegKey::Open(platform::RegRoot::LocalMachine, kConnEnvKey, key),
              platform::RegStatus::Ok);
    std::uint32_t value = 0;
    key.QueryDword("ConnType", value);
    EXPECT_EQ(value, 2u);
    key.QueryDword("Port No", value);
    EXPECT_EQ(value, 65535u);
    std::vector<platform::RegValue> values;
    key.EnumValues(values);
    EXPECT_EQ(values.size(), 11u);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ConnEnvDialogModelTest, TheConnectionTypeSwapsSerialAndTcpControls) {
    CreateKey(kConnEnvKey).SetDword("ConnType", 2);
    ConnEnvDialogModel model = Make(false);
    model.Init();
    for (int id : {1011, 1012, 1013, 1014})
        EXPECT_FALSE(model.IsEnabled(id)) << id;
    EXPECT_TRUE(model.IsEnabled(1017));
    EXPECT_TRUE(model.IsEnabled(1016));
    EXPECT_FALSE(model.IsEnabled(1120)) << "switch type 0";
    EXPECT_TRUE(model.IsEnabled(kIdcOk));
    model.OnConnType(1);
    EXPECT_TRUE(model.IsEnabled(1011));
    EXPECT_FALSE(model.IsEnabled(1017));
    model.OnSwitchType(1);
    EXPECT_TRUE(model.IsEnabled(1120));
    EXPECT_EQ(model.Settings().connType, 1u);
    EXPECT_EQ(model.Settings().switchType, 1u);
}

TEST_F(ConnEnvDialogModelTest, WhileTheLinkRunsEverythingButCancelIsLocked) {
    CreateKey(kConnEnvKey).SetDword("ConnType", 1);
    ConnEnvDialogModel model = Make(true);
    model.Init();
    for (int id : {1008, 1009, 1010, 1011, 1012, 1013, 1014, 1016, 1017, 1018, 1120, 1123, 1124,
                   int{kIdcOk}})
        EXPECT_FALSE(model.IsEnabled(id)) << id;
    EXPECT_FALSE(model.OnOK(model.Settings()));
}

TEST_F(ConnEnvDialogModelTest, PortsOutsideTheirRangeKeepTheDialogOpen) {
    CreateKey(kConnEnvKey).SetDword("ConnType", 2);
    ConnEnvDialogModel model = Make(false);
    model.Init();
    ConnEnvSettings fields = model.Settings();
    const std::size_t errorsAtOpening = errors.size();
    fields.portNo = "0";
    EXPECT_FALSE(model.OnOK(fields));
    fields.portNo = "5002";
    fields.listenPortNo = "65500";
    EXPECT_FALSE(model.OnOK(fields));
    EXPECT_EQ(boxes, (std::vector<int>{ConnEnvDialogModel::kBoxBadSwitchPort,
                                       ConnEnvDialogModel::kBoxBadListenPort}));
    // A text that can't be stored fails the write: the dialog stays open with the message.
    fields.listenPortNo = "6000";
    fields.ipAddress = "bad\naddress";
    EXPECT_FALSE(model.OnOK(fields));
    EXPECT_EQ(boxes.back(), ConnEnvDialogModel::kBoxSaveFailed);
    EXPECT_EQ(errors.size(), errorsAtOpening + 1);
}

} // namespace
} // namespace shell_test
