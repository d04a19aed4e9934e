#include "PtySwitch.h"
#include "TraceCapture.h"
#include <engine/SerialPort.h>

#include <gtest/gtest.h>

#include <platform/Registry.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace engine;

namespace {

using Bytes = PtySwitch::Bytes;

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_switch.IsOpen());
        ASSERT_TRUE(m_switch.MapAsComPort(1));
        // Opened before the port is, since the port then takes the tty for exclusive use.
        m_observer = ::open(m_switch.DevicePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(m_observer, 0);
    }
    void TearDown() override {
        if (m_observer >= 0)
            ::close(m_observer);
    }

    // The tty's settings as another descriptor sees them.
    termios Settings() {
        termios t{};
        EXPECT_EQ(::tcgetattr(m_observer, &t), 0);
        return t;
    }
    speed_t OutSpeed() {
        const termios t = Settings();
        return ::cfgetospeed(&t);
    }
    speed_t InSpeed() {
        const termios t = Settings();
        return ::cfgetispeed(&t);
    }
    int BytesWaiting() {
        int n = -1;
        EXPECT_EQ(::ioctl(m_observer, FIONREAD, &n), 0);
        return n;
    }

    static SerialTimeouts Short() {
        SerialTimeouts t;
        t.readConstantMs = 150;
        t.writeConstantMs = 500;
        return t;
    }

    PtySwitch::TempRegistry m_registry;
    PtySwitch m_switch;
    int m_observer = -1;
    TraceCapture m_traces;
};

TEST_F(SerialPortTest, OpensTheMappedPortForExclusiveUse) {
    SerialPort port(Short());
    EXPECT_NE(SerialPort::ProbePlatformIo(), 0);
    EXPECT_FALSE(port.IsOpen());
    ASSERT_EQ(port.Open(1), 1);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.PortNumber(), 1);
    EXPECT_EQ(port.DevicePath(), m_switch.DevicePath());

    // Raw mode: no line editing, echo or output processing on the switch link.
    const termios t = Settings();
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));

    SerialPort other(Short());
    EXPECT_EQ(other.Open(1), 0);
    EXPECT_TRUE(m_traces.Has("[ERROR] Cannot Open the COM Port !!!"));
    EXPECT_FALSE(other.IsOpen());

    EXPECT_EQ(port.Close(), 1);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(other.Open(1), 1); // free again once closed
}

TEST_F(SerialPortTest, RefusesPortsOutsideOneToFourAndMissingDevices) {
    SerialPort port(Short());
    EXPECT_EQ(port.Open(0), 0);
    EXPECT_EQ(port.Open(5), 0);
    platform::RegKey map;
    ASSERT_EQ(platform::RegKey::Open(platform::RegRoot::LocalMachine,
                                     "HARDWARE\\DEVICEMAP\\SERIALCOMM", map),
              platform::RegStatus::Ok);
    ASSERT_EQ(map.SetString("/nonexistent/ttyQ9", "COM2"), platform::RegStatus::Ok);
    EXPECT_EQ(port.Open(2), 0);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(m_traces.Has("[ERROR] Cannot Open the COM Port !!!"));
    EXPECT_TRUE(m_traces.Has(
        "[ERROR] SerialPort::Open(/nonexistent/ttyQ9) [2 : " + SystemErrorText(ENOENT) + "]"));
}

