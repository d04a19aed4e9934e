#pragma once

// The start of a test of one of the rig's windows: a QApplication made before any plain one, a
// registry of the test's own, and the window over a controller the test holds, its close seen.
// Include it in one file of a test program only (it defines the program's leak suppressions).

#include <testsupport/TempRegistry.h>
#include <testsupport/TestApp.h>

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>

#include <gtest/gtest.h>

// Fontconfig keeps its configuration for the life of the process and never frees it; that is
// the font library's leak, not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace rigtest {

// Widgets need a QApplication; make it before any test of this program can make a plain one.
class WidgetApplication : public ::testing::Environment {
public:
    void SetUp() override { testsupport::App<QApplication>(); }
};
inline const auto* const kWidgetApplication =
    ::testing::AddGlobalTestEnvironment(new WidgetApplication);

template <class Window, class Controller> class RigWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(qobject_cast<QApplication*>(QCoreApplication::instance()), nullptr);
        ASSERT_TRUE(registry.IsReady());
        controller = new Controller;
        Prepare(*controller);
        window = new Window(controller);
        QObject::connect(window, &Window::closed, [this] { closed = true; });
    }
    void TearDown() override {
        delete window;
        delete controller;
    }
    // What the controller needs before the window loads it.
    virtual void Prepare(Controller&) {}

    template <class T> T* Find(const char* name) {
        T* widget = window->template findChild<T*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString Text(const char* name) { return Find<QLineEdit>(name)->text(); }
    QStringList FrameTitles() {
        QStringList titles;
        for (QGroupBox* box : window->template findChildren<QGroupBox*>())
            titles << box->title();
        return titles;
    }

    testsupport::TempRegistry registry;
    Controller* controller = nullptr;
    Window* window = nullptr;
    bool closed = false; // the window has said it closed
};

} // namespace rigtest
