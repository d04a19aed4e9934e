#include "ConnectionManagerWindow.h"

#include "AddrSetupStrings.h"

#include <platform/DebugOutput.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

using namespace addrsetup;

namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Hand:
        return QMessageBox::Critical;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

void addrsetup::ReportStartFailure(const std::string& text) {
    platform::DebugOutput(text + "\n");
    const QString screen = QGuiApplication::platformName();
    if (screen != QLatin1String("offscreen") && screen != QLatin1String("minimal")) {
        QMessageBox::critical(nullptr, kCaption, QString::fromStdString(text));
    }
}

CConnectionManagerWindow::CConnectionManagerWindow(QWidget* parent)
    : QDialog(parent), logic_(*this) {
    setWindowTitle(kCaption);
    setObjectName(kWindowClass);
    auto* layout = new QVBoxLayout(this);

    auto* tests = new QGroupBox(this);
    auto* testColumn = new QVBoxLayout(tests);
    for (const auto& [id, text] :
         {std::pair{IDC_TEST_LINK, kTestLinkText}, std::pair{IDC_TEST_TAPI, kTestTapiText},
          std::pair{IDC_RECONFIGURE, kReconfigureText}}) {
        testColumn->addWidget(AddButton(id, text));
    }
    layout->addWidget(tests);

    auto* steps = new QGroupBox(this);
    auto* grid = new QGridLayout(steps);
    grid->addWidget(new QLabel(kStepByStep, steps), 0, 0, 1, 3);
    const struct {
        int execute;
        const char* executeText;
        int reconnect;
        const char* reconnectText;
    } members[] = {
        {IDC_EXECUTE_ROWAN, kExecuteRowanText, IDC_RECONNECT_ROWAN, kReconnectRowanText},
        {IDC_EXECUTE_ROWAN_PLUS, kExecuteRowanPlusText, IDC_RECONNECT_ROWAN_PLUS,
         kReconnectRowanPlusText},
        {IDC_EXECUTE_ELM, kExecuteElmText, IDC_RECONNECT_ELM, kReconnectElmText},
    };
    for (int column = 0; column < 3; ++column) {
        QPushButton* reconnect =
            AddButton(members[column].reconnect, members[column].reconnectText);
        reconnect->setMinimumHeight(48);
        grid->addWidget(reconnect, 1, column);
        grid->addWidget(AddButton(members[column].execute, members[column].executeText), 2, column);
    }
    layout->addWidget(steps);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(AddButton(IDC_CLOSE, kCloseText));
    layout->addLayout(bottom);

    setWindowIcon(QApplication::style()->standardIcon(QStyle::SP_DriveNetIcon));
    logic_.OnInitDialog();
}

QPushButton* CConnectionManagerWindow::AddButton(int id, const char* text) {
    // "\r" breaks a button's text into lines, as the dialog template writes it.
    auto* button = new QPushButton(QString(text).replace('\r', '\n'), this);
    button->setObjectName(QString("button%1").arg(id));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
    buttons_[id] = button;
    return button;
}

QPushButton* CConnectionManagerWindow::Control(int id) const {
    const auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

void CConnectionManagerWindow::OnCommand(int id) {
    switch (id) {
    case IDC_CLOSE:
        EndDialog(0);
        break;
    case IDC_TEST_LINK:
        logic_.TestLinkReachable();
        break;
    case IDC_TEST_TAPI:
        logic_.TestTapiInitialize();
        break;
    case IDC_RECONFIGURE:
        logic_.ReconfigureTelephony();
        break;
    case IDC_EXECUTE_ROWAN:
        logic_.RestartRowanApp();
        break;
    case IDC_EXECUTE_ROWAN_PLUS:
        logic_.RestartRowanPlusApp();
        break;
    case IDC_EXECUTE_ELM:
        logic_.RestartElmApp();
        break;
    case IDC_RECONNECT_ROWAN:
        logic_.ReconnectSequence(ClientKind::Rowan);
        break;
    case IDC_RECONNECT_ROWAN_PLUS:
        logic_.ReconnectSequence(ClientKind::RowanPlus);
        break;
    case IDC_RECONNECT_ELM:
        logic_.ReconnectSequence(ClientKind::Elm);
        break;
    default:
        break;
    }
}

void CConnectionManagerWindow::MessageBox(unsigned, const std::string& text, MessageIcon icon) {
    QMessageBox box(BoxIcon(icon), kCaption, QString::fromStdString(text), QMessageBox::Ok,
                    isVisible() ? this : nullptr);
    box.exec();
}

bool CConnectionManagerWindow::AskYesNo(unsigned, const std::string& text, MessageIcon icon) {
    QMessageBox box(BoxIcon(icon), kCaption, QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, isVisible() ? this : nullptr);
    return box.exec() == QMessageBox::Yes;
}

void CConnectionManagerWindow::BeginWaitCursor() {
    ++waitCursors_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void CConnectionManagerWindow::EndWaitCursor() {
    if (waitCursors_ > 0) {
        --waitCursors_;
        QApplication::restoreOverrideCursor();
    }
}

void CConnectionManagerWindow::EnableControl(int id, bool enable) {
    if (QPushButton* button = Control(id)) {
        button->setEnabled(enable);
    }
}

void CConnectionManagerWindow::EndDialog(int result) {
    done(result);
}

void CConnectionManagerWindow::BringToFront() {
    QWidget* front = QApplication::activeModalWidget();
    if (front == nullptr) {
        front = this;
    }
    if (isMinimized()) {
        showNormal();
    }
    front->raise();
    front->activateWindow();
}

void CConnectionManagerWindow::contextMenuEvent(QContextMenuEvent* event) {
    const QString item = LoadString(IDS_ABOUTBOX);
    if (item.isEmpty()) {
        return;
    }
    QMenu menu(this);
    menu.addAction(item, this, &CConnectionManagerWindow::OnAbout);
    menu.exec(event->globalPos());
}

void CConnectionManagerWindow::OnAbout() {
    QMessageBox::about(this, "About addrsetup",
                       "[Veltrane] Connection Manager\n\nTests the link server and the telephony "
                       "start-up, re-registers the service provider and restarts the Veltrane "
                       "client applications.");
}
