#pragma once

#include "DialogPrompts.h"

#include <optional>
#include <string>
#include <vector>

namespace engine {
class COrbManagerDlg;
}

namespace shell {

class UserStore;

// Control ids of the user dialogs that their logic names.
enum UserDialogControlId : int {
    kIdcUserEditIp = 1025,
    kIdcUserEditName = 1024,
    kIdcUserAddIp = 1027,
    kIdcUserAddName = 1026,
    kIdcAssign = 1045,
    kIdcChange = 1046,
    kIdcUnassign = 1047,
    kIdcUnassignAll = 1058,
};

// Sort modes of the user lists: 0 (and any unknown number) insertion order, 1 ascending and 2
// descending by the first column's text.
inline constexpr const char* kUserDataSortModeName = "UserDataSortMode";
inline constexpr const char* kDeviceMapSortModeName = "DeviceMapSortMode";
// The stored mode; 0 when the value or the key is missing.
int ReadSortMode(const char* name);
// False with box 117 when the root key can't be opened.
bool WriteSortMode(const char* name, int mode, const DialogPrompts& prompts);
bool FirstColumnLess(const std::string& a, const std::string& b);

// The fields of the add and edit dialogs.
struct UserFields {
    std::string ipAddress, userName, userInfo;
    int userType = 0; // type list index: 0 line user, 1 other
};
// The add and edit dialogs' check on OK: the box and the field that takes the focus, or nothing.
// Name and information are cut to the 99 characters the store keeps.
struct FieldCheckFailure {
    int box;
    bool ipField; // else the name field
};
std::optional<FieldCheckFailure> CheckUserFields(UserFields& fields);

struct UserRow {
    std::string ipAddress, userName, typeText, userInfo;
    int userType = 0;
};

// The user list dialog (add, edit, delete) over the user list and its store.
class UserListModel {
public:
    UserListModel(engine::COrbManagerDlg& dlg, UserStore& store, DialogPrompts prompts);

    int SortMode() const { return m_nSortMode; }
    // Applies the mode and stores it.
    void SetSortMode(int mode);
    std::vector<UserRow> Rows() const;
    std::string CountText() const;

    // Each returns true when the store was changed. A duplicate address shows box 113.
    bool Add(const UserFields& fields);
    bool Edit(const UserRow& old, const UserFields& fields);
    // Asks box 120 first; the users of the given addresses go.
    bool Delete(const std::vector<std::string>& ipAddresses);

private:
    engine::COrbManagerDlg& m_dlg;
    UserStore& m_store;
    DialogPrompts m_prompts;
    int m_nSortMode = 0;
};

struct DeviceRow {
    std::string deviceName, kindText, ipAddress, userName, connText, mapText;
    std::string deviceId;
    int seqNo = 0;
    bool hasUser = false;
};

// The device-map dialog: switch devices of the line kinds with the users they are assigned to.
class DeviceMapModel {
public:
    DeviceMapModel(engine::COrbManagerDlg& dlg, UserStore& store, DialogPrompts prompts);

    int SortMode() const { return m_nSortMode; }
    void SetSortMode(int mode);
    // Fills the rows and recounts the mapped devices.
    std::vector<DeviceRow> Rows();
    int MappedCount() const { return m_nMapped; }
    // Controls 1048, 1049, 1052, 1050, 1054, 1053, 1051, 1055, 1043, 1057, 1044 with their "%d".
    std::vector<std::pair<int, std::string>> Counts() const;

    // A row's user, when the row's address names one.
    bool RowHasUser(const DeviceRow& row) const;
    // Double click: false with box 174 when every stored user already has a device.
    bool MayMapMore();

    // Picker: the line users without a device of the table.
    std::vector<UserRow> PickerRows() const;

    // Each returns true when the store was changed.
    bool Assign(const DeviceRow& row, const std::string& chosenIp);
    // Box 205 (nothing done) when no user is left without a device.
    bool CanChange();
    bool Change(const DeviceRow& row, const std::string& chosenIp);
    // Asks box 170 (171 for all of them) first.
    bool Unassign(const std::vector<DeviceRow>& rows);
    bool UnassignAll(const std::vector<DeviceRow>& rows);

private:
    bool UnassignRows(const std::vector<DeviceRow>& rows);
    // The device's sequence number by ID; false when the table no longer has it.
    bool FindDevice(const std::string& deviceId, int& seqNo) const;
    void AfterFailedSave();

    engine::COrbManagerDlg& m_dlg;
    UserStore& m_store;
    DialogPrompts m_prompts;
    int m_nSortMode = 0;
    int m_nMapped = 0;
};

} // namespace shell
