#include "RigWindow.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>

void RigWindow::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        emit closed();
    }
}

QGroupBox* RigWindow::Frame(const char* caption) {
    return new QGroupBox(QLatin1String(caption));
}

void RigWindow::SetText(QLineEdit* box, const std::string& text) {
    const QString value = QString::fromStdString(text);
    if (box->text() != value) {
        box->setText(value);
    }
}

void RigWindow::ShowLog(QPlainTextEdit* box, std::string& shown, const std::string& text) {
    if (text.size() >= shown.size() && text.compare(0, shown.size(), shown) == 0) {
        if (text.size() > shown.size()) {
            QTextCursor cursor(box->document());
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(QString::fromStdString(text.substr(shown.size())));
            box->moveCursor(QTextCursor::End);
        }
    } else {
        box->setPlainText(QString::fromStdString(text));
        box->moveCursor(QTextCursor::End);
    }
    shown = text;
}

QMessageBox* RigWindow::OpenMessage(QMessageBox::Icon icon, const std::string& title,
                                    const std::string& text, QWidget* focusAfter) {
    auto* box = new QMessageBox(icon, QString::fromStdString(title), QString::fromStdString(text),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (focusAfter != nullptr) {
        connect(box, &QMessageBox::finished, focusAfter, [focusAfter] { focusAfter->setFocus(); });
    }
    box->open();
    return box;
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
