#include "ShellDialogsUi.h"
#include <shell/UserDialogsModel.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <optional>

namespace shell {

namespace {

QComboBox* SortBox(int id, const DialogText& text, int mode) {
    auto* box = new QComboBox;
    box->setObjectName(QString::number(id));
    box->addItems(
        {text(114, "In order of entry"), text(115, "Ascending"), text(116, "Descending")});
    box->setCurrentIndex(mode == 1 || mode == 2 ? mode : 0);
    return box;
}

// The add (IDD 135) or edit (IDD 136) dialog; the fields when it ended with OK.
std::optional<UserFields> RunUserFieldsDlg(QWidget* parent, const DialogText& text,
                                           const UserFields* preset) {
    const bool editing = preset != nullptr;
    QDialog dialog(parent);
    dialog.setWindowTitle(editing ? QStringLiteral("Edit User") : QStringLiteral("Add User"));
    auto* ip = new QLineEdit;
    ip->setObjectName(QString::number(editing ? kIdcUserEditIp : kIdcUserAddIp));
    auto* name = new QLineEdit;
    name->setObjectName(QString::number(editing ? kIdcUserEditName : kIdcUserAddName));
    name->setMaxLength(99);
    auto* info = new QLineEdit;
    info->setObjectName(QString::number(editing ? 1076 : 1074));
    info->setMaxLength(99);
    auto* type = new QComboBox;
    type->setObjectName(QString::number(editing ? 1075 : 1073));
    type->addItems({text(181, "Line User"), text(182, "Other User")});
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    if (editing) {
        ip->setText(QString::fromStdString(preset->ipAddress));
        name->setText(QString::fromStdString(preset->userName));
        info->setText(QString::fromStdString(preset->userInfo));
        type->setCurrentIndex(preset->userType == 0 ? 0 : 1);
        // OK only once something has changed.
        QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
        ok->setEnabled(false);
        for (QLineEdit* edit : {ip, name, info})
            QObject::connect(edit, &QLineEdit::textEdited, ok, [ok] { ok->setEnabled(true); });
        QObject::connect(type, &QComboBox::activated, ok, [ok] { ok->setEnabled(true); });
    }
    UserFields fields;
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        fields = {ip->text().toStdString(), name->text().toStdString(), info->text().toStdString(),
                  type->currentIndex()};
        if (const auto failed = CheckUserFields(fields)) {
            QMessageBox::information(&dialog, dialog.windowTitle(), text(failed->box, "?"));
            (failed->ipField ? ip : name)->setFocus();
            return;
        }
        dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* form = new QFormLayout;
    form->addRow(text(110, "IP Address") + ":", ip);
    form->addRow(text(109, "User Name") + ":", name);
    form->addRow(text(183, "Type") + ":", type);
    form->addRow(text(184, "User Info") + ":", info);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);
    dialog.resize(420, dialog.sizeHint().height());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return fields;
}

} // namespace

void RunUserListDlg(QWidget* parent, UserListModel& model, const DialogText& text) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Stored Users"));
    auto* list = new QTreeWidget;
    list->setObjectName(QStringLiteral("1033"));
    list->setRootIsDecorated(false);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setHeaderLabels({text(110, "IP Address"), text(109, "User Name"), text(183, "Type"),
                           text(184, "User Info")});
    list->header()->setSectionResizeMode(QHeaderView::Stretch);
    list->header()->setDefaultAlignment(Qt::AlignCenter);
    auto* count = new QLineEdit;
    count->setObjectName(QStringLiteral("1034"));
    count->setReadOnly(true);
    count->setMaximumWidth(80);
    auto* sort = SortBox(1036, text, model.SortMode());
    auto* add = new QPushButton(QStringLiteral("Add..."));
    auto* edit = new QPushButton(QStringLiteral("Edit..."));
    auto* remove = new QPushButton(QStringLiteral("Delete"));
    add->setObjectName(QStringLiteral("1021"));
    edit->setObjectName(QStringLiteral("1022"));
    remove->setObjectName(QStringLiteral("1023"));
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(close, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    const QIcon lineIcon = dialog.style()->standardIcon(QStyle::SP_DriveNetIcon);
    const QIcon otherIcon = dialog.style()->standardIcon(QStyle::SP_DirIcon);

    std::vector<UserRow> rows;
    const auto refill = [&] {
        rows = model.Rows();
        list->clear();
        for (const UserRow& row : rows) {
            auto* item = new QTreeWidgetItem(list);
            const std::string cells[] = {row.ipAddress, row.userName, row.typeText, row.userInfo};
            for (int c = 0; c < 4; ++c) {
                item->setText(c, QString::fromStdString(cells[c]));
                item->setTextAlignment(c, Qt::AlignCenter);
            }
            item->setIcon(0, row.userType == 0 ? lineIcon : otherIcon);
        }
        count->setText(QString::fromStdString(model.CountText()));
        edit->setEnabled(false);
        remove->setEnabled(false);
    };
    const auto current = [&]() -> const UserRow* {
        const int index = list->indexOfTopLevelItem(list->currentItem());
        return index >= 0 && index < static_cast<int>(rows.size()) ? &rows[index] : nullptr;
    };
    const auto onEdit = [&] {
        const UserRow* row = current();
        if (row == nullptr)
            return;
        const UserRow old = *row;
        const UserFields preset{old.ipAddress, old.userName, old.userInfo, old.userType};
        if (const auto fields = RunUserFieldsDlg(&dialog, text, &preset))
            model.Edit(old, *fields);
        refill();
    };
    QObject::connect(list, &QTreeWidget::itemClicked, &dialog, [&] {
        edit->setEnabled(true);
        remove->setEnabled(true);
    });
    QObject::connect(list, &QTreeWidget::itemDoubleClicked, &dialog, onEdit);
    QObject::connect(edit, &QPushButton::clicked, &dialog, onEdit);
    QObject::connect(add, &QPushButton::clicked, &dialog, [&] {
        if (const auto fields = RunUserFieldsDlg(&dialog, text, nullptr))
            model.Add(*fields);
        refill();
    });
    QObject::connect(remove, &QPushButton::clicked, &dialog, [&] {
        std::vector<std::string> selected;
        for (QTreeWidgetItem* item : list->selectedItems())
            selected.push_back(item->text(0).toStdString());
        model.Delete(selected);
        refill();
    });
    QObject::connect(sort, &QComboBox::activated, &dialog, [&](int index) {
        model.SetSortMode(index);
        refill();
    });
    refill();

    auto* top = new QHBoxLayout;
    auto* countForm = new QFormLayout;
    countForm->addRow(QStringLiteral("Stored users:"), count);
    top->addLayout(countForm);
    top->addStretch(1);
    top->addWidget(sort);
    auto* side = new QVBoxLayout;
    side->addWidget(add);
    side->addWidget(edit);
    side->addWidget(remove);
    side->addStretch(1);
    auto* body = new QHBoxLayout;
    body->addWidget(list, 1);
    body->addLayout(side);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(top);
    layout->addLayout(body, 1);
    layout->addWidget(close);
    dialog.resize(640, 360);
    dialog.exec();
}

} // namespace shell
