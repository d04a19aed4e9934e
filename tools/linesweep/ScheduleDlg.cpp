#include "ScheduleDlg.h"

#include "LineSweepArt.h"
#include "LineSweepStrings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

using linesweep::ScheduleDialogLogic;

namespace {

void Fill(QComboBox* box, const std::vector<std::string>& items, int selected) {
    box->clear();
    for (const std::string& item : items) {
        box->addItem(QString::fromStdString(item));
    }
    box->setCurrentIndex(selected);
}

struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

CScheduleDlg::CScheduleDlg(linesweep::LineSweepController& main, QWidget* parent)
    : QDialog(parent), logic_(main) {
    setWindowTitle(linesweep::kAppName);
    setWindowIcon(linesweep::ApplicationIcon());
    line_ = new QComboBox;
    line_->setObjectName("line");
    line_->setMinimumWidth(160);
    scheduled_ = new QCheckBox("Scheduled every day at:");
    scheduled_->setObjectName("scheduled");
    hour_ = new QComboBox;
    hour_->setObjectName("hour");
    minute_ = new QComboBox;
    minute_->setObjectName("minute");
    immediately_ = new QPushButton("Immediately");
    immediately_->setObjectName("immediately");
    apply_ = new QPushButton("Apply");
    apply_->setObjectName("apply");
    apply_->setDefault(true);
    cancel_ = new QPushButton("Cancel");
    cancel_->setObjectName("cancel");

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Phone Line:"), 0, 0);
    grid->addWidget(line_, 0, 1, 1, 3);
    grid->addWidget(scheduled_, 1, 0);
    grid->addWidget(hour_, 1, 1);
    grid->addWidget(new QLabel(":"), 1, 2);
    grid->addWidget(minute_, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(immediately_);
    buttons->addStretch();
    buttons->addWidget(apply_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(scheduled_, &QCheckBox::clicked, this, &CScheduleDlg::OnScheduledClicked);
    connect(immediately_, &QPushButton::clicked, this, &CScheduleDlg::OnImmediately);
    connect(apply_, &QPushButton::clicked, this, &CScheduleDlg::accept);
    connect(cancel_, &QPushButton::clicked, this, &CScheduleDlg::reject);
}

bool CScheduleDlg::Prepare() {
    WaitCursor wait;
    if (!logic_.OnInitDialog()) {
        return false;
    }
    const auto& stored = logic_.Stored();
    Fill(line_, logic_.LineItems(), ScheduleDialogLogic::IndexOf(logic_.LineItems(), stored.line));
    Fill(hour_, ScheduleDialogLogic::HourItems(),
         ScheduleDialogLogic::IndexOf(ScheduleDialogLogic::HourItems(), stored.hour));
    Fill(minute_, ScheduleDialogLogic::MinuteItems(),
         ScheduleDialogLogic::IndexOf(ScheduleDialogLogic::MinuteItems(), stored.minute));
    scheduled_->setChecked(stored.scheduled);
    OnScheduledClicked();
    return true;
}

void CScheduleDlg::Run() {
    if (Prepare()) {
        exec();
    }
}

std::optional<std::string> CScheduleDlg::Selected(const QComboBox* box) {
    if (box->currentIndex() < 0) {
        return std::nullopt;
    }
    return box->currentText().toStdString();
}

void CScheduleDlg::OnScheduledClicked() {
    hour_->setEnabled(scheduled_->isChecked());
    minute_->setEnabled(scheduled_->isChecked());
}

void CScheduleDlg::Focus(ScheduleDialogLogic::Focus focus) {
    switch (focus) {
    case ScheduleDialogLogic::Focus::Line:
        line_->setFocus();
        break;
    case ScheduleDialogLogic::Focus::Hour:
        hour_->setFocus();
        break;
    case ScheduleDialogLogic::Focus::Minute:
        minute_->setFocus();
        break;
    case ScheduleDialogLogic::Focus::None:
        break;
    }
}

void CScheduleDlg::OnImmediately() {
    const auto line = Selected(line_);
    if (!line) {
        Focus(logic_.OnImmediately(line));
        return;
    }
    WaitCursor wait;
    Focus(logic_.OnImmediately(line));
}

void CScheduleDlg::accept() {
    const ScheduleDialogLogic::Controls controls{scheduled_->isChecked(), Selected(line_),
                                                 Selected(hour_), Selected(minute_)};
    const auto focus = logic_.OnOK(controls);
    if (focus != ScheduleDialogLogic::Focus::None) {
        Focus(focus);
        return;
    }
    QDialog::accept();
}

void CScheduleDlg::reject() {
    logic_.OnCancel();
    QDialog::reject();
}
