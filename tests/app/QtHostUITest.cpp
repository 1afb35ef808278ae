// The desktop services the program installs: repaints between blocking waits, paced.
#include "QtHostUI.h"

#include "Application.h"
#include "ModalBox.h"
#include "WindowTexts.h"

#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace vantari::test {
namespace {

TEST(QtHostUITest, PaintPumpRunsTimersAtMostEveryTenthOfASecond) {
  TQtHostUI host;
  int fired = 0;
  QTimer::singleShot(0, [&] { ++fired; });
  host.ProcessPaintEvents();
  EXPECT_EQ(fired, 1);
  QTimer::singleShot(0, [&] { ++fired; });
  host.ProcessPaintEvents(); // within 100 ms of the last: nothing runs
  EXPECT_EQ(fired, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  host.ProcessPaintEvents();
  EXPECT_EQ(fired, 2);
}

void WhenTheBoxIsUp(const std::function<void(QMessageBox &)> &action) {
  WhenUp<QMessageBox>(action);
}

TEST(QtHostUITest, QuestionAnswersNoUnlessYesIsChosen) {
  TQtHostUI host;
  std::string shown;
  WhenTheBoxIsUp([&](QMessageBox &box) {
    shown = box.text().toStdString();
    QTest::keyClick(&box, Qt::Key_Return); // the default button
  });
  EXPECT_FALSE(host.AskYesNo("그래도 서버의 자료로 바꾸시겠습니까?"));
  EXPECT_EQ(shown, "그래도 서버의 자료로 바꾸시겠습니까?");
  WhenTheBoxIsUp([](QMessageBox &box) { QTest::keyClick(&box, Qt::Key_Escape); });
  EXPECT_FALSE(host.AskYesNo("?"));
  WhenTheBoxIsUp([](QMessageBox &box) { box.button(QMessageBox::Yes)->click(); });
  EXPECT_TRUE(host.AskYesNo("?"));
}

// A failure box keeps its established caption, icon and first line; the cause and the next
// step stand under it, and the technical part waits behind the details button.
TEST(QtHostUITest, FailureReportShowsCauseAndStepWithTheDetailsBehindAButton) {
  TQtHostUI host;
  for (const bool failureBox : {true, false}) {
    const TFailureReport report{
        "서버 접속에 실패하였습니다.", "아이디 또는 비밀번호가 맞지 않습니다.",
        "아이디와 비밀번호를 확인하신 뒤 다시 입력해 주십시오.",
        "서버 응답: 530 Login incorrect.\n시각: 2026-12-09 03:00:00", failureBox};
    std::string title, text, details;
    QMessageBox::Icon icon = QMessageBox::Warning;
    WhenTheBoxIsUp([&](QMessageBox &box) {
      title = box.windowTitle().toStdString();
      text = box.text().toStdString();
      details = box.detailedText().toStdString();
      icon = box.icon();
      box.button(QMessageBox::Ok)->click();
    });
    host.ShowFailureReport(report);
    EXPECT_EQ(title, failureBox ? TextFailureCaption : Application().Title());
    EXPECT_EQ(icon, failureBox ? QMessageBox::Information : QMessageBox::NoIcon);
    EXPECT_EQ(text, "서버 접속에 실패하였습니다.\n\n아이디 또는 비밀번호가 맞지 않습니다.\n"
                    "아이디와 비밀번호를 확인하신 뒤 다시 입력해 주십시오.");
    EXPECT_EQ(details, report.Details);
  }
}

// The list of earlier archives: the line chosen (Enter on it), -1 for Escape.
TEST(QtHostUITest, ListGivesTheLineChosenOrNothingWhenCancelled) {
  TQtHostUI host;
  const std::vector<std::string> lines = {"2026-12-08 21:00", "2026-12-07 21:00",
                                          "2026-11-30 21:00"};
  std::string title;
  WhenUp<QDialog>([&](QDialog &dialog) {
    title = dialog.windowTitle().toStdString();
    auto *list = dialog.findChild<QListWidget *>();
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
  });
  EXPECT_EQ(host.ChooseOne("이전 백업에서 복원", lines), 1);
  EXPECT_EQ(title, "이전 백업에서 복원");
  WhenUp<QDialog>([](QDialog &dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
  EXPECT_EQ(host.ChooseOne("?", lines), -1);
}

} // namespace
} // namespace vantari::test
