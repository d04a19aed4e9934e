#include "LoadRigCommandLine.h"

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
                 none.options.help);
    EXPECT_FALSE(none.options.quitAfterSeconds.has_value());

    const LoadRigParseResult all = Parse({"--switch", "--run", "--call-run", "--quit-after=30"});
    ASSERT_TRUE(all.ok) << all.error;
    EXPECT_TRUE(all.options.switchOnly);
    EXPECT_TRUE(all.options.run);
    EXPECT_TRUE(all.options.callRun);
    EXPECT_EQ(all.options.quitAfterSeconds, 30);

    EXPECT_TRUE(Parse({"--help"}).options.help);
    EXPECT_EQ(Parse({"--quit-after=0"}).options.quitAfterSeconds, 0);
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
    };
    for (const Case& c : cases) {
        const LoadRigParseResult result = Parse(c.arguments);
        EXPECT_FALSE(result.ok) << c.arguments.back();
        EXPECT_NE(result.error.find(c.inError), std::string::npos) << result.error;
    }
}

TEST(LoadRigCommandLineTest, UsageListsEveryOption) {
    const std::string usage = LoadRigUsage("loadrig");
    for (const char* option : {"--switch", "--run", "--call-run", "--quit-after=", "--help"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(usage.rfind("Usage: loadrig", 0), 0u);
}

} // namespace
