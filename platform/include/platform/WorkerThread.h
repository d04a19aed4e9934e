#pragma once

// A worker thread that is only ever asked to stop, never killed: the body receives a manual-reset
// stop event, waits on it among its other events, and returns an exit code when it sees it.
//
//   platform::WorkerThread worker;
//   worker.Start([](platform::Event& stop) {
//       while (stop.Wait(1000) == platform::Event::WaitResult::TimedOut) { ... }
//       return 0;
//   });
//   worker.RequestStop();
//   worker.Join();
//
// The destructor requests the stop and joins. If the object is destroyed by its own thread (a
// body that deletes its owner), the thread is let go instead and ends on its own.

#include <platform/Event.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace platform {

class WorkerThread {
public:
    using Body = std::function<int(Event& stop)>;

    WorkerThread();
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs the body on a new thread. An object runs one thread in its life: false when it has
    // been started before, when the body is empty, or when the system cannot create a thread.
    bool Start(Body body);

    // Sets the stop event; the body decides when to return. Also before Start, so a thread
    // started afterwards sees the request at once.
    void RequestStop();
    bool StopRequested() const;
    Event& StopEvent();

    // True from a successful Start until the body has returned.
    bool IsRunning() const;
    bool HasStarted() const;
    // Whether the caller is this worker's own thread.
    bool IsCurrentThread() const;

    // Waits for the thread to end. Returns at once when it was never started, and never waits
    // on its own thread (that could not end).
    void Join();
    // As Join, but gives up after the time-out; true when the thread has ended.
    bool Join(int timeoutMs);

    // The body's return value, once it has returned.
    std::optional<int> ExitCode() const;

private:
    struct State;

    std::shared_ptr<State> state_;
    std::mutex threadMutex_; // guards thread_: Start, Join and the destructor
    std::thread thread_;
};

} // namespace platform
