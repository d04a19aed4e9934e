// Feeds the monitors for a look at them: writes the settings of a link server and of both
// monitors into the registry ($QORVELL_REGISTRY), then plays the server's switch (device
// download, keep-alive answers, a stream of SMDR and UCD records and call events) and one client
// that makes calls through the server, so the switch-message monitor sees both directions.
//
//   monitorfeed --dir=<folder> --brovik=<path of Brovik> [--seconds=<n>]
//
// Ends after the given time (default 60 s) or on SIGINT/SIGTERM.

#include <testsupport/DownloadingSwitch.h>
#include <testsupport/LoopbackPorts.h>
#include <testsupport/ServerSettings.h>

#include <platform/ProgramInfo.h>
#include <platform/Registry.h>
#include <protocol/ClientRequestFrames.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

volatile std::sig_atomic_t g_stop = 0;

std::vector<std::uint8_t> TextRecord(char kind, const std::string& text) {
    std::vector<std::uint8_t> body(9 + text.size(), 0xFF);
    body[0] = static_cast<std::uint8_t>(kind);
    body[7] = 0;
    body[8] = static_cast<std::uint8_t>(text.size());
    std::memcpy(body.data() + 9, text.data(), text.size());
    return body;
}

bool WriteMonitorKey(const std::string& key, const std::string& dir, int port, bool smdr) {
    platform::RegKey k;
    if (platform::RegKey::Create(platform::RegRoot::LocalMachine, key, k) !=
        platform::RegStatus::Ok)
        return false;
    k.SetString("DllPath", MONITOR_LIBRARY_DIR);
    k.SetString("Extension", "ENG");
    k.SetString("InstalledPath", dir);
    k.SetString("Monitor Server IP Address", "127.0.0.1");
    k.SetDword("Monitor Server Port No", static_cast<std::uint32_t>(port));
    k.SetString("MonitorPassCode", "507193");
    k.SetDword(smdr ? "UseSMDRFileSave" : "UseFileSave", 1);
    if (smdr)
        k.SetDword("UseUCDFileSave", 1);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (platform::AnswerInfoOptions(
            {"monitorfeed",
             "Plays the link server's switch and one client so that the monitors have records.",
             "  --dir=<folder>        folder of its registry and the server's files\n"
             "  --brovik=<program>    the link server to start\n"
             "  --seconds=<n>         how long to feed (default 60)\n",
             0},
            argc, argv))
        return 0;
    std::string dir, brovik;
    int seconds = 60;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--dir=", 6) == 0)
            dir = argv[i] + 6;
        else if (std::strncmp(argv[i], "--brovik=", 9) == 0)
            brovik = argv[i] + 9;
        else if (std::strncmp(argv[i], "--seconds=", 10) == 0)
            seconds = std::atoi(argv[i] + 10);
    }
    if (dir.empty() || brovik.empty()) {
        std::fprintf(stderr, "usage: monitorfeed --dir=<folder> --brovik=<Brovik> [--seconds=n]\n");
        return 2;
    }
    std::signal(SIGINT, [](int) { g_stop = 1; });
    std::signal(SIGTERM, [](int) { g_stop = 1; });

    testsupport::DownloadingSwitch sw;
    const int clientPort = testsupport::FreeListenPortPair();
    const int msgPort = testsupport::FreeListenPortPair();
    const int smdrPort = testsupport::FreeListenPortPair();
    testsupport::ServerSettings settings =
        testsupport::ServerSettingsFor(dir, sw.Host(), sw.Port(), clientPort, brovik);
    settings.msgMonitorPort = msgPort;
    settings.smdrMonitorPort = smdrPort;
    settings.monitorAccessCode = "507193";
    if (!sw.IsListening() || clientPort <= 0 || !testsupport::WriteServerSettings(settings))
        return 1;
    if (!WriteMonitorKey("Software\\Qorvell Electronics\\smdrwatch", dir, smdrPort, true) ||
        !WriteMonitorKey("Software\\Qorvell Electronics\\OrbMonitor", dir, msgPort, false))
        return 1;
    std::printf("monitorfeed: switch on %d, monitors on %d and %d\n", sw.Port(), msgPort, smdrPort);
    std::fflush(stdout);

    int client = -1;
    for (int tick = 0; !g_stop && tick < seconds * 2; ++tick) {
        ::usleep(500 * 1000);
        if (sw.Downloads() == 0)
            continue;
        if (client < 0 && (client = testsupport::ConnectLoopback(clientPort)) >= 0) {
            const auto login = protocol::ClientRequestFrames::LoginRequest(3);
            [[maybe_unused]] ssize_t n = ::send(client, login.data(), login.size(), MSG_NOSIGNAL);
        }
        if (client >= 0) {
            // Whatever the server sends the client is of no interest here.
            std::uint8_t sink[4096];
            while (::recv(client, sink, sizeof sink, MSG_DONTWAIT) > 0) {
            }
            if (tick % 3 == 0) {
                const auto call =
                    protocol::ClientRequestFrames::MakeCallRequest(201, 202 + tick % 2, 3);
                [[maybe_unused]] ssize_t n = ::send(client, call.data(), call.size(), MSG_NOSIGNAL);
            }
        }
        char line[96];
        const int station = 2001 + tick % 7;
        std::snprintf(line, sizeof line, "%02d/%02d %02d:%02d %4d  T%03d  0%09d  00:%02d:%02d", 12,
                      9, 5, tick % 60, station, 1 + tick % 8, 315550000 + tick * 7919, tick % 5,
                      (tick * 13) % 60);
        sw.Switch().SendRecord(TextRecord('Z', line));
        if (tick % 2 == 0) {
            std::snprintf(line, sizeof line, "UCD GRP %d  CALLS WAITING %d  LONGEST 00:%02d",
                          1 + tick % 3, tick % 4, (tick * 7) % 60);
            sw.Switch().SendRecord(TextRecord('U', line));
        }
        sw.Switch().SendRecord({'D', 0xFF, 0xFF, 2, 0, static_cast<std::uint8_t>(1 + tick % 3),
                                0xFF, 0, 7, 0, 0, static_cast<std::uint8_t>(1 + tick % 9), 0xFF,
                                0xFF, 0xFF, 0xFF});
    }
    if (client >= 0)
        ::close(client);
    return 0;
}
