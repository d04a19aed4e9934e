#include "ShellDialogsUi.h"
#include <shell/UserDialogsModel.h>

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <map>
#include <optional>

namespace shell {

namespace {

QTreeWidget* ReportList(int id, const QStringList& titles) {
    auto* list = new QTreeWidget;
    list->setObjectName(QString::number(id));
    list->setRootIsDecorated(false);
    list->setHeaderLabels(titles);
    list->header()->setSectionResizeMode(QHeaderView::Stretch);
    list->header()->setDefaultAlignment(Qt::AlignCenter);
    return list;
}

QLineEdit* ReadOnly(int id, const std::string& text = {}) {
    auto* edit = new QLineEdit(QString::fromStdString(text));
    edit->setObjectName(QString::number(id));
    edit->setReadOnly(true);
    return edit;
}

QComboBox* SortBox(int id, const DialogText& text, int mode) {
    auto* box = new QComboBox;
    box->setObjectName(QString::number(id));
    box->addItems(
        {text(114, "In order of entry"), text(115, "Ascending"), text(116, "Descending")});
    box->setCurrentIndex(mode == 1 || mode == 2 ? mode : 0);
    return box;
}

// The user picker (IDD 153): the chosen user's address when it ended with OK.
std::optional<std::string> RunUserPicker(QWidget* parent, DeviceMapModel& model,
                                         const DialogText& text, int titleId,
                                         const DeviceRow& device) {
    QDialog dialog(parent);
    dialog.setWindowTitle(text(titleId, "Choose a User"));
    auto* list = ReportList(1059, {text(110, "IP Address"), text(109, "User Name"),
                                   text(183, "Type"), text(184, "User Info")});
    auto* sort = SortBox(1064, text, ReadSortMode(kUserDataSortModeName));
    const bool preset = device.hasUser;
    auto* ip = ReadOnly(1062, preset ? device.ipAddress : std::string());
    auto* name = ReadOnly(1063, preset ? device.userName : std::string());
    auto* type = ReadOnly(1077);
    auto* info = ReadOnly(1078);
    std::vector<UserRow> rows;
    const auto refill = [&] {
        rows = model.PickerRows();
        list->clear();
        for (const UserRow& row : rows) {
            auto* item = new QTreeWidgetItem(list);
            const std::string cells[] = {row.ipAddress, row.userName, row.typeText, row.userInfo};
            for (int c = 0; c < 4; ++c) {
                item->setText(c, QString::fromStdString(cells[c]));
                item->setTextAlignment(c, Qt::AlignCenter);
            }
        }
    };
    const auto pick = [&](QTreeWidgetItem* item) {
        ip->setText(item->text(0));
        name->setText(item->text(1));
        type->setText(item->text(2));
        info->setText(item->text(3));
    };
    QObject::connect(list, &QTreeWidget::itemClicked, &dialog, pick);
    QObject::connect(list, &QTreeWidget::itemDoubleClicked, &dialog, pick);
    QObject::connect(sort, &QComboBox::activated, &dialog, [&](int index) {
        WriteSortMode(kUserDataSortModeName, index, {});
        refill();
    });
    refill();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* chosen = new QGroupBox(QStringLiteral("User"));
    auto* chosenForm = new QFormLayout(chosen);
    chosenForm->addRow(text(110, "IP Address") + ":", ip);
    chosenForm->addRow(text(109, "User Name") + ":", name);
    chosenForm->addRow(text(183, "Type") + ":", type);
    chosenForm->addRow(text(184, "User Info") + ":", info);
    auto* target = new QGroupBox(QStringLiteral("Device"));
    auto* targetForm = new QFormLayout(target);
    targetForm->addRow(QStringLiteral("ID:"), ReadOnly(1060, device.deviceId));
    targetForm->addRow(text(146, "Device Name") + ":", ReadOnly(1067, device.deviceName));
    targetForm->addRow(text(151, "Device Kind") + ":", ReadOnly(1061, device.kindText));
    auto* fields = new QHBoxLayout;
    fields->addWidget(chosen);
    fields->addWidget(target);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(sort);
    layout->addWidget(list, 1);
    layout->addLayout(fields);
    layout->addWidget(buttons);
    dialog.resize(620, 420);
    if (dialog.exec() != QDialog::Accepted || ip->text().isEmpty())
        return std::nullopt;
    return ip->text().toStdString();
}

} // namespace

void RunDeviceMapDlg(QWidget* parent, DeviceMapModel& model, const DialogText& text) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Device Map"));
    auto* list = ReportList(1042, {text(146, "Device Name"), text(151, "Device Kind"),
                                   text(147, "IP Address"), text(148, "User Name"),
                                   text(149, "Connection"), text(167, "Mapping")});
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* sort = SortBox(1056, text, model.SortMode());
    std::map<int, QPushButton*> buttons;
    const std::pair<int, const char*> buttonTexts[] = {{kIdcAssign, "Assign..."},
                                                       {kIdcChange, "Change..."},
                                                       {kIdcUnassign, "Unassign"},
                                                       {kIdcUnassignAll, "Unassign All"}};
    auto* side = new QVBoxLayout;
    for (const auto& [id, label] : buttonTexts) {
        auto* button = new QPushButton(QString::fromUtf8(label));
        button->setObjectName(QString::number(id));
        buttons[id] = button;
        side->addWidget(button);
    }
    side->addStretch(1);

