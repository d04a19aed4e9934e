// Runs every file of the corpus folders given on the command line through the target once, in
// name order, so the checked-in inputs are replayed by the ordinary test run.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (fs::is_regular_file(argv[i], error)) {
            files.emplace_back(argv[i]);
            continue;
        }
        for (const auto& entry : fs::directory_iterator(argv[i], error))
            if (entry.is_regular_file())
                files.push_back(entry.path());
        if (error) {
            std::fprintf(stderr, "cannot read %s: %s\n", argv[i], error.message().c_str());
            return 2;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "no inputs given\n");
        return 2;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>()};
        // A fresh vector of the exact size, so reading past the input is caught.
        std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
        static std::uint8_t none = 0;
        LLVMFuzzerTestOneInput(input.empty() ? &none : input.data(), input.size());
    }
    std::printf("%zu inputs replayed\n", files.size());
    return 0;
}
