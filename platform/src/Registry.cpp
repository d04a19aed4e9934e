#include <platform/Registry.h>

#include <platform/Mutex.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
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

RegStatus ReadFd(int fd, const std::string& path, std::string& out) {
    out.clear();
    char buf[65536];
    while (true) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
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
    return ReadFd(fd.get(), path, out);
}

// Writes a temporary file beside `path`, syncs it and renames it over, so that readers see
// either the old or the new content, never a part.
RegStatus WriteAtomically(const std::string& path, const std::string& data) {
    std::string temp = path + ".XXXXXX";
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        const int err = errno;
        if (err == EACCES || err == EROFS || err == EPERM) {
            return FailErrno("the folder " + DirName(path) + " is not writable", err);
        }
        return FailErrno(temp, err);
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
    // The file holds passwords: a new one keeps mkostemp's 0600 (less the umask), a rewrite the
    // mode its owner gave it.
    if (replacing && ::fchmod(fd.get(), st.st_mode & 07777) != 0) {
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

// What tells one state of the file from another without reading it. The kept tree holds its
// file open, so that no later file can be given the same inode number while it is kept.
struct FileStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;

    explicit FileStamp(const struct stat& st = {})
        : dev(st.st_dev), ino(st.st_ino), size(st.st_size),
          mtimeNs(int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec),
          ctimeNs(int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec) {}
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The last parse of the registry file, kept for the process: every query would otherwise parse
// the whole file again. A file that does not parse is kept with its error, so that it is not
// parsed again either until it changes.
struct KeptFile {
    std::string path;
    bool exists = false;
    FileStamp stamp;
    std::shared_ptr<Fd> held;
    std::shared_ptr<const Node> tree; // null for a file that does not parse
    std::string error;
};

Mutex g_keptMutex;
std::optional<KeptFile> g_kept GUARDED_BY(g_keptMutex);
std::atomic<uint64_t> g_parses{0};

void AddRoots(Node& top) {
    top.EnsureChild(RootName(RegRoot::LocalMachine));
    top.EnsureChild(RootName(RegRoot::CurrentUser));
}

RegStatus FromKept(const KeptFile& kept, std::shared_ptr<const Node>& out) {
    if (kept.tree == nullptr) {
        return Fail(RegStatus::BadFile, kept.error);
    }
    out = kept.tree;
    return RegStatus::Ok;
}

// The tree of the file as it stands: the kept one while the file has not changed since it was
// parsed, else a fresh parse, which is then kept.
RegStatus LoadTree(const std::string& path, std::shared_ptr<const Node>& out) {
    out.reset();
    struct stat st;
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) {
        return FailErrno(path, errno);
    }
    {
        LockGuard guard(g_keptMutex);
        if (g_kept && g_kept->path == path && g_kept->exists == exists &&
            (!exists || g_kept->stamp == FileStamp(st))) {
            return FromKept(*g_kept, out);
        }
    }
    KeptFile kept;
    kept.path = path;
    std::string text;
    auto fd = std::make_shared<Fd>(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd->get() < 0) {
        if (errno != ENOENT) {
            return FailErrno(path, errno);
        }
    } else {
        if (::fstat(fd->get(), &st) != 0) {
            return FailErrno(path, errno);
        }
        kept.exists = true;
        kept.stamp = FileStamp(st);
        kept.held = fd;
        if (RegStatus s = ReadFd(fd->get(), path, text); s != RegStatus::Ok) {
            return s;
        }
    }
    auto top = std::make_shared<Node>();
    ++g_parses;
    if (regfile::Parse(text, path, *top, kept.error)) {
        AddRoots(*top);
        kept.tree = std::move(top);
    }
    RegStatus s = FromKept(kept, out);
    LockGuard guard(g_keptMutex);
    g_kept = std::move(kept);
    return s;
}

// After this process has replaced the file (under the lock), its tree is what the file holds.
void KeepWritten(const std::string& path, Node&& top) {
    auto fd = std::make_shared<Fd>(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    LockGuard guard(g_keptMutex);
    if (fd->get() < 0 || ::fstat(fd->get(), &st) != 0) {
        g_kept.reset(); // read again next time
        return;
    }
    KeptFile kept;
    kept.path = path;
    kept.exists = true;
    kept.stamp = FileStamp(st);
    kept.held = std::move(fd);
    kept.tree = std::make_shared<const Node>(std::move(top));
    g_kept = std::move(kept);
}

// Reads need no lock: the file is only ever replaced whole by rename.
RegStatus Snapshot(std::shared_ptr<const Node>& top) {
    return LoadTree(RegistryFilePath(), top);
}

// Runs `change(top, changed)` on the current file under the exclusive lock and writes the tree
// back when the change reports Ok and `changed`.
template <class Change> RegStatus Modify(Change&& change) {
    const std::string path = RegistryFilePath();
    const std::string dir = DirName(path);
    if (!MakeDirs(dir)) {
        return FailErrno("cannot create the registry folder " + dir, errno);
    }
    // Through a symlink, write (and lock) the file it points to rather than replace the link.
    std::string target = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    const std::string lockPath = target + ".lock";
    // Whoever may open the lock may hold it and so stall every writer.
    Fd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.get() < 0) {
        const int err = errno;
        const std::string folder = DirName(target);
        if ((err == EACCES || err == EROFS || err == EPERM) &&
            ::faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) != 0) {
            return FailErrno("the registry folder " + folder + " is not writable (lock file " +
                                 lockPath + ")",
                             err);
        }
        return FailErrno(lockPath, err);
    }
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return FailErrno(lockPath, errno);
        }
    }
    std::shared_ptr<const Node> current;
    if (RegStatus s = LoadTree(path, current); s != RegStatus::Ok) {
        return s;
    }
    Node top = *current;
    bool changed = false;
    if (RegStatus s = change(top, changed); s != RegStatus::Ok || !changed) {
        return s;
    }
    if (RegStatus s = WriteAtomically(target, regfile::Serialize(top)); s != RegStatus::Ok) {
        return s;
    }
    KeepWritten(path, std::move(top));
    return RegStatus::Ok;
}

