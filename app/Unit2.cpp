#include "Unit2.h"

#include "FailureTexts.h"
#include "SupportReport.h"
#include "WindowLook.h"
#include "WindowTexts.h"

namespace vantari {

namespace {

const QColor Maroon(128, 0, 0);

} // namespace

TForm2::TForm2(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QString::fromUtf8(TextAboutCaption));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(349, 282);
  setFont(WindowFont());
  SetBackground(*this, palette().color(QPalette::Button));

  Panel2.setObjectName(QStringLiteral("Panel2"));
  Panel2.setGeometry(0, 0, 349, 6);
  Panel2.setFrameStyle(QFrame::NoFrame);

  // Lowered outside, raised inside: an etched edge round a white page.
  Panel3.setObjectName(QStringLiteral("Panel3"));
  Panel3.setGeometry(0, 6, 349, 276);
  Panel3.setFrameStyle(QFrame::Box | QFrame::Sunken);
  Panel3.setLineWidth(1);
  SetBackground(Panel3, Qt::white);

  Label1.Place("Label1", {8, 12, 108, 12}, QString::fromUtf8(TextAboutServiceHead), Maroon);
  Label5.Place("Label5", {18, 28, 304, 72}, QString::fromUtf8(TextAboutService));
  Label5.setWordWrap(true);
  Label2.Place("Label2", {8, 109, 86, 12}, QString::fromUtf8(TextAboutCustomersHead), Maroon);
  Label10.Place("Label10", {18, 125, 318, 60}, QString::fromUtf8(TextAboutCustomers));
  Label3.Place("Label3", {8, 196, 58, 12}, QString::fromUtf8(TextAboutCautionHead), Qt::red);
  Label8.Place("Label8", {18, 213, 302, 48}, QString::fromUtf8(TextAboutCaution), Qt::red);
  LabelVersion.Place("LabelVersion", {250, 262, 90, 12},
                     QString::fromUtf8(TextVersionLabel) + QString::fromUtf8(ProgramVersion()));
  LabelVersion.setAlignment(Qt::AlignRight);
}

void TForm2::showEvent(QShowEvent *event) {
  CentreOnScreen(*this);
  QDialog::showEvent(event);
}

} // namespace vantari
