// The serial link's frame reader: the input is what the switch puts on the line (frames, line
// bytes, noise), written to the master side of a pty whose slave is the server's COM1, read by
// the real reader thread of a fresh link queue. The reader's answers are drained and dropped.

#include "FuzzCheck.h"
#include "LinkQueue.h"

#include <engine/LinkState.h>
#include <engine/OrbIOQueue.h>
#include <engine/OrbManagerDlg.h>
#include <engine/SerialPort.h>
#include <engine/TraceSettings.h>

#include <platform/Registry.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace engine;

namespace {

using Clock = std::chrono::steady_clock;

struct Rig {
    Rig() {
        g_nDebugMsgPrint = std::getenv("FUZZ_TRACE") ? 2 : 0; // traces on for a look at one input
        // The COM map lives in the registry: a file of our own, never the machine's.
        std::string folder = (std::filesystem::temp_directory_path() / "fuzzserialXXXXXX").string();
        FUZZ_CHECK(::mkdtemp(folder.data()) != nullptr);
        registryFolder = folder;
        ::setenv("QORVELL_REGISTRY", (registryFolder / "registry.reg").c_str(), 1);

        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        FUZZ_CHECK(master >= 0);
        FUZZ_CHECK(::grantpt(master) == 0 && ::unlockpt(master) == 0);
        char name[128] = {};
        FUZZ_CHECK(::ptsname_r(master, name, sizeof name) == 0);
        // Held open first (the port takes the line exclusively), to see the unread input.
        slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        FUZZ_CHECK(slave >= 0);
        termios raw{};
        FUZZ_CHECK(::tcgetattr(slave, &raw) == 0);
        ::cfmakeraw(&raw);
        FUZZ_CHECK(::tcsetattr(slave, TCSANOW, &raw) == 0);

        platform::RegKey map;
        FUZZ_CHECK(platform::RegKey::Create(platform::RegRoot::LocalMachine,
                                            "HARDWARE\\DEVICEMAP\\SERIALCOMM",
                                            map) == platform::RegStatus::Ok);
        FUZZ_CHECK(map.SetString(name, "COM1") == platform::RegStatus::Ok);

        SerialTimeouts timeouts;
        timeouts.readConstantMs = 50;
        timeouts.writeConstantMs = 200;
        port = std::make_unique<SerialPort>(timeouts);
        FUZZ_CHECK(port->Open(1) == 1);

        dlg.m_nConnType = kConnTypeDirectSerial;
        dlg.m_timings.enqAckWaitMs = 50;
        dlg.m_timings.frameAckWaitMs = 50;
        dlg.m_timings.badCheckPauseMs = 0;
        dlg.m_timings.serialLinkDownPollMs = 5;
        dlg.m_pSerialPort = port.get();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(registryFolder, ignored);
        });
    }

    void DrainMaster() const {
        std::uint8_t buffer[1024];
        while (::read(master, buffer, sizeof buffer) > 0) {
        }
    }
    int Unread() const {
        int n = 0;
        return ::ioctl(slave, FIONREAD, &n) == 0 ? n : 0;
    }

    static inline std::filesystem::path registryFolder;
    int master = -1;
    int slave = -1;
    std::unique_ptr<SerialPort> port;
    COrbManagerDlg dlg;
};

Rig& TheRig() {
    static Rig* rig = new Rig;
    return *rig;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Rig& rig = TheRig();
    rig.port->Purge(kPurgeRx | kPurgeTx);
    rig.DrainMaster();

    auto queue = fuzzrig::StartLinkQueue(rig.dlg);

    const auto deadline = Clock::now() + std::chrono::seconds(5);
    std::size_t sent = 0;
    while (sent < size && Clock::now() < deadline) {
        const ssize_t n = ::write(rig.master, data + sent, size - sent);
        if (n > 0)
            sent += static_cast<std::size_t>(n);
        else
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        rig.DrainMaster();
    }
    // Until the line has been read to its end (the tty moves bytes on a little later, so the
    // queue must stay empty for a few looks).
    for (int quiet = 0; quiet < 3 && Clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        rig.DrainMaster();
        quiet = rig.Unread() == 0 ? quiet + 1 : 0;
    }

    queue->IOQueueClose();
    FUZZ_CHECK(queue->JoinThreads(5000));
    rig.dlg.m_pIOQueue = nullptr;
    queue.reset();
    ResetLinkState();
    return 0;
}
