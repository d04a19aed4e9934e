#include "ShellDialogsUi.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace shell {

void RunAboutDlg(QWidget* parent, const DialogText& text) {
    QDialog dialog(parent);
    dialog.setWindowTitle(text(101, "About Veltrane Link..."));
    auto* title =
        new QLabel(QStringLiteral("<b>Veltrane Link</b> Version ") + text(311, "").toHtmlEscaped());
    auto* body = new QLabel(QStringLiteral(
        "The CTI link server: one link to the switch, the client ports with their logins, and "
        "the switch's events relayed to the clients."));
    body->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(title);
    layout->addWidget(body);
    layout->addWidget(buttons);
    dialog.resize(380, dialog.sizeHint().height());
    dialog.exec();
}

} // namespace shell
