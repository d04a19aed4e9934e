#include "MonitorWindow.h"

#include "ConfigDialog.h"
#include "DialogBuilder.h"
#include "MonitorTexts.h"
#include "MonitorTime.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>

namespace {

// The width a row's time needs with its image, the widest month of the program's format taken.
int TimeColumnNeed(QTreeWidget& list, MonitorKind kind, const std::vector<QIcon>& icons) {
    int need = 0;
    for (int month = 1; month <= 12; ++month) {
        MonitorClock c;
        c.year = 2028;
        c.month = month;
        c.day = 28;
        c.hour = 20;
        c.minute = 58;
        c.second = 48;
        const std::string text =
            kind == MonitorKind::Smdr ? FormatSmdrTime(c) : FormatSwitchListTime(c);
        auto* sample = new QTreeWidgetItem(&list, {QString::fromStdString(text)});
        if (!icons.empty())
            sample->setIcon(0, icons.front());
        need = std::max(need, list.sizeHintForIndex(list.model()->index(0, 0)).width());
        delete sample;
    }
    return need;
}

} // namespace

MonitorWindow::MonitorWindow(MonitorKind kind, const MonitorLanguage& language,
                             const QIcon& programIcon)
    : m_kind(kind), m_language(language), m_programIcon(programIcon) {
    m_followTimer.setSingleShot(true);
    connect(&m_followTimer, &QTimer::timeout, this, &MonitorWindow::ShowNewest);
    const MonitorDialogTemplate* t = language.Dialog(kDlgMain);
    if (t == nullptr)
        return;
    m_controls = DialogBuilder::Build(*this, *t, language, programIcon);
    setWindowIcon(programIcon);
    // The window's menu entry for the About dialog.
    const std::string about = language.String(kStrAbout);
    if (!about.empty()) {
        auto* action = new QAction(QString::fromStdString(about), this);
        connect(action, &QAction::triggered, this, &MonitorWindow::ShowAbout);
        addAction(action);
        setContextMenuPolicy(Qt::ActionsContextMenu);
    }
}

QWidget* MonitorWindow::Control(int id) const {
    const auto found = m_controls.find(id);
    return found != m_controls.end() ? found->second : nullptr;
}

QTreeWidget* MonitorWindow::List(int id) const {
    return qobject_cast<QTreeWidget*>(Control(id));
}

void MonitorWindow::Attach(MonitorCore& core, const std::map<int, std::vector<QIcon>>& images) {
    m_core = &core;
    m_images = images;
    const auto button = [&](int id, auto handler) {
        if (auto* b = qobject_cast<QPushButton*>(Control(id)))
            connect(b, &QPushButton::clicked, this, handler);
    };
    button(kIdConfig, [this] { m_core->OnConfig(); });
    button(kIdStart, [this] { m_core->OnStartMonitor(); });
    button(kIdStop, [this] { m_core->OnStopMonitor(); });
    button(kIdOk, [this] {
        if (m_core->OnEnd())
            QDialog::accept();
    });
    for (const auto& [id, icons] : images) {
        QTreeWidget* list = List(id);
        if (list == nullptr)
            continue;
        list->setHeaderLabels({QString::fromStdString(Text(kStrTimeColumn)),
                               QString::fromStdString(Text(kStrMessageColumn))});
        // A fifth for the time, but never less than the whole time in the font in use.
        const int width = list->width();
        const int time = std::max(width / 5, TimeColumnNeed(*list, m_kind, icons));
        list->setColumnWidth(0, time);
        list->setColumnWidth(1, time > width / 5 ? width - time : width * 4 / 5);
    }
}

std::string MonitorWindow::Text(unsigned id) const {
    return m_language.String(id);
}

void MonitorWindow::ShowMessage(unsigned id) {
    if (m_autoAnswer || m_ending)
        return;
    ++m_nestedLoops;
    QMessageBox::information(this, windowTitle(), QString::fromStdString(Text(id)));
    --m_nestedLoops;
}

void MonitorWindow::ShowMessage(unsigned id, const std::string& detail) {
    if (m_autoAnswer || m_ending)
        return;
    ++m_nestedLoops;
    QMessageBox::information(this, windowTitle(),
                             QString::fromStdString(Text(id) + "\n\n" + detail));
    --m_nestedLoops;
}

