// The bench programs' one option parser, and each program's refusal of a bad command line.

#include <bench/BenchOptions.h>
#include <bench/OptionParser.h>

#include <testsupport/ChildProcess.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace bench;

namespace {

struct Settings {
    int count = 4;
    double seconds = 1.5;
    std::vector<int> list{1, 2};
    std::string path = "/x";
    bool on = false;
    bool kept = true;
    int acted = 0;
    std::vector<std::string> runs{"a", "b", "c"};
};

OptionParser Declare(Settings& s) {
    OptionParser parser("demo", "A demo.");
    parser.Words({"a", "b", "c"}, s.runs, "the runs");
    parser.Int("--count=<n>", s.count, 1, 10, "a count");
    parser.Number("--seconds=<s>", s.seconds, 0.5, 60, "a length");
    parser.IntList("--list=<n,...>", s.list, 0, 99, "a list");
    parser.Text("--path=<path>", s.path, "a path");
    parser.Flag("--on", s.on, "sets");
    parser.Flag("--no-keep", s.kept, "clears", false);
    parser.Action(
        "--act",
        [&s] {
            s.count = 7;
            ++s.acted;
        },
        "acts");
    return parser;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(BenchOptionParser, SetsEachKindInTheOrderGiven) {
    Settings s;
    OptionParser parser = Declare(s);
    std::string error;
    ASSERT_TRUE(parser.Parse({"c", "--count=3", "--seconds=2.25", "--list=5,0,99", "--path=/y",
                              "--on", "--no-keep", "a", "c"},
                             error))
        << error;
    EXPECT_EQ(s.count, 3);
    EXPECT_DOUBLE_EQ(s.seconds, 2.25);
    EXPECT_EQ(s.list, (std::vector<int>{5, 0, 99}));
    EXPECT_EQ(s.path, "/y");
    EXPECT_TRUE(s.on);
    EXPECT_FALSE(s.kept);
    EXPECT_EQ(s.runs, (std::vector<std::string>{"c", "a"}));
    EXPECT_FALSE(parser.HelpAsked());

    // An action acts where it stands: what follows it wins.
    Settings t;
    OptionParser second = Declare(t);
    ASSERT_TRUE(second.Parse({"--count=2", "--act", "--help"}, error));
    EXPECT_EQ(t.count, 7);
    ASSERT_TRUE(second.Parse({"--act", "--count=2"}, error));
    EXPECT_EQ(t.count, 2);
    EXPECT_EQ(t.acted, 2);
    EXPECT_TRUE(second.HelpAsked());
    EXPECT_EQ(t.runs, (std::vector<std::string>{"a", "b", "c"})); // no word: all
}

TEST(BenchOptionParser, RefusesWithTheArgumentNamedAndLeavesTheValue) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--bogus", "unknown option --bogus"},
        {"d", "unknown option d"},
        {"--count", "--count needs a value: --count=<n>"},
        {"--count=", "bad value in --count= (a whole number from 1 to 10)"},
        {"--count=11", "from 1 to 10"},
        {"--count=0", "from 1 to 10"},
        {"--count=3x", "bad value"},
        {"--count= 3", "bad value"},
        {"--seconds=0.4", "a number from 0.5 to 60"},
        {"--seconds=nan", "bad value"},
        {"--seconds=1e9", "bad value"},
        {"--list=", "bad value"},
        {"--list=1,,2", "bad value"},
        {"--list=1,", "bad value"},
        {"--list=100", "from 0 to 99"},
        {"--path=", "not empty"},
        {"--on=1", "--on takes no value"},
        {"--act=yes", "--act takes no value"},
    };
    for (const auto& [arg, message] : cases) {
        Settings s;
        OptionParser parser = Declare(s);
        std::string error;
        EXPECT_FALSE(parser.Parse({"--count=5", arg}, error)) << arg;
        EXPECT_NE(error.find("demo: "), std::string::npos) << error;
        EXPECT_NE(error.find(message), std::string::npos) << arg << ": " << error;
        EXPECT_EQ(s.count, 5) << arg;
        EXPECT_EQ(s.list, (std::vector<int>{1, 2})) << arg;
        EXPECT_EQ(s.path, "/x") << arg;
        EXPECT_EQ(s.acted, 0) << arg;
    }
}

