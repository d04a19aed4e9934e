#include <platform/Event.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline, rounded up so that poll never returns before it.
int RemainingMs(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

} // namespace

Event::Event(bool manualReset, bool initialState)
    : manualReset_(manualReset), set_(manualReset && initialState) {
    fd_ = ::eventfd(initialState ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
}

Event::~Event() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool Event::Set() {
    if (fd_ < 0) {
        return false;
    }
    if (manualReset_ && set_.exchange(true)) {
        return true;
    }
    const uint64_t one = 1;
    for (;;) {
        if (::write(fd_, &one, sizeof one) == static_cast<ssize_t>(sizeof one)) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        // EAGAIN: the counter is at its limit, which is signaled all the same.
        if (errno == EAGAIN) {
            return true;
        }
        if (manualReset_) {
            set_.store(false);
        }
        return false;
    }
}

bool Event::Reset() {
    if (fd_ < 0) {
        return false;
    }
    uint64_t value = 0;
    bool done;
    for (;;) {
        if (::read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value)) {
            done = true;
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        done = errno == EAGAIN; // was not signaled
        break;
    }
    // Cleared only after the descriptor: a Set that finds it still true came before this Reset.
    if (manualReset_) {
        set_.store(false);
    }
    return done;
}

bool Event::TryConsume() {
    // A read takes the whole counter atomically, so of several waiters only one gets it.
    uint64_t value = 0;
    for (;;) {
        if (::read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value)) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

bool Event::IsSet() const {
    if (fd_ < 0) {
        return false;
    }
    if (manualReset_ && set_.load()) {
        return true;
    }
    pollfd p{fd_, POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    return n == 1 && (p.revents & POLLIN) != 0;
}

Event::WaitResult Event::Wait(int timeoutMs) {
    Event* self = this;
    switch (WaitAny(std::span<Event* const>(&self, 1), timeoutMs)) {
    case 0:
        return WaitResult::Signaled;
    case kTimedOut:
        return WaitResult::TimedOut;
    default:
        return WaitResult::Failed;
    }
}

int Event::WaitAny(std::span<Event* const> events, int timeoutMs) {
    if (events.empty()) {
        return kFailed;
    }
    std::vector<pollfd> fds;
    fds.reserve(events.size());
    for (Event* e : events) {
        if (e == nullptr || !e->IsValid()) {
            return kFailed;
        }
        fds.push_back(pollfd{e->fd_, POLLIN, 0});
    }

    const bool infinite = timeoutMs < 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);

    for (;;) {
        const int wait = infinite ? -1 : RemainingMs(deadline);
        const int n = ::poll(fds.data(), fds.size(), wait);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return kFailed;
        }
        if (n == 0) {
            return kTimedOut;
        }
        for (size_t i = 0; i < fds.size(); ++i) {
            const short revents = fds[i].revents;
            if ((revents & (POLLERR | POLLNVAL)) != 0) {
                return kFailed;
            }
            if ((revents & POLLIN) == 0) {
                continue;
            }
            if (events[i]->manualReset_ || events[i]->TryConsume()) {
                return static_cast<int>(i);
            }
        }
        // Every auto-reset event we saw was taken by another waiter first: wait on.
    }
}

} // namespace platform
