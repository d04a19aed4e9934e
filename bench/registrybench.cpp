// registrybench: what a start of the link server costs the registry with many stored users.
// It writes a registry file with N stored users (and, with --big=<MB>, one large value
// elsewhere), then reads them as the server's start-up does: the options, the user count, and
// for each user its subkey and six values. Prints the CPU time of the reads.
//
//   registrybench [--users=1000] [--big=0] [--file=<path>]

#include "OptionParser.h"

#include <platform/Registry.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

constexpr const char* kOrb = "Software\\Qorvell Electronics\\OrbManager";

double CpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string RegistryText(int users, int bigMb) {
    std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + std::string(kOrb) +
                       "\\OptionValues]\r\n\"DllPath\"=\"/opt/orb\"\r\n\"Extension\"=\"ENG\"\r\n"
                       "\r\n[HKEY_LOCAL_MACHINE\\" +
                       std::string(kOrb) + "\\UserData]\r\n\"UserListCount\"=dword:";
    char count[16];
    std::snprintf(count, sizeof count, "%08x", static_cast<unsigned>(users));
    text += count;
    text += "\r\n\r\n";
    for (int i = 0; i < users; ++i) {
        const std::string n = std::to_string(i);
        text += "[HKEY_LOCAL_MACHINE\\" + std::string(kOrb) + "\\UserData\\UserData_" + n +
                "]\r\n\"UserName\"=\"user" + n + "\"\r\n\"IPAddress\"=\"10.0.0." + n +
                "\"\r\n\"UserType\"=\"0\"\r\n\"UserInfo\"=\"desk\"\r\n\"DeviceID\"=\"-1\"\r\n"
                "\"DeviceSeqNo\"=\"-1\"\r\n\r\n";
    }
    if (bigMb > 0) {
        text += "[HKEY_LOCAL_MACHINE\\Software\\Elsewhere]\r\n\"Big\"=\"" +
                std::string(static_cast<size_t>(bigMb) << 20, 'x') + "\"\r\n\r\n";
    }
    return text;
}

} // namespace

int main(int argc, char** argv) {
    int users = 1000;
    int bigMb = 0;
    std::string file = "/tmp/registrybench-" + std::to_string(::getpid()) + ".reg";
    bench::OptionParser parser("registrybench",
                               "The registry reads of a server start with many stored users.");
    parser.Int("--users=<n>", users, 0, 1000000, "stored users");
    parser.Int("--big=<MB>", bigMb, 0, 1024, "one large value elsewhere in the registry");
    parser.Text("--file=<path>", file, "the registry file written and read");
    if (const std::optional<int> exit = bench::ParseCommandLine(parser, argc, argv))
        return *exit;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << RegistryText(users, bigMb);
    ::setenv("QORVELL_REGISTRY", file.c_str(), 1);

    using platform::RegKey;
    using platform::RegRoot;
    using platform::RegStatus;
    const double start = CpuSeconds();
    int loaded = 0;
    RegKey options;
    std::string text;
    if (RegKey::Open(RegRoot::LocalMachine, std::string(kOrb) + "\\OptionValues", options) ==
        RegStatus::Ok) {
        options.QueryString("DllPath", text);
        options.QueryString("Extension", text);
    }
    RegKey store;
    uint32_t count = 0;
    if (RegKey::Open(RegRoot::LocalMachine, std::string(kOrb) + "\\UserData", store) ==
            RegStatus::Ok &&
        store.QueryDword("UserListCount", count) == RegStatus::Ok) {
        for (uint32_t i = 0; i < count; ++i) {
            RegKey sub;
            if (store.OpenSub("UserData_" + std::to_string(i), sub) != RegStatus::Ok)
                break;
            bool all = true;
            for (const char* name :
                 {"UserName", "IPAddress", "UserType", "UserInfo", "DeviceID", "DeviceSeqNo"})
                all = sub.QueryString(name, text) == RegStatus::Ok && all;
            loaded += all ? 1 : 0;
        }
    }
    const double seconds = CpuSeconds() - start;
    std::printf("users %d (loaded %d), large value %d MB: %.3f s CPU for the start-up reads\n",
                users, loaded, bigMb, seconds);
    ::unlink(file.c_str());
    return loaded == users ? 0 : 1;
}
