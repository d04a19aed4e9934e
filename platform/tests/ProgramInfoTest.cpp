#include <platform/ProgramInfo.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const platform::ProgramInfo kInfo{"demo", "A program for the test.",
                                  "  --start               start at once\n", 0};

// Whether the arguments are refused, and what standard error was told.
std::pair<bool, std::string> Refused(std::vector<std::string> arguments) {
    std::vector<char*> argv{const_cast<char*>("demo")};
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    const bool refused = platform::RefuseUnknownOptions(kInfo, static_cast<int>(argv.size() - 1),
                                                        argv.data(), {"--start", "--quit-after="});
    return {refused, testing::internal::GetCapturedStderr()};
}

TEST(UnknownOptions, KnownOnesAndTheInfoOptionsPassAndAValueFollowsOnlyAnEqualsSign) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {},
             {"--start"},
             {"--quit-after=5"},
             {"--quit-after="},
             {"--help", "-h", "--version"},
             {"--start", "--quit-after=1"},
             {"-qwindowgeometry", "+0+0", "--start", "-platform", "offscreen", "-reverse"}}) {
        const auto [refused, told] = Refused(arguments);
        EXPECT_FALSE(refused) << testing::PrintToString(arguments);
        EXPECT_EQ(told, "");
    }
}

TEST(UnknownOptions, TheFirstUnknownOneIsNamedWithTheUsage) {
    const std::string usage = platform::ProgramHelpText(kInfo);
    for (const auto& [arguments, named] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--sevice"}, "--sevice"},
             {{"--start", "--startx", "--other"}, "--startx"},
             {{"--quit-after"}, "--quit-after"}, // the value's option needs its '='
             {{"--start=1"}, "--start=1"},       // and one without takes none
             {{"service"}, "service"},
             {{"-platform"}, "-platform"}, // Qt's option without its value
             {{"-qwindowgeometry", "+0+0", "-x"}, "-x"},
             {{""}, ""}}) {
        const auto [refused, told] = Refused(arguments);
        EXPECT_TRUE(refused) << named;
        EXPECT_EQ(told, "demo: unknown option: " + named + "\n" + usage);
    }
}

} // namespace
