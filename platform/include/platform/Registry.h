#pragma once

// The registry of the programs, kept in one REGEDIT4 text file that several processes share.
//
// The process keeps the last parse of the file and parses it again only when the file is no longer
// the one parsed (another inode, size or change time), so a handle never sees stale data and the
// file may be changed by another program at any time. Changes take a lock on the side file
// "<path>.lock", look again, apply and replace the file atomically; the kept tree is then the
// written one. (An editor that rewrites the file in place, keeping its size, within one tick of
// the file system's clock is seen only at the next change.) A file that cannot be parsed is
// never written.
//
// Key and value names compare case-insensitively (ASCII) and keep the case they were created
// with. Texts are byte strings (UTF-8 by convention). The default value of a key has the name "".

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

enum class RegStatus { Ok, NotFound, WrongType, BadFile, IoError, InvalidArgument };
enum class RegType { String, Dword, Binary };
enum class RegRoot { LocalMachine, CurrentUser };

struct RegValue {
    std::string name;
    RegType type = RegType::String;
    std::string text;           // String
    uint32_t dword = 0;         // Dword
    std::vector<uint8_t> bytes; // Binary

    friend bool operator==(const RegValue&, const RegValue&) = default;
};

// $QORVELL_REGISTRY when set; otherwise /var/lib/qorvell/registry.reg for root and
// $XDG_DATA_HOME/qorvell/registry.reg (default ~/.local/share) for everyone else.
std::string RegistryFilePath();

// What keeps the registry file from being used: "<path>:<line>: <reason>" for a file that does
// not parse, "<path>: <system error>" for one that cannot be read; "" when it reads (a file that
// does not exist yet reads as empty).
std::string RegistryFileFault();

// What keeps the registry file from being there: "the registry file <path> does not exist",
// "the registry folder <folder> does not exist (registry file <path>)", or "<path>: <system
// error>"; "" when it is there.
std::string RegistryFileAbsence();
// RegistryFileFault(), else RegistryFileAbsence(): where to look when settings are missing.
std::string RegistryFileProblem();
// Whether the folder of the registry file does not exist (a write would create it).
bool RegistryFolderMissing();

namespace regfile {
struct Node;
}

// How many times this process has parsed the registry file (not save or restore files).
uint64_t RegistryFileParses();

// A handle on one key path. It holds no file or lock, so it is cheap to copy and stays valid
// while other programs change the registry; once its key is deleted, operations on it report
// NotFound. Subkey paths are separated by backslashes; "" names the key itself.
class RegKey {
public:
    RegKey() = default;

    static RegStatus Open(RegRoot root, const std::string& subKey, RegKey& out);
    // Creates the key and any missing parents; opens it when it exists.
    static RegStatus Create(RegRoot root, const std::string& subKey, RegKey& out);
    RegStatus OpenSub(const std::string& subKey, RegKey& out) const;
    RegStatus CreateSub(const std::string& subKey, RegKey& out) const;

    bool IsValid() const { return valid_; }
    RegRoot Root() const { return root_; }
    // Path below the root in the case stored in the registry, e.g. "Software\Qorvell Electronics".
    std::string SubKey() const;

    // NotFound when the key or value is absent, WrongType when the value has another type.
    RegStatus QueryString(const std::string& name, std::string& out) const;
    RegStatus QueryDword(const std::string& name, uint32_t& out) const;
    RegStatus QueryBinary(const std::string& name, std::vector<uint8_t>& out) const;
    RegStatus QueryValue(const std::string& name, RegValue& out) const;

    // A value of another type under the same name is replaced. Texts and names may not hold
    // line breaks or NUL bytes (InvalidArgument): the file could not carry them.
    RegStatus SetString(const std::string& name, const std::string& text);
    RegStatus SetDword(const std::string& name, uint32_t value);
    RegStatus SetBinary(const std::string& name, const std::vector<uint8_t>& bytes);
    RegStatus SetValue(const RegValue& value);
    RegStatus DeleteValue(const std::string& name);

    // Deletes the subkey with everything below it; "" deletes this key itself (a root key is
    // only emptied, as roots always exist).
    RegStatus DeleteSubKeyTree(const std::string& subKey);

    // Immediate subkeys in case-insensitive name order; values in the order they were created.
    RegStatus EnumSubKeys(std::vector<std::string>& out) const;
    RegStatus EnumValues(std::vector<RegValue>& out) const;

    // Writes this key and its subtree as a REGEDIT4 file with the keys' full paths, as an
    // export would; the file is replaced atomically. RestoreKey replaces this key's values and
    // subkeys with those of the first key of such a file and everything below it, whatever that
    // key's own path was; every other section of the file must lie below that key.
    // `accept`, when given, sees the saved key before anything is changed and refuses it with
    // a reason (BadFile, the registry as it was).
    using SavedKeyCheck = std::function<std::string(const regfile::Node& savedKey)>;
    RegStatus SaveKey(const std::string& file) const;
    RegStatus RestoreKey(const std::string& file, const SavedKeyCheck& accept = {});

    // Text of this thread's last failure, e.g. "/var/lib/qorvell/registry.reg:12: ...".
    static std::string LastErrorText();

private:
    RegKey(RegRoot root, std::vector<std::string> path)
        : root_(root), path_(std::move(path)), valid_(true) {}

    RegRoot root_ = RegRoot::LocalMachine;
    std::vector<std::string> path_; // below the root, stored case
    bool valid_ = false;
};

// The file model behind RegKey, shared with its save and restore files.
namespace regfile {

struct Node {
    std::string name;
    std::vector<RegValue> values; // creation order
    std::vector<Node> children;   // case-insensitive name order

    Node* Child(std::string_view childName);
    const Node* Child(std::string_view childName) const;
    Node& EnsureChild(std::string_view childName);
    bool RemoveChild(std::string_view childName);
    const RegValue* Value(std::string_view valueName) const;
    void SetValue(RegValue value);
    bool RemoveValue(std::string_view valueName);
};

struct Section {
    std::vector<std::string> path; // from the root key's name down
    int line = 0;
};

// Parses REGEDIT4 text into `top`, whose children are the root keys. On failure returns false
// and sets `error` to "<fileName>:<line>: <reason>". Whitespace-only text is an empty registry.
bool Parse(std::string_view text, const std::string& fileName, Node& top, std::string& error,
           std::vector<Section>* sections = nullptr);

// The whole tree below `top` (root keys left out while empty), with CR LF line ends.
std::string Serialize(const Node& top);
// One key and its subtree; `path` is the key's full path from its root key's name.
std::string SerializeKey(const Node& key, const std::vector<std::string>& path);

// Keys nest at most this many levels below their root key, as on Windows.
inline constexpr size_t kMaxKeyDepth = 512;

bool NamesEqual(std::string_view a, std::string_view b);
// Splits a backslash-separated key path; false for an empty component or an unusable name.
bool SplitKeyPath(std::string_view path, std::vector<std::string>& out);
bool IsValidKeyName(std::string_view name);
// At most 16383 bytes, no line break or NUL.
bool IsValidValueName(std::string_view name);
bool IsValidText(std::string_view text);

} // namespace regfile
} // namespace platform
