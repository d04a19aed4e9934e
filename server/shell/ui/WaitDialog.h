#pragma once

#include <QDialog>
#include <QTimer>

class QProgressBar;

namespace shell {

class WaitDialogModel;

// The modal progress dialog of the device download wait. It only shows the model's progress and
// ticks it; the model alone decides when the wait is over, so the user cannot close it.
class WaitDialog : public QDialog {
    Q_OBJECT
public:
    WaitDialog(WaitDialogModel& model, int tickMs, const QString& message,
               QWidget* parent = nullptr);

    // Runs the dialog modally, with the wait cursor, until the model's wait has ended (or the
    // application is quitting). Returns at once when the wait is already over.
    void Run();

    QProgressBar* ProgressBar() const { return m_progress; }

    // Ignored: the wait ends only through the model.
    void reject() override;

private:
    void OnTick();

    WaitDialogModel& m_model;
    QProgressBar* m_progress = nullptr;
    QTimer m_timer;
};

} // namespace shell
