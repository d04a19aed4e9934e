#include "SerialPort.h"

#include "TraceLog.h"

#include <platform/ComPorts.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace engine {

namespace {

using Clock = std::chrono::steady_clock;

// Keeps errno across the trace calls made on a failure path, for the caller to read.
class ErrnoKeeper {
public:
    ErrnoKeeper() : saved_(errno) {}
    ~ErrnoKeeper() { errno = saved_; }
    int Code() const { return saved_; }

private:
    int saved_;
};

int RemainingMs(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

bool Woken(const platform::Event* wake) {
    return wake != nullptr && wake->IsSet();
}

// Waits out what is left of a time-out (or until woken), so that a caller looping on a dead
// device does not spin.
void PauseUntil(Clock::time_point deadline, const platform::Event* wake) {
    for (;;) {
        const int left = RemainingMs(deadline);
        if (left <= 0)
            return;
        if (wake == nullptr) {
            ::poll(nullptr, 0, left);
            continue;
        }
        pollfd p{wake->Fd(), POLLIN, 0};
        if (::poll(&p, 1, left) > 0)
            return;
    }
}

struct Speed {
    int baud;
    speed_t code;
};

constexpr std::array<Speed, 30> kSpeeds{
    {{50, B50},           {75, B75},           {110, B110},         {134, B134},
     {150, B150},         {200, B200},         {300, B300},         {600, B600},
     {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
     {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
     {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
     {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
     {3500000, B3500000}, {4000000, B4000000}}};

} // namespace

SerialPort::SerialPort(const SerialTimeouts& timeouts)
    : m_nIoMode(ProbePlatformIo()), m_stored(timeouts), m_active(timeouts) {}

SerialPort::~SerialPort() {
    Close();
}

int SerialPort::ProbePlatformIo() {
    return 1;
}

int SerialPort::Open(int port) {
    Close();
    if (port < 1 || port > 4) {
        ErrnoKeeper keep;
        errno = EINVAL;
        TraceLog("[ERROR] Cannot Open the COM Port !!!");
        return 0;
    }
    const std::string device = platform::ResolveComPort("COM" + std::to_string(port));
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    bool ok = fd >= 0;
    // flock keeps other programs of ours off the port even where TIOCEXCL does not (root).
    if (ok && ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        ok = false;
    termios settings{};
    if (ok) {
        ::ioctl(fd, TIOCEXCL);
        ok = ::tcgetattr(fd, &settings) == 0;
    }
    if (ok) {
        ::cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        // With VMIN 1 a non-blocking read of an empty port says EAGAIN, and 0 means a hang-up.
        settings.c_cc[VMIN] = 1;
        settings.c_cc[VTIME] = 0;
        ok = ::tcsetattr(fd, TCSANOW, &settings) == 0;
    }
    if (!ok) {
        const int code = errno;
        if (fd >= 0)
            ::close(fd);
        errno = code;
        ErrnoKeeper keep;
        TraceLog("[ERROR] Cannot Open the COM Port !!!");
        TraceLog("[ERROR] SerialPort::Open(%s) [%d : %s]", device.c_str(), code,
                 SystemErrorText(code).c_str());
        return 0;
    }
    m_hPort = fd;
    m_nPort = port;
    m_strDevice = device;
    m_dcb = settings;
    if (!ApplyTimeouts()) {
        ErrnoKeeper keep;
        TraceLog("[ERROR] Cannot set the COM Port Timeout value !!!");
        return 0;
    }
    return 1;
}

int SerialPort::Close() {
    if (m_hPort >= 0) {
        // The exclusive flag belongs to the tty, not to this descriptor: give it back.
        ::ioctl(m_hPort, TIOCNXCL);
        ::close(m_hPort);
    }
    m_hPort = -1;
    m_nPort = 0;
    m_strDevice.clear();
    return 1;
}

int SerialPort::SetBufferSizes(int, int) {
    return 1;
}

int SerialPort::SetEventMask(unsigned) {
    if (m_hPort < 0) {
        errno = EBADF;
        return 0;
    }
    return 1;
}

template <typename Change> int SerialPort::ChangeLineSettings(Change change) {
    if (m_hPort < 0) {
        errno = EBADF;
        return 0;
    }
    if (::tcgetattr(m_hPort, &m_dcb) != 0)
        return 0;
    termios next = m_dcb;
    if (!change(next)) {
        errno = EINVAL;
        return 0;
    }
    if (::tcsetattr(m_hPort, TCSANOW, &next) != 0)
        return 0;
    // tcsetattr succeeds when any part of the change was taken: read back what the line holds.
    termios now{};
    if (::tcgetattr(m_hPort, &now) != 0)
        return 0;
    m_dcb = now;
    constexpr tcflag_t kLine = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
    if ((now.c_cflag & kLine) != (next.c_cflag & kLine) ||
        ::cfgetospeed(&now) != ::cfgetospeed(&next) ||
        ::cfgetispeed(&now) != ::cfgetispeed(&next)) {
        errno = EINVAL;
        return 0;
    }
    return 1;
}

int SerialPort::SetBaudRate(int baudRate) {
    return ChangeLineSettings([baudRate](termios& t) {
        for (const Speed& s : kSpeeds) {
            if (s.baud == baudRate)
                return ::cfsetispeed(&t, s.code) == 0 && ::cfsetospeed(&t, s.code) == 0;
        }
        return false;
    });
}

int SerialPort::SetParity(int parity) {
    return ChangeLineSettings([parity](termios& t) {
        t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
        switch (parity) {
        case kParityNone:
            return true;
        case kParityOdd:
            t.c_cflag |= PARENB | PARODD;
            return true;
        case kParityEven:
            t.c_cflag |= PARENB;
            return true;
        case kParityMark:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            return true;
        case kParitySpace:
            t.c_cflag |= PARENB | CMSPAR;
            return true;
        default:
            return false;
        }
    });
}

int SerialPort::SetByteSize(int byteSize) {
    return ChangeLineSettings([byteSize](termios& t) {
        static constexpr std::array<tcflag_t, 4> kSizes{CS5, CS6, CS7, CS8};
        if (byteSize < 5 || byteSize > 8)
            return false;
        t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) |
                    kSizes[static_cast<std::size_t>(byteSize - 5)];
        return true;
    });
}

int SerialPort::SetStopBits(int code) {
    if (code == kOne5StopBits && m_hPort >= 0)
        TraceLog("SerialPort::SetStopBits --> 1.5 stop bits are not available on this system. "
                 "2 stop bits are used instead.");
    return ChangeLineSettings([code](termios& t) {
        switch (code) {
        case kOneStopBit:
            t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
            return true;
        case kOne5StopBits:
        case kTwoStopBits:
            t.c_cflag |= CSTOPB;
            return true;
        default:
            return false;
        }
    });
}

int SerialPort::Purge(unsigned flags) {
    if (m_hPort < 0) {
        errno = EBADF;
        return 0;
    }
    const bool rx = (flags & kPurgeRx) != 0;
    const bool tx = (flags & kPurgeTx) != 0;
    if (!rx && !tx)
        return 1;
    const int which = rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH);
    return ::tcflush(m_hPort, which) == 0 ? 1 : 0;
}

int SerialPort::DropDtr() {
    if (m_hPort < 0) {
        errno = EBADF;
        return 0;
    }
    int bits = TIOCM_DTR;
    return ::ioctl(m_hPort, TIOCMBIC, &bits) == 0 ? 1 : 0;
}

int SerialPort::RaiseDtr() {
    if (m_hPort < 0) {
        errno = EBADF;
        return 0;
    }
    int bits = TIOCM_DTR;
    return ::ioctl(m_hPort, TIOCMBIS, &bits) == 0 ? 1 : 0;
}

int SerialPort::ApplyTimeouts() {
    if (m_hPort < 0) {
        errno = EBADF;
        return 0;
    }
    // The time-outs are kept here and enforced by poll; the check confirms the port still works.
    termios current{};
    if (::tcgetattr(m_hPort, &current) != 0)
        return 0;
    m_active = m_stored;
    return 1;
}

int SerialPort::ReadUntil(std::uint8_t* out, int count, int timeoutMs,
                          const platform::Event* wake) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int got = 0;
    while (got < count) {
        const ssize_t n = ::read(m_hPort, out + got, static_cast<std::size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            const int code = errno;
            PauseUntil(deadline, wake);
            errno = code;
            return -1;
        }
        if (n == 0) {
            // End of file on a tty: the other side has hung up.
            PauseUntil(deadline, wake);
            errno = EIO;
            return -1;
        }
        const int left = RemainingMs(deadline);
        if (left <= 0 || Woken(wake))
            break;
        std::array<pollfd, 2> fds{pollfd{m_hPort, POLLIN, 0}, pollfd{-1, POLLIN, 0}};
        if (wake != nullptr)
            fds[1].fd = wake->Fd();
        const int ready = ::poll(fds.data(), wake != nullptr ? 2 : 1, left);
        if (ready < 0 && errno != EINTR) {
            const int code = errno;
            PauseUntil(deadline, wake);
            errno = code;
            return -1;
        }
        if (ready > 0 && (fds[1].revents & POLLIN) != 0)
            break;
        if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 &&
            (fds[0].revents & POLLIN) == 0) {
            PauseUntil(deadline, wake);
            errno = (fds[0].revents & POLLNVAL) != 0 ? EBADF : EIO;
            return -1;
        }
    }
    return got;
}

int SerialPort::ReadByte(std::uint8_t& byte, const platform::Event* wake) {
    if (m_hPort < 0) {
        errno = EBADF;
        ErrnoKeeper keep;
        TraceLog("[ERROR] Serial Read Error... Error Code [%lu : %s]",
                 static_cast<unsigned long>(keep.Code()), SystemErrorText(keep.Code()).c_str());
        return 0;
    }
    const int n = ReadUntil(&byte, 1, m_active.readPerByteMs + m_active.readConstantMs, wake);
    if (n < 0) {
        ErrnoKeeper keep;
        TraceLog("[ERROR] Serial Read Error... Error Code [%lu : %s]",
                 static_cast<unsigned long>(keep.Code()), SystemErrorText(keep.Code()).c_str());
        return 0;
    }
    return n == 1 ? 1 : 0;
}

int SerialPort::ReadBlock(int count, std::string& text, const platform::Event* wake) {
    text.clear();
    if (count < 0) {
        errno = EINVAL;
        return 0;
    }
    if (m_hPort < 0) {
        errno = EBADF;
        ErrnoKeeper keep;
        TraceLog("[ERROR] Serial Read Error. Return Error Code [%d : %s]!!!", keep.Code(),
                 SystemErrorText(keep.Code()).c_str());
        return 0;
    }
    std::string buffer(static_cast<std::size_t>(count), '\0');
    const int n = ReadUntil(reinterpret_cast<std::uint8_t*>(buffer.data()), count,
                            m_active.readPerByteMs * count + m_active.readConstantMs, wake);
    if (n < 0) {
        ErrnoKeeper keep;
        TraceLog("[ERROR] Serial Read Error. Return Error Code [%d : %s]!!!", keep.Code(),
                 SystemErrorText(keep.Code()).c_str());
        return 0;
    }
    buffer.resize(static_cast<std::size_t>(n));
    text = std::move(buffer);
    if (n != count)
        errno = ETIMEDOUT;
    return n == count ? 1 : 0;
}

int SerialPort::WriteAll(const std::uint8_t* buffer, int count) {
    const Clock::time_point deadline =
        Clock::now() +
        std::chrono::milliseconds(m_active.writePerByteMs * count + m_active.writeConstantMs);
    int done = 0;
    while (done < count) {
        const ssize_t n = ::write(m_hPort, buffer + done, static_cast<std::size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return -1;
        const int left = RemainingMs(deadline);
        if (left <= 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        pollfd p{m_hPort, POLLOUT, 0};
        const int ready = ::poll(&p, 1, left);
        if (ready < 0 && errno != EINTR)
            return -1;
        if (ready > 0 && (p.revents & POLLOUT) == 0 && (p.revents & (POLLERR | POLLNVAL)) != 0) {
            errno = (p.revents & POLLNVAL) != 0 ? EBADF : EIO;
            return -1;
        }
    }
    return done;
}

int SerialPort::WriteByte(std::uint8_t byte) {
    int n = -1;
    if (m_hPort < 0) {
        errno = EBADF;
    } else {
        platform::LockGuard guard(m_writeLock);
        n = WriteAll(&byte, 1);
    }
    if (n != 1) {
        ErrnoKeeper keep;
        TraceLog("[ERROR] Serial Output Error... Error Code[%lu : %s].!!!",
                 static_cast<unsigned long>(keep.Code()), SystemErrorText(keep.Code()).c_str());
        return 0;
    }
    return 1;
}

int SerialPort::WriteBlock(const std::uint8_t* buffer, int count) {
    if (count <= 0)
        return count == 0 ? 1 : 0;
    int n = -1;
    if (m_hPort < 0 || buffer == nullptr) {
        errno = m_hPort < 0 ? EBADF : EINVAL;
    } else {
        platform::LockGuard guard(m_writeLock);
        n = WriteAll(buffer, count);
    }
    if (n != count) {
        ErrnoKeeper keep;
        TraceLog("[ERROR] Serial Output Error... Error Code [%lu : %s]. Return Error.",
                 static_cast<unsigned long>(keep.Code()), SystemErrorText(keep.Code()).c_str());
        return 0;
    }
    return 1;
}

} // namespace engine
