#include "Label.h"

#include "WindowLook.h"

#include <QPainter>
#include <QTextLayout>

namespace vantari {

void TLabel::Place(const char *name, QRect geometry, const QString &text, const QColor &colour) {
  setObjectName(QString::fromLatin1(name));
  setGeometry(geometry);
  setTextFormat(Qt::PlainText);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setText(text);
  if (colour.isValid())
    SetTextColor(*this, colour);
}

QStringList TLabel::Lines() const {
  QStringList lines;
  for (const QString &paragraph : text().split(QLatin1Char('\n'))) {
    if (!wordWrap()) {
      lines << paragraph;
      continue;
    }
    QTextLayout layout(paragraph, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(contentsRect().width());
      lines << paragraph.mid(line.textStart(), line.textLength());
    }
    layout.endLayout();
  }
  return lines;
}

void TLabel::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.setPen(palette().color(foregroundRole()));
  const QFontMetrics metrics = fontMetrics();
  int baseline = contentsRect().top() + metrics.ascent();
  for (const QString &line : Lines()) {
    painter.drawText(contentsRect().left(), baseline, line);
    baseline += metrics.height();
  }
}

} // namespace vantari
