#include "OrbManagerWindow.h"

#include "ShellDialogsUi.h"
#include "WaitDialog.h"
#include <shell/ConnectedUsersModel.h>
#include <shell/OrbManagerServer.h>
#include <shell/ShellDialogs.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace shell {

namespace {

const QString kCaption = QStringLiteral("Veltrane Link");

// String ids the language library has for these controls.
constexpr int kStrStart = 107;
constexpr int kStrWaitingForDevices = 140;

QTreeWidget* MakeList(QWidget* parent) {
    auto* list = new QTreeWidget(parent);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAlternatingRowColors(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return list;
}

QLineEdit* MakeReadOnlyText(QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::ClickFocus);
    return edit;
}

} // namespace

OrbManagerWindow::OrbManagerWindow(OrbManagerServer& server, QWidget* parent)
    : QWidget(parent, Qt::Window), m_server(server) {
    setWindowTitle(kCaption);
    setWindowIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    m_logIcons = {style()->standardIcon(QStyle::SP_MessageBoxInformation),
                  style()->standardIcon(QStyle::SP_MessageBoxCritical),
                  style()->standardIcon(QStyle::SP_MessageBoxWarning),
                  style()->standardIcon(QStyle::SP_MessageBoxQuestion)};
    m_pDialogsUi = new ShellDialogsUi(this, m_server);
    BuildLayout();
    connect(&m_server, &OrbManagerServer::Ended, this, &OrbManagerWindow::OnServerEnded);
    m_server.SetView(this);
}

OrbManagerWindow::~OrbManagerWindow() {
    m_server.SetView(nullptr);
    delete m_pDialogsUi;
    SetWaitCursor(false);
}

QString OrbManagerWindow::Text(int id, const char* fallback) const {
    const std::string text = m_server.ResString(id);
    return text.empty() ? QString::fromUtf8(fallback) : QString::fromStdString(text);
}

QPushButton* OrbManagerWindow::AddButton(int id, const QString& text) {
    auto* button = new QPushButton(text, this);
    // Queued: a handler may run a modal loop or end the server, and should not do that from
    // inside the button's own click handling.
    connect(
        button, &QPushButton::clicked, this, [this, id] { m_server.OnButton(id); },
        Qt::QueuedConnection);
    return button;
}

