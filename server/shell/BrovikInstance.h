#pragma once

#include <platform/SingleInstance.h>

#include <string>

namespace shell {

// One server per registry file: the platform's single-instance check keyed on the registry
// file, its trouble traced.
class SingleInstance : public platform::SingleInstance {
public:
    explicit SingleInstance(std::string lockPath, QObject* parent = nullptr);

    // "<registry path>.brovik.lock", the registry path with its symlinks resolved.
    static std::string LockPathForRegistry(const std::string& registryPath);
    // The folder of the table of running copies: "<temporary folder>/brovik-copies-<uid>".
    static std::string CopiesFolder();
    static QString ServerNameFor(const std::string& lockPath);

    // Acquire then also refuses when a running copy's registry file is this one under another
    // name.
    void KeyOnFileIdentity(const std::string& registryPath);
};

} // namespace shell