TEST_F(SerialPortTest, ChangesOneLineSettingAtATime) {
    SerialPort port(Short());
    ASSERT_EQ(port.Open(1), 1);

    EXPECT_EQ(port.SetBaudRate(9600), 1);
    EXPECT_EQ(OutSpeed(), static_cast<speed_t>(B9600));
    EXPECT_EQ(port.SetBaudRate(115200), 1);
    EXPECT_EQ(InSpeed(), static_cast<speed_t>(B115200));
    // Speeds the system does not have fail and leave the line as it was.
    for (int unsupported : {14400, 56000, 128000, 256000, 0, -1}) {
        EXPECT_EQ(port.SetBaudRate(unsupported), 0) << unsupported;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(OutSpeed(), static_cast<speed_t>(B115200));

    // A pty holds 8 data bits without parity only: whatever the device refuses is reported, and
    // the result always tells what the line now holds.
    const int seven = port.SetByteSize(7);
    EXPECT_EQ(Settings().c_cflag & CSIZE, static_cast<tcflag_t>(seven == 1 ? CS7 : CS8));
    EXPECT_EQ(port.SetByteSize(9), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(port.SetByteSize(4), 0);
    EXPECT_EQ(port.SetByteSize(8), 1);
    EXPECT_EQ(Settings().c_cflag & CSIZE, static_cast<tcflag_t>(CS8));

    const int even = port.SetParity(kParityEven);
    EXPECT_EQ(Settings().c_cflag & (PARENB | PARODD),
              static_cast<tcflag_t>(even == 1 ? PARENB : 0));
    EXPECT_EQ(port.SetParity(5), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(port.SetParity(kParityNone), 1);
    EXPECT_EQ(Settings().c_cflag & (PARENB | PARODD), 0u);
    EXPECT_EQ(OutSpeed(), static_cast<speed_t>(B115200)); // other fields kept

    EXPECT_EQ(port.SetStopBits(kTwoStopBits), 1);
    EXPECT_NE(Settings().c_cflag & CSTOPB, 0u);
    EXPECT_EQ(port.SetStopBits(kOneStopBit), 1);
    EXPECT_EQ(Settings().c_cflag & CSTOPB, 0u);
    EXPECT_FALSE(m_traces.Has("SerialPort::SetStopBits --> 1.5 stop bits are not available on this "
                              "system. 2 stop bits are used instead."));
    EXPECT_EQ(port.SetStopBits(kOne5StopBits), 1);
    EXPECT_NE(Settings().c_cflag & CSTOPB, 0u);
    EXPECT_TRUE(m_traces.Has("SerialPort::SetStopBits --> 1.5 stop bits are not available on this "
                             "system. 2 stop bits are used instead."));
    EXPECT_EQ(port.SetStopBits(3), 0);

    // Without meaning here, but accepted.
    EXPECT_EQ(port.SetBufferSizes(4096, 4096), 1);
    EXPECT_EQ(port.SetEventMask(kEvRxFlag | kEvBreak | kEvErr), 1);
    EXPECT_EQ(port.ApplyTimeouts(), 1);
    // A pty has no modem lines: whatever the system says is reported, and nothing breaks.
    port.DropDtr();
    port.RaiseDtr();
    EXPECT_EQ(port.WriteByte('x'), 1);
    EXPECT_TRUE(m_switch.Expect({'x'}, 2000));
}

TEST_F(SerialPortTest, ReadsAndWritesWithinTheTimeouts) {
    SerialPort port(Short());
    ASSERT_EQ(port.Open(1), 1);

    const Bytes block{0x02, 0x19, 0x05, 0x00, 0xFF, 0x0D, 0x0A};
    EXPECT_EQ(port.WriteBlock(block.data(), static_cast<int>(block.size())), 1);
    EXPECT_EQ(port.WriteByte(0x06), 1);
    EXPECT_TRUE(m_switch.Expect({0x02, 0x19, 0x05, 0x00, 0xFF, 0x0D, 0x0A, 0x06}, 2000));

    ASSERT_TRUE(m_switch.Send({0x41, 0x00, 0x0D}));
    std::uint8_t byte = 0;
    EXPECT_EQ(port.ReadByte(byte), 1);
    EXPECT_EQ(byte, 0x41);
    std::string text;
    EXPECT_EQ(port.ReadBlock(2, text), 1);
    EXPECT_EQ(text, std::string("\x00\x0D", 2));

    // A time-out is no error and is not traced.
    const std::size_t tracesBefore = m_traces.Texts().size();
    EXPECT_EQ(port.ReadByte(byte), 0);
    ASSERT_TRUE(m_switch.Send({'Q', 'M', 'X'}));
    EXPECT_EQ(port.ReadBlock(8, text), 0); // fewer than asked for is a failure
    EXPECT_EQ(text, "QMX");
    EXPECT_EQ(m_traces.Texts().size(), tracesBefore);

    // Bytes split over several writes of the other side are joined into one block.
    std::thread slow([this] {
        for (char c : std::string("QMXData>")) {
            m_switch.SendByte(static_cast<std::uint8_t>(c));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    EXPECT_EQ(port.ReadBlock(8, text), 1);
    slow.join();
    EXPECT_EQ(text, "QMXData>");
}

TEST_F(SerialPortTest, AReadEndsWhenItsWakeEventIsSet) {
    SerialTimeouts longWait;
    longWait.readConstantMs = 60000;
    SerialPort port(longWait);
    ASSERT_EQ(port.Open(1), 1);
    platform::Event wake(true, false);
    std::atomic<int> result{-1};
    std::thread reader([&] {
        std::uint8_t byte = 0;
        result = port.ReadByte(byte, &wake);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    wake.Set();
    reader.join(); // would hang for a minute without the wake
    EXPECT_EQ(result.load(), 0);
    EXPECT_TRUE(wake.IsSet()); // not consumed: the caller sees why it woke
}

TEST_F(SerialPortTest, PurgeDiscardsWhatTheSwitchSent) {
    SerialPort port(Short());
    ASSERT_EQ(port.Open(1), 1);
    ASSERT_TRUE(m_switch.Send({1, 2, 3, 4}));
    for (int i = 0; i < 200 && BytesWaiting() < 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(BytesWaiting(), 4);
    EXPECT_EQ(port.Purge(kPurgeTx), 1);
    EXPECT_EQ(BytesWaiting(), 4); // the output side alone leaves the input
    EXPECT_EQ(port.Purge(kPurgeRx), 1);
    EXPECT_EQ(BytesWaiting(), 0);
    std::uint8_t byte = 0;
    EXPECT_EQ(port.ReadByte(byte), 0);
    ASSERT_TRUE(m_switch.Send({5}));
    EXPECT_EQ(port.ReadByte(byte), 1);
    EXPECT_EQ(byte, 5);
    EXPECT_EQ(port.Purge(kPurgeRx | kPurgeTx), 1);
}

TEST_F(SerialPortTest, EveryCallOnAClosedPortFailsWithItsTrace) {
    SerialPort port(Short());
    std::uint8_t byte = 0;
    std::string text = "old";
    EXPECT_EQ(port.ReadByte(byte), 0);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(port.ReadBlock(3, text), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(port.WriteByte(0x05), 0);
    const Bytes frame{0x02, 0x00};
    EXPECT_EQ(port.WriteBlock(frame.data(), 2), 0);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(port.Purge(kPurgeRx), 0);
    EXPECT_EQ(port.DropDtr(), 0);
    EXPECT_EQ(port.RaiseDtr(), 0);
    EXPECT_EQ(port.SetBaudRate(9600), 0);
    EXPECT_EQ(port.SetStopBits(kOne5StopBits), 0);
    EXPECT_EQ(port.ApplyTimeouts(), 0);
    EXPECT_EQ(port.SetEventMask(kEvErr), 0);
    EXPECT_EQ(port.Close(), 1);

    const std::string why = std::to_string(EBADF) + " : " + SystemErrorText(EBADF);
    EXPECT_TRUE(m_traces.Has("[ERROR] Serial Read Error... Error Code [" + why + "]"));
    EXPECT_TRUE(m_traces.Has("[ERROR] Serial Read Error. Return Error Code [" + why + "]!!!"));
    EXPECT_TRUE(m_traces.Has("[ERROR] Serial Output Error... Error Code[" + why + "].!!!"));
    EXPECT_TRUE(
        m_traces.Has("[ERROR] Serial Output Error... Error Code [" + why + "]. Return Error."));
    EXPECT_FALSE(m_traces.Has("SerialPort::SetStopBits --> 1.5 stop bits are not available on this "
                              "system. 2 stop bits are used instead."));
}

TEST_F(SerialPortTest, WritesOfTwoThreadsNeverInterleave) {
    SerialPort port(Short());
    ASSERT_EQ(port.Open(1), 1);
    // Larger than the pty's buffer, so a frame leaves in several writes.
    const Bytes frame(20000, 0x5A);
    constexpr int kFrames = 5;
    constexpr int kAcks = 200;
    std::atomic<bool> failed{false};
    std::thread frames([&] {
        for (int i = 0; i < kFrames; ++i) {
            if (!port.WriteBlock(frame.data(), static_cast<int>(frame.size())))
                failed = true;
        }
    });
    std::thread acks([&] {
        for (int i = 0; i < kAcks; ++i) {
            if (!port.WriteByte(0x06))
                failed = true;
        }
    });
    const Bytes got = m_switch.Read(frame.size() * kFrames + kAcks, 20000);
    frames.join();
    acks.join();
    EXPECT_FALSE(failed.load());
    ASSERT_EQ(got.size(), frame.size() * kFrames + kAcks);
    // Every run of frame bytes is a whole number of frames.
    std::size_t run = 0;
    for (std::uint8_t b : got) {
        if (b == 0x5A) {
            ++run;
            continue;
        }
        EXPECT_EQ(run % frame.size(), 0u);
        run = 0;
    }
    EXPECT_EQ(run % frame.size(), 0u);
}

} // namespace
