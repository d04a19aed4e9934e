#include <platform/WorkerThread.h>

#include <atomic>
#include <system_error>
#include <utility>

namespace platform {

// Shared with the thread, so that a thread whose object was destroyed under it (by its own body)
// still has its events and flags until it ends.
struct WorkerThread::State {
    Event stop{true, false};
    Event ended{true, false};
    std::atomic<bool> started{false};
    std::atomic<bool> running{false};
    std::atomic<bool> finished{false};
    std::atomic<std::thread::id> id{};
    int exitCode = 0; // published by finished
};

WorkerThread::WorkerThread() : state_(std::make_shared<State>()) {}

WorkerThread::~WorkerThread() {
    RequestStop();
    std::lock_guard lock(threadMutex_);
    if (!thread_.joinable()) {
        return;
    }
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

bool WorkerThread::Start(Body body) {
    if (!body) {
        return false;
    }
    std::lock_guard lock(threadMutex_);
    if (state_->started.exchange(true)) {
        return false;
    }
    state_->running = true;
    try {
        thread_ = std::thread([state = state_, body = std::move(body)] {
            state->id = std::this_thread::get_id();
            const int code = body(state->stop);
            state->exitCode = code;
            // Ids are reused once a thread has ended; forget ours before anyone can join.
            state->id = std::thread::id();
            state->finished.store(true, std::memory_order_release);
            state->running = false;
            state->ended.Set();
        });
    } catch (const std::system_error&) {
        state_->running = false;
        state_->started = false;
        return false;
    }
    return true;
}

void WorkerThread::RequestStop() {
    state_->stop.Set();
}

bool WorkerThread::StopRequested() const {
    return state_->stop.IsSet();
}

Event& WorkerThread::StopEvent() {
    return state_->stop;
}

bool WorkerThread::IsRunning() const {
    return state_->running;
}

bool WorkerThread::HasStarted() const {
    return state_->started;
}

bool WorkerThread::IsCurrentThread() const {
    return state_->id.load() == std::this_thread::get_id();
}

void WorkerThread::Join() {
    if (IsCurrentThread()) {
        return;
    }
    std::lock_guard lock(threadMutex_);
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool WorkerThread::Join(int timeoutMs) {
    if (IsCurrentThread()) {
        return false;
    }
    if (!state_->started) {
        return true;
    }
    if (state_->ended.Wait(timeoutMs) != Event::WaitResult::Signaled &&
        !state_->finished.load(std::memory_order_acquire)) {
        return false;
    }
    Join();
    return true;
}

std::optional<int> WorkerThread::ExitCode() const {
    if (!state_->finished.load(std::memory_order_acquire)) {
        return std::nullopt;
    }
    return state_->exitCode;
}

} // namespace platform
