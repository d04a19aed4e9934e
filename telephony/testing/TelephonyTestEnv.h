#pragma once

// Test support for programs that use the telephony library: a registry file and a telephony
// folder of their own, the test provider placed there under any file name with its settings,
// registration through the library itself, and the provider's records.
//
//   telephony::test::TelephonyTestEnv env;
//   env.InstallProvider("lynxtsp32.tsp", TestProviderSettings().Lines("201;202"));
//   env.Register("lynxtsp32.tsp");
//   ... run the code under test ...
//   EXPECT_EQ(env.Records("devspecific").size(), 2u);

#include <telephony/Tapi.h>
#include <telephony/TapiModule.h>

#include <platform/Registry.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace telephony::test {

inline const std::string kTelephonyBuildDir = VELTRANE_TELEPHONY_BUILD_DIR;
inline const std::string kTapiLibrary = kTelephonyBuildDir + "/tapi32.so";
inline const std::string kTestProviderFile = kTelephonyBuildDir + "/veltranetest.tsp";
inline const std::string kMakerProviderInfo = "Qorvell QMX Service Provider";

struct TestProviderSettings {
    std::string providerInfo = kMakerProviderInfo;
    std::string lines = "Line 201;Line 202"; // ';'-separated address names, "-" no address
    std::optional<uint32_t> initResult;
    std::optional<uint32_t> initHangMs;
    std::string initHangUntil; // a file whose appearance ends the stall early
    std::optional<uint32_t> openResult;
    std::optional<uint32_t> extVersion;
    std::string replyMode; // "now" (default), "delayed", "never"
    std::optional<uint32_t> replyDelayMs;
    std::optional<uint32_t> replyResult;

    // Chained setters: TestProviderSettings().Lines("201;202").Reply("never").
    TestProviderSettings& Info(std::string v) {
        providerInfo = std::move(v);
        return *this;
    }
    TestProviderSettings& Lines(std::string v) {
        lines = std::move(v);
        return *this;
    }
    TestProviderSettings& InitResult(int32_t v) {
        initResult = static_cast<uint32_t>(v);
        return *this;
    }
    TestProviderSettings& InitHangMs(uint32_t v) {
        initHangMs = v;
        return *this;
    }
    TestProviderSettings& InitHangUntil(std::string file) {
        initHangUntil = std::move(file);
        return *this;
    }
    TestProviderSettings& OpenResult(int32_t v) {
        openResult = static_cast<uint32_t>(v);
        return *this;
    }
    TestProviderSettings& ExtVersion(uint32_t v) {
        extVersion = v;
        return *this;
    }
    TestProviderSettings& Reply(std::string mode, uint32_t delayMs = 0) {
        replyMode = std::move(mode);
        if (delayMs != 0) {
            replyDelayMs = delayMs;
        }
        return *this;
    }
    TestProviderSettings& ReplyResult(int32_t v) {
        replyResult = static_cast<uint32_t>(v);
        return *this;
    }
};

class TelephonyTestEnv {
public:
    TelephonyTestEnv() {
        QDir(dir_.path()).mkdir("telephony");
        ::setenv("QORVELL_REGISTRY", Path("registry.reg").c_str(), 1);
        ::setenv("QORVELL_TELEPHONY_DIR", Path("telephony").c_str(), 1);
    }
    ~TelephonyTestEnv() {
        ::unsetenv("QORVELL_TELEPHONY_DIR");
        ::unsetenv("QORVELL_REGISTRY");
    }
    TelephonyTestEnv(const TelephonyTestEnv&) = delete;
    TelephonyTestEnv& operator=(const TelephonyTestEnv&) = delete;

    std::string Path(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }
    std::string TelephonyDir() const { return Path("telephony"); }
    std::string RecordFile() const { return Path("records.txt"); }

    // The test provider appears in the telephony folder as `fileName`, with these settings.
    void InstallProvider(const std::string& fileName, const TestProviderSettings& settings = {}) {
        QFile::link(QString::fromStdString(kTestProviderFile),
                    QString::fromStdString(TelephonyDir() + "/" + fileName));
        Configure(fileName, settings);
    }

    void Configure(const std::string& fileName, const TestProviderSettings& settings) {
        platform::RegKey key;
        platform::RegKey::Create(platform::RegRoot::LocalMachine,
                                 "Software\\Qorvell Electronics\\Test Provider\\" + fileName, key);
        key.SetString("ProviderInfo", settings.providerInfo);
        key.SetString("Lines", settings.lines);
        key.SetString("RecordFile", RecordFile());
        auto dword = [&](const char* name, const std::optional<uint32_t>& value) {
            if (value) {
                key.SetDword(name, *value);
            } else {
                key.DeleteValue(name);
            }
        };
        dword("InitResult", settings.initResult);
        dword("InitHangMs", settings.initHangMs);
        dword("OpenResult", settings.openResult);
        dword("ExtVersion", settings.extVersion);
        dword("ReplyDelayMs", settings.replyDelayMs);
        dword("ReplyResult", settings.replyResult);
        if (settings.initHangUntil.empty()) {
            key.DeleteValue("InitHangUntil");
        } else {
            key.SetString("InitHangUntil", settings.initHangUntil);
        }
        if (settings.replyMode.empty()) {
            key.DeleteValue("ReplyMode");
        } else {
            key.SetString("ReplyMode", settings.replyMode);
        }
    }

    // Registers the file through the library's lineAddProvider; its result.
    int32_t Register(const std::string& fileName, DWORD* id = nullptr) {
        TapiModule tapi;
        if (!tapi.Load(kTapiLibrary)) {
            return LINEERR_OPERATIONUNAVAIL;
        }
        DWORD permanentId = 0;
        const int32_t result = tapi.Function<PFN_lineAddProvider>("lineAddProvider")(
            fileName.c_str(), nullptr, &permanentId);
        if (id != nullptr) {
            *id = permanentId;
        }
        return result;
    }

    // Record lines without their file name, optionally only those of one kind.
    std::vector<std::string> Records(const std::string& kind = "") const {
        std::vector<std::string> out;
        std::ifstream in(RecordFile());
        std::string line;
        while (std::getline(in, line)) {
            const size_t space = line.find(' ');
            const std::string body = space == std::string::npos ? line : line.substr(space + 1);
            if (kind.empty() || body.rfind(kind, 0) == 0) {
                out.push_back(body);
            }
        }
        return out;
    }
    // Whole record lines, with the provider's file name in front.
    std::vector<std::string> RawRecords() const {
        std::vector<std::string> out;
        std::ifstream in(RecordFile());
        for (std::string line; std::getline(in, line);) {
            out.push_back(line);
        }
        return out;
    }
    void ClearRecords() const { QFile::remove(QString::fromStdString(RecordFile())); }

private:
    QTemporaryDir dir_;
};

} // namespace telephony::test
