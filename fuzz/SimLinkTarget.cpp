// The simulated switch's request side: what a link server sends, arriving in parts as the input
// cuts it, through the link's record cutting and request dispatch into the call-control handlers
// over a fresh switch database. A fresh connection per input, so nothing carries over.
//
// Input: byte 0 bit 0 picks 3- or 4-digit numbers; then parts of a two-byte header and the
// arriving bytes.

#include "FuzzApp.h"
#include "FuzzCheck.h"

#include <switchsim/SimLink.h>
#include <switchsim/SimSwitchDatabase.h>
#include <switchsim/SimTrace.h>
#include <switchsim/SwitchSimSettings.h>

#include <QCoreApplication>

#include <cstdint>
#include <memory>

namespace {

using fuzzrig::RunUntil;

struct Rig {
    Rig() {
        fuzzrig::App();
        settings.running = -1;
        settings.listenPort = 0;
        settings.stnCount = 8;
        settings.trkCount = 2;
        settings.deviceCount = 10;
        trace.SetEnabled(true);
        trace.SetLogSink([](const std::string&) {});
        link = std::make_unique<SimLink>(settings, database, trace);
        FUZZ_CHECK(link->StartListening());
        // Listen again on the same port after a link ends.
        settings.listenPort = link->ListeningPort();
    }

    SwitchSimSettings settings;
    SimSwitchDatabase database;
    SimTrace trace;
    std::unique_ptr<SimLink> link;
};

Rig& TheRig() {
    static Rig* rig = new Rig;
    return *rig;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    Rig& rig = TheRig();
    SimLink& link = *rig.link;
    rig.settings.telNoSize = (data[0] & 1) ? 3 : 4;
    rig.database.BuildSwitchDatabase(rig.settings);
    rig.trace.Clear();

    FUZZ_CHECK(RunUntil([&] { return link.State() == SimLink::StateListening; }));
    const int peer = fuzzrig::ConnectPeer(link.ListeningPort());
    if (peer < 0)
        return 0; // no local port free for a moment: the machine's limit, not a finding
    FUZZ_CHECK(RunUntil([&] { return link.State() == SimLink::StateConnected; }));

    fuzzrig::ForEachPart(data + 1, size - 1, 1024,
                         [&](bool, const std::uint8_t* bytes, std::size_t count) {
                             link.DataArrival(bytes, count);
                             fuzzrig::Drain(peer);
                             // A link-off request ends the connection: the rest is not heard.
                             return link.State() == SimLink::StateConnected;
                         });
    FUZZ_CHECK(rig.trace.Text().size() <= 4096);

    fuzzrig::ClosePeer(peer);
    FUZZ_CHECK(RunUntil([&] { return link.State() == SimLink::StateListening; }));
    fuzzrig::RunDeferredDeletes();
    return 0;
}
