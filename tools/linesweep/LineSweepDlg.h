#pragma once

// linesweep's main window over LineSweepController: the picture with the Setup, Close and Exit
// buttons, the tray icon and its menu, and the schedule tick at each whole minute. Where no
// tray exists, closing the window minimises it instead of hiding it.

#include "LineSweepController.h"

#include <QAbstractButton>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

class QMenu;
class QSystemTrayIcon;

// A push button drawn from four pictures: normal, pressed, focused, disabled.
class CBitmapButton : public QAbstractButton {
    Q_OBJECT
public:
    CBitmapButton(const QString& text, QWidget* parent);
    QSize sizeHint() const override { return {81, 19}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QPixmap pictures_[4];
};

class CLineSweepDlg : public QWidget, public linesweep::LineSweepUi {
    Q_OBJECT
public:
    explicit CLineSweepDlg(linesweep::LineSweepController::Clock clock = {},
                           TapiBinding& tapi = TapiBinding::Module(), QWidget* parent = nullptr);
    ~CLineSweepDlg() override;

    void MessageBox(const std::string& text, linesweep::MessageIcon icon) override;
    void Beep() override;

    void OnSetup();
    void OnCloseButton();
    void OnExit();
    void OnShowWindow();
    void OnTrayNotify(unsigned iconId, unsigned mouseMessage);
    QTimer& ScheduleTimer() { return timer_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void AddTrayIcon();
    void RemoveTrayIcon();
    void HideToTray();
    void ArmTimer();
    void OnAbout();

    linesweep::LineSweepController controller_;
    QPixmap background_;
    QTimer timer_;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    bool exiting_ = false;
};
