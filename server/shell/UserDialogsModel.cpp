#include "UserDialogsModel.h"

#include "UserStore.h"

#include <engine/LineDeviceList.h>
#include <engine/OrbManagerDlg.h>
#include <engine/SwitchDeviceTable.h>

#include <platform/Registry.h>

#include <algorithm>
#include <cctype>

namespace shell {

using namespace engine;

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;

namespace {

constexpr const char* kRootKey = "Software\\Qorvell Electronics\\OrbManager";
constexpr int kBoxKeyOpen = 117;
constexpr int kBoxDuplicateIp = 113;
constexpr int kBoxEmptyIp = 186;
constexpr int kBoxEmptyName = 188;
constexpr int kBoxConfirmDelete = 120;
constexpr int kBoxConfirmUnassign = 170;
constexpr int kBoxConfirmUnassignAll = 171;
constexpr int kBoxAllMapped = 174;
constexpr int kBoxNoUserToChange = 205;
constexpr int kIdsLineUser = 181;
constexpr int kIdsOtherUser = 182;
constexpr int kIdsNone = 162;
constexpr int kIdsAssigned = 161;
constexpr int kIdsMapped = 164;
constexpr int kIdsMismatch = 165;
constexpr int kIdsNotMapped = 166;
constexpr std::size_t kFieldMax = 99;

template <typename Row, typename Key> void SortRows(std::vector<Row>& rows, int mode, Key key) {
    if (mode == 1)
        std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
            return FirstColumnLess(key(a), key(b));
        });
    else if (mode == 2)
        std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
            return FirstColumnLess(key(b), key(a));
        });
}

UserRow RowOf(const COrbManagerDlg& dlg, const UserRecord& record) {
    const int type = record.GetUserType();
    return {record.GetIPAddress(), record.GetUserName(),
            dlg.ResString(type == 0 ? kIdsLineUser : kIdsOtherUser), record.GetUserInfo(), type};
}

// Under the table's lock, which PickerRows holds through a guard it makes only when there is a
// table: the analysis cannot follow that guard.
bool IsKnownDevice(SwitchDeviceTable& table,
                   const std::string& deviceId) NO_THREAD_SAFETY_ANALYSIS {
    return table.GetDevices().FindByDeviceId(deviceId) != nullptr;
}

} // namespace

int ReadSortMode(const char* name) {
    RegKey key;
    std::uint32_t mode = 0;
    if (RegKey::Open(RegRoot::LocalMachine, kRootKey, key) != RegStatus::Ok ||
        key.QueryDword(name, mode) != RegStatus::Ok)
        return 0;
    return static_cast<int>(mode);
}

bool WriteSortMode(const char* name, int mode, const DialogPrompts& prompts) {
    RegKey key;
    if (RegKey::Open(RegRoot::LocalMachine, kRootKey, key) != RegStatus::Ok ||
        key.SetDword(name, static_cast<std::uint32_t>(mode)) != RegStatus::Ok) {
        prompts.Box(kBoxKeyOpen);
        return false;
    }
    return true;
}

bool FirstColumnLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) <
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::optional<FieldCheckFailure> CheckUserFields(UserFields& fields) {
    if (fields.ipAddress.empty() || fields.ipAddress.size() > 15)
        return FieldCheckFailure{kBoxEmptyIp, true};
    if (fields.userName.empty())
        return FieldCheckFailure{kBoxEmptyName, false};
    fields.userName.resize(std::min(fields.userName.size(), kFieldMax));
    fields.userInfo.resize(std::min(fields.userInfo.size(), kFieldMax));
    return std::nullopt;
}

// --- user list dialog ---

UserListModel::UserListModel(COrbManagerDlg& dlg, UserStore& store, DialogPrompts prompts)
    : m_dlg(dlg), m_store(store), m_prompts(std::move(prompts)),
      m_nSortMode(ReadSortMode(kUserDataSortModeName)) {}

void UserListModel::SetSortMode(int mode) {
    m_nSortMode = mode;
    WriteSortMode(kUserDataSortModeName, mode, m_prompts);
}

