#include "StatusBar.h"

#include <QPainter>
#include <qdrawutil.h>

namespace vantari {

namespace {
constexpr int PanelTop = 2;
constexpr int TextIndent = 3;
} // namespace

TStatusBar::TStatusBar(std::vector<int> panelWidths, QWidget *parent) : QWidget(parent) {
  for (int width : panelWidths)
    FPanels.push_back({width, {}});
}

QString TStatusBar::PanelText(int index) const {
  return FPanels.at(index).Text;
}

void TStatusBar::SetPanelText(int index, const QString &text) {
  TPanel &panel = FPanels.at(index);
  if (panel.Text == text)
    return;
  panel.Text = text;
  // Screen readers (and the demo's watcher) read the status from the bar's name.
  if (index + 1 == PanelCount())
    setAccessibleName(text);
  update(PanelRect(index));
  emit PanelTextChanged(index, text);
}

QRect TStatusBar::PanelRect(int index) const {
  int left = 0;
  for (int i = 0; i < index; ++i)
    left += FPanels[i].Width;
  const bool last = index + 1 == PanelCount();
  const int width = last ? this->width() - left : FPanels[index].Width;
  return QRect(left, PanelTop, width, height() - PanelTop);
}

void TStatusBar::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  for (int i = 0; i < PanelCount(); ++i) {
    // A two-pixel gap keeps the sunken edges of neighbouring panels apart.
    const QRect rect = PanelRect(i).adjusted(0, 0, i + 1 < PanelCount() ? -2 : 0, 0);
    qDrawShadePanel(&painter, rect, palette(), true, 1);
    const QRect textRect = rect.adjusted(TextIndent, 1, -TextIndent, -1);
    const QString text =
        fontMetrics().elidedText(FPanels[i].Text, Qt::ElideRight, textRect.width());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
  }
}

} // namespace vantari
