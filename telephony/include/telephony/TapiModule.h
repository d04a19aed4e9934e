#pragma once

// Binding the telephony library (or any library of ours) at run time by name, as the tools
// do: a Windows-style name such as "TAPI32.DLL" is mapped to "TAPI32.so"; a name with a path
// separator is taken as a path, a bare name is searched for as the dynamic loader does.

#include <string>

namespace telephony {

// "TAPI32.DLL" -> "TAPI32.so", "a\b.dll" -> "a/b.so"; other names stay as they are.
std::string MapModuleName(const std::string& name);

class TapiModule {
public:
    TapiModule() = default;
    ~TapiModule();
    TapiModule(const TapiModule&) = delete;
    TapiModule& operator=(const TapiModule&) = delete;

    // Frees what was loaded, then loads the library. False with ErrorText() on failure.
    bool Load(const std::string& name);
    void Free();
    bool IsLoaded() const { return handle_ != nullptr; }

    // The named function, or null when the library is not loaded or lacks it.
    void* Resolve(const char* name) const;
    template <class F> F Function(const char* name) const {
        return reinterpret_cast<F>(Resolve(name));
    }

    const std::string& ErrorText() const { return error_; }
    // Folder of the loaded library file (empty when nothing is loaded).
    std::string Folder() const;

private:
    void* handle_ = nullptr;
    std::string error_;
};

// The folder that holds the service-provider files, where a system folder held them:
// $QORVELL_TELEPHONY_DIR when set, else the folder of the loaded telephony library.
std::string TelephonyFolder(const TapiModule& tapi);

} // namespace telephony
