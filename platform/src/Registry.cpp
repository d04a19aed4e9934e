#include "platform/Registry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

using regfile::Node;

thread_local std::string t_lastError;

RegStatus Fail(RegStatus status, std::string text) {
    t_lastError = std::move(text);
    return status;
}

RegStatus FailErrno(const std::string& what, int err) {
    return Fail(RegStatus::IoError, what + ": " + std::strerror(err));
}

const char* RootName(RegRoot root) {
    return root == RegRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::string KeyText(RegRoot root, const std::vector<std::string>& path) {
    std::string text = RootName(root);
    for (const std::string& name : path) {
        text += '\\';
        text += name;
    }
    return text;
}

std::string DirName(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

bool MakeDirs(const std::string& dir) {
    struct stat st;
    if (dir.empty() || ::stat(dir.c_str(), &st) == 0) {
        return true;
    }
    const std::string parent = DirName(dir);
    if (parent != dir && !MakeDirs(parent)) {
        return false;
    }
    return ::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

// A missing file reads as "", with `exists` false.
RegStatus ReadWholeFile(const std::string& path, std::string& out, bool& exists) {
    out.clear();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) {
            exists = false;
            return RegStatus::Ok;
        }
        return FailErrno(path, errno);
    }
    exists = true;
    char buf[65536];
    while (true) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n == 0) {
            return RegStatus::Ok;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return FailErrno(path, errno);
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

// Writes a temporary file beside `path`, syncs it and renames it over, so that readers see
// either the old or the new content, never a part.
RegStatus WriteAtomically(const std::string& path, const std::string& data) {
    std::string temp = path + ".XXXXXX";
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return FailErrno(temp, errno);
    }
    auto failAndUnlink = [&](int err) {
        fd.reset(-1);
        ::unlink(temp.c_str());
        return FailErrno(temp, err);
    };
    struct stat st;
    const bool replacing = ::stat(path.c_str(), &st) == 0;
    // A rewrite by another user (root, say) must not hand the file over to that user.
    if (replacing && (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
        ::fchown(fd.get(), st.st_uid, st.st_gid) != 0) {
        [[maybe_unused]] const int kept = ::fchown(fd.get(), static_cast<uid_t>(-1), st.st_gid);
    }
    const mode_t mode = replacing ? (st.st_mode & 07777) : 0644;
    if (::fchmod(fd.get(), mode) != 0) {
        return failAndUnlink(errno);
    }
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd.get(), data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failAndUnlink(errno);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd.get()) != 0) {
        return failAndUnlink(errno);
    }
    if (::close(fd.release()) != 0) {
        return failAndUnlink(errno);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        return failAndUnlink(errno);
    }
    Fd dir(::open(DirName(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        ::fsync(dir.get()); // the rename is done; a failed directory sync loses nothing
    }
    return RegStatus::Ok;
}

RegStatus LoadTree(const std::string& path, Node& top) {
    std::string text;
    bool exists = false;
    if (RegStatus s = ReadWholeFile(path, text, exists); s != RegStatus::Ok) {
        return s;
    }
    std::string error;
    if (!regfile::Parse(text, path, top, error)) {
        return Fail(RegStatus::BadFile, error);
    }
    top.EnsureChild(RootName(RegRoot::LocalMachine));
    top.EnsureChild(RootName(RegRoot::CurrentUser));
    return RegStatus::Ok;
}

// Reads need no lock: the file is only ever replaced whole by rename.
RegStatus Snapshot(Node& top) {
    return LoadTree(RegistryFilePath(), top);
}

// Runs `change(top, changed)` on the current file under the exclusive lock and writes the tree
// back when the change reports Ok and `changed`.
template <class Change> RegStatus Modify(Change&& change) {
    const std::string path = RegistryFilePath();
    if (!MakeDirs(DirName(path))) {
        return FailErrno(DirName(path), errno);
    }
    // Through a symlink, write (and lock) the file it points to rather than replace the link.
    std::string target = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    const std::string lockPath = target + ".lock";
    Fd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (lock.get() < 0) {
        return FailErrno(lockPath, errno);
    }
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return FailErrno(lockPath, errno);
        }
    }
    Node top;
    if (RegStatus s = LoadTree(path, top); s != RegStatus::Ok) {
        return s;
    }
    bool changed = false;
    if (RegStatus s = change(top, changed); s != RegStatus::Ok || !changed) {
        return s;
    }
    return WriteAtomically(target, regfile::Serialize(top));
}

