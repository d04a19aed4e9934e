#include <testsupport/TempRegistry.h>

#include <cstdlib>
#include <unistd.h>

namespace testsupport {

TempRegistry::TempRegistry(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) != nullptr)
        m_dir = pattern;
    m_file = m_dir / "registry.reg";
    if (const char* old = std::getenv("QORVELL_REGISTRY"))
        m_previous = old;
    ::setenv("QORVELL_REGISTRY", m_file.c_str(), 1);
}

TempRegistry::~TempRegistry() {
    if (m_previous)
        ::setenv("QORVELL_REGISTRY", m_previous->c_str(), 1);
    else
        ::unsetenv("QORVELL_REGISTRY");
    std::error_code ignored;
    if (!m_dir.empty())
        std::filesystem::remove_all(m_dir, ignored);
}

} // namespace testsupport
