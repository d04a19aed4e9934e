#pragma once

// One application object per test process and a way to run its event loop until
// something has happened.
//
//   testsupport::App();                  // QCoreApplication
//   testsupport::App<QApplication>();    // widget tests (include <QApplication> first)
//   EXPECT_TRUE(testsupport::SpinUntil([&] { return done; }));

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>

namespace testsupport {

// Makes the application object on first use, on the calling thread (gtest's main thread).
// An application that the test made itself is used as it is. The object is never destroyed:
// tearing it down among the static destructors races Qt's own globals.
template <class AppType = QCoreApplication> QCoreApplication& App() {
    static QCoreApplication* app = [] {
        if (QCoreApplication* existing = QCoreApplication::instance()) {
            return existing;
        }
        static int argc = 1;
        static char name[] = "tests";
        static char* argv[] = {name, nullptr};
        return static_cast<QCoreApplication*>(new AppType(argc, argv));
    }();
    return *app;
}

// Runs an event loop on the calling thread until done() holds or the time-out has passed;
// returns done()'s last answer. A real loop (not processEvents) so that deferred deletes run.
inline bool SpinUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    App();
    if (done()) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done() || std::chrono::steady_clock::now() >= deadline) {
            loop.quit();
        }
    });
    tick.start(2);
    loop.exec();
    return done();
}

// Runs the event loop for the given time, for checks that something did NOT happen.
inline void SpinFor(std::chrono::milliseconds time) {
    SpinUntil([] { return false; }, time);
}

} // namespace testsupport
