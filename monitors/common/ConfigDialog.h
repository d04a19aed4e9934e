#pragma once

#include "ConfigValidation.h"
#include "MonitorLanguage.h"

#include <QDialog>

#include <map>

// The configuration dialog (dialog 129) over the owner's settings; OK runs the checks in order
// and keeps the dialog open at the first failure, with its message and the focus on its control.
class ConfigDialog : public QDialog {
public:
    ConfigDialog(MonitorKind kind, const MonitorLanguage& language, const MonitorSettings& current,
                 QWidget* parent = nullptr);

    bool IsBuilt() const { return !m_controls.empty(); }
    // The checked values after OK.
    const MonitorSettings& Edited() const { return m_edited; }
    // The dialog's present contents, as OK would read them.
    ConfigInput Input() const;
    QWidget* Control(int id) const;

    void accept() override;

private:
    void Fill(const ConfigInput& input);
    void LinkCheck(int checkId, int editId);
    int LanguageComboId() const;

    MonitorKind m_kind;
    const MonitorLanguage& m_language;
    MonitorSettings m_current;
    MonitorSettings m_edited;
    std::map<int, QWidget*> m_controls;
};
