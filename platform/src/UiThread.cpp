#include <platform/UiThread.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace platform {

bool PostToUiThread(std::function<void()> call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !call) {
        return false;
    }
    return QMetaObject::invokeMethod(
        app, [call = std::move(call)] { call(); }, Qt::QueuedConnection);
}

bool IsUiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace platform