Node* Find(Node& top, RegRoot root, const std::vector<std::string>& path) {
    Node* node = top.Child(RootName(root));
    for (size_t i = 0; node != nullptr && i < path.size(); ++i) {
        node = node->Child(path[i]);
    }
    return node;
}

RegStatus KeyNotFound(RegRoot root, const std::vector<std::string>& path) {
    return Fail(RegStatus::NotFound, "key not found: " + KeyText(root, path));
}

RegStatus BadName(const std::string& what) {
    return Fail(RegStatus::InvalidArgument, "unusable " + what);
}

} // namespace

std::string RegistryFilePath() {
    if (const char* env = std::getenv("QORVELL_REGISTRY"); env != nullptr && *env != '\0') {
        return env;
    }
    if (::geteuid() == 0) {
        return "/var/lib/qorvell/registry.reg";
    }
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg; // relative values are to be ignored
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home == '\0') {
            const passwd* pw = ::getpwuid(::geteuid());
            home = pw != nullptr ? pw->pw_dir : "";
        }
        base = std::string(home) + "/.local/share";
    }
    return base + "/qorvell/registry.reg";
}

std::string RegistryFileFault() {
    Node top;
    return Snapshot(top) == RegStatus::Ok ? std::string() : t_lastError;
}

std::string RegKey::LastErrorText() {
    return t_lastError;
}

std::string RegKey::SubKey() const {
    std::string text;
    for (const std::string& name : path_) {
        if (!text.empty()) {
            text += '\\';
        }
        text += name;
    }
    return text;
}

RegStatus RegKey::Open(RegRoot root, const std::string& subKey, RegKey& out) {
    out = RegKey();
    std::vector<std::string> path;
    if (!regfile::SplitKeyPath(subKey, path)) {
        return BadName("key path: " + subKey);
    }
    Node top;
    if (RegStatus s = Snapshot(top); s != RegStatus::Ok) {
        return s;
    }
    Node* node = top.Child(RootName(root));
    std::vector<std::string> stored;
    for (const std::string& name : path) {
        node = node->Child(name);
        if (node == nullptr) {
            return KeyNotFound(root, path);
        }
        stored.push_back(node->name);
    }
    out = RegKey(root, std::move(stored));
    return RegStatus::Ok;
}

RegStatus RegKey::Create(RegRoot root, const std::string& subKey, RegKey& out) {
    out = RegKey();
    RegKey base(root, {});
    return base.CreateSub(subKey, out);
}

RegStatus RegKey::OpenSub(const std::string& subKey, RegKey& out) const {
    out = RegKey();
    if (!valid_) {
        return Fail(RegStatus::InvalidArgument, "key handle not open");
    }
    std::string full = SubKey();
    if (!full.empty() && !subKey.empty()) {
        full += '\\';
    }
    return Open(root_, full + subKey, out);
}

RegStatus RegKey::CreateSub(const std::string& subKey, RegKey& out) const {
    out = RegKey();
    if (!valid_) {
        return Fail(RegStatus::InvalidArgument, "key handle not open");
    }
    std::vector<std::string> rest;
    if (!regfile::SplitKeyPath(subKey, rest)) {
        return BadName("key path: " + subKey);
    }
    if (path_.size() + rest.size() > regfile::kMaxKeyDepth) {
        return Fail(RegStatus::InvalidArgument, "key nested deeper than " +
                                                    std::to_string(regfile::kMaxKeyDepth) +
                                                    " levels: " + subKey);
    }
    std::vector<std::string> stored;
    RegStatus s = Modify([&](Node& top, bool& changed) {
        Node* node = Find(top, root_, path_);
        if (node == nullptr) {
            return KeyNotFound(root_, path_);
        }
        stored = path_;
        for (const std::string& name : rest) {
            Node* child = node->Child(name);
            if (child == nullptr) {
                child = &node->EnsureChild(name);
                changed = true;
            }
            node = child;
            stored.push_back(node->name);
        }
        return RegStatus::Ok;
    });
    if (s == RegStatus::Ok) {
        out = RegKey(root_, std::move(stored));
    }
    return s;
}

RegStatus RegKey::QueryValue(const std::string& name, RegValue& out) const {
    if (!valid_) {
        return Fail(RegStatus::InvalidArgument, "key handle not open");
    }
    Node top;
    if (RegStatus s = Snapshot(top); s != RegStatus::Ok) {
        return s;
    }
    const Node* node = Find(top, root_, path_);
    if (node == nullptr) {
        return KeyNotFound(root_, path_);
    }
    const RegValue* value = node->Value(name);
    if (value == nullptr) {
        return Fail(RegStatus::NotFound,
                    "value not found: \"" + name + "\" in " + KeyText(root_, path_));
    }
    out = *value;
    return RegStatus::Ok;
}