void OrbManagerWindow::BuildLayout() {
    m_edtConnType = MakeReadOnlyText(this);
    m_edtStatus = MakeReadOnlyText(this);
    m_edtClientCount = MakeReadOnlyText(this);
    m_edtClientCount->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0")) * 8 +
                                      16);

    auto* info = new QHBoxLayout;
    auto* leftForm = new QFormLayout;
    leftForm->addRow(QStringLiteral("Link type:"), m_edtConnType);
    leftForm->addRow(QStringLiteral("Status:"), m_edtStatus);
    info->addLayout(leftForm, 1);
    auto* countForm = new QFormLayout;
    countForm->addRow(QStringLiteral("Clients:"), m_edtClientCount);
    info->addLayout(countForm);

    m_lstClients = MakeList(this);
    m_lstClients->header()->setSectionResizeMode(QHeaderView::Stretch);
    m_lstClients->header()->setDefaultAlignment(Qt::AlignCenter);

    m_lstLog = MakeList(this);
    m_lstLog->setColumnCount(2);
    m_lstLog->setIconSize(QSize(16, 16));
    m_lstLog->header()->setStretchLastSection(true);
    m_lstLog->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    m_lstLog->header()->resizeSection(
        0, fontMetrics().horizontalAdvance(QStringLiteral("May 30, 2000 00:00:00")) + 48);

    auto* lists = new QSplitter(Qt::Vertical, this);
    lists->addWidget(m_lstClients);
    lists->addWidget(m_lstLog);
    lists->setStretchFactor(0, 1);
    lists->setStretchFactor(1, 2);
    lists->setChildrenCollapsible(false);

    m_btnConnEnv = AddButton(kIdcConnEnv, QStringLiteral("Connection Settings..."));
    m_btnStartStop = AddButton(kIdcStartStop, Text(kStrStart, "Start"));
    m_btnUserList = AddButton(kIdcUserList, QStringLiteral("Users..."));
    m_btnUserManager = AddButton(kIdcUserManager, QStringLiteral("User Manager..."));
    m_btnOptions = AddButton(kIdcOptions, QStringLiteral("Options..."));

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_btnStartStop);
    buttons->addSpacing(12);
    buttons->addWidget(m_btnConnEnv);
    buttons->addWidget(m_btnOptions);
    buttons->addSpacing(12);
    buttons->addWidget(m_btnUserList);
    buttons->addWidget(m_btnUserManager);
    buttons->addSpacing(12);
    for (int id : {1101, 1102, 1105})
        buttons->addWidget(m_pDialogsUi->Indicator(id));
    buttons->addStretch(1);
    auto* about = new QPushButton(Text(101, "About Veltrane Link..."), this);
    connect(
        about, &QPushButton::clicked, this, [this] { m_pDialogsUi->ShowAbout(); },
        Qt::QueuedConnection);
    buttons->addWidget(about);
    buttons->addWidget(m_pDialogsUi->LogoButton());
    // A double click on a client offers to disconnect it.
    connect(
        m_lstClients, &QTreeWidget::itemDoubleClicked, this,
        [this](QTreeWidgetItem* item) {
            m_server.Dialogs().OnClientRowActivated(
                {item->text(0).toStdString(), item->text(1).toStdString(), {}, {}, {}});
        },
        Qt::QueuedConnection);

    auto* body = new QHBoxLayout;
    body->addWidget(lists, 1);
    body->addLayout(buttons);

    auto* top = new QVBoxLayout(this);
    top->addLayout(info);
    top->addLayout(body, 1);

    resize(960, 640);
}

QWidget* OrbManagerWindow::Control(int id) const {
    switch (id) {
    case kIdcConnEnv:
        return m_btnConnEnv;
    case kIdcStartStop:
        return m_btnStartStop;
    case kIdcUserList:
        return m_btnUserList;
    case kIdcStatus:
        return m_edtStatus;
    case kIdcClientCount:
        return m_edtClientCount;
    case kIdcUserManager:
        return m_btnUserManager;
    case kIdcOptions:
        return m_btnOptions;
    case kIdcClientList:
        return m_lstClients;
    case kIdcConnTypeText:
        return m_edtConnType;
    case kIdcLogList:
        return m_lstLog;
    case kIdcConnectedUsers:
        return m_pDialogsUi->LogoButton();
    default:
        return nullptr;
    }
}

void OrbManagerWindow::SetStatusText(const std::string& text) {
    m_edtStatus->setText(QString::fromStdString(text));
}

void OrbManagerWindow::SetStartStopText(const std::string& text) {
    m_btnStartStop->setText(QString::fromStdString(text));
}

void OrbManagerWindow::SetConnTypeText(const std::string& text) {
    m_edtConnType->setText(QString::fromStdString(text));
}

void OrbManagerWindow::SetClientCountText(const std::string& text) {
    m_edtClientCount->setText(QString::fromStdString(text));
}

void OrbManagerWindow::EnableControl(int id, bool enabled) {
    if (QWidget* control = Control(id)) {
        control->setEnabled(enabled);
    }
}

