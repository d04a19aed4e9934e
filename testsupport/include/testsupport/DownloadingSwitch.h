#pragma once

// A switch on loopback that answers the link server as the LAN link box does, enough for a whole
// link start: on each I-am-alive ('a') it sends the device download (one 'A' record per line
// device, then the end record, type 0), it answers every keep-alive poll ('u') with a keep-alive
// answer, every status query ('Q') with a status reply for the device asked about, and, when
// SetSetupToolInterval has been given, the setup-tool start request ('i', parameter 9, code 0)
// with the answer that carries that interval. Everything else is only recorded.
//
//   DownloadingSwitch sw;                  // three line devices: 201, 202, 203
//   ... ConnEnv "IP Address" = sw.Host(), "Port No" = sw.Port() ...
//   EXPECT_TRUE(sw.WaitForDownloads(1, 5000));
//   sw.Switch().CloseConnection();         // the TestSwitch underneath, for everything else
//
#include <testsupport/TestSwitch.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class DownloadingSwitch {
public:
    using Bytes = std::vector<std::uint8_t>;

    // One device of the download: its number as digit values (2, 0, 1 for "201") and the raw
    // type byte the switch sends (17 is a line device the server maps to kind 1).
    struct Device {
        Bytes digits;
        std::uint8_t rawType = 17;
    };

    static std::vector<Device> LineDevices(int count = 3) {
        std::vector<Device> devices;
        for (int i = 1; i <= count; ++i)
            devices.push_back(
                {{2, static_cast<std::uint8_t>((i / 10) % 10), static_cast<std::uint8_t>(i % 10)},
                 17});
        return devices;
    }

    explicit DownloadingSwitch(std::vector<Device> devices = LineDevices())
        : m_devices(std::move(devices)) {
        m_switch.SetRecordHandler(
            [this](TestSwitch& sw, const TestSwitch::Record& record) { Answer(sw, record); });
    }
    ~DownloadingSwitch() { m_switch.SetRecordHandler({}); }
    DownloadingSwitch(const DownloadingSwitch&) = delete;
    DownloadingSwitch& operator=(const DownloadingSwitch&) = delete;

    TestSwitch& Switch() { return m_switch; }
    bool IsListening() const { return m_switch.IsListening(); }
    int Port() const { return m_switch.Port(); }
    std::string Host() const { return m_switch.Host(); }

    // Off: the I-am-alive gets no download (the server's wait then runs to its limit).
    void SetDownloadEnabled(bool on) { m_bDownload = on; }
    // Off: status queries go unanswered, so that the server's own query every keep-alive period
    // puts no reply among the events a test counts.
    void SetStatusRepliesEnabled(bool on) { m_bStatusReplies = on; }
    // The interval in seconds the setup-tool start request is answered with; negative: no answer.
    void SetSetupToolInterval(int seconds) { m_nSetupToolInterval = seconds; }

    int Downloads() const { return m_nDownloads.load(); }
    int PollsAnswered() const { return m_nPolls.load(); }
    int QueriesAnswered() const { return m_nQueries.load(); }
    int SetupToolRequests() const { return m_nSetupTool.load(); }

    // Until `count` downloads have been sent in all.
    bool WaitForDownloads(int count, int timeoutMs) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_nDownloads.load() >= count; });
    }

    // An 'A' record body: letter, device index, four digit bytes, signed byte, type, sub-type.
    static Bytes DeviceRecord(std::uint16_t index, Bytes digits, std::uint8_t rawType) {
        digits.resize(4, 0xFF);
        return Bytes{'A',
                     static_cast<std::uint8_t>(index >> 8),
                     static_cast<std::uint8_t>(index & 0xFF),
                     digits[0],
                     digits[1],
                     digits[2],
                     digits[3],
                     0x00,
                     rawType,
                     0x03,
                     0xFF,
                     0xFF,
                     0xFF};
    }
    // The download's end record: type 0, no device.
    static Bytes EndRecord() { return DeviceRecord(0xFFFF, {}, 0x00); }

private:
    static Bytes Body(const TestSwitch::Record& record) { return record.Body(); }

    void Answer(TestSwitch& sw, const TestSwitch::Record& record) {
        const Bytes body = Body(record);
        if (body.size() < 2)
            return;
        switch (body[1]) {
        case 'a':
            if (!m_bDownload)
                return;
            for (std::size_t i = 0; i < m_devices.size(); ++i)
                sw.SendRecord(DeviceRecord(static_cast<std::uint16_t>(i), m_devices[i].digits,
                                           m_devices[i].rawType));
            sw.SendRecord(EndRecord());
            {
                std::lock_guard<std::mutex> guard(m_lock);
                ++m_nDownloads;
            }
            m_changed.notify_all();
            return;
        case 'u':
            sw.SendRecord({'u', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00});
            ++m_nPolls;
            return;
        case 'Q': {
            if (!m_bStatusReplies)
                return;
            // The device asked about and the query's sub-letter; the device is idle.
            Bytes reply{'Q', 0xFF, 0xFF};
            for (std::size_t i = 4; i < 8; ++i)
                reply.push_back(i < body.size() ? body[i] : 0xFF);
            reply.push_back(0x00);
            reply.push_back(body.size() > 9 ? body[9] : 0xFF);
            reply.insert(reply.end(), {0x01, 0xFF, 0xFF, 0xFF});
            sw.SendRecord(reply);
            ++m_nQueries;
            return;
        }
        case 'i': {
            // Parameter 9, code 0: the setup-tool start request.
            if (body.size() < 11 || body[9] != 0x09 || body[10] != 0x00)
                return;
            ++m_nSetupTool;
            const int interval = m_nSetupToolInterval.load();
            if (interval < 0)
                return;
            Bytes reply{'i',  0xFF,
                        0xFF, 0x02,
                        0x00, 0x01,
                        0xFF, 0x00,
                        0x00, 0x09,
                        0x01, 0xD1,
                        0x00, 0x01,
                        0x02, 0xE0,
                        0xFF, 0xFF,
                        0xFF, 0xFF,
                        0x00, static_cast<std::uint8_t>(interval)};
            sw.SendRecord(reply);
            return;
        }
        default:
            return;
        }
    }

    std::vector<Device> m_devices;
    std::atomic<bool> m_bDownload{true};
    std::atomic<bool> m_bStatusReplies{true};
    std::atomic<int> m_nSetupToolInterval{-1};
    std::atomic<int> m_nDownloads{0};
    std::atomic<int> m_nPolls{0};
    std::atomic<int> m_nQueries{0};
    std::atomic<int> m_nSetupTool{0};
    std::mutex m_lock;
    std::condition_variable m_changed;
    // Last: its thread calls Answer, so it goes first.
    TestSwitch m_switch;
};

} // namespace testsupport
