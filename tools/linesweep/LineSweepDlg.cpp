#include "LineSweepDlg.h"

#include "LineSweepArt.h"
#include "LineSweepStrings.h"
#include "ScheduleDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSystemTrayIcon>

using linesweep::ButtonState;
using linesweep::LineSweepController;
using linesweep::TrayAction;

CBitmapButton::CBitmapButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
    setText(text);
    setFocusPolicy(Qt::StrongFocus);
    pictures_[0] = linesweep::ButtonPicture(text, ButtonState::Normal);
    pictures_[1] = linesweep::ButtonPicture(text, ButtonState::Pressed);
    pictures_[2] = linesweep::ButtonPicture(text, ButtonState::Focused);
    pictures_[3] = linesweep::ButtonPicture(text, ButtonState::Disabled);
}

void CBitmapButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int state = !isEnabled() ? 3 : isDown() ? 1 : hasFocus() ? 2 : 0;
    p.drawPixmap(0, 0, pictures_[state]);
}

CLineSweepDlg::CLineSweepDlg(LineSweepController::Clock clock, TapiBinding& tapi, QWidget* parent)
    : QWidget(parent), controller_(*this, std::move(clock), tapi),
      background_(linesweep::BackgroundPicture()) {
    setWindowTitle(linesweep::kAppName);
    setWindowIcon(linesweep::ApplicationIcon());
    setFixedSize(210, 170);
    move(0, 0);
    const struct {
        const char* name;
        const char* text;
        int y;
        void (CLineSweepDlg::*slot)();
    } buttons[] = {{"setup", "Setup", 30, &CLineSweepDlg::OnSetup},
                   {"close", "Close", 80, &CLineSweepDlg::OnCloseButton},
                   {"exit", "Exit", 110, &CLineSweepDlg::OnExit}};
    for (const auto& b : buttons) {
        auto* button = new CBitmapButton(b.text, this);
        button->setObjectName(b.name);
        button->setGeometry(122, b.y, 81, 19);
        connect(button, &QAbstractButton::clicked, this, b.slot);
    }

    trayMenu_ = new QMenu(this);
    trayMenu_->addAction("Show Window", this, &CLineSweepDlg::OnShowWindow);
    trayMenu_->addAction("Setup", this, &CLineSweepDlg::OnSetup);
    trayMenu_->addAction("Exit", this, &CLineSweepDlg::OnExit);

    timer_.setSingleShot(true);
    // A coarse timer of about a minute is rounded to whole seconds and may fire in the minute
    // before the one it was armed for.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        controller_.OnTimer(LineSweepController::kTimerId);
        ArmTimer();
    });
    ArmTimer();
}

CLineSweepDlg::~CLineSweepDlg() {
    RemoveTrayIcon();
}

void CLineSweepDlg::ArmTimer() {
    timer_.start(LineSweepController::MillisecondsToNextTick(controller_.Now()));
}

void CLineSweepDlg::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(0, 0, background_);
}

void CLineSweepDlg::MessageBox(const std::string& text, linesweep::MessageIcon icon) {
    QMessageBox::Icon kind = QMessageBox::NoIcon;
    switch (icon) {
    case linesweep::MessageIcon::Hand:
        kind = QMessageBox::Critical;
        break;
    case linesweep::MessageIcon::Exclamation:
        kind = QMessageBox::Warning;
        break;
    case linesweep::MessageIcon::Information:
        kind = QMessageBox::Information;
        break;
    case linesweep::MessageIcon::None:
        break;
    }
    QMessageBox box(kind, linesweep::kAppName, QString::fromStdString(text), QMessageBox::Ok,
                    isVisible() ? this : nullptr);
    box.exec();
}

void CLineSweepDlg::Beep() {
    QApplication::beep();
}

void CLineSweepDlg::OnSetup() {
    controller_.SetSetupOpen(true);
    CScheduleDlg dialog(controller_, isVisible() ? this : nullptr);
    if (isVisible()) {
        dialog.move(frameGeometry().right() + 12, frameGeometry().top()); // beside, not over
    }
    dialog.Run();
    controller_.SetSetupOpen(false);
}

void CLineSweepDlg::OnCloseButton() {
    HideToTray();
}

void CLineSweepDlg::HideToTray() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        hide();
        AddTrayIcon();
    } else {
        showMinimized(); // no tray to come back from
    }
}

void CLineSweepDlg::OnExit() {
    timer_.stop();
    RemoveTrayIcon();
    exiting_ = true;
    close();
    QApplication::quit();
}

void CLineSweepDlg::OnShowWindow() {
    RemoveTrayIcon();
    showNormal();
}

void CLineSweepDlg::OnTrayNotify(unsigned iconId, unsigned mouseMessage) {
    switch (controller_.OnTrayNotify(iconId, mouseMessage)) {
    case TrayAction::RestoreWindow:
        RemoveTrayIcon();
        showNormal();
        raise();
        activateWindow();
        break;
    case TrayAction::ShowMenu:
        activateWindow();
        trayMenu_->popup(QCursor::pos());
        break;
    case TrayAction::None:
        break;
    }
}

void CLineSweepDlg::AddTrayIcon() {
    if (tray_ == nullptr) {
        tray_ = new QSystemTrayIcon(windowIcon(), this);
        tray_->setToolTip(QString(linesweep::kAppName).left(63));
        connect(tray_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger) {
                        OnTrayNotify(LineSweepController::kTrayIconId,
                                     LineSweepController::kLeftButtonDown);
                    } else if (reason == QSystemTrayIcon::Context) {
                        OnTrayNotify(LineSweepController::kTrayIconId,
                                     LineSweepController::kRightButtonUp);
                    }
                });
    }
    tray_->show();
}

void CLineSweepDlg::RemoveTrayIcon() {
    if (tray_ != nullptr) {
        tray_->hide();
    }
}

void CLineSweepDlg::closeEvent(QCloseEvent* event) {
    if (exiting_) {
        event->accept();
        return;
    }
    event->ignore();
    HideToTray();
}

// The window manager's menu cannot be extended here; the About item sits in the window's own.
void CLineSweepDlg::contextMenuEvent(QContextMenuEvent* event) {
    const QString item = linesweep::LoadString(linesweep::IDS_ABOUTBOX);
    if (item.isEmpty()) {
        return;
    }
    QMenu menu(this);
    menu.addAction(item, this, &CLineSweepDlg::OnAbout);
    menu.exec(event->globalPos());
}

void CLineSweepDlg::OnAbout() {
    QMessageBox::about(this, "About linesweep",
                       "linesweep for QMX Series\n\nClears the calls that the telephony "
                       "provider holds on its lines, at once or every day at a set time.");
}
