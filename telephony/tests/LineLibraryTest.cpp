#include <telephony/testing/TelephonyTestEnv.h>
#include <testsupport/TestApp.h>

#include <telephony/Tapi.h>
#include <telephony/TapiModule.h>

#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using telephony::test::TelephonyTestEnv;
using telephony::test::TestProviderSettings;

struct Reply {
    DWORD message;
    uintptr_t request;
    int32_t result;
    QThread* thread;
};
std::vector<Reply> replies;

void Callback(DWORD, DWORD message, uintptr_t, uintptr_t p1, uintptr_t p2, uintptr_t) {
    replies.push_back({message, p1, static_cast<int32_t>(p2), QThread::currentThread()});
}

// The library's functions, bound by name as the programs bind them.
class LineLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        replies.clear();
        ASSERT_TRUE(tapi.Load(telephony::test::kTapiLibrary)) << tapi.ErrorText();
    }
    void TearDown() override {
        if (app != 0) {
            Fn<PFN_lineShutdown>("lineShutdown")(app);
        }
    }
    template <class F> F Fn(const char* name) {
        F f = tapi.Function<F>(name);
        EXPECT_NE(f, nullptr) << name;
        return f;
    }
    DWORD Start() {
        DWORD devices = 0;
        DWORD version = 0x00020000;
        LINEINITIALIZEEXPARAMS params{};
        params.dwTotalSize = sizeof params;
        params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
        EXPECT_EQ(Fn<PFN_lineInitializeExA>("lineInitializeExA")(&app, nullptr, &Callback, "test",
                                                                 &devices, &version, &params),
                  0);
        return devices;
    }
    HLINE Open(DWORD device) {
        HLINE line = 0;
        EXPECT_EQ(Fn<PFN_lineOpenA>("lineOpenA")(app, device, &line, 0x00020000, 0, 1,
                                                 LINECALLPRIVILEGE_MONITOR,
                                                 LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
                  0);
        return line;
    }

    TelephonyTestEnv env;
    telephony::TapiModule tapi;
    HLINEAPP app = 0;
};

std::string StringAt(const void* base, DWORD size, DWORD offset) {
    return size == 0 ? std::string()
                     : std::string(static_cast<const char*>(base) + offset, size - 1);
}

TEST_F(LineLibraryTest, CapabilityStructuresFollowTheGrowthRules) {
    env.InstallProvider("lynxtsp32.tsp", TestProviderSettings().Lines("  Line 201 "));
    ASSERT_EQ(env.Register("lynxtsp32.tsp"), 0);
    ASSERT_EQ(Start(), 1u);
    auto getDevCaps = Fn<PFN_lineGetDevCaps>("lineGetDevCapsA");

    std::vector<unsigned char> buffer(sizeof(LINEDEVCAPS) - 4);
    auto* caps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    caps->dwTotalSize = static_cast<DWORD>(buffer.size());
    EXPECT_EQ(getDevCaps(app, 0, 0x00020000, 0, caps), LINEERR_STRUCTURETOOSMALL);

    // The fixed part fits, the strings do not: nothing of them is written, the need is told.
    buffer.assign(sizeof(LINEDEVCAPS) + 8, 0xEE);
    caps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    caps->dwTotalSize = static_cast<DWORD>(buffer.size());
    ASSERT_EQ(getDevCaps(app, 0, 0x00020000, 0, caps), 0);
    EXPECT_EQ(caps->dwUsedSize, sizeof(LINEDEVCAPS));
    EXPECT_EQ(caps->dwNeededSize, sizeof(LINEDEVCAPS) + telephony::test::kMakerProviderInfo.size() +
                                      1 + std::string("Test line 0").size() + 1);
    EXPECT_EQ(caps->dwProviderInfoSize, 0u);
    EXPECT_EQ(caps->dwNumAddresses, 1u);
    EXPECT_EQ(buffer.back(), 0xEE);

    const DWORD needed = caps->dwNeededSize;
    buffer.assign(needed, 0);
    caps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
    caps->dwTotalSize = needed;
    ASSERT_EQ(getDevCaps(app, 0, 0x00020000, 0, caps), 0);
    EXPECT_EQ(caps->dwUsedSize, needed);
    EXPECT_EQ(StringAt(caps, caps->dwProviderInfoSize, caps->dwProviderInfoOffset),
              telephony::test::kMakerProviderInfo);
    EXPECT_LE(caps->dwLineNameOffset + caps->dwLineNameSize, needed);

    auto getAddressCaps = Fn<PFN_lineGetAddressCapsA>("lineGetAddressCapsA");
    std::vector<unsigned char> address(sizeof(LINEADDRESSCAPS) + 64, 0);
    auto* addressCaps = reinterpret_cast<LINEADDRESSCAPS*>(address.data());
    addressCaps->dwTotalSize = static_cast<DWORD>(address.size());
    ASSERT_EQ(getAddressCaps(app, 0, 0, 0x00020000, 0, addressCaps), 0);
    EXPECT_EQ(StringAt(addressCaps, addressCaps->dwAddressSize, addressCaps->dwAddressOffset),
              "  Line 201 ");
    EXPECT_EQ(getAddressCaps(app, 0, 1, 0x00020000, 0, addressCaps), LINEERR_INVALADDRESSID);
    EXPECT_EQ(getAddressCaps(app, 1, 0, 0x00020000, 0, addressCaps), LINEERR_BADDEVICEID);
}