namespace {
RegStatus QueryTyped(const RegKey& key, const std::string& name, RegType type, RegValue& value) {
    if (RegStatus s = key.QueryValue(name, value); s != RegStatus::Ok) {
        return s;
    }
    if (value.type != type) {
        const std::string sub = key.SubKey();
        return Fail(RegStatus::WrongType, "value \"" + name + "\" in " + RootName(key.Root()) +
                                              (sub.empty() ? "" : "\\" + sub) +
                                              " has another type");
    }
    return RegStatus::Ok;
}
} // namespace

RegStatus RegKey::QueryString(const std::string& name, std::string& out) const {
    RegValue value;
    RegStatus s = QueryTyped(*this, name, RegType::String, value);
    if (s == RegStatus::Ok) {
        out = std::move(value.text);
    }
    return s;
}

RegStatus RegKey::QueryDword(const std::string& name, uint32_t& out) const {
    RegValue value;
    RegStatus s = QueryTyped(*this, name, RegType::Dword, value);
    if (s == RegStatus::Ok) {
        out = value.dword;
    }
    return s;
}

RegStatus RegKey::QueryBinary(const std::string& name, std::vector<uint8_t>& out) const {
    RegValue value;
    RegStatus s = QueryTyped(*this, name, RegType::Binary, value);
    if (s == RegStatus::Ok) {
        out = std::move(value.bytes);
    }
    return s;
}

RegStatus RegKey::SetValue(const RegValue& value) {
    if (!valid_) {
        return Fail(RegStatus::InvalidArgument, "key handle not open");
    }
    if (!regfile::IsValidValueName(value.name)) {
        return BadName("value name (too long, line break or NUL)");
    }
    // Only the field of the value's own type is stored.
    RegValue clean;
    clean.name = value.name;
    clean.type = value.type;
    switch (value.type) {
    case RegType::String:
        if (!regfile::IsValidText(value.text)) {
            return BadName("text for \"" + value.name + "\" (line break or NUL)");
        }
        clean.text = value.text;
        break;
    case RegType::Dword:
        clean.dword = value.dword;
        break;
    case RegType::Binary:
        clean.bytes = value.bytes;
        break;
    }
    return Modify([&](Node& top, bool& changed) {
        Node* node = Find(top, root_, path_);
        if (node == nullptr) {
            return KeyNotFound(root_, path_);
        }
        const RegValue* old = node->Value(clean.name);
        if (old != nullptr && old->type == clean.type && old->text == clean.text &&
            old->dword == clean.dword && old->bytes == clean.bytes) {
            return RegStatus::Ok;
        }
        node->SetValue(clean);
        changed = true;
        return RegStatus::Ok;
    });
}

RegStatus RegKey::SetString(const std::string& name, const std::string& text) {
    RegValue value;
    value.name = name;
    value.type = RegType::String;
    value.text = text;
    return SetValue(value);
}

RegStatus RegKey::SetDword(const std::string& name, uint32_t dword) {
    RegValue value;
    value.name = name;
    value.type = RegType::Dword;
    value.dword = dword;
    return SetValue(value);
}

RegStatus RegKey::SetBinary(const std::string& name, const std::vector<uint8_t>& bytes) {
    RegValue value;
    value.name = name;
    value.type = RegType::Binary;
    value.bytes = bytes;
    return SetValue(value);
}

RegStatus RegKey::DeleteValue(const std::string& name) {
    if (!valid_) {
        return Fail(RegStatus::InvalidArgument, "key handle not open");
    }
    return Modify([&](Node& top, bool& changed) {
        Node* node = Find(top, root_, path_);
        if (node == nullptr) {
            return KeyNotFound(root_, path_);
        }
        if (!node->RemoveValue(name)) {
            return Fail(RegStatus::NotFound,
                        "value not found: \"" + name + "\" in " + KeyText(root_, path_));
        }
        changed = true;
        return RegStatus::Ok;
    });
}

