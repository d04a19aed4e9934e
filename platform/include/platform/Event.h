#pragma once

// A waitable event in the manner the engine was designed around: manual-reset (stays signaled
// until Reset) or auto-reset (one successful wait consumes it), with waits on one event or on
// several at once.
//
// It is built on an eventfd, so the event is also a file descriptor that polls readable while it
// is signaled; a poll-based reader can put Fd() into its own poll set to be woken by Set(). Such a
// reader does not consume an auto-reset event by polling; it calls Wait(0) to take it.
//
// All operations are thread-safe. The object must outlive every wait on it.

#include <atomic>
#include <initializer_list>
#include <span>

namespace platform {

class Event {
public:
    static constexpr int kInfinite = -1; // any negative time-out waits for ever

    // Results of WaitAny besides the index of the event that ended the wait.
    static constexpr int kTimedOut = -1;
    static constexpr int kFailed = -2;

    enum class WaitResult { Signaled, TimedOut, Failed };

    explicit Event(bool manualReset = true, bool initialState = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // False only when the system refused the descriptor; every wait on such an event fails.
    bool IsValid() const { return fd_ >= 0; }
    bool IsManualReset() const { return manualReset_; }

    bool Set();
    bool Reset();

    // Signaled (an auto-reset event is consumed by this call), TimedOut or Failed.
    WaitResult Wait(int timeoutMs = kInfinite);

    // Whether the event is signaled now, without consuming an auto-reset event.
    bool IsSet() const;

    // Readable while signaled. Owned by the event: do not read, write or close it.
    int Fd() const { return fd_; }

    // Waits until any of the events is signaled and returns the lowest index among those that
    // are; only that one is consumed, and only if it is auto-reset. Returns kTimedOut or
    // kFailed (no events, a null entry, an invalid event). An event may appear more than once.
    static int WaitAny(std::span<Event* const> events, int timeoutMs = kInfinite);
    static int WaitAny(std::initializer_list<Event*> events, int timeoutMs = kInfinite) {
        return WaitAny(std::span<Event* const>(events.begin(), events.size()), timeoutMs);
    }

private:
    // Takes the signal of an auto-reset event; false when another waiter was first.
    bool TryConsume();

    int fd_ = -1;
    bool manualReset_ = true;
    // A manual-reset event's signal as its last Set saw it, so setting one that is already set
    // (a reader marking every record) costs no system call. It can be true while the descriptor
    // is already clear only during a Reset, which then wins, as it would in either order.
    std::atomic<bool> set_{false};
};

} // namespace platform
