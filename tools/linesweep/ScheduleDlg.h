#pragma once

// The setup dialog "linesweep for QMX Series": the line to clear, the daily time, Immediately,
// Apply and Cancel, over ScheduleDialogLogic.

#include "ScheduleDialogLogic.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QPushButton;

class CScheduleDlg : public QDialog {
    Q_OBJECT
public:
    CScheduleDlg(linesweep::LineSweepController& main, QWidget* parent = nullptr);

    // Gets the line list ready and runs the dialog; ends at once when that fails.
    void Run();
    // Gets the list ready and fills the controls without running; false when that failed.
    bool Prepare();

public slots:
    void accept() override;
    void reject() override;

private:
    void OnScheduledClicked();
    void OnImmediately();
    void Focus(linesweep::ScheduleDialogLogic::Focus focus);
    static std::optional<std::string> Selected(const QComboBox* box);

    linesweep::ScheduleDialogLogic logic_;
    QComboBox* line_;
    QCheckBox* scheduled_;
    QComboBox* hour_;
    QComboBox* minute_;
    QPushButton* immediately_;
    QPushButton* apply_;
    QPushButton* cancel_;
};
