#include "ListDialogParts.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <optional>

namespace shell {

namespace {

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
    AddUserFields(form, text, ip, name, type, info);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);
    dialog.resize(420, dialog.sizeHint().height());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return fields;
}

// The stored users' list with its buttons over the model.
class UserListView {
public:
    UserListView(QDialog& dialog, UserListModel& model, const DialogText& text);

    void Refill();
    // The count and sort list above the rows and buttons, Close at the bottom.
    void LayOut();

private:
    void Connect();
    const UserRow* Current() const;
    void OnEdit();

    QDialog& m_dialog;
    UserListModel& m_model;
    const DialogText& m_text;
    QTreeWidget* m_list = nullptr;
    QLineEdit* m_count = nullptr;
    QComboBox* m_sort = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_edit = nullptr;
    QPushButton* m_remove = nullptr;
    QIcon m_lineIcon;
    QIcon m_otherIcon;
    std::vector<UserRow> m_rows;
};

UserListView::UserListView(QDialog& dialog, UserListModel& model, const DialogText& text)
    : m_dialog(dialog), m_model(model), m_text(text) {
    m_list = ReportList(1033, UserTitles(text));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_count = ReadOnly(1034);
    m_count->setMaximumWidth(80);
    m_sort = SortBox(1036, text, model.SortMode());
    m_add = new QPushButton(QStringLiteral("Add..."));
    m_edit = new QPushButton(QStringLiteral("Edit..."));
    m_remove = new QPushButton(QStringLiteral("Delete"));
    m_add->setObjectName(QStringLiteral("1021"));
    m_edit->setObjectName(QStringLiteral("1022"));
    m_remove->setObjectName(QStringLiteral("1023"));
    m_lineIcon = dialog.style()->standardIcon(QStyle::SP_DriveNetIcon);
    m_otherIcon = dialog.style()->standardIcon(QStyle::SP_DirIcon);
    Connect();
}

void UserListView::Refill() {
    m_rows = m_model.Rows();
    m_list->clear();
    for (const UserRow& row : m_rows)
        AddUserRow(m_list, row)->setIcon(0, row.userType == 0 ? m_lineIcon : m_otherIcon);
    m_count->setText(QString::fromStdString(m_model.CountText()));
    m_edit->setEnabled(false);
    m_remove->setEnabled(false);
}

const UserRow* UserListView::Current() const {
    const int index = m_list->indexOfTopLevelItem(m_list->currentItem());
    return index >= 0 && index < static_cast<int>(m_rows.size()) ? &m_rows[index] : nullptr;
}

void UserListView::OnEdit() {
    const UserRow* row = Current();
    if (row == nullptr)
        return;
    const UserRow old = *row;
    const UserFields preset{old.ipAddress, old.userName, old.userInfo, old.userType};
    if (const auto fields = RunUserFieldsDlg(&m_dialog, m_text, &preset))
        m_model.Edit(old, *fields);
    Refill();
}

void UserListView::Connect() {
    QObject::connect(m_list, &QTreeWidget::itemClicked, &m_dialog, [this] {
        m_edit->setEnabled(true);
        m_remove->setEnabled(true);
    });
    QObject::connect(m_list, &QTreeWidget::itemDoubleClicked, &m_dialog, [this] { OnEdit(); });
    QObject::connect(m_edit, &QPushButton::clicked, &m_dialog, [this] { OnEdit(); });
    QObject::connect(m_add, &QPushButton::clicked, &m_dialog, [this] {
        if (const auto fields = RunUserFieldsDlg(&m_dialog, m_text, nullptr))
            m_model.Add(*fields);
        Refill();
    });
    QObject::connect(m_remove, &QPushButton::clicked, &m_dialog, [this] {
        std::vector<std::string> selected;
        for (QTreeWidgetItem* item : m_list->selectedItems())
            selected.push_back(item->text(0).toStdString());
        m_model.Delete(selected);
        Refill();
    });
    QObject::connect(m_sort, &QComboBox::activated, &m_dialog, [this](int index) {
        m_model.SetSortMode(index);
        Refill();
    });
}

void UserListView::LayOut() {
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(close, &QDialogButtonBox::rejected, &m_dialog, &QDialog::reject);
    auto* top = new QHBoxLayout;
    auto* countForm = new QFormLayout;
    countForm->addRow(QStringLiteral("Stored users:"), m_count);
    top->addLayout(countForm);
    top->addStretch(1);
    top->addWidget(m_sort);
    auto* side = new QVBoxLayout;
    side->addWidget(m_add);
    side->addWidget(m_edit);
    side->addWidget(m_remove);
    side->addStretch(1);
    auto* body = new QHBoxLayout;
    body->addWidget(m_list, 1);
    body->addLayout(side);
    auto* layout = new QVBoxLayout(&m_dialog);
    layout->addLayout(top);
    layout->addLayout(body, 1);
    layout->addWidget(close);
}

} // namespace

void RunUserListDlg(QWidget* parent, UserListModel& model, const DialogText& text) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Stored Users"));
    UserListView view(dialog, model, text);
    view.Refill();
    view.LayOut();
    dialog.resize(640, 360);
    dialog.exec();
}

} // namespace shell