std::vector<UserRow> UserListModel::Rows() const {
    std::vector<UserRow> rows;
    {
        platform::CriticalSectionLock guard(m_dlg.m_UserList.Lock());
        for (const auto& record : m_dlg.m_UserList.Items())
            rows.push_back(RowOf(m_dlg, *record));
    }
    SortRows(rows, m_nSortMode, [](const UserRow& r) -> const std::string& { return r.ipAddress; });
    return rows;
}

std::string UserListModel::CountText() const {
    return std::to_string(m_store.Count());
}

bool UserListModel::Add(const UserFields& fields) {
    UserRecord* added = nullptr;
    {
        platform::CriticalSectionLock guard(m_dlg.m_UserList.Lock());
        if (m_dlg.m_UserList.FindByIPAddress(fields.ipAddress) != nullptr) {
            m_prompts.Box(kBoxDuplicateIp);
            return false;
        }
        added = m_dlg.m_UserList.Add(std::make_unique<UserRecord>(
            fields.userName, fields.ipAddress, fields.userType, fields.userInfo));
        m_store.SetCount(m_store.Count() + 1);
    }
    m_store.BackupUserData();
    if (m_store.AppendUserData(fields.userName, fields.ipAddress, fields.userType, fields.userInfo,
                               m_store.Count()) != 0)
        return true;
    m_store.RestoreUserData();
    platform::CriticalSectionLock guard(m_dlg.m_UserList.Lock());
    m_dlg.m_UserList.Remove(added);
    m_store.SetCount(m_store.Count() - 1);
    return false;
}

bool UserListModel::Edit(const UserRow& old, const UserFields& fields) {
    {
        platform::CriticalSectionLock guard(m_dlg.m_UserList.Lock());
        if (fields.ipAddress != old.ipAddress &&
            m_dlg.m_UserList.FindByIPAddress(fields.ipAddress) != nullptr) {
            m_prompts.Box(kBoxDuplicateIp);
            return false;
        }
        const UserRecord* record = m_dlg.m_UserList.FindByIPAddress(old.ipAddress);
        if (record == nullptr)
            return false;
        m_dlg.m_UserList.ReplaceRecord(record, fields.userName, fields.ipAddress, fields.userType,
                                       fields.userInfo);
    }
    m_store.BackupUserData();
    if (m_store.SaveUserData() != 0)
        return true;
    m_store.RestoreUserData();
    platform::CriticalSectionLock guard(m_dlg.m_UserList.Lock());
    if (const UserRecord* record = m_dlg.m_UserList.FindByIPAddress(fields.ipAddress))
        m_dlg.m_UserList.ReplaceRecord(record, old.userName, old.ipAddress,
                                       old.typeText == m_dlg.ResString(kIdsLineUser) ? 0 : 1,
                                       old.userInfo);
    return false;
}

bool UserListModel::Delete(const std::vector<std::string>& ipAddresses) {
    if (!m_prompts.Ask(kBoxConfirmDelete) || ipAddresses.empty())
        return false;
    int removed = 0;
    {
        platform::CriticalSectionLock guard(m_dlg.m_UserList.Lock());
        for (const std::string& ip : ipAddresses) {
            if (const UserRecord* record = m_dlg.m_UserList.FindByIPAddress(ip)) {
                m_dlg.m_UserList.Remove(record);
                ++removed;
            }
        }
        m_store.SetCount(m_store.Count() - removed);
    }
    if (removed == 0)
        return false;
    m_store.BackupUserData();
    if (m_store.SaveUserData() != 0)
        return true;
    m_store.RestoreUserData();
    platform::CriticalSectionLock guard(m_dlg.m_UserList.Lock());
    m_dlg.m_UserList.DeleteAll();
    m_store.LoadUserData();
    return false;
}

// --- device-map dialog ---

DeviceMapModel::DeviceMapModel(COrbManagerDlg& dlg, UserStore& store, DialogPrompts prompts)
    : m_dlg(dlg), m_store(store), m_prompts(std::move(prompts)),
      m_nSortMode(ReadSortMode(kDeviceMapSortModeName)) {}

