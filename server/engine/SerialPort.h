#pragma once

#include <platform/Event.h>
#include <platform/Mutex.h>

#include <cstdint>
#include <string>
#include <termios.h>

namespace engine {

// The port's time-outs in milliseconds. A read of n bytes may take readPerByteMs x n +
// readConstantMs, a write likewise; the read interval is not used (0).
struct SerialTimeouts {
    int readIntervalMs = 0;
    int readPerByteMs = 5;
    int readConstantMs = 1000;
    int writePerByteMs = 5;
    int writeConstantMs = 1000;
};

// Purge flags; combine them to discard both sides.
enum SerialPurge : unsigned { kPurgeRx = 1u, kPurgeTx = 2u };

// Parity codes of the line settings.
enum SerialParity : int {
    kParityNone = 0,
    kParityOdd = 1,
    kParityEven = 2,
    kParityMark = 3,
    kParitySpace = 4
};

// Stop-bit codes of the line settings.
enum SerialStopBits : int { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };

// Event-mask bits the link initialisation asks for.
enum SerialEventMask : unsigned { kEvRxFlag = 1u, kEvBreak = 2u, kEvErr = 4u };

// The COM port of a serial switch link, on a termios device opened for exclusive use in raw mode.
// I/O is non-blocking underneath and bounded by the time-outs through poll; a read can also be cut
// short by an event (the I/O queue's close event) so threads stop promptly.
//
// Every call returns 1 on success and 0 on failure; after a failure errno holds the system's code.
// Writes from different threads are serialised, so a line byte written by one thread never lands
// inside a frame that another is writing. Reads are meant for one thread at a time.
class SerialPort {
public:
    explicit SerialPort(const SerialTimeouts& timeouts = SerialTimeouts());
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens "COM1" .. "COM4" through the COM map; 0 for any other number.
    int Open(int port);
    int Close();
    bool IsOpen() const { return m_hPort >= 0; }
    int PortNumber() const { return m_nPort; }
    // The device the port was opened on; empty while closed.
    const std::string& DevicePath() const { return m_strDevice; }

    // The driver's queues cannot be sized here: accepted and ignored.
    int SetBufferSizes(int inputSize, int outputSize);
    // Standard speeds only; any other fails with EINVAL.
    int SetBaudRate(int baudRate);
    int SetParity(int parity);
    // 5 .. 8 data bits.
    int SetByteSize(int byteSize);
    // 0, 1 or 2 for 1, 1.5 or 2 stop bits; 1.5 is not available and becomes 2.
    int SetStopBits(int code);
    int Purge(unsigned flags);
    int DropDtr();
    int RaiseDtr();
    // Comm events are not watched here: accepted and ignored while the port is open.
    int SetEventMask(unsigned mask);

    // 1 when a byte arrived within the read time-out; 0 on time-out, on error or when `wake`
    // was signaled (it is not consumed).
    int ReadByte(std::uint8_t& byte, const platform::Event* wake = nullptr);
    // 1 only when exactly `count` bytes arrived within the read time-out; `text` holds what did.
    int ReadBlock(int count, std::string& text, const platform::Event* wake = nullptr);
    int WriteByte(std::uint8_t byte) EXCLUDES(m_writeLock);
    int WriteBlock(const std::uint8_t* buffer, int count) EXCLUDES(m_writeLock);

    // The stored time-outs become the ones in force.
    int ApplyTimeouts();
    // Stores new time-outs; they take effect with the next ApplyTimeouts (Open applies them).
    void SetTimeouts(const SerialTimeouts& timeouts) { m_stored = timeouts; }

    // 0 would select overlapped I/O, which this system does not have: always plain blocking I/O.
    static int ProbePlatformIo();

private:
    // Reads the line settings, lets `change` alter them and writes them back.
    template <typename Change> int ChangeLineSettings(Change change);
    // Reads up to `count` bytes before the deadline; the number read, or -1 on an error.
    int ReadUntil(std::uint8_t* out, int count, int timeoutMs, const platform::Event* wake);
    // One writer at a time, so the bytes of two writes never interleave.
    int WriteAll(const std::uint8_t* buffer, int count) REQUIRES(m_writeLock);

    int m_nIoMode;
    int m_nPort = 0;
    SerialTimeouts m_stored;
    SerialTimeouts m_active;
    termios m_dcb{};
    int m_hPort = -1;
    std::string m_strDevice;
    platform::Mutex m_writeLock;
};

} // namespace engine
