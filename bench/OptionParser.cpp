#include "OptionParser.h"

#include <platform/ProgramInfo.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>

namespace bench {

namespace {

constexpr std::size_t kHelpColumn = 28;

bool ToInt(const std::string& text, int low, int high, int& out) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return false;
    out = value;
    return true;
}

bool ToNumber(const std::string& text, double low, double high, double& out) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    // The negated test refuses NaN too.
    if (ec != std::errc() || end != text.data() + text.size() || !(value >= low && value <= high))
        return false;
    out = value;
    return true;
}

std::string Shown(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string Range(const char* what, const std::string& low, const std::string& high) {
    return what + (" from " + low + " to " + high);
}

} // namespace

OptionParser::OptionParser(std::string program, std::string summary)
    : m_Program(std::move(program)), m_Summary(std::move(summary)) {}

void OptionParser::Add(const std::string& name, std::string help, std::string shownDefault,
                       bool takesValue,
                       std::function<bool(const std::string&, std::string&)> apply) {
    Option option;
    option.name = name.substr(0, name.find('='));
    option.shown = name;
    option.help = std::move(help);
    if (!shownDefault.empty())
        option.help += " (default " + shownDefault + ")";
    option.takesValue = takesValue;
    option.apply = std::move(apply);
    m_Options.push_back(std::move(option));
}

void OptionParser::Int(const std::string& name, int& value, int low, int high, std::string help) {
    Add(name, std::move(help), std::to_string(value), true,
        [&value, low, high](const std::string& text, std::string& expected) {
            expected = Range("a whole number", std::to_string(low), std::to_string(high));
            return ToInt(text, low, high, value);
        });
}

void OptionParser::Number(const std::string& name, double& value, double low, double high,
                          std::string help) {
    Add(name, std::move(help), Shown(value), true,
        [&value, low, high](const std::string& text, std::string& expected) {
            expected = Range("a number", Shown(low), Shown(high));
            return ToNumber(text, low, high, value);
        });
}

void OptionParser::IntList(const std::string& name, std::vector<int>& value, int low, int high,
                           std::string help) {
    std::string shown;
    for (const int n : value)
        shown += (shown.empty() ? "" : ",") + std::to_string(n);
    Add(name, std::move(help), shown, true,
        [&value, low, high](const std::string& text, std::string& expected) {
            expected =
                Range("whole numbers, split by commas,", std::to_string(low), std::to_string(high));
            std::vector<int> list;
            std::istringstream in(text);
            std::string part;
            int n = 0;
            while (std::getline(in, part, ','))
                if (ToInt(part, low, high, n))
                    list.push_back(n);
                else
                    return false;
            // getline drops a trailing empty part.
            if (list.empty() || text.back() == ',')
                return false;
            value = std::move(list);
            return true;
        });
}

void OptionParser::Text(const std::string& name, std::string& value, std::string help) {
    Add(name, std::move(help), value, true,
        [&value](const std::string& text, std::string& expected) {
            expected = "a text that is not empty";
            if (text.empty())
                return false;
            value = text;
            return true;
        });
}

void OptionParser::Flag(const std::string& name, bool& value, std::string help, bool setTo) {
    Add(name, std::move(help), {}, false, [&value, setTo](const std::string&, std::string&) {
        value = setTo;
        return true;
    });
}

void OptionParser::Action(const std::string& name, std::function<void()> apply, std::string help) {
    Add(name, std::move(help), {}, false,
        [apply = std::move(apply)](const std::string&, std::string&) {
            apply();
            return true;
        });
}

void OptionParser::Words(std::vector<std::string> allowed, std::vector<std::string>& chosen,
                         std::string help) {
    m_Words = std::move(allowed);
    m_Chosen = &chosen;
    m_WordsHelp = std::move(help);
}

bool OptionParser::Parse(const std::vector<std::string>& args, std::string& error) {
    std::vector<std::string> words;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            m_Help = true;
            continue;
        }
        if (arg == "--version") {
            m_Version = true;
            continue;
        }
        if (std::find(m_Words.begin(), m_Words.end(), arg) != m_Words.end()) {
            if (std::find(words.begin(), words.end(), arg) == words.end())
                words.push_back(arg);
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const auto option = std::find_if(m_Options.begin(), m_Options.end(),
                                         [&](const Option& o) { return o.name == name; });
        if (option == m_Options.end()) {
            error = m_Program + ": unknown option " + arg;
            return false;
        }
        if (option->takesValue != (eq != std::string::npos)) {
            error = m_Program + ": " + name +
                    (option->takesValue ? " needs a value: " + option->shown : " takes no value");
            return false;
        }
        std::string expected;
        if (!option->apply(eq == std::string::npos ? std::string() : arg.substr(eq + 1),
                           expected)) {
            error = m_Program + ": bad value in " + arg + " (" + expected + ")";
            return false;
        }
    }
    if (m_Chosen != nullptr && !words.empty())
        *m_Chosen = std::move(words);
    return true;
}

std::string OptionParser::Usage() const {
    std::string words;
    for (const std::string& word : m_Words)
        words += (words.empty() ? "[" : "|") + word;
    std::string text = "Usage: " + m_Program + (words.empty() ? "" : " " + words + " ...]") +
                       " [options]\n" + m_Summary + "\n\nOptions:\n";
    const auto line = [&text](const std::string& shown, const std::string& help) {
        std::string head = "  " + shown;
        head += head.size() + 2 <= kHelpColumn ? std::string(kHelpColumn - head.size(), ' ')
                                               : "\n" + std::string(kHelpColumn, ' ');
        std::string body;
        for (const char c : help)
            body += c == '\n' ? "\n" + std::string(kHelpColumn, ' ') : std::string(1, c);
        text += head + body + "\n";
    };
    if (!m_Words.empty()) {
        std::string shown;
        for (const std::string& word : m_Words)
            shown += (shown.empty() ? "" : " | ") + word;
        line(shown, m_WordsHelp);
    }
    for (const Option& option : m_Options)
        line(option.shown, option.help);
    line("--help", "show this text and end");
    line("--version", "show the version and end");
    return text;
}

std::optional<int> ParseCommandLine(OptionParser& parser, const std::vector<std::string>& args) {
    std::string error;
    if (!parser.Parse(args, error)) {
        std::fprintf(stderr, "%s\n(%s --help lists the options)\n", error.c_str(),
                     parser.Program().c_str());
        return 2;
    }
    if (parser.HelpAsked()) {
        std::fputs(parser.Usage().c_str(), stdout);
        return 0;
    }
    if (parser.VersionAsked()) {
        std::printf("%s %s\n", parser.Program().c_str(), platform::ProgramVersion());
        return 0;
    }
    return std::nullopt;
}

std::optional<int> ParseCommandLine(OptionParser& parser, int argc, char** argv) {
    return ParseCommandLine(parser, std::vector<std::string>(argv + 1, argv + argc));
}

} // namespace bench
