#pragma once

#include <QString>
#include <QWidget>
#include <vector>

namespace vantari {

// A status bar of sunken panels laid side by side; the last panel runs to the right
// edge and its text is the bar's accessible name. Child widgets keep the geometry they
// are given (a progress bar in panel 0).
class TStatusBar : public QWidget {
  Q_OBJECT
public:
  TStatusBar(std::vector<int> panelWidths, QWidget *parent);

  QString PanelText(int index) const;
  void SetPanelText(int index, const QString &text);
  // Left and right edge of a panel inside the bar.
  QRect PanelRect(int index) const;
  int PanelCount() const { return static_cast<int>(FPanels.size()); }

signals:
  void PanelTextChanged(int index, const QString &text);

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  struct TPanel {
    int Width;
    QString Text;
  };
  std::vector<TPanel> FPanels;
};

} // namespace vantari
