#include <platform/DebugOutput.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <mutex>
#include <pthread.h>
#include <unistd.h>

namespace platform {

namespace {

// Keeps a write to a broken pipe from killing the process, without touching the process's own
// SIGPIPE disposition: the signal is blocked in this thread around the write and a SIGPIPE that
// the write raised is taken off again before the mask is restored.
class SigPipeGuard {
public:
    SigPipeGuard() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &saved_);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigPipeGuard() {
        if (raised_ && !wasPending_) {
            const timespec none{};
            while (sigtimedwait(&pipe_, nullptr, &none) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    }
    SigPipeGuard(const SigPipeGuard&) = delete;
    SigPipeGuard& operator=(const SigPipeGuard&) = delete;

    void NoteBrokenPipe() { raised_ = true; }

private:
    sigset_t pipe_;
    sigset_t saved_;
    bool wasPending_ = false;
    bool raised_ = false;
};

} // namespace

void DebugOutput(const std::string& text) {
    if (text.empty()) {
        return;
    }
    // One write carries the whole text as a rule; the lock keeps the rest of a short write
    // from being overtaken by another thread's text.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const int savedErrno = errno;
    SigPipeGuard guard;
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, data, left);
        if (n > 0) {
            data += n;
            left -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EPIPE) {
            guard.NoteBrokenPipe();
        }
        break;
    }
    errno = savedErrno;
}

} // namespace platform
