// The simulated client's reception: what the link server sends after the login, in deliveries
// as the input cuts them, through the record cutting, the log box and the event counters of a
// running client. A fresh connection and run per input, so nothing carries over.
//
// Input: parts of a two-byte header and the delivered bytes.

#include "FuzzApp.h"
#include "FuzzCheck.h"

#include <clientsim/ClientRunController.h>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Rig {
    Rig() {
        fuzzrig::App();
        // The client keeps its settings in the registry: a file of our own.
        std::string folder = (std::filesystem::temp_directory_path() / "fuzzclientXXXXXX").string();
        FUZZ_CHECK(::mkdtemp(folder.data()) != nullptr);
        registryFolder = folder;
        ::setenv("QORVELL_REGISTRY", (registryFolder / "registry.reg").c_str(), 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(registryFolder, ignored);
        });
        FUZZ_CHECK(server.listen(QHostAddress::LocalHost, 0));
        client.Form_Load();
        client.SetSecondLength(100000000); // the run and call timers never come round
        client.ConnPortNo_Change(std::to_string(server.serverPort()));
    }

    static inline std::filesystem::path registryFolder;
    QTcpServer server;
    ClientRunController client;
};

Rig& TheRig() {
    static Rig* rig = new Rig;
    return *rig;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Rig& rig = TheRig();
    ClientRunController& client = rig.client;
    client.cmdReset_Click();
    client.Start_Click();
    FUZZ_CHECK(fuzzrig::RunUntil([&] { return rig.server.hasPendingConnections(); }));
    QTcpSocket* peer = rig.server.nextPendingConnection();
    FUZZ_CHECK(fuzzrig::RunUntil([&] { return client.Socket().IsConnected(); }));
    FUZZ_CHECK(client.ReceiveBuffered() == 0);

    fuzzrig::ForEachPart(data, size, 1024, [&](bool, const std::uint8_t* bytes, std::size_t n) {
        client.MyWinSock_DataArrival(std::vector<std::uint8_t>(bytes, bytes + n));
        // At most one incomplete record is held.
        FUZZ_CHECK(client.ReceiveBuffered() < 2 + ClientRunController::kMaxRecordLength);
        FUZZ_CHECK(client.State().txtRecvData.text.size() <= ClientRunController::kLogLimit + 4096);
        return client.Socket().IsConnected();
    });

    client.Disconnect_Click();
    peer->abort();
    peer->deleteLater();
    fuzzrig::RunDeferredDeletes();
    return 0;
}
