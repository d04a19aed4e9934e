#include "WaitDialog.h"

#include <shell/WaitDialogModel.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>

namespace shell {

WaitDialog::WaitDialog(WaitDialogModel& model, int tickMs, const QString& message, QWidget* parent)
    : QDialog(parent), m_model(model) {
    setWindowTitle(QStringLiteral("Veltrane Link"));
    // No close box: there is nothing the user could end here.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(message, this);
    label->setWordWrap(true);
    layout->addWidget(label);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, m_model.TickLimit());
    m_progress->setValue(m_model.Position());
    m_progress->setTextVisible(false);
    m_progress->setMinimumWidth(320);
    layout->addWidget(m_progress);

    m_timer.setInterval(std::max(1, tickMs));
    connect(&m_timer, &QTimer::timeout, this, &WaitDialog::OnTick);
}

void WaitDialog::Run() {
    if (m_model.IsDone()) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_timer.start();
    exec();
    m_timer.stop();
    QApplication::restoreOverrideCursor();
}

void WaitDialog::OnTick() {
    const bool done = m_model.OnTick();
    m_progress->setValue(m_model.Position());
    if (done) {
        m_timer.stop();
        accept();
    }
}

// Escape and the close box both come here; QDialog then keeps the dialog open.
void WaitDialog::reject() {}

} // namespace shell
