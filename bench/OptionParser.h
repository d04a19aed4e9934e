#pragma once

// The command line of every bench program: options "--name=value" or "--name", and words from a
// fixed set that choose the runs. A program declares each option with the variable it sets, so
// the usage text, the defaults it shows and the refusals all come from that one list.
//
//   OptionParser parser("registrybench", "What a server start costs the registry.");
//   parser.Int("--users=<n>", users, 0, 1000000, "stored users");
//   if (const std::optional<int> exit = ParseCommandLine(parser, argc, argv))
//       return *exit;

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bench {

class OptionParser {
public:
    OptionParser(std::string program, std::string summary);

    // `name` is "--name=<what>" for an option that takes a value, "--name" for one that takes
    // none. A value outside [low, high] is refused; the variable keeps what it had then. The
    // usage shows the variable's value at the declaration as the default.
    void Int(const std::string& name, int& value, int low, int high, std::string help);
    void Number(const std::string& name, double& value, double low, double high, std::string help);
    void IntList(const std::string& name, std::vector<int>& value, int low, int high,
                 std::string help);
    void Text(const std::string& name, std::string& value, std::string help); // not empty
    void Flag(const std::string& name, bool& value, std::string help, bool setTo = true);
    // Runs `apply` where it stands among the arguments, so later ones can change what it set.
    void Action(const std::string& name, std::function<void()> apply, std::string help);
    // Words out of `allowed`, each kept once, in the order given; none given leaves `chosen` as
    // it was.
    void Words(std::vector<std::string> allowed, std::vector<std::string>& chosen,
               std::string help);

    // False with a message naming the argument for one it does not know or a value it cannot
    // use. --help, -h and --version are only noted.
    bool Parse(const std::vector<std::string>& args, std::string& error);
    bool HelpAsked() const { return m_Help; }
    bool VersionAsked() const { return m_Version; }
    const std::string& Program() const { return m_Program; }
    std::string Usage() const;

private:
    struct Option {
        std::string name; // "--name"
        std::string shown;
        std::string help;
        bool takesValue = false;
        // False with what a value must be.
        std::function<bool(const std::string& value, std::string& expected)> apply;
    };

    void Add(const std::string& name, std::string help, std::string shownDefault, bool takesValue,
             std::function<bool(const std::string&, std::string&)> apply);

    std::string m_Program;
    std::string m_Summary;
    std::vector<Option> m_Options;
    std::vector<std::string> m_Words;
    std::vector<std::string>* m_Chosen = nullptr;
    std::string m_WordsHelp;
    bool m_Help = false;
    bool m_Version = false;
};

// For a program's main: nullopt to go on, else the exit code to end with: 0 after the usage (or
// the version) on standard output, 2 after the error on standard error.
std::optional<int> ParseCommandLine(OptionParser& parser, const std::vector<std::string>& args);
std::optional<int> ParseCommandLine(OptionParser& parser, int argc, char** argv);

} // namespace bench
