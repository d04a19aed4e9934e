#include "RigWindow.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QTimer>

void RigWindow::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        emit closed();
    }
}

void RigWindow::PressWhenEnabled(QPushButton* button) {
    if (button->isEnabled()) {
        button->click();
    }
}

void RigWindow::PressSoon(QPushButton* button) {
    QTimer::singleShot(0, this, [button] { PressWhenEnabled(button); });
}

void RigWindow::QuitAfter(int seconds, QPushButton* stop, QPushButton* quit) {
    QTimer::singleShot(seconds * 1000, this, [this, stop, quit] {
        PressWhenEnabled(stop);
        if (quit->isEnabled()) {
            quit->click();
        } else {
            close();
        }
    });
}
