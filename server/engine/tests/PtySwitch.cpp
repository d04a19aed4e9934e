#include "PtySwitch.h"

#include <platform/Registry.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kEnq = 0x05;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;

constexpr int kWriteTimeoutMs = 2000;

enum ParseState { kFree, kLenHi, kLenLo, kBody };

int RemainingMs(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

Clock::time_point After(int ms) {
    return Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
}

} // namespace

PtySwitch::PtySwitch() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0)
        return;
    std::array<char, 128> name{};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name.data(), name.size()) != 0) {
        ::close(master_);
        master_ = -1;
        return;
    }
    slavePath_ = name.data();
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
        ::close(master_);
        master_ = -1;
        return;
    }
    // Raw from the start, so nothing sent before the server opens the port is echoed back.
    termios t{};
    if (::tcgetattr(slave_, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(slave_, TCSANOW, &t);
    }
    reader_ = std::thread([this] { ReaderLoop(); });
}

PtySwitch::~PtySwitch() {
    stop_.Set();
    if (reader_.joinable())
        reader_.join();
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

bool PtySwitch::MapAsComPort(int port) {
    const char* file = std::getenv("QORVELL_REGISTRY");
    if (!IsOpen() || file == nullptr || *file == '\0')
        return false;
    using platform::RegKey;
    using platform::RegStatus;
    RegKey key;
    if (RegKey::Create(platform::RegRoot::LocalMachine, "HARDWARE\\DEVICEMAP\\SERIALCOMM", key) !=
        RegStatus::Ok)
        return false;
    const std::string name = "COM" + std::to_string(port);
    std::vector<platform::RegValue> values;
    if (key.EnumValues(values) != RegStatus::Ok)
        return false;
    for (const platform::RegValue& v : values) {
        if (v.type == platform::RegType::String && platform::regfile::NamesEqual(v.text, name))
            key.DeleteValue(v.name);
    }
    return key.SetString(slavePath_, name) == RegStatus::Ok;
}

PtySwitch::Bytes PtySwitch::Frame(const Bytes& body) {
    Bytes frame;
    const std::uint8_t hi = static_cast<std::uint8_t>(body.size() >> 8);
    const std::uint8_t lo = static_cast<std::uint8_t>(body.size() & 0xFF);
    std::uint8_t bcc = hi ^ lo;
    frame.push_back(kStx);
    frame.push_back(hi);
    frame.push_back(lo);
    for (std::uint8_t b : body) {
        frame.push_back(b);
        bcc ^= b;
    }
    frame.push_back(bcc);
    frame.push_back(kEtx);
    return frame;
}

bool PtySwitch::WriteMaster(const Bytes& bytes) {
    if (master_ < 0)
        return false;
    std::lock_guard<std::mutex> guard(writeLock_);
    const Clock::time_point deadline = After(kWriteTimeoutMs);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return false;
        const int left = RemainingMs(deadline);
        if (left <= 0)
            return false;
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, left < 10 ? left : 10);
    }
    return true;
}

bool PtySwitch::Send(const Bytes& bytes) {
    return WriteMaster(bytes);
}

void PtySwitch::ReaderLoop() {
    std::array<std::uint8_t, 512> buffer{};
    for (;;) {
        std::array<pollfd, 2> fds{pollfd{master_, POLLIN, 0}, pollfd{stop_.Fd(), POLLIN, 0}};
        const int ready = ::poll(fds.data(), fds.size(), -1);
        if (ready < 0 && errno != EINTR)
            return;
        if ((fds[1].revents & POLLIN) != 0)
            return;
        if ((fds[0].revents & POLLIN) == 0) {
            // A hang-up cannot last while we hold the slave, but do not spin on one.
            if (fds[0].revents != 0 && stop_.Wait(10) == platform::Event::WaitResult::Signaled)
                return;
            continue;
        }
        const ssize_t n = ::read(master_, buffer.data(), buffer.size());
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (stop_.Wait(10) == platform::Event::WaitResult::Signaled)
                return;
            continue;
        }
        Bytes replies;
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (ssize_t i = 0; i < n; ++i) {
                const std::uint8_t b = buffer[static_cast<std::size_t>(i)];
                pending_.push_back(b);
                all_.push_back(b);
                if (auto_)
                    AutoParse(b, replies);
            }
        }
        changed_.notify_all();
        if (!replies.empty())
            WriteMaster(replies);
    }
}

