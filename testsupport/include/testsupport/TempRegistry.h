#pragma once

// QORVELL_REGISTRY pointed at a fresh file in a temp folder of its own for the object's life; the
// previous value comes back and the folder goes afterwards. The folder also serves as the
// server's OrbPath and DllPath in the tests that start one.

#include <filesystem>
#include <optional>
#include <string>

namespace testsupport {

class TempRegistry {
public:
    explicit TempRegistry(const std::string& prefix = "registry");
    ~TempRegistry();
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

    bool IsReady() const { return !m_dir.empty(); }
    const std::filesystem::path& Dir() const { return m_dir; }
    const std::filesystem::path& File() const { return m_file; }

private:
    std::filesystem::path m_dir;
    std::filesystem::path m_file;
    std::optional<std::string> m_previous;
};

} // namespace testsupport
