#include "ConnectedUsersDlg.h"
#include "ListDialogParts.h"

#include <shell/ConnectedUsersModel.h>

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace shell {

ConnectedUsersDlg::ConnectedUsersDlg(QWidget* parent, ConnectedUsersModel& model, DialogText text,
                                     std::function<bool()> confirm)
    : QDialog(parent), m_model(model), m_text(std::move(text)), m_confirm(std::move(confirm)) {
    setWindowTitle(QStringLiteral("Connected Users"));
    m_pList = ReportList(1183, {m_text(110, "IP Address"), m_text(111, "Port"), m_text(183, "Type"),
                                m_text(122, "Own Line"), m_text(317, "Connected Since")});
    m_pCount = ReadOnly(1185);
    m_pCount->setMaxLength(5);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Clients of the second port:"), m_pCount);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pList, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        m_model.Select(RowOf(m_pList->indexOfTopLevelItem(item)));
    });
    connect(m_pList, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { OnActivated(m_pList->indexOfTopLevelItem(item)); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pList, 1);
    layout->addLayout(form);
    layout->addWidget(buttons);
    resize(720, 320);
    Refresh();
}

ClientRow ConnectedUsersDlg::RowOf(int index) const {
    const QTreeWidgetItem* item = m_pList->topLevelItem(index);
    if (item == nullptr)
        return {};
    return {item->text(0).toStdString(), item->text(1).toStdString(), item->text(2).toStdString(),
            item->text(3).toStdString(), item->text(4).toStdString()};
}

void ConnectedUsersDlg::Refresh() {
    m_pList->clear();
    for (const ClientRow& row : m_model.Rows())
        AddReportRow(m_pList, {row.ipAddress, row.port, row.kinds, row.labels, row.connectTime});
    m_pCount->setText(QString::fromStdString(m_model.CountText()));
}

void ConnectedUsersDlg::OnActivated(int index) {
    const ClientRow row = RowOf(index);
    if (!m_model.Select(row))
        return;
    if (RunClientDisconnectDlg(this, row, m_text, m_confirm) && m_model.DisconnectSelected())
        Refresh();
}

bool RunClientDisconnectDlg(QWidget* parent, const ClientRow& row, const DialogText& text,
                            const std::function<bool()>& confirm) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Disconnect Client"));
    auto* form = new QFormLayout;
    const std::pair<int, std::string> fields[] = {{1181, row.ipAddress},
                                                  {1182, row.port},
                                                  {1183, row.labels},
                                                  {1184, row.kinds},
                                                  {1185, row.connectTime}};
    const QString labels[] = {text(110, "IP Address"), text(111, "Port"), text(122, "Own Line"),
                              text(183, "Type"), text(317, "Connected Since")};
    for (int i = 0; i < 5; ++i)
        form->addRow(labels[i] + QStringLiteral(":"), ReadOnly(fields[i].first, fields[i].second));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        // Only OK of the question closes with OK; Cancel leaves the dialog open.
        if (confirm())
            dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);
    dialog.resize(420, dialog.sizeHint().height());
    return dialog.exec() == QDialog::Accepted;
}

} // namespace shell