void DeviceMapModel::SetSortMode(int mode) {
    m_nSortMode = mode;
    WriteSortMode(kDeviceMapSortModeName, mode, m_prompts);
}

std::vector<DeviceRow> DeviceMapModel::Rows() {
    std::vector<DeviceRow> rows;
    m_nMapped = 0;
    SwitchDeviceTable* table = m_dlg.m_pDeviceTable;
    if (table == nullptr)
        return rows;
    const std::string none = m_dlg.ResString(kIdsNone);
    // The device table's lock outside the user list's.
    platform::CriticalSectionLock deviceGuard(table->GetDevices().Lock());
    for (const auto& entry : table->GetDevices().Items()) {
        int kindText = 0;
        switch (entry->m_nKind) {
        case 1:
            kindText = 152;
            break;
        case 2:
            kindText = 153;
            break;
        case 12:
            kindText = 154;
            break;
        case 13:
            kindText = 155;
            break;
        default:
            continue;
        }
        DeviceRow row;
        row.deviceName = entry->m_strLineName;
        row.kindText = m_dlg.ResString(kindText);
        row.deviceId = entry->m_strDeviceId;
        row.seqNo = entry->m_nNumber;
        platform::CriticalSectionLock userGuard(m_dlg.m_UserList.Lock());
        const UserRecord* user = m_dlg.m_UserList.FindByDeviceID(entry->m_strDeviceId);
        if (user != nullptr && user->GetUserType() == 0) {
            row.hasUser = true;
            row.ipAddress = user->GetIPAddress();
            row.userName = user->GetUserName();
            row.connText = m_dlg.ResString(kIdsAssigned);
            const bool mapped = user->GetDeviceSeqNo() == entry->m_nNumber;
            row.mapText = m_dlg.ResString(mapped ? kIdsMapped : kIdsMismatch);
            m_nMapped += mapped ? 1 : 0;
        } else {
            // A user of another type on a line device shows as no user: it can't use a line.
            row.ipAddress = row.userName = row.connText = none;
            row.mapText = m_dlg.ResString(kIdsNotMapped);
        }
        rows.push_back(std::move(row));
    }
    SortRows(rows, m_nSortMode,
             [](const DeviceRow& r) -> const std::string& { return r.deviceName; });
    return rows;
}

std::vector<std::pair<int, std::string>> DeviceMapModel::Counts() const {
    // m_nDeviceCountByType: other kinds, 5, 4, 3, 13, 12, 2, 1.
    const auto count = [this](int slot) { return m_dlg.m_nDeviceCountByType[slot].load(); };
    const int lines = count(7) + count(6) + count(5) + count(4);
    return {{1048, std::to_string(count(7))},
            {1049, std::to_string(count(6))},
            {1052, std::to_string(count(5))},
            {1050, std::to_string(count(4))},
            {1054, std::to_string(count(2))},
            {1053, std::to_string(count(1))},
            {1051, std::to_string(count(3))},
            {1055, std::to_string(count(0))},
            {1043, std::to_string(lines)},
            {1057, std::to_string(m_nMapped)},
            {1044, std::to_string(lines - m_nMapped)}};
}

bool DeviceMapModel::RowHasUser(const DeviceRow& row) const {
    platform::CriticalSectionLock guard(m_dlg.m_UserList.Lock());
    return m_dlg.m_UserList.FindByIPAddress(row.ipAddress) != nullptr;
}

bool DeviceMapModel::MayMapMore() {
    if (m_nMapped < m_store.Count())
        return true;
    m_prompts.Box(kBoxAllMapped);
    return false;
}

bool DeviceMapModel::FindDevice(const std::string& deviceId, int& seqNo) const {
    SwitchDeviceTable* table = m_dlg.m_pDeviceTable;
    if (table == nullptr || deviceId.empty())
        return false;
    platform::CriticalSectionLock guard(table->GetDevices().Lock());
    const LineDeviceEntry* entry = table->GetDevices().FindByDeviceId(deviceId);
    if (entry == nullptr)
        return false;
    seqNo = entry->m_nNumber;
    return true;
}

