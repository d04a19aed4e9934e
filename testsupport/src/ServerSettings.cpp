#include <testsupport/ServerSettings.h>

#include <platform/Registry.h>

namespace testsupport {

using platform::RegKey;
using platform::RegRoot;
using platform::RegStatus;

bool WriteLinkSettings(const std::string& switchHost, int switchPort, int clientPort) {
    RegKey conn;
    if (RegKey::Create(RegRoot::LocalMachine, kConnEnvKey, conn) != RegStatus::Ok)
        return false;
    bool ok = true;
    const auto dword = [&](const char* name, std::uint32_t value) {
        ok = ok && conn.SetDword(name, value) == RegStatus::Ok;
    };
    dword("ConnType", 2);
    dword("SwitchType", 0);
    ok = ok && conn.SetString("IP Address", switchHost) == RegStatus::Ok;
    dword("Port No", static_cast<std::uint32_t>(switchPort));
    dword("Listen Port No", static_cast<std::uint32_t>(clientPort));
    dword("CommPort", 1);
    dword("BaudRate", 9600);
    dword("ByteSize", 8);
    dword("StopBits", 1);
    return ok;
}

bool WriteServerSettings(const ServerSettings& settings) {
    std::error_code error;
    std::filesystem::copy_file(settings.languageLibrary,
                               settings.dir / settings.languageLibrary.filename(),
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error)
        return false;
    RegKey root, options;
    if (RegKey::Create(RegRoot::LocalMachine, kServerKey, root) != RegStatus::Ok ||
        RegKey::Create(RegRoot::LocalMachine, kOptionsKey, options) != RegStatus::Ok)
        return false;
    bool ok = root.SetString("OrbPath", settings.dir.string()) == RegStatus::Ok &&
              WriteLinkSettings(settings.switchHost, settings.switchPort, settings.clientPort);
    const auto dword = [&](const char* name, std::uint32_t value) {
        ok = ok && options.SetDword(name, value) == RegStatus::Ok;
    };
    dword("UseSystemServiceMode", 1);
    dword("UseAutoConnect", 1);
    if (settings.userManager)
        dword("UseUserManager", *settings.userManager);
    if (settings.debugPrint)
        dword("UseDebugMsgPrint", *settings.debugPrint);
    const auto listener = [&](const char* use, const char* portName, int port) {
        if (port > 0) {
            dword(use, 1);
            dword(portName, static_cast<std::uint32_t>(port));
        }
    };
    listener("UseMsgMonitor", "MsgMonitorListenPortNo", settings.msgMonitorPort);
    listener("UseSMDRUCDMonitor", "SMDRUCDMonitorListenPortNo", settings.smdrMonitorPort);
    listener("UseSMDRUCDSend", "SMDRUCDSendListenPortNo", settings.smdrSendPort);
    if (!settings.monitorAccessCode.empty())
        ok = ok &&
             options.SetString("MonitorAccessCode", settings.monitorAccessCode) == RegStatus::Ok;
    ok = ok && options.SetString("DllPath", settings.dir.string()) == RegStatus::Ok;
    ok = ok && options.SetString("Extension", "ENG") == RegStatus::Ok;
    return ok;
}

ServerSettings ServerSettingsFor(const std::filesystem::path& dir, const std::string& switchHost,
                                 int switchPort, int clientPort,
                                 const std::filesystem::path& serverProgram) {
    ServerSettings settings;
    settings.dir = dir;
    settings.switchHost = switchHost;
    settings.switchPort = switchPort;
    settings.clientPort = clientPort;
    settings.languageLibrary = serverProgram.parent_path() / "ResDLLEN.so";
    return settings;
}

bool WriteServerSettings(const std::filesystem::path& dir, const std::string& switchHost,
                         int switchPort, int clientPort,
                         const std::filesystem::path& serverProgram) {
    return WriteServerSettings(
        ServerSettingsFor(dir, switchHost, switchPort, clientPort, serverProgram));
}

} // namespace testsupport