TEST(BenchOptionParser, UsageListsEveryOptionWithItsDefault) {
    Settings s;
    const std::string usage = Declare(s).Usage();
    EXPECT_EQ(usage.rfind("Usage: demo [a|b|c ...] [options]\nA demo.\n", 0), 0u) << usage;
    for (const char* line :
         {"  a | b | c ", "  --count=<n>", "a count (default 4)", "a length (default 1.5)",
          "a list (default 1,2)", "a path (default /x)", "  --on ", "  --help ", "  --version "})
        EXPECT_NE(usage.find(line), std::string::npos) << line << "\n" << usage;
    EXPECT_EQ(usage.find("sets (default"), std::string::npos);
}

TEST(BenchOptionParser, ACommandLineEndsWithTwoOnAnErrorAndZeroOnHelp) {
    Settings s;
    OptionParser parser = Declare(s);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ParseCommandLine(parser, {"--count=99"}), std::optional<int>(2));
    const std::string error = testing::internal::GetCapturedStderr();
    EXPECT_NE(error.find("bad value in --count=99"), std::string::npos) << error;
    EXPECT_NE(error.find("demo --help"), std::string::npos) << error;

    Settings t;
    OptionParser help = Declare(t);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ParseCommandLine(help, {"-h"}), std::optional<int>(0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), help.Usage());

    Settings u;
    OptionParser run = Declare(u);
    EXPECT_EQ(ParseCommandLine(run, {"--on"}), std::nullopt);
    EXPECT_TRUE(u.on);
}

TEST(BenchOptionParser, RelaybenchQuickIsShortAndLeavesTheWideTargetsToAFullRun) {
    BenchOptions options;
    std::string error;
    ASSERT_TRUE(ParseBenchOptions({"--quick"}, options, error)) << error;
    EXPECT_TRUE(options.quick);
    EXPECT_EQ(options.rounds, 1);
    EXPECT_EQ(options.clients, (std::vector<int>{1, 50}));
    ASSERT_TRUE(ParseBenchOptions({"--no-stall", "--no-baseline", "--rounds=4"}, options, error));
    EXPECT_FALSE(options.stallCase);
    EXPECT_FALSE(options.baseline);
    EXPECT_EQ(options.rounds, 4);
}

// Each program declares its options with the parser: a bad one ends it at once with 2.
TEST(BenchOptionParser, EveryBenchProgramEndsWithTwoOnABadOption) {
    const std::filesystem::path out = std::filesystem::temp_directory_path() /
                                      ("benchoptions-" + std::to_string(::getpid()) + ".out");
    const std::vector<std::pair<const char*, const char*>> cases = {
        {RELAYBENCH_PATH, "--bogus"},    {RELAYBENCH_PATH, "--seconds=abc"},
        {HOSTILEBENCH_PATH, "--bogus"},  {HOSTILEBENCH_PATH, "--seconds=abc"},
        {MONITORBENCH_PATH, "--bogus"},  {MONITORBENCH_PATH, "--size=3"},
        {REGISTRYBENCH_PATH, "--bogus"}, {REGISTRYBENCH_PATH, "--users=abc"},
    };
    for (const auto& [program, arg] : cases) {
        testsupport::ChildProcess::Options options;
        options.outputFile = out.string();
        testsupport::ChildProcess child(program, {arg}, options);
        ASSERT_TRUE(child.Started()) << program;
        EXPECT_EQ(child.WaitExit(30000), std::optional<int>(2)) << program << " " << arg;
        const std::string text = ReadFile(out);
        EXPECT_NE(text.find(arg), std::string::npos) << program << ": " << text;
        EXPECT_NE(text.find("--help lists the options"), std::string::npos) << text;
    }
    std::filesystem::remove(out);
}
