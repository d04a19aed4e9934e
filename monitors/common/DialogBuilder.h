#pragma once

#include "MonitorLanguage.h"

#include <QIcon>

#include <map>

class QDialog;
class QWidget;

class QFont;

// Builds a dialog's controls from its template: dialog units become pixels with the base units
// of the font the dialog is shown in, every control is placed and sized as the template says.
class DialogBuilder {
public:
    // Pixels per dialog unit.
    struct Units {
        double x = 0;
        double y = 0;
    };
    // As the templates' own system reckons them: a quarter of the font's average character
    // width across, an eighth of its height down. The templates were laid out for one font;
    // another one keeps their proportions only in its own units.
    static Units UnitsOf(const QFont& font);

    // The controls by id (controls with id -1 are built but not listed). `programIcon` stands
    // for the icon controls.
    static std::map<int, QWidget*> Build(QDialog& dialog,
                                         const MonitorDialogTemplate& dialogTemplate,
                                         const MonitorLanguage& language,
                                         const QIcon& programIcon = {});
    // The image of the library's id, or a null icon.
    static QIcon Icon(const MonitorLanguage& language, unsigned id);
};