// Node or const Node.
template <class N> N* Find(N& top, RegRoot root, const std::vector<std::string>& path) {
    N* node = top.Child(RootName(root));
    for (size_t i = 0; node != nullptr && i < path.size(); ++i) {
        node = node->Child(path[i]);
    }
    return node;
}

RegStatus KeyNotFound(RegRoot root, const std::vector<std::string>& path) {
    return Fail(RegStatus::NotFound, "key not found: " + KeyText(root, path));
}

RegStatus NotOpen() {
    return Fail(RegStatus::InvalidArgument, "key handle not open");
}

// An open key's node in a snapshot of the file; `top` keeps the snapshot alive.
RegStatus ReadKey(bool open, RegRoot root, const std::vector<std::string>& path,
                  std::shared_ptr<const Node>& top, const Node*& node) {
    if (!open) {
        return NotOpen();
    }
    if (RegStatus s = Snapshot(top); s != RegStatus::Ok) {
        return s;
    }
    node = Find(*top, root, path);
    return node != nullptr ? RegStatus::Ok : KeyNotFound(root, path);
}

// Modify, on the key's own node.
template <class Change>
RegStatus ModifyKey(RegRoot root, const std::vector<std::string>& path, Change change) {
    return Modify([&](Node& top, bool& changed) {
        Node* node = Find(top, root, path);
        return node != nullptr ? change(*node, changed) : KeyNotFound(root, path);
    });
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
    std::shared_ptr<const Node> top;
    return Snapshot(top) == RegStatus::Ok ? std::string() : t_lastError;
}

uint64_t RegistryFileParses() {
    return g_parses.load();
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
    std::shared_ptr<const Node> top;
    if (RegStatus s = Snapshot(top); s != RegStatus::Ok) {
        return s;
    }
    const Node* node = top->Child(RootName(root));
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
        return NotOpen();
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
        return NotOpen();
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
    RegStatus s = ModifyKey(root_, path_, [&](Node& key, bool& changed) {
        Node* node = &key;
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
    std::shared_ptr<const Node> top;
    const Node* node = nullptr;
    if (RegStatus s = ReadKey(valid_, root_, path_, top, node); s != RegStatus::Ok) {
        return s;
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
        return NotOpen();
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
    return ModifyKey(root_, path_, [&](Node& node, bool& changed) {
        const RegValue* old = node.Value(clean.name);
        if (old != nullptr && old->type == clean.type && old->text == clean.text &&
            old->dword == clean.dword && old->bytes == clean.bytes) {
            return RegStatus::Ok;
        }
        node.SetValue(clean);
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
        return NotOpen();
    }
    return ModifyKey(root_, path_, [&](Node& node, bool& changed) {
        if (!node.RemoveValue(name)) {
            return Fail(RegStatus::NotFound,
                        "value not found: \"" + name + "\" in " + KeyText(root_, path_));
        }
        changed = true;
        return RegStatus::Ok;
    });
}

RegStatus RegKey::DeleteSubKeyTree(const std::string& subKey) {
    if (!valid_) {
        return NotOpen();
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
    std::shared_ptr<const Node> top;
    const Node* node = nullptr;
    if (RegStatus s = ReadKey(valid_, root_, path_, top, node); s != RegStatus::Ok) {
        return s;
    }
    for (const Node& child : node->children) {
        out.push_back(child.name);
    }
    return RegStatus::Ok;
}

RegStatus RegKey::EnumValues(std::vector<RegValue>& out) const {
    out.clear();
    std::shared_ptr<const Node> top;
    const Node* node = nullptr;
    if (RegStatus s = ReadKey(valid_, root_, path_, top, node); s != RegStatus::Ok) {
        return s;
    }
    out = node->values;
    return RegStatus::Ok;
}

RegStatus RegKey::SaveKey(const std::string& file) const {
    if (!valid_) {
        return NotOpen();
    }
    if (file.empty()) {
        return BadName("file name");
    }
    std::shared_ptr<const Node> top;
    const Node* node = nullptr;
    if (RegStatus s = ReadKey(valid_, root_, path_, top, node); s != RegStatus::Ok) {
        return s;
    }
    std::vector<std::string> fullPath{RootName(root_)};
    fullPath.insert(fullPath.end(), path_.begin(), path_.end());
    return WriteAtomically(file, regfile::SerializeKey(*node, fullPath));
}

RegStatus RegKey::RestoreKey(const std::string& file, const SavedKeyCheck& accept) {
    if (!valid_) {
        return NotOpen();
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
    if (accept) {
        if (const std::string why = accept(*source); !why.empty()) {
            return Fail(RegStatus::BadFile, file + ": " + why);
        }
    }
    return ModifyKey(root_, path_, [&](Node& node, bool& changed) {
        node.values = std::move(source->values);
        node.children = std::move(source->children);
        changed = true;
        return RegStatus::Ok;
    });
}

} // namespace platform
