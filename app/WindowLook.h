#pragma once

#include <QFont>

class QColor;
class QWidget;

namespace vantari {

// How every window of the program looks.

// The Korean face of every window, 12 pixels high: Gulim when the desktop has it,
// else Baekmuk Gulim, else NanumGothic.
QFont WindowFont();

// A control's own palette with its text in colour.
void SetTextColor(QWidget &widget, const QColor &colour);
// A control's own palette with its background filled in colour.
void SetBackground(QWidget &widget, const QColor &colour);
// Moves a top-level window to the middle of its screen.
void CentreOnScreen(QWidget &window);

} // namespace vantari
