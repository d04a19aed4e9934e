#pragma once

// What the list dialogs (stored users, device map and its user picker, connected users) are
// built from: report lists of centred cells, read-only fields, the sort box, and the stored
// users' columns.

#include "ShellDialogsUi.h"
#include <shell/UserDialogsModel.h>

#include <QComboBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QTreeWidget>

#include <initializer_list>
#include <string>

namespace shell {

inline QTreeWidget* ReportList(int id, const QStringList& titles) {
    auto* list = new QTreeWidget;
    list->setObjectName(QString::number(id));
    list->setRootIsDecorated(false);
    list->setHeaderLabels(titles);
    list->header()->setSectionResizeMode(QHeaderView::Stretch);
    list->header()->setDefaultAlignment(Qt::AlignCenter);
    return list;
}

inline QTreeWidgetItem* AddReportRow(QTreeWidget* list, std::initializer_list<std::string> cells) {
    auto* item = new QTreeWidgetItem(list);
    int column = 0;
    for (const std::string& cell : cells) {
        item->setText(column, QString::fromStdString(cell));
        item->setTextAlignment(column, Qt::AlignCenter);
        ++column;
    }
    return item;
}

inline QLineEdit* ReadOnly(int id, const std::string& text = {}) {
    auto* edit = new QLineEdit(QString::fromStdString(text));
    edit->setObjectName(QString::number(id));
    edit->setReadOnly(true);
    return edit;
}

// Entry order, ascending or descending; any other mode shows as entry order.
inline QComboBox* SortBox(int id, const DialogText& text, int mode) {
    auto* box = new QComboBox;
    box->setObjectName(QString::number(id));
    box->addItems(
        {text(114, "In order of entry"), text(115, "Ascending"), text(116, "Descending")});
    box->setCurrentIndex(mode == 1 || mode == 2 ? mode : 0);
    return box;
}

// A stored user's address, name, type and information: the columns, a row, and the fields.
inline QStringList UserTitles(const DialogText& text) {
    return {text(110, "IP Address"), text(109, "User Name"), text(183, "Type"),
            text(184, "User Info")};
}

inline QTreeWidgetItem* AddUserRow(QTreeWidget* list, const UserRow& row) {
    return AddReportRow(list, {row.ipAddress, row.userName, row.typeText, row.userInfo});
}

inline void AddUserFields(QFormLayout* form, const DialogText& text, QWidget* ip, QWidget* name,
                          QWidget* type, QWidget* info) {
    QWidget* const fields[] = {ip, name, type, info};
    const QStringList titles = UserTitles(text);
    for (int i = 0; i < 4; ++i)
        form->addRow(titles[i] + ":", fields[i]);
}

} // namespace shell
