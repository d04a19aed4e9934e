#include <platform/ui/WindowStopSignal.h>

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace platform {
namespace {

bool HasWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

void Close(QWidget* window) {
    if (!window->isVisible())
        return;
    // A dialog that refuses (a progress the program ends itself) stays; its program is told.
    if (auto* dialog = qobject_cast<QDialog*>(window))
        dialog->reject();
    else
        window->close();
}

} // namespace

WindowStopSignal::WindowStopSignal(Handler onSignal, const StopSignal::Report& report)
    : onSignal_(std::move(onSignal)),
      signal_(std::make_unique<StopSignal>([this](int signalNumber) { OnSignal(signalNumber); },
                                           report)) {}

WindowStopSignal::~WindowStopSignal() {
    if (watching_ && QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeEventFilter(this);
}

void WindowStopSignal::SetHandler(Handler onSignal) {
    onSignal_ = std::move(onSignal);
    if (stopping_ && onSignal_)
        QTimer::singleShot(0, this, [this, signalNumber = lastSignal_] {
            if (onSignal_)
                onSignal_(signalNumber);
        });
}

void WindowStopSignal::KeepOpen(QWidget* window) {
    kept_.emplace_back(window);
}

void WindowStopSignal::OnSignal(int signalNumber) {
    stopping_ = true;
    lastSignal_ = signalNumber;
    if (HasWidgets()) {
        if (!watching_) {
            QCoreApplication::instance()->installEventFilter(this);
            watching_ = true;
        }
        CloseOpenWindows();
    }
    if (onSignal_)
        onSignal_(signalNumber);
}

bool WindowStopSignal::ShouldClose(const QWidget* widget) const {
    if (!widget->isWindow() || (!widget->isModal() && widget->windowType() != Qt::Popup))
        return false;
    return std::none_of(kept_.begin(), kept_.end(),
                        [widget](const QPointer<QWidget>& kept) { return kept == widget; });
}

void WindowStopSignal::CloseOpenWindows() const {
    // Each rejected box leaves its loop once that loop runs again, innermost first.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        if (window->isVisible() && ShouldClose(window))
            Close(window);
}

bool WindowStopSignal::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        // Shown before its dialog loop starts: closed from that loop, which then ends.
        if (ShouldClose(widget))
            QTimer::singleShot(0, widget, [widget] { Close(widget); });
    }
    return QObject::eventFilter(watched, event);
}

} // namespace platform
