#pragma once

#include "ShellDialogsUi.h"

#include <QDialog>

class QLineEdit;
class QTreeWidget;

namespace shell {

class ConnectedUsersModel;

// The hidden dialog of the second client port's clients; a double click disconnects one after
// the confirmation dialog.
class ConnectedUsersDlg : public QDialog {
public:
    ConnectedUsersDlg(QWidget* parent, ConnectedUsersModel& model, DialogText text,
                      std::function<bool()> confirm);

    void Refresh();

private:
    ClientRow RowOf(int index) const;
    void OnActivated(int index);

    ConnectedUsersModel& m_model;
    DialogText m_text;
    std::function<bool()> m_confirm;
    QTreeWidget* m_pList = nullptr;
    QLineEdit* m_pCount = nullptr;
};

} // namespace shell
