// The registry file parser: any text either fails with a "<file>:<line>: <reason>" message or
// yields a tree that writes out to a file the parser reads back to the same tree.

#include "FuzzCheck.h"

#include <platform/Registry.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace regfile = platform::regfile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string fileName = "fuzz.reg";

    regfile::Node top;
    std::string error;
    std::vector<regfile::Section> sections;
    if (!regfile::Parse(text, fileName, top, error, &sections)) {
        FUZZ_CHECK(error.rfind(fileName + ":", 0) == 0);
        return 0;
    }
    for (const regfile::Section& section : sections)
        FUZZ_CHECK(!section.path.empty() && section.line > 0 &&
                   section.path.size() <= regfile::kMaxKeyDepth + 1);

    const std::string written = regfile::Serialize(top);
    regfile::Node again;
    std::string againError;
    if (!regfile::Parse(written, fileName, again, againError)) {
        std::fprintf(stderr, "written file does not parse: %s\n", againError.c_str());
        FUZZ_CHECK(false);
    }
    FUZZ_CHECK(regfile::Serialize(again) == written);
    return 0;
}
