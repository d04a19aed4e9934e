#include <testsupport/SampleRegistry.h>

#include <testsupport/TempRegistry.h>

#include <platform/Registry.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testsupport {

namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;
using platform::RegType;
using platform::RegValue;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Describe(const RegValue& value) {
    switch (value.type) {
    case RegType::String:
        return "REG_SZ \"" + value.text + "\"";
    case RegType::Dword:
        return "REG_DWORD " + std::to_string(value.dword);
    case RegType::Binary:
        return "REG_BINARY of " + std::to_string(value.bytes.size()) + " bytes";
    }
    return "?";
}

std::vector<RegValue> Values(const std::string& key) {
    std::vector<RegValue> values;
    RegKey handle;
    if (RegKey::Open(RegRoot::LocalMachine, key, handle) == RegStatus::Ok)
        handle.EnumValues(values);
    return values;
}

// The comment lines of the key's section in the sample's text, lower case.
std::string CommentsOfSection(const std::string& key) {
    std::ifstream in(SampleRegistryPath());
    std::ostringstream text;
    text << in.rdbuf();
    std::istringstream lines(text.str());
    const std::string header = Lower("[HKEY_LOCAL_MACHINE\\" + key + "]");
    std::string line, comments;
    bool inside = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[')
            inside = Lower(line) == header;
        else if (inside && !line.empty() && line.front() == ';')
            comments += Lower(line) + "\n";
    }
    return comments;
}

} // namespace

std::string SampleRegistryPath() {
    return VELTRANE_SAMPLE_REGISTRY;
}

std::vector<std::string>
DisagreementsWithSample(const std::string& key, const std::set<std::string>& madeAtRunTime,
                        const std::map<std::string, platform::RegType>& readOnly) {
    std::vector<std::string> out;
    const std::vector<RegValue> written = Values(key);

    std::vector<RegValue> sample;
    {
        // A copy, so that the sample itself is never written.
        TempRegistry copy("sample");
        std::error_code error;
        std::filesystem::copy_file(SampleRegistryPath(), copy.File(), error);
        if (error)
            return {"cannot copy " + SampleRegistryPath() + ": " + error.message()};
        if (const std::string fault = platform::RegistryFileFault(); !fault.empty())
            return {"the sample does not read: " + fault};
        sample = Values(key);
    }
    const std::string comments = CommentsOfSection(key);
    auto find = [](const std::vector<RegValue>& in, const std::string& name) {
        return std::find_if(in.begin(), in.end(),
                            [&](const RegValue& v) { return Lower(v.name) == Lower(name); });
    };
    for (const std::string& name : madeAtRunTime)
        if (find(sample, name) == sample.end() &&
            comments.find(Lower(";\"" + name + "\"=")) == std::string::npos)
            out.push_back(key + ": \"" + name + "\" has no entry, not even a commented one");
    for (const auto& [name, type] : readOnly) {
        const auto there = find(sample, name);
        if (there == sample.end())
            out.push_back(key + ": \"" + name + "\" missing");
        else if (there->type != type)
            out.push_back(key + ": \"" + name + "\" has the wrong type: " + Describe(*there));
    }
    for (const RegValue& value : written) {
        if (madeAtRunTime.count(value.name) != 0)
            continue;
        const auto there = find(sample, value.name);
        if (there == sample.end())
            out.push_back(key + ": \"" + value.name + "\" missing (reader: " + Describe(value) +
                          ")");
        else if (!(there->type == value.type && there->text == value.text &&
                   there->dword == value.dword && there->bytes == value.bytes))
            out.push_back(key + ": \"" + value.name + "\" is " + Describe(*there) +
                          ", the reader's default " + Describe(value));
    }
    for (const RegValue& value : sample)
        if (find(written, value.name) == written.end() && madeAtRunTime.count(value.name) == 0 &&
            readOnly.count(value.name) == 0)
            out.push_back(key + ": \"" + value.name + "\" is not read by the program");
    return out;
}

} // namespace testsupport
