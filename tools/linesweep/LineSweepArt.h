#pragma once

// linesweep's pictures, drawn rather than loaded: the window background, the application icon
// and the four states of each of the three buttons.

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace linesweep {

enum class ButtonState { Normal, Pressed, Focused, Disabled };

QPixmap BackgroundPicture(); // 210 x 170
QIcon ApplicationIcon();
QPixmap ButtonPicture(const QString& text, ButtonState state); // 81 x 19

} // namespace linesweep
