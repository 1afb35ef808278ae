#pragma once

#include <QFont>

class QColor;
class QFrame;
class QLineEdit;
class QRect;
class QString;
class QToolButton;
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

// The main window's controls, named and placed as its layout says.
// A one-pixel black rule.
void PlaceRule(QFrame &shape, const char *name, QRect geometry);
// A flat panel filled in colour.
void PlacePanel(QFrame &panel, const char *name, QRect geometry, const QColor &colour);
// A flat speed button with its caption and tooltip.
void PlaceButton(QToolButton &button, const char *name, QRect geometry, const QString &caption,
                 const QString &hint);
void PlaceEdit(QLineEdit &edit, const char *name, QRect geometry);

} // namespace vantari