RegStatus RegKey::DeleteSubKeyTree(const std::string& subKey) {
    if (!valid_) {
        return Fail(RegStatus::InvalidArgument, "key handle not open");
    }
    std::vector<std::string> full = path_;
    {
        std::vector<std::string> rest;
        if (!regfile::SplitKeyPath(subKey, rest)) {
            return BadName("key path: " + subKey);
        }
        full.insert(full.end(), rest.begin(), rest.end());
    }
    return Modify([&](Node& top, bool& changed) {
        if (full.empty()) {
            Node* root = Find(top, root_, full);
            changed = !root->values.empty() || !root->children.empty();
            root->values.clear();
            root->children.clear();
            return RegStatus::Ok;
        }
        const std::vector<std::string> parentPath(full.begin(), full.end() - 1);
        Node* parent = Find(top, root_, parentPath);
        if (parent == nullptr || !parent->RemoveChild(full.back())) {
            return KeyNotFound(root_, full);
        }
        changed = true;
        return RegStatus::Ok;
    });
}

RegStatus RegKey::EnumSubKeys(std::vector<std::string>& out) const {
    out.clear();
    if (!valid_) {
        return Fail(RegStatus::InvalidArgument, "key handle not open");
    }
    Node top;
    if (RegStatus s = Snapshot(top); s != RegStatus::Ok) {
        return s;
    }
    const Node* node = Find(top, root_, path_);
    if (node == nullptr) {
        return KeyNotFound(root_, path_);
    }
    for (const Node& child : node->children) {
        out.push_back(child.name);
    }
    return RegStatus::Ok;
}

RegStatus RegKey::EnumValues(std::vector<RegValue>& out) const {
    out.clear();
    if (!valid_) {
        return Fail(RegStatus::InvalidArgument, "key handle not open");
    }
    Node top;
    if (RegStatus s = Snapshot(top); s != RegStatus::Ok) {
        return s;
    }
    const Node* node = Find(top, root_, path_);
    if (node == nullptr) {
        return KeyNotFound(root_, path_);
    }
    out = node->values;
    return RegStatus::Ok;
}

RegStatus RegKey::SaveKey(const std::string& file) const {
    if (!valid_) {
        return Fail(RegStatus::InvalidArgument, "key handle not open");
    }
    if (file.empty()) {
        return BadName("file name");
    }
    Node top;
    if (RegStatus s = Snapshot(top); s != RegStatus::Ok) {
        return s;
    }
    const Node* node = Find(top, root_, path_);
    if (node == nullptr) {
        return KeyNotFound(root_, path_);
    }
    std::vector<std::string> fullPath{RootName(root_)};
    fullPath.insert(fullPath.end(), path_.begin(), path_.end());
    return WriteAtomically(file, regfile::SerializeKey(*node, fullPath));
}

RegStatus RegKey::RestoreKey(const std::string& file) {
    if (!valid_) {
        return Fail(RegStatus::InvalidArgument, "key handle not open");
    }
    std::string text;
    bool exists = false;
    if (RegStatus s = ReadWholeFile(file, text, exists); s != RegStatus::Ok) {
        return s;
    }
    if (!exists) {
        return Fail(RegStatus::NotFound, file + ": " + std::strerror(ENOENT));
    }
    Node saved;
    std::vector<regfile::Section> sections;
    std::string error;
    if (!regfile::Parse(text, file, saved, error, &sections)) {
        return Fail(RegStatus::BadFile, error);
    }
    if (sections.empty()) {
        return Fail(RegStatus::BadFile, file + ": no key in the file");
    }
    const std::vector<std::string>& base = sections.front().path;
    for (const regfile::Section& section : sections) {
        bool inside = section.path.size() >= base.size();
        for (size_t i = 0; inside && i < base.size(); ++i) {
            inside = regfile::NamesEqual(section.path[i], base[i]);
        }
        if (!inside) {
            return Fail(RegStatus::BadFile, file + ":" + std::to_string(section.line) +
                                                ": key outside of the saved key");
        }
        if (section.path.size() - base.size() + path_.size() > regfile::kMaxKeyDepth) {
            return Fail(RegStatus::BadFile, file + ":" + std::to_string(section.line) +
                                                ": key would be nested deeper than " +
                                                std::to_string(regfile::kMaxKeyDepth) + " levels");
        }
    }
    Node* source = &saved;
    for (const std::string& name : base) {
        source = source->Child(name);
    }
    return Modify([&](Node& top, bool& changed) {
        Node* node = Find(top, root_, path_);
        if (node == nullptr) {
            return KeyNotFound(root_, path_);
        }
        node->values = std::move(source->values);
        node->children = std::move(source->children);
        changed = true;
        return RegStatus::Ok;
    });
}

} // namespace platform
