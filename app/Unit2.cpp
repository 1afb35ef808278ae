#include "Unit2.h"

#include "WindowLook.h"

namespace vantari {

namespace {

const QColor Maroon(128, 0, 0);

} // namespace

TForm2::TForm2(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("반타리서비스에 대하여"));
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

  Label1.Place("Label1", {8, 12, 108, 12}, QStringLiteral("* 반타리 서비스란 ?"), Maroon);
  Label5.Place(
      "Label5", {18, 28, 304, 72},
      QStringLiteral("사무실에서 루모라재고 세금계산서관리를 사용하여 업무관리를 하고  계시는 "
                     "고객을 대상으로 업무마감 후 마감 내용을 집에서도 한번의 마우스 클릭으로 "
                     "자동으로 볼 수 있도록 지원하며 불의의 사고로부터 자료를 안전하게 보관할 수 "
                     "있도록 하는 백업 저장장소로 사용이 가능한 온라인 서비스를 말합니다."));
  Label5.setWordWrap(true);
  Label2.Place("Label2", {8, 109, 86, 12}, QStringLiteral("* 이용가능 고객"), Maroon);
  Label10.Place("Label10", {18, 125, 318, 60},
                QStringLiteral("1. 장부정리를 집에서 하시는 분\n"
                               "2. 사무실에서 정리한 자료를 집에서 확인하고자 할 경우\n"
                               "3. 이전에 디스켓으로 백업 후 집에서 자료를 확인하신 분들\n"
                               "4. 불의의 사고에 대비하여 자료를 안전하게 보관하고자 \n"
                               "    하시는 분들"));
  Label3.Place("Label3", {8, 196, 58, 12}, QStringLiteral("* 주의사항"), Qt::red);
  Label8.Place("Label8", {18, 213, 302, 48},
               QStringLiteral("1. 사무실과 집에서는 반드시 인터넷 사용이 가능하여야 \n"
                              "    합니다.\n"
                              "2. 사무실과  집에 같은 버전의 루모라재고 세금계산서\n"
                              "    관리 프로그램이 설치되어 있어야 합니다."),
               Qt::red);
}

void TForm2::showEvent(QShowEvent *event) {
  CentreOnScreen(*this);
  QDialog::showEvent(event);
}

} // namespace vantari