    std::map<int, QLineEdit*> counts;
    auto* countBox = new QGroupBox(QStringLiteral("Devices"));
    auto* countGrid = new QGridLayout(countBox);
    const std::pair<int, const char*> countTexts[] = {
        {1048, "Kind 1"}, {1049, "Kind 2"}, {1052, "Kind 12"},   {1050, "Kind 13"},
        {1054, "Kind 4"}, {1053, "Kind 5"}, {1051, "Kind 3"},    {1055, "Other"},
        {1043, "Lines"},  {1057, "Mapped"}, {1044, "Not mapped"}};
    int at = 0;
    for (const auto& [id, label] : countTexts) {
        QLineEdit* edit = ReadOnly(id);
        edit->setMaximumWidth(60);
        counts[id] = edit;
        countGrid->addWidget(new QLabel(QString::fromUtf8(label)), at / 4, (at % 4) * 2);
        countGrid->addWidget(edit, at / 4, (at % 4) * 2 + 1);
        ++at;
    }

    std::vector<DeviceRow> rows;
    const auto refreshCounts = [&] {
        for (const auto& [id, value] : model.Counts())
            if (counts.count(id))
                counts[id]->setText(QString::fromStdString(value));
    };
    const auto afterAction = [&] {
        buttons[kIdcAssign]->setEnabled(false);
        buttons[kIdcChange]->setEnabled(false);
        buttons[kIdcUnassign]->setEnabled(false);
        buttons[kIdcUnassignAll]->setEnabled(model.MappedCount() > 0);
    };
    const auto refill = [&] {
        rows = model.Rows();
        list->clear();
        for (const DeviceRow& row : rows) {
            auto* item = new QTreeWidgetItem(list);
            const std::string cells[] = {row.deviceName, row.kindText, row.ipAddress,
                                         row.userName,   row.connText, row.mapText};
            for (int c = 0; c < 6; ++c) {
                item->setText(c, QString::fromStdString(cells[c]));
                item->setTextAlignment(c, Qt::AlignCenter);
            }
        }
        refreshCounts();
        afterAction();
    };
    const auto current = [&]() -> std::optional<DeviceRow> {
        const int index = list->indexOfTopLevelItem(list->currentItem());
        if (index < 0 || index >= static_cast<int>(rows.size()))
            return std::nullopt;
        return rows[index];
    };
    const auto assign = [&] {
        const auto row = current();
        if (!row)
            return;
        if (const auto ip = RunUserPicker(&dialog, model, text, 172, *row))
            model.Assign(*row, *ip);
        refill();
    };
    const auto change = [&] {
        const auto row = current();
        if (!row || !model.CanChange())
            return;
        if (const auto ip = RunUserPicker(&dialog, model, text, 173, *row))
            model.Change(*row, *ip);
        refill();
    };
    QObject::connect(list, &QTreeWidget::itemClicked, &dialog, [&] {
        const auto row = current();
        const bool user = row && model.RowHasUser(*row);
        buttons[kIdcAssign]->setEnabled(row && !user);
        buttons[kIdcChange]->setEnabled(user);
        buttons[kIdcUnassign]->setEnabled(user);
    });
    QObject::connect(list, &QTreeWidget::itemDoubleClicked, &dialog, [&] {
        const auto row = current();
        if (!row || !model.MayMapMore())
            return;
        model.RowHasUser(*row) ? change() : assign();
    });
    QObject::connect(buttons[kIdcAssign], &QPushButton::clicked, &dialog, assign);
    QObject::connect(buttons[kIdcChange], &QPushButton::clicked, &dialog, change);
    QObject::connect(buttons[kIdcUnassign], &QPushButton::clicked, &dialog, [&] {
        std::vector<DeviceRow> selected;
        for (QTreeWidgetItem* item : list->selectedItems()) {
            const int index = list->indexOfTopLevelItem(item);
            if (index >= 0 && index < static_cast<int>(rows.size()))
                selected.push_back(rows[index]);
        }
        model.Unassign(selected);
        refill();
    });
    QObject::connect(buttons[kIdcUnassignAll], &QPushButton::clicked, &dialog, [&] {
        model.UnassignAll(rows);
        refill();
    });
    QObject::connect(sort, &QComboBox::activated, &dialog, [&](int index) {
        model.SetSortMode(index);
        refill();
    });
    QTimer counter;
    QObject::connect(&counter, &QTimer::timeout, &dialog, refreshCounts);
    counter.start(1000);
    refill();

    auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(close, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* body = new QHBoxLayout;
    body->addWidget(list, 1);
    body->addLayout(side);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(sort);
    layout->addLayout(body, 1);
    layout->addWidget(countBox);
    layout->addWidget(close);
    dialog.resize(820, 460);
    dialog.exec();
}

} // namespace shell
