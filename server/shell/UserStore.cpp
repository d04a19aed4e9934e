#include "UserStore.h"

#include <engine/TraceLog.h>
#include <engine/UserList.h>

#include <platform/Registry.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace shell {

using namespace engine;

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;
using platform::RegType;
using platform::RegValue;

namespace {

constexpr int kBoxKeyOpen = 117;
constexpr int kBoxSubKeyCreate = 118;
constexpr int kBoxBackupFailed = 222;
constexpr int kBoxRestoreFailed = 223;
constexpr int kBoxLoadFailed = 224;
constexpr int kBoxLoadFailedAgain = 225;

constexpr const char* kCountName = "UserListCount";

bool ReadText(const RegKey& key, const char* name, std::size_t maxChars, std::string& out) {
    return key.QueryString(name, out) == RegStatus::Ok && out.size() <= maxChars;
}

// Leading digits only, as the stored numbers are read; no digits gives 0.
int PlainDecimal(const std::string& text) {
    return std::atoi(text.c_str());
}

RegValue Text(const char* name, const std::string& text) {
    RegValue value;
    value.name = name;
    value.type = RegType::String;
    value.text = text;
    return value;
}

struct StoredUser {
    std::string userName, ipAddress, userInfo, deviceId;
    int userType, deviceSeqNo;
};

std::vector<RegValue> UserValues(const StoredUser& u) {
    return {Text("UserName", u.userName),
            Text("IPAddress", u.ipAddress),
            Text("UserType", std::to_string(u.userType)),
            Text("UserInfo", u.userInfo),
            Text("DeviceID", u.deviceId),
            Text("DeviceSeqNo", std::to_string(u.deviceSeqNo))};
}

// A file of our own beside the registry file, removed when the scope ends.
class TempFile {
public:
    TempFile() {
        std::string pattern = (std::filesystem::temp_directory_path() / "userdataXXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        if (fd >= 0) {
            ::close(fd);
            m_path = pattern;
        }
    }
    ~TempFile() {
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// LoadUserData's callers hold the list's lock while engine threads run, the dialogs under the name
// of the server's list that m_Users refers to, which the analysis cannot tell is the same lock.
UserRecord* AddLoaded(UserList& users,
                      std::unique_ptr<UserRecord> record) NO_THREAD_SAFETY_ANALYSIS {
    return users.Add(std::move(record));
}

} // namespace

UserStore::UserStore(UserList& users, std::string installPath, DialogPrompts prompts)
    : m_Users(users), m_strInstallPath(std::move(installPath)), m_prompts(std::move(prompts)) {}

std::string UserStore::SubKeyName(int index) {
    return "UserData_" + std::to_string(index);
}

int UserStore::LoadUserData() {
    RegKey key;
    std::uint32_t count = 0;
    if (RegKey::Open(RegRoot::LocalMachine, kUserDataKey, key) != RegStatus::Ok ||
        key.QueryDword(kCountName, count) != RegStatus::Ok)
        count = 0;
    m_nCount = static_cast<int>(count);

    for (std::uint32_t i = 0; i < count; ++i) {
        RegKey sub;
        if (key.OpenSub(SubKeyName(static_cast<int>(i)), sub) != RegStatus::Ok)
            return 0;
        std::string name, ip, type, info, deviceId, seqNo;
        if (!ReadText(sub, "UserName", kUserNameMax, name) ||
            !ReadText(sub, "IPAddress", kIpAddressMax, ip) ||
            !ReadText(sub, "UserType", kNumberTextMax, type) ||
            !ReadText(sub, "UserInfo", kUserInfoMax, info) ||
            !ReadText(sub, "DeviceID", kNumberTextMax, deviceId) ||
            !ReadText(sub, "DeviceSeqNo", kNumberTextMax, seqNo))
            return 0;
        AddLoaded(m_Users, std::make_unique<UserRecord>(name, ip, PlainDecimal(type), info,
                                                        deviceId, PlainDecimal(seqNo)));
    }
    return 1;
}

// A fresh installation has no user key yet; the first write makes it.
static bool OpenOrCreateUserKey(RegKey& key) {
    return RegKey::Open(RegRoot::LocalMachine, UserStore::kUserDataKey, key) == RegStatus::Ok ||
           RegKey::Create(RegRoot::LocalMachine, UserStore::kUserDataKey, key) == RegStatus::Ok;
}

int UserStore::SaveUserData() {
    RegKey key;
    if (!OpenOrCreateUserKey(key)) {
        m_prompts.Box(kBoxKeyOpen);
        return 0;
    }
    // The whole new key, built from what the list holds now, then put in place in one step.
    platform::regfile::Node node;
    node.name = "UserData";
    int index = 0;
    {
        platform::CriticalSectionLock guard(m_Users.Lock());
        for (const auto& record : m_Users.Items()) {
            platform::regfile::Node& sub = node.EnsureChild(SubKeyName(index++));
            for (RegValue& value : UserValues({record->GetUserName(), record->GetIPAddress(),
                                               record->GetUserInfo(), record->GetDeviceID(),
                                               record->GetUserType(), record->GetDeviceSeqNo()}))
                sub.SetValue(std::move(value));
        }
    }
    // The count names exactly the users written, so the store always loads whole.
    RegValue count;
    count.name = kCountName;
    count.type = RegType::Dword;
    count.dword = static_cast<std::uint32_t>(index);
    node.values.insert(node.values.begin(), count);
    bool valid = true;
    for (const auto& sub : node.children)
        for (const RegValue& value : sub.values)
            valid = valid && platform::regfile::IsValidText(value.text);

    std::vector<std::string> path;
    platform::regfile::SplitKeyPath(std::string("HKEY_LOCAL_MACHINE\\") + kUserDataKey, path);
    TempFile staged;
    bool written = false;
    if (valid && !staged.Path().empty()) {
        std::FILE* file = std::fopen(staged.Path().c_str(), "wb");
        if (file != nullptr) {
            const std::string text = platform::regfile::SerializeKey(node, path);
            written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
            written = std::fclose(file) == 0 && written;
        }
    }
    if (!written || key.RestoreKey(staged.Path()) != RegStatus::Ok) {
        TraceLog("[ERROR] Fail to save the user list: %s", RegKey::LastErrorText().c_str());
        m_prompts.Box(kBoxSubKeyCreate);
        return 0;
    }
    m_nCount = index;
    return 1;
}

int UserStore::AppendUserData(const std::string& userName, const std::string& ipAddress,
                              int userType, const std::string& userInfo, int newCount) {
    RegKey key;
    if (!OpenOrCreateUserKey(key)) {
        m_prompts.Box(kBoxKeyOpen);
        return 0;
    }
    // The subkey first: a count raised before it would name a user the next start can't load.
    RegKey sub;
    bool stored = newCount >= 1 && key.CreateSub(SubKeyName(newCount - 1), sub) == RegStatus::Ok;
    if (stored) {
        for (const RegValue& value :
             UserValues({userName, ipAddress, userInfo, UserRecord::kNoDeviceId, userType,
                         UserRecord::kNoDeviceSeqNo}))
            stored = stored && sub.SetValue(value) == RegStatus::Ok;
    }
    stored =
        stored && key.SetDword(kCountName, static_cast<std::uint32_t>(newCount)) == RegStatus::Ok;
    if (!stored) {
        m_prompts.Box(kBoxSubKeyCreate);
        return 0;
    }
    return 1;
}

int UserStore::BackupUserData() {
    const std::string file = BackupFilePath();
    RegKey key;
    if (!OpenOrCreateUserKey(key)) {
        m_prompts.Box(kBoxKeyOpen);
        return 0;
    }
    // A fresh install has neither the folder nor an old copy; neither stops the first backup.
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), error);
    // The save writes a temporary file and renames it over the old copy.
    if (key.SaveKey(file) != RegStatus::Ok) {
        TraceLog("[ERROR] Fail to back up the user list: %s", RegKey::LastErrorText().c_str());
        m_prompts.Box(kBoxBackupFailed);
        return 0;
    }
    return 1;
}