void OrbManagerWindow::SetWaitCursor(bool on) {
    // One level of the application's cursor stack at most, however often the logic asks.
    if (on == m_bWaitCursor) {
        return;
    }
    m_bWaitCursor = on;
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

bool OrbManagerWindow::AskOkCancel(int, const std::string& text, bool cancelIsDefault) {
    QMessageBox box(QMessageBox::Question, kCaption, QString::fromStdString(text),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setDefaultButton(cancelIsDefault ? QMessageBox::Cancel : QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

void OrbManagerWindow::ShowMessageBox(int, const std::string& text) {
    QMessageBox box(QMessageBox::Information, kCaption, QString::fromStdString(text),
                    QMessageBox::Ok, this);
    box.exec();
}

void OrbManagerWindow::SetupLogList(const std::string& timeTitle, const std::string& textTitle) {
    m_lstLog->setHeaderLabels(
        {QString::fromStdString(timeTitle), QString::fromStdString(textTitle)});
}

void OrbManagerWindow::AppendLogRow(int image, const std::string& time, const std::string& text) {
    auto* item = new QTreeWidgetItem(m_lstLog);
    item->setText(0, QString::fromStdString(time));
    item->setText(1, QString::fromStdString(text));
    item->setData(0, kImageRole, image);
    if (image >= 0 && image < static_cast<int>(m_logIcons.size())) {
        item->setIcon(0, m_logIcons[image]);
    }
    m_lstLog->scrollToItem(item);
}

void OrbManagerWindow::ClearLogRows() {
    m_lstLog->clear();
}

void OrbManagerWindow::SetupClientList(const std::vector<std::string>& titles) {
    // Rows made for another set of columns would sit under the wrong titles.
    m_lstClients->clear();
    QStringList labels;
    for (const std::string& title : titles) {
        labels << QString::fromStdString(title);
    }
    m_lstClients->setColumnCount(static_cast<int>(labels.size()));
    m_lstClients->setHeaderLabels(labels);
}

void OrbManagerWindow::SetClientRows(const std::vector<std::vector<std::string>>& rows) {
    m_lstClients->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (const auto& row : rows) {
        auto* item = new QTreeWidgetItem;
        for (int column = 0; column < static_cast<int>(row.size()); ++column) {
            item->setText(column, QString::fromStdString(row[column]));
            item->setTextAlignment(column, Qt::AlignCenter);
        }
        items << item;
    }
    m_lstClients->addTopLevelItems(items);
}

void OrbManagerWindow::RunWaitDialog(WaitDialogModel& model, int tickMs) {
    WaitDialog dialog(model, tickMs,
                      Text(kStrWaitingForDevices, "Waiting for the switch's device list..."), this);
    dialog.Run();
}

void OrbManagerWindow::HideToBackground() {
    // Into the tray; without one (a bare X server) the window is minimised instead.
    if (!m_pDialogsUi->HideToTray())
        showMinimized();
}

void OrbManagerWindow::RaiseWindow() {
    if (isMinimized() || !isVisible()) {
        showNormal();
    }
    raise();
    activateWindow();
}

void OrbManagerWindow::closeEvent(QCloseEvent* event) {
    if (m_bServerEnded) {
        event->accept();
        return;
    }
    // A second close while the first one is still asking is not a new request.
    if (m_bInCloseEvent) {
        event->ignore();
        return;
    }
    m_bInCloseEvent = true;
    const bool ended = m_server.OnCloseServer();
    m_bInCloseEvent = false;
    if (ended || m_bServerEnded) {
        event->accept();
    } else {
        event->ignore();
    }
}

void OrbManagerWindow::keyPressEvent(QKeyEvent* event) {
    // Escape never closes the main window.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    // The hidden connected-users dialog: F11, numeric-pad 2, B, and '{'.
    const bool keypad2 = event->key() == Qt::Key_2 && (event->modifiers() & Qt::KeypadModifier);
    if (event->key() == Qt::Key_F11 || keypad2 || event->key() == Qt::Key_B ||
        event->key() == Qt::Key_BraceLeft) {
        event->accept();
        QMetaObject::invokeMethod(
            this, [this] { m_server.OnButton(kIdcConnectedUsers); }, Qt::QueuedConnection);
        return;
    }
    QWidget::keyPressEvent(event);
}

void OrbManagerWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Minimised: into the tray where there is one.
    if (event->type() == QEvent::WindowStateChange && isMinimized() &&
        !m_pDialogsUi->IsTrayIconShown())
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isMinimized())
                    m_pDialogsUi->HideToTray();
            },
            Qt::QueuedConnection);
}

void OrbManagerWindow::OnServerEnded() {
    m_bServerEnded = true;
    if (!m_bInCloseEvent) {
        close();
    }
}

} // namespace shell
