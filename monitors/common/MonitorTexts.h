#pragma once

// String ids of the monitors' language libraries.
enum MonitorStringId : unsigned {
    kStrAbout = 101,
    kStrSocketInitFailed = 103,
    kStrTimeColumn = 104,
    kStrMessageColumn = 105,
    kStrServerClosed = 106,
    kStrConnected = 107,
    kStrDisconnected = 108,
    kStrConnectFailed = 109,
    kStrSettingsReadFailed = 111,
    kStrOn = 112,
    kStrOff = 113,
    kStrBadAutoClear = 114,
    kStrBadFileName = 115,
    kStrSettingsSaveFailed = 116,
    kStrQuitQuestion = 117,
    kStrLogFailed = 119,
    kStrInstanceCheckFailed = 123,
    kStrAlreadyRunning = 124,
    kStrBadAddress = 125,
    kStrBadPort = 126,
    kStrLanguageChanged = 130,
    kStrBadPassCode = 131,
};

// Control ids of the main and configuration dialogs.
enum MonitorControlId : int {
    kIdOk = 1,
    kIdCancel = 2,
    kIdList = 1000,
    kIdConfig = 1002,
    kIdStart = 1003,
    kIdStop = 1004,
    kIdCfgAddress = 1006,
    kIdCfgPort = 1007,
    kIdCfgPassCode = 1008,
    kIdAddressField = 1008,
    kIdPortField = 1009,
    kIdLinkField = 1010,
    kIdCfgAutoClear = 1011,
    kIdCfgAutoClearCount = 1012,
    kIdCfgFileSave = 1013,
    kIdCfgFileName = 1014,
    kIdAutoClearField = 1015,
    kIdFileSaveField = 1016,
    kIdClear = 1017,
    kIdCfgUcdFileSave = 1018,
    kIdCfgUcdFileName = 1019,
    kIdUcdList = 1020,
    kIdUcdFileSaveField = 1021,
    kIdClearUcd = 1023,
    kIdCfgSmdrLanguage = 1024,
    kIdCfgSwitchLanguage = 1018,
};

// Dialog ids.
enum MonitorDialogId : unsigned { kDlgAbout = 100, kDlgMain = 102, kDlgConfig = 129 };
