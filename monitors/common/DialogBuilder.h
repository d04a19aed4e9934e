#pragma once

#include "MonitorLanguage.h"

#include <QIcon>

#include <map>

class QDialog;
class QWidget;

// Builds a dialog's controls from its template: dialog units become pixels with the base units
// of the template's 8-point font, every control is placed and sized as the template says.
class DialogBuilder {
public:
    static constexpr double kUnitX = 1.5;   // pixels per horizontal dialog unit
    static constexpr double kUnitY = 1.625; // pixels per vertical dialog unit

    // The controls by id (controls with id -1 are built but not listed). `programIcon` stands
    // for the icon controls.
    static std::map<int, QWidget*> Build(QDialog& dialog,
                                         const MonitorDialogTemplate& dialogTemplate,
                                         const MonitorLanguage& language,
                                         const QIcon& programIcon = {});
    // The image of the library's id, or a null icon.
    static QIcon Icon(const MonitorLanguage& language, unsigned id);
};
