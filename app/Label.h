#pragma once

#include <QLabel>
#include <QStringList>

namespace vantari {

// A label that steps its lines by the font's height, as the window layout counts them
// (three lines in 36 pixels at 12 pixels), instead of the text engine's looser spacing.
class TLabel : public QLabel {
public:
  using QLabel::QLabel;

  // Names, places and fills the label: plain text at the top left, in colour when one is
  // given (else the window-text colour).
  void Place(const char *name, QRect geometry, const QString &text, const QColor &colour = {});

  // The lines as drawn: the text broken at '\n' and, with word wrap on, at the blanks
  // where a line reaches the right edge.
  QStringList Lines() const;

protected:
  void paintEvent(QPaintEvent *event) override;
};

} // namespace vantari
