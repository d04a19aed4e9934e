#include <loadrig/LoadRigCommandLine.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

LoadRigParseResult Parse(std::vector<std::string> arguments) {
    return ParseLoadRigCommandLine(arguments);
}

TEST(LoadRigCommandLineTest, OptionsCombine) {
    const LoadRigParseResult none = Parse({});
    ASSERT_TRUE(none.ok);
    EXPECT_FALSE(none.options.run || none.options.callRun || none.options.switchOnly ||
                 none.options.clientOnly || none.options.start || none.options.help);
    EXPECT_FALSE(none.options.quitAfterSeconds || none.options.server || none.options.port ||
                 none.options.clientKind);
    // Both windows by default.
    EXPECT_TRUE(none.options.OpensSwitchWindow());
    EXPECT_TRUE(none.options.OpensClientWindow());

    const LoadRigParseResult sw = Parse({"--switch", "--run", "--call-run", "--quit-after=30"});
    ASSERT_TRUE(sw.ok) << sw.error;
    EXPECT_TRUE(sw.options.run);
    EXPECT_TRUE(sw.options.callRun);
    EXPECT_EQ(sw.options.quitAfterSeconds, 30);
    EXPECT_TRUE(sw.options.OpensSwitchWindow());
    EXPECT_FALSE(sw.options.OpensClientWindow());

    const LoadRigParseResult client = Parse({"--client", "--server=::1", "--port=65535",
                                             "--client-kind=0", "--start", "--quit-after=0"});
    ASSERT_TRUE(client.ok) << client.error;
    EXPECT_FALSE(client.options.OpensSwitchWindow());
    EXPECT_TRUE(client.options.OpensClientWindow());
    EXPECT_EQ(client.options.server, std::optional<std::string>("::1"));
    EXPECT_EQ(client.options.port, 65535);
    EXPECT_EQ(client.options.clientKind, 0);
    EXPECT_TRUE(client.options.start);
    EXPECT_EQ(client.options.quitAfterSeconds, 0);

    // Both windows, each pressed.
    const LoadRigParseResult both = Parse({"--run", "--start", "--port=1", "--client-kind=255"});
    ASSERT_TRUE(both.ok) << both.error;
    EXPECT_TRUE(both.options.run && both.options.start);
    EXPECT_EQ(both.options.port, 1);
    EXPECT_EQ(both.options.clientKind, 255);

    EXPECT_TRUE(Parse({"--help"}).options.help);
    EXPECT_EQ(Parse({"--quit-after=2000000"}).options.quitAfterSeconds, 2000000);
}

TEST(LoadRigCommandLineTest, BadArgumentsAreNamed) {
    struct Case {
        std::vector<std::string> arguments;
        const char* inError;
    };
    const Case cases[] = {
        {{"--bogus"}, "--bogus"},
        {{"--run", "extra"}, "extra"},
        {{"--quit-after"}, "needs a value"},
        {{"--quit-after="}, "whole number"},
        {{"--quit-after=abc"}, "'abc'"},
        {{"--quit-after=-5"}, "'-5'"},
        {{"--quit-after=1.5"}, "'1.5'"},
        {{"--quit-after=2000001"}, "'2000001'"},
        {{"--quit-after=99999999999999999999"}, "whole number"},
        {{"--quit-afterx=3"}, "--quit-afterx=3"},
        {{"--RUN"}, "--RUN"},
        {{"--port"}, "needs a value"},
        {{"--port=0"}, "from 1 to 65535, not '0'"},
        {{"--port=65536"}, "'65536'"},
        {{"--port=+80"}, "'+80'"},
        {{"--port=80x"}, "'80x'"},
        {{"--client-kind=256"}, "from 0 to 255, not '256'"},
        {{"--client-kind="}, "client kind"},
        {{"--server"}, "needs a value"},
        {{"--server="}, "host name"},
        {{"--server=a b"}, "'a b'"},
        {{"--start=1"}, "--start=1"},
        {{"--switch", "--client"}, "exclude each other"},
        {{"--client", "--run"}, "--run needs the switch window"},
        {{"--client", "--call-run"}, "--call-run needs the switch window"},
        {{"--switch", "--start"}, "--start needs the client window"},
        {{"--switch", "--port=6000"}, "--port needs the client window"},
        {{"--server=h", "--switch"}, "--server needs the client window"},
        {{"--switch", "--client-kind=3"}, "--client-kind needs the client window"},
    };
    for (const Case& c : cases) {
        const LoadRigParseResult result = Parse(c.arguments);
        EXPECT_FALSE(result.ok) << c.arguments.back();
        EXPECT_NE(result.error.find(c.inError), std::string::npos) << result.error;
    }
}

TEST(LoadRigCommandLineTest, UsageListsEveryOption) {
    const std::string usage = LoadRigUsage("loadrig");
    for (const char* option : {"--switch", "--client", "--run", "--call-run", "--server=",
                               "--port=", "--client-kind=", "--start", "--quit-after=", "--help"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(usage.rfind("Usage: loadrig", 0), 0u);
}

} // namespace
