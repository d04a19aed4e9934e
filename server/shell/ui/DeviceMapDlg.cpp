#include "ListDialogParts.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
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

// The user picker (IDD 153): the chosen user's address when it ended with OK.
std::optional<std::string> RunUserPicker(QWidget* parent, DeviceMapModel& model,
                                         const DialogText& text, int titleId,
                                         const DeviceRow& device) {
    QDialog dialog(parent);
    dialog.setWindowTitle(text(titleId, "Choose a User"));
    auto* list = ReportList(1059, UserTitles(text));
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
        for (const UserRow& row : rows)
            AddUserRow(list, row);
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
    AddUserFields(chosenForm, text, ip, name, type, info);
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

// The device map's controls over the model's rows.
class DeviceMapView {
public:
    DeviceMapView(QDialog& dialog, DeviceMapModel& model, const DialogText& text);

    void Refill();
    void RefreshCounts();
    // The sort list above the rows and buttons, the counts below them, Close at the bottom.
    void LayOut();

private:
    QVBoxLayout* SideButtons();
    QGroupBox* CountsBox();
    void Connect();
    void AfterAction();
    std::optional<DeviceRow> Current() const;
    void Assign();
    void Change();
    void UnassignSelected();

    QDialog& m_dialog;
    DeviceMapModel& m_model;
    const DialogText& m_text;
    QTreeWidget* m_list = nullptr;
    QComboBox* m_sort = nullptr;
    QVBoxLayout* m_side = nullptr;
    QGroupBox* m_countBox = nullptr;
    std::map<int, QPushButton*> m_buttons;
    std::map<int, QLineEdit*> m_counts;
    std::vector<DeviceRow> m_rows;
};

DeviceMapView::DeviceMapView(QDialog& dialog, DeviceMapModel& model, const DialogText& text)
    : m_dialog(dialog), m_model(model), m_text(text) {
    m_list = ReportList(1042, {text(146, "Device Name"), text(151, "Device Kind"),
                               text(147, "IP Address"), text(148, "User Name"),
                               text(149, "Connection"), text(167, "Mapping")});
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_sort = SortBox(1056, text, model.SortMode());
    m_side = SideButtons();
    m_countBox = CountsBox();
    Connect();
}

QVBoxLayout* DeviceMapView::SideButtons() {
    const std::pair<int, const char*> buttonTexts[] = {{kIdcAssign, "Assign..."},
                                                       {kIdcChange, "Change..."},
                                                       {kIdcUnassign, "Unassign"},
                                                       {kIdcUnassignAll, "Unassign All"}};
    auto* side = new QVBoxLayout;
    for (const auto& [id, label] : buttonTexts) {
        auto* button = new QPushButton(QString::fromUtf8(label));
        button->setObjectName(QString::number(id));
        m_buttons[id] = button;
        side->addWidget(button);
    }
    side->addStretch(1);
    return side;
}

QGroupBox* DeviceMapView::CountsBox() {
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
        m_counts[id] = edit;
        countGrid->addWidget(new QLabel(QString::fromUtf8(label)), at / 4, (at % 4) * 2);
        countGrid->addWidget(edit, at / 4, (at % 4) * 2 + 1);
        ++at;
    }
    return countBox;
}

void DeviceMapView::RefreshCounts() {
    for (const auto& [id, value] : m_model.Counts())
        if (m_counts.count(id))
            m_counts[id]->setText(QString::fromStdString(value));
}

void DeviceMapView::AfterAction() {
    m_buttons[kIdcAssign]->setEnabled(false);
    m_buttons[kIdcChange]->setEnabled(false);
    m_buttons[kIdcUnassign]->setEnabled(false);
    m_buttons[kIdcUnassignAll]->setEnabled(m_model.MappedCount() > 0);
}

void DeviceMapView::Refill() {
    m_rows = m_model.Rows();
    m_list->clear();
    for (const DeviceRow& row : m_rows)
        AddReportRow(m_list, {row.deviceName, row.kindText, row.ipAddress, row.userName,
                              row.connText, row.mapText});
    RefreshCounts();
    AfterAction();
}

std::optional<DeviceRow> DeviceMapView::Current() const {
    const int index = m_list->indexOfTopLevelItem(m_list->currentItem());
    if (index < 0 || index >= static_cast<int>(m_rows.size()))
        return std::nullopt;
    return m_rows[index];
}

void DeviceMapView::Assign() {
    const auto row = Current();
    if (!row)
        return;
    if (const auto ip = RunUserPicker(&m_dialog, m_model, m_text, 172, *row))
        m_model.Assign(*row, *ip);
    Refill();
}

void DeviceMapView::Change() {
    const auto row = Current();
    if (!row || !m_model.CanChange())
        return;
    if (const auto ip = RunUserPicker(&m_dialog, m_model, m_text, 173, *row))
        m_model.Change(*row, *ip);
    Refill();
}

void DeviceMapView::UnassignSelected() {
    std::vector<DeviceRow> selected;
    for (QTreeWidgetItem* item : m_list->selectedItems()) {
        const int index = m_list->indexOfTopLevelItem(item);
        if (index >= 0 && index < static_cast<int>(m_rows.size()))
            selected.push_back(m_rows[index]);
    }
    m_model.Unassign(selected);
    Refill();
}

void DeviceMapView::Connect() {
    QObject::connect(m_list, &QTreeWidget::itemClicked, &m_dialog, [this] {
        const auto row = Current();
        const bool user = row && m_model.RowHasUser(*row);
        m_buttons[kIdcAssign]->setEnabled(row && !user);
        m_buttons[kIdcChange]->setEnabled(user);
        m_buttons[kIdcUnassign]->setEnabled(user);
    });
    QObject::connect(m_list, &QTreeWidget::itemDoubleClicked, &m_dialog, [this] {
        const auto row = Current();
        if (!row || !m_model.MayMapMore())
            return;
        m_model.RowHasUser(*row) ? Change() : Assign();
    });
    QObject::connect(m_buttons[kIdcAssign], &QPushButton::clicked, &m_dialog, [this] { Assign(); });
    QObject::connect(m_buttons[kIdcChange], &QPushButton::clicked, &m_dialog, [this] { Change(); });
    QObject::connect(m_buttons[kIdcUnassign], &QPushButton::clicked, &m_dialog,
                     [this] { UnassignSelected(); });
    QObject::connect(m_buttons[kIdcUnassignAll], &QPushButton::clicked, &m_dialog, [this] {
        m_model.UnassignAll(m_rows);
        Refill();
    });
    QObject::connect(m_sort, &QComboBox::activated, &m_dialog, [this](int index) {
        m_model.SetSortMode(index);
        Refill();
    });
}

void DeviceMapView::LayOut() {
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(close, &QDialogButtonBox::rejected, &m_dialog, &QDialog::reject);
    auto* body = new QHBoxLayout;
    body->addWidget(m_list, 1);
    body->addLayout(m_side);
    auto* layout = new QVBoxLayout(&m_dialog);
    layout->addWidget(m_sort);
    layout->addLayout(body, 1);
    layout->addWidget(m_countBox);
    layout->addWidget(close);
}

} // namespace

void RunDeviceMapDlg(QWidget* parent, DeviceMapModel& model, const DialogText& text) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Device Map"));
    DeviceMapView view(dialog, model, text);
    QTimer counter;
    QObject::connect(&counter, &QTimer::timeout, &dialog, [&view] { view.RefreshCounts(); });
    counter.start(1000);
    view.Refill();
    view.LayOut();
    dialog.resize(820, 460);
    dialog.exec();
}

} // namespace shell
