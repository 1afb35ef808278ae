#include "WindowLook.h"

#include <QFontInfo>
#include <QPalette>
#include <QScreen>
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

} // namespace vantari