std::vector<UserRow> DeviceMapModel::PickerRows() const {
    std::vector<UserRow> rows;
    SwitchDeviceTable* table = m_dlg.m_pDeviceTable;
    std::unique_ptr<platform::CriticalSectionLock> deviceGuard;
    if (table != nullptr)
        deviceGuard = std::make_unique<platform::CriticalSectionLock>(table->GetDevices().Lock());
    platform::CriticalSectionLock guard(m_dlg.m_UserList.Lock());
    for (const auto& record : m_dlg.m_UserList.Items()) {
        if (record->GetUserType() != 0)
            continue;
        const std::string device = record->GetDeviceID();
        const bool free =
            device == UserRecord::kNoDeviceId || table == nullptr || !IsKnownDevice(*table, device);
        if (free)
            rows.push_back(RowOf(m_dlg, *record));
    }
    SortRows(rows, ReadSortMode(kUserDataSortModeName),
             [](const UserRow& r) -> const std::string& { return r.ipAddress; });
    return rows;
}

void DeviceMapModel::AfterFailedSave() {
    m_store.RestoreUserData();
    platform::CriticalSectionLock guard(m_dlg.m_UserList.Lock());
    m_dlg.m_UserList.DeleteAll();
    m_store.LoadUserData();
}

bool DeviceMapModel::Assign(const DeviceRow& row, const std::string& chosenIp) {
    int seqNo = 0;
    if (!FindDevice(row.deviceId, seqNo))
        return false;
    {
        platform::CriticalSectionLock guard(m_dlg.m_UserList.Lock());
        UserRecord* user = m_dlg.m_UserList.FindByIPAddress(chosenIp);
        if (user == nullptr)
            return false;
        m_dlg.m_UserList.SetDevice(user, row.deviceId, seqNo);
    }
    m_store.BackupUserData();
    if (m_store.SaveUserData() != 0)
        return true;
    AfterFailedSave();
    return false;
}

bool DeviceMapModel::CanChange() {
    if (m_nMapped < m_store.Count())
        return true;
    m_prompts.Box(kBoxNoUserToChange);
    return false;
}

bool DeviceMapModel::Change(const DeviceRow& row, const std::string& chosenIp) {
    int seqNo = 0;
    if (!FindDevice(row.deviceId, seqNo))
        return false;
    {
        platform::CriticalSectionLock guard(m_dlg.m_UserList.Lock());
        UserRecord* chosen = m_dlg.m_UserList.FindByIPAddress(chosenIp);
        if (chosen == nullptr)
            return false;
        if (UserRecord* previous = m_dlg.m_UserList.FindByIPAddress(row.ipAddress))
            m_dlg.m_UserList.SetDevice(previous, UserRecord::kNoDeviceId,
                                       UserRecord::kNoDeviceSeqNo);
        m_dlg.m_UserList.SetDevice(chosen, row.deviceId, seqNo);
    }
    m_store.BackupUserData();
    if (m_store.SaveUserData() != 0)
        return true;
    // The store is back as it was; so is the list.
    AfterFailedSave();
    return false;
}

bool DeviceMapModel::UnassignRows(const std::vector<DeviceRow>& rows) {
    int changed = 0;
    {
        platform::CriticalSectionLock guard(m_dlg.m_UserList.Lock());
        for (const DeviceRow& row : rows) {
            if (!row.hasUser)
                continue;
            if (UserRecord* user = m_dlg.m_UserList.FindByIPAddress(row.ipAddress)) {
                m_dlg.m_UserList.SetDevice(user, UserRecord::kNoDeviceId,
                                           UserRecord::kNoDeviceSeqNo);
                ++changed;
            }
        }
    }
    if (changed == 0)
        return false;
    m_store.BackupUserData();
    if (m_store.SaveUserData() != 0)
        return true;
    AfterFailedSave();
    return false;
}

bool DeviceMapModel::Unassign(const std::vector<DeviceRow>& rows) {
    return m_prompts.Ask(kBoxConfirmUnassign) && UnassignRows(rows);
}

bool DeviceMapModel::UnassignAll(const std::vector<DeviceRow>& rows) {
    return m_prompts.Ask(kBoxConfirmUnassignAll) && UnassignRows(rows);
}

} // namespace shell