void PtySwitch::AutoParse(std::uint8_t byte, Bytes& replies) {
    auto answer = [&replies](Answer a) {
        if (a == Answer::Ack)
            replies.push_back(kAck);
        else if (a == Answer::Nak)
            replies.push_back(kNak);
    };
    switch (parseState_) {
    case kFree:
        if (byte == kEnq) {
            ++enqCount_;
            answer(enqAnswer_);
        } else if (byte == kStx) {
            parseFrame_.assign(1, byte);
            parseState_ = kLenHi;
        }
        break;
    case kLenHi:
        parseFrame_.push_back(byte);
        parseLen_ = static_cast<std::size_t>(byte) << 8;
        parseState_ = kLenLo;
        break;
    case kLenLo:
        parseFrame_.push_back(byte);
        parseLen_ |= byte;
        parseState_ = kBody;
        break;
    case kBody:
        parseFrame_.push_back(byte);
        // The LEN bytes, the data, the check byte and the ETX follow the STX.
        if (parseFrame_.size() == parseLen_ + 5) {
            bodies_.emplace_back(parseFrame_.begin() + 3, parseFrame_.end() - 2);
            answer(frameAnswer_);
            parseState_ = kFree;
        }
        break;
    }
}

PtySwitch::Bytes PtySwitch::Read(std::size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_until(guard, After(timeoutMs), [&] { return pending_.size() >= count; });
    const std::size_t take = std::min(count, pending_.size());
    Bytes out(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
    return out;
}

bool PtySwitch::Expect(const Bytes& bytes, int timeoutMs) {
    return Read(bytes.size(), timeoutMs) == bytes;
}

std::optional<PtySwitch::Bytes> PtySwitch::ReadFrame(int timeoutMs) {
    const Clock::time_point deadline = After(timeoutMs);
    Bytes head = Read(3, timeoutMs);
    if (head.size() != 3 || head[0] != kStx)
        return std::nullopt;
    const std::size_t len = (static_cast<std::size_t>(head[1]) << 8) | head[2];
    Bytes rest = Read(len + 2, RemainingMs(deadline));
    if (rest.size() != len + 2)
        return std::nullopt;
    head.insert(head.end(), rest.begin(), rest.end());
    return head;
}

bool PtySwitch::QuietFor(int ms) {
    std::unique_lock<std::mutex> guard(lock_);
    const std::size_t before = all_.size();
    return !changed_.wait_until(guard, After(ms), [&] { return all_.size() != before; });
}

std::size_t PtySwitch::Available() const {
    std::lock_guard<std::mutex> guard(lock_);
    return pending_.size();
}

void PtySwitch::DiscardPending() {
    std::lock_guard<std::mutex> guard(lock_);
    pending_.clear();
}

PtySwitch::Bytes PtySwitch::AllReceived() const {
    std::lock_guard<std::mutex> guard(lock_);
    return all_;
}

void PtySwitch::AutoAnswer(Answer enq, Answer frame) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!auto_)
        parseState_ = kFree;
    auto_ = true;
    enqAnswer_ = enq;
    frameAnswer_ = frame;
}

void PtySwitch::StopAutoAnswer() {
    std::lock_guard<std::mutex> guard(lock_);
    auto_ = false;
}

std::optional<PtySwitch::Bytes> PtySwitch::WaitBody(int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    if (!changed_.wait_until(guard, After(timeoutMs), [&] { return !bodies_.empty(); }))
        return std::nullopt;
    Bytes body = std::move(bodies_.front());
    bodies_.pop_front();
    return body;
}

int PtySwitch::EnqCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return enqCount_;
}

bool PtySwitch::WaitEnqCount(int count, int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_until(guard, After(timeoutMs), [&] { return enqCount_ >= count; });
}
