#pragma once

#include <QMainWindow>
#include <QMessageBox>

#include <memory>
#include <string>

class QCloseEvent;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The controller a window of the rig was given (a test's), or else the one it made and owns.
template <class Controller> class OwnedOrInjected {
public:
    explicit OwnedOrInjected(Controller* injected)
        : m_owned(injected == nullptr ? std::make_unique<Controller>() : nullptr),
          m_controller(injected == nullptr ? m_owned.get() : injected) {}

    Controller* get() const { return m_controller; }
    Controller* operator->() const { return m_controller; }
    Controller& operator*() const { return *m_controller; }

private:
    std::unique_ptr<Controller> m_owned;
    Controller* m_controller;
};

// What both windows of the rig share: the wiring to the controller, the closed signal that ends
// the program, frames, boxes, the log box and message boxes, and the button presses of a scripted
// start, which go through the same steps as a user's.
class RigWindow : public QMainWindow {
    Q_OBJECT

public:
    using QMainWindow::QMainWindow;

signals:
    // The window was closed (Quit, or the window's own close).
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

    // Called once the controls are built: from then on the controller's state and messages are
    // shown and its Quit closes the window. Connected before Form_Load, so that what loading says
    // is shown too.
    template <class Window, class Controller, class Message>
    void Open(const char* caption, Controller* controller, void (Window::*refresh)(),
              void (Window::*show)(const Message&)) {
        auto* window = static_cast<Window*>(this);
        setWindowTitle(QLatin1String(caption));
        connect(controller, &Controller::stateChanged, window, refresh);
        connect(controller, &Controller::message, window, show);
        connect(controller, &Controller::quitRequested, this, &QWidget::close);
        controller->Form_Load();
        (window->*refresh)();
    }

    static QGroupBox* Frame(const char* caption);
    // Only on change, so the caret of a box being typed in stays where it is.
    static void SetText(QLineEdit* box, const std::string& text);

    // Shows `text` in the box, which holds `shown`. A text that grew at its end (the usual case)
    // is appended, so a long log is not set again on every line.
    static void ShowLog(QPlainTextEdit* box, std::string& shown, const std::string& text);
    // Window-modal but not blocking: no nested event loop runs inside the controller's steps.
    // `focusAfter`, when given, takes the focus once the box is closed.
    QMessageBox* OpenMessage(QMessageBox::Icon icon, const std::string& title,
                             const std::string& text, QWidget* focusAfter = nullptr);

    // A disabled button is not pressed, as a user could not press it.
    static void PressWhenEnabled(QPushButton* button);
    // Pressed once the event loop runs, when it is enabled then.
    void PressSoon(QPushButton* button);
    // After the delay: `stop` when it is enabled, then `quit` when it is enabled, or else the
    // window is closed.
    void QuitAfter(int seconds, QPushButton* stop, QPushButton* quit);
};
