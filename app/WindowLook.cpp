#include "WindowLook.h"

#include <QFontInfo>
#include <QFrame>
#include <QLineEdit>
#include <QPalette>
#include <QScreen>
#include <QToolButton>
#include <QWidget>

namespace vantari {

QFont WindowFont() {
  QFont font;
  font.setFamilies(
      {QStringLiteral("Gulim"), QStringLiteral("Baekmuk Gulim"), QStringLiteral("NanumGothic")});
  font.setPixelSize(12);
  font.setWeight(QFont::Normal);
  font.setStyleHint(QFont::SansSerif);
  // Baekmuk Gulim advances a pixel further per character than Gulim, which the window's
  // label widths were measured with.
  if (QFontInfo(font).family() == QStringLiteral("Baekmuk Gulim"))
    font.setLetterSpacing(QFont::AbsoluteSpacing, -1);
  return font;
}

void SetTextColor(QWidget &widget, const QColor &colour) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::WindowText, colour);
  palette.setColor(QPalette::Text, colour);
  widget.setPalette(palette);
}

void SetBackground(QWidget &widget, const QColor &colour) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::Window, colour);
  widget.setPalette(palette);
  widget.setAutoFillBackground(true);
}

void CentreOnScreen(QWidget &window) {
  if (QScreen *screen = window.screen())
    window.move(screen->availableGeometry().center() - window.rect().center());
}

void PlaceRule(QFrame &shape, const char *name, QRect geometry) {
  shape.setObjectName(QString::fromLatin1(name));
  shape.setGeometry(geometry);
  SetBackground(shape, Qt::black);
}

void PlacePanel(QFrame &panel, const char *name, QRect geometry, const QColor &colour) {
  panel.setObjectName(QString::fromLatin1(name));
  panel.setGeometry(geometry);
  panel.setFrameStyle(QFrame::NoFrame);
  SetBackground(panel, colour);
}

void PlaceButton(QToolButton &button, const char *name, QRect geometry, const QString &caption,
                 const QString &hint) {
  button.setObjectName(QString::fromLatin1(name));
  button.setGeometry(geometry);
  button.setText(caption);
  button.setToolTip(hint);
  button.setCursor(Qt::PointingHandCursor);
  button.setFocusPolicy(Qt::NoFocus);
  button.setAutoRaise(false);
}

void PlaceEdit(QLineEdit &edit, const char *name, QRect geometry) {
  edit.setObjectName(QString::fromLatin1(name));
  edit.setGeometry(geometry);
}

} // namespace vantari