bool MonitorWindow::Ask(unsigned id) {
    if (m_autoAnswer)
        return true;
    if (m_ending)
        return false;
    ++m_nestedLoops;
    const bool ok = QMessageBox::question(this, windowTitle(), QString::fromStdString(Text(id)),
                                          QMessageBox::Ok | QMessageBox::Cancel,
                                          QMessageBox::Cancel) == QMessageBox::Ok;
    --m_nestedLoops;
    return ok;
}

void MonitorWindow::SetText(int controlId, const std::string& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(Control(controlId)))
        edit->setText(QString::fromStdString(text));
}

void MonitorWindow::EnableControl(int controlId, bool enabled) {
    if (QWidget* widget = Control(controlId))
        widget->setEnabled(enabled);
}

void MonitorWindow::AddRow(int listId, const std::string& time, const std::string& text,
                           int image) {
    AddRows(listId, {MonitorRow{time, text, image}});
}

void MonitorWindow::AddRows(int listId, const std::vector<MonitorRow>& rows) {
    QTreeWidget* list = List(listId);
    if (list == nullptr || rows.empty())
        return;
    const std::vector<QIcon>& icons = m_images[listId];
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (const MonitorRow& row : rows) {
        auto* item = new QTreeWidgetItem(
            {QString::fromStdString(row.time),
             QString::fromLatin1(row.text.data(), static_cast<qsizetype>(row.text.size()))});
        if (row.image >= 0 && row.image < static_cast<int>(icons.size()))
            item->setIcon(0, icons[static_cast<std::size_t>(row.image)]);
        items.append(item);
    }
    list->addTopLevelItems(items);
    FollowNewest(*list);
}

// A list that shows every row as it comes spends its time laying out and painting rows nobody
// can read at that pace: it is painted and scrolled to its newest row at most once an interval.
void MonitorWindow::FollowNewest(QTreeWidget& list) {
    if (std::find(m_following.begin(), m_following.end(), &list) == m_following.end()) {
        m_following.push_back(&list);
        list.setUpdatesEnabled(false);
    }
    if (!m_followTimer.isActive())
        m_followTimer.start(kFollowIntervalMs);
}

void MonitorWindow::ShowNewest() {
    for (QTreeWidget* list : m_following) {
        if (const int count = list->topLevelItemCount(); count > 0)
            list->scrollToItem(list->topLevelItem(count - 1));
        list->setUpdatesEnabled(true);
    }
    m_following.clear();
}

void MonitorWindow::ClearRows(int listId) {
    if (QTreeWidget* list = List(listId))
        list->clear();
}

bool MonitorWindow::RunConfig(const MonitorSettings& current, MonitorSettings& edited) {
    ConfigDialog dialog(m_kind, m_language, current, this);
    if (!dialog.IsBuilt() || m_autoAnswer || m_ending)
        return false;
    ++m_nestedLoops;
    const int result = dialog.exec();
    --m_nestedLoops;
    if (result != QDialog::Accepted || m_ending)
        return false;
    edited = dialog.Edited();
    return true;
}

void MonitorWindow::ShowAbout() {
    const MonitorDialogTemplate* t = m_language.Dialog(kDlgAbout);
    if (t == nullptr)
        return;
    if (m_ending)
        return;
    QDialog about(this);
    const auto controls = DialogBuilder::Build(about, *t, m_language, m_programIcon);
    if (const auto ok = controls.find(kIdOk); ok != controls.end())
        connect(qobject_cast<QPushButton*>(ok->second), &QPushButton::clicked, &about,
                &QDialog::accept);
    ++m_nestedLoops;
    about.exec();
    --m_nestedLoops;
}

// Escape ends the monitor at once, without the question, but nothing is left open.
void MonitorWindow::reject() {
    if (m_core != nullptr)
        m_core->Shutdown();
    QDialog::reject();
}

void MonitorWindow::RequestEnd() {
    m_ending = true;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget);
            dialog != nullptr && dialog != this && dialog->isVisible())
            dialog->reject();
    // A handler whose dialog just closed finishes first; the window ends after it.
    if (m_nestedLoops > 0)
        QTimer::singleShot(0, this, [this] { RequestEnd(); });
    else
        reject();
}

void MonitorWindow::closeEvent(QCloseEvent* event) {
    if (m_core != nullptr && !m_core->OnEnd()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