TEST_F(LineLibraryTest, ProvidersAreRegisteredByFileNameOnce) {
    env.InstallProvider("lynxtsp32.tsp");
    env.InstallProvider("other.tsp");
    DWORD first = 0;
    DWORD second = 0;
    ASSERT_EQ(env.Register("lynxtsp32.tsp", &first), 0);
    ASSERT_EQ(env.Register(env.TelephonyDir() + "/other.tsp", &second), 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(env.Register("LYNXTSP32.TSP"), LINEERR_NOMULTIPLEINSTANCE);
    EXPECT_EQ(env.Register("missing.tsp"), LINEERR_NODRIVER);

    auto getList = Fn<PFN_lineGetProviderList>("lineGetProviderList");
    LINEPROVIDERLIST small{};
    small.dwTotalSize = sizeof small;
    ASSERT_EQ(getList(0x00020000, &small), 0);
    EXPECT_EQ(small.dwUsedSize, sizeof small);
    EXPECT_EQ(small.dwNumProviders, 0u);
    ASSERT_GT(small.dwNeededSize, sizeof small);

    std::vector<unsigned char> buffer(small.dwNeededSize, 0);
    auto* list = reinterpret_cast<LINEPROVIDERLIST*>(buffer.data());
    list->dwTotalSize = small.dwNeededSize;
    ASSERT_EQ(getList(0x00020000, list), 0);
    ASSERT_EQ(list->dwNumProviders, 2u);
    ASSERT_EQ(list->dwProviderListSize, 2 * sizeof(LINEPROVIDERENTRY));
    const auto* entries =
        reinterpret_cast<const LINEPROVIDERENTRY*>(buffer.data() + list->dwProviderListOffset);
    EXPECT_EQ(entries[0].dwPermanentProviderID, first);
    EXPECT_EQ(
        StringAt(list, entries[0].dwProviderFilenameSize, entries[0].dwProviderFilenameOffset),
        "lynxtsp32.tsp");
    EXPECT_EQ(
        StringAt(list, entries[1].dwProviderFilenameSize, entries[1].dwProviderFilenameOffset),
        env.TelephonyDir() + "/other.tsp");

    auto remove = Fn<PFN_lineRemoveProvider>("lineRemoveProvider");
    EXPECT_EQ(remove(first, nullptr), 0);
    EXPECT_EQ(remove(first, nullptr), LINEERR_INVALPARAM);
    list->dwTotalSize = small.dwNeededSize;
    ASSERT_EQ(getList(0x00020000, list), 0);
    EXPECT_EQ(list->dwNumProviders, 1u);
    EXPECT_EQ(entries[0].dwPermanentProviderID, second);
}

TEST_F(LineLibraryTest, RepliesArriveLaterOnTheInitialisingThreadAndNotAfterShutdown) {
    env.InstallProvider("lynxtsp32.tsp", TestProviderSettings().Lines("201;202"));
    env.InstallProvider("slow.tsp", TestProviderSettings().Lines("301").Reply("delayed", 20));
    ASSERT_EQ(env.Register("lynxtsp32.tsp"), 0);
    ASSERT_EQ(env.Register("slow.tsp"), 0);
    ASSERT_EQ(Start(), 3u);

    DWORD ext = 0;
    LINEEXTENSIONID id{};
    DWORD api = 0;
    EXPECT_EQ(Fn<PFN_lineNegotiateAPIVersion>("lineNegotiateAPIVersion")(app, 2, 0x00020000,
                                                                         0x00020000, &api, &id),
              0);
    EXPECT_EQ(api, 0x00020000u);
    auto negotiateExt = Fn<PFN_lineNegotiateExtVersion>("lineNegotiateExtVersion");
    EXPECT_EQ(negotiateExt(app, 1, api, 0x00010001, 0x00010001, &ext), 0);
    EXPECT_EQ(negotiateExt(app, 1, api, 0x00020000, 0x00020000, &ext),
              LINEERR_INCOMPATIBLEEXTVERSION);

    const HLINE line = Open(1);
    unsigned char body[] = {'Q', 'M', 'X', 'R', '0', 0};
    auto devSpecific = Fn<PFN_lineDevSpecific>("lineDevSpecific");
    const int32_t request = devSpecific(line, 0, 0, body, sizeof body);
    ASSERT_GT(request, 0);
    EXPECT_TRUE(replies.empty()); // even an immediate answer waits for the event loop
    ASSERT_TRUE(testsupport::SpinUntil([] { return !replies.empty(); }));
    EXPECT_EQ(replies[0].message, static_cast<DWORD>(LINE_REPLY));
    EXPECT_EQ(replies[0].request, static_cast<uintptr_t>(request));
    EXPECT_EQ(replies[0].result, 0);
    EXPECT_EQ(replies[0].thread, QThread::currentThread());
    EXPECT_EQ(env.Records("devspecific"),
              std::vector<std::string>{"devspecific 1 0 51 4D 58 52 30 00"});

    EXPECT_EQ(Fn<PFN_lineClose>("lineClose")(line), 0);
    EXPECT_EQ(Fn<PFN_lineClose>("lineClose")(line), LINEERR_INVALLINEHANDLE);
    EXPECT_EQ(devSpecific(line, 0, 0, body, sizeof body), LINEERR_INVALLINEHANDLE);

    // A slow reply still travelling when the application shuts down is never delivered.
    replies.clear();
    ASSERT_GT(devSpecific(Open(2), 0, 0, body, sizeof body), 0);
    EXPECT_EQ(Fn<PFN_lineShutdown>("lineShutdown")(app), 0);
    app = 0;
    testsupport::SpinFor(std::chrono::milliseconds(60));
    EXPECT_TRUE(replies.empty());
    const auto records = env.RawRecords();
    EXPECT_EQ(records.back(), "slow.tsp shutdown");
    EXPECT_NE(std::find(records.begin(), records.end(), "slow.tsp close 0"), records.end());
}

TEST_F(LineLibraryTest, ProviderInitialisationFailureFailsTheStart) {
    env.InstallProvider("lynxtsp32.tsp", TestProviderSettings().InitResult(LINEERR_REINIT));
    ASSERT_EQ(env.Register("lynxtsp32.tsp"), 0);
    DWORD devices = 0;
    EXPECT_EQ(Fn<PFN_lineInitialize>("lineInitialize")(&app, nullptr, &Callback, "t", &devices),
              LINEERR_REINIT);
    app = 0;
    // With the failure gone the next start succeeds.
    env.Configure("lynxtsp32.tsp", {});
    EXPECT_EQ(Fn<PFN_lineInitialize>("lineInitialize")(&app, nullptr, &Callback, "t", &devices), 0);
    EXPECT_EQ(devices, 2u);
    EXPECT_EQ(Fn<PFN_lineTranslateDialog>("lineTranslateDialog")(app, 0, 0x00020000, nullptr, ""),
              0);
    EXPECT_EQ(
        Fn<PFN_lineTranslateDialog>("lineTranslateDialog")(app + 99, 0, 0x00020000, nullptr, ""),
        LINEERR_INVALAPPHANDLE);
}

TEST(TapiModuleName, WindowsNamesMapToSharedLibraries) {
    EXPECT_EQ(telephony::MapModuleName("TAPI32.DLL"), "TAPI32.so");
    EXPECT_EQ(telephony::MapModuleName("tapi32.dll"), "tapi32.so");
    EXPECT_EQ(telephony::MapModuleName("dir\\x.Dll"), "dir/x.so");
    EXPECT_EQ(telephony::MapModuleName("lynxtsp32.tsp"), "lynxtsp32.tsp");

    telephony::TapiModule tapi;
    EXPECT_EQ(tapi.Folder(), "");
    ASSERT_TRUE(tapi.Load(telephony::test::kTapiLibrary));
    EXPECT_EQ(tapi.Folder(), telephony::test::kTelephonyBuildDir);
    ::unsetenv("QORVELL_TELEPHONY_DIR");
    EXPECT_EQ(telephony::TelephonyFolder(tapi), telephony::test::kTelephonyBuildDir);
    ::setenv("QORVELL_TELEPHONY_DIR", "/elsewhere", 1);
    EXPECT_EQ(telephony::TelephonyFolder(tapi), "/elsewhere");
    ::unsetenv("QORVELL_TELEPHONY_DIR");
}

} // namespace
