#pragma once

// Test support: the registry and folder a link server started by a test reads: a TCP link to the
// given switch port, the client ports at clientPort and + 500, service mode and auto-connect on,
// and the English language library copied from the server's build folder into `dir` (DllPath,
// which also takes the trace log).

#include "platform/Registry.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace platform::test {

inline bool WriteServerSettings(const std::filesystem::path& dir, const std::string& switchHost,
                                int switchPort, int clientPort,
                                const std::filesystem::path& serverProgram) {
    std::error_code error;
    std::filesystem::copy_file(serverProgram.parent_path() / "ResDLLEN.so", dir / "ResDLLEN.so",
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error)
        return false;
    const std::string base = "Software\\Qorvell Electronics\\OrbManager";
    RegKey root, conn, options;
    if (RegKey::Create(RegRoot::LocalMachine, base, root) != RegStatus::Ok ||
        RegKey::Create(RegRoot::LocalMachine, base + "\\ConnEnv", conn) != RegStatus::Ok ||
        RegKey::Create(RegRoot::LocalMachine, base + "\\OptionValues", options) != RegStatus::Ok)
        return false;
    bool ok = root.SetString("OrbPath", dir.string()) == RegStatus::Ok;
    const auto dword = [&](RegKey& key, const char* name, std::uint32_t value) {
        ok = ok && key.SetDword(name, value) == RegStatus::Ok;
    };
    dword(conn, "ConnType", 2);
    dword(conn, "SwitchType", 0);
    ok = ok && conn.SetString("IP Address", switchHost) == RegStatus::Ok;
    dword(conn, "Port No", static_cast<std::uint32_t>(switchPort));
    dword(conn, "Listen Port No", static_cast<std::uint32_t>(clientPort));
    dword(conn, "CommPort", 1);
    dword(conn, "BaudRate", 9600);
    dword(conn, "ByteSize", 8);
    dword(conn, "StopBits", 1);
    dword(options, "UseSystemServiceMode", 1);
    dword(options, "UseAutoConnect", 1);
    ok = ok && options.SetString("DllPath", dir.string()) == RegStatus::Ok;
    ok = ok && options.SetString("Extension", "ENG") == RegStatus::Ok;
    return ok;
}

} // namespace platform::test