int UserStore::RestoreUserData() {
    RegKey key;
    if (!OpenOrCreateUserKey(key)) {
        m_prompts.Box(kBoxKeyOpen);
        return 0;
    }
    if (key.RestoreKey(BackupFilePath(), &UserStore::CheckSavedStore) != RegStatus::Ok) {
        TraceLog("[ERROR] Fail to restore the user list: %s", RegKey::LastErrorText().c_str());
        m_prompts.Box(kBoxRestoreFailed);
        return 0;
    }
    return 1;
}

std::string UserStore::CheckSavedStore(const platform::regfile::Node& key) {
    // What a store may hold beside its users is bounded too: a copy that loads but carries a
    // huge value would be parsed again at every start.
    const auto valueFault = [](const RegValue& value) -> std::string {
        const std::size_t size =
            value.type == RegType::Binary ? value.bytes.size() : value.text.size();
        if (size > kIpAddressMax)
            return "value \"" + value.name.substr(0, 64) + "\" is longer than a stored user's";
        return {};
    };
    for (const RegValue& value : key.values)
        if (std::string why = valueFault(value); !why.empty())
            return why;
    for (const platform::regfile::Node& child : key.children) {
        if (!child.children.empty())
            return "key " + child.name + " has subkeys, which no stored user has";
        for (const RegValue& value : child.values)
            if (std::string why = valueFault(value); !why.empty())
                return why + " in " + child.name;
    }
    std::uint32_t count = 0;
    if (const RegValue* stored = key.Value(kCountName);
        stored != nullptr && stored->type == RegType::Dword)
        count = stored->dword;
    if (count > key.children.size())
        return kCountName + std::string(" ") + std::to_string(count) + " but " +
               std::to_string(key.children.size()) + " user keys";
    const struct {
        const char* name;
        std::size_t max;
    } fields[] = {{"UserName", kUserNameMax},   {"IPAddress", kIpAddressMax},
                  {"UserType", kNumberTextMax}, {"UserInfo", kUserInfoMax},
                  {"DeviceID", kNumberTextMax}, {"DeviceSeqNo", kNumberTextMax}};
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string name = SubKeyName(static_cast<int>(i));
        const platform::regfile::Node* user = key.Child(name);
        if (user == nullptr)
            return "user key " + name + " is missing";
        for (const auto& field : fields) {
            const RegValue* value = user->Value(field.name);
            if (value == nullptr || value->type != RegType::String ||
                value->text.size() > field.max)
                return std::string(field.name) + " of " + name + " does not load";
        }
    }
    return {};
}

void UserStore::LoadAtStartup() {
    platform::CriticalSectionLock guard(m_Users.Lock());
    if (LoadUserData() != 0)
        return;
    m_prompts.Box(kBoxLoadFailed);
    m_Users.DeleteAll();
    RestoreUserData();
    if (LoadUserData() != 0)
        return;
    m_prompts.Box(kBoxLoadFailedAgain);
    m_Users.DeleteAll();
    m_nCount = 0;
}

} // namespace shell
