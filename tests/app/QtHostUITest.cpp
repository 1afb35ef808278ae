// The desktop services the program installs: repaints between blocking waits, paced.
#include "QtHostUI.h"

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

// Acts on the next modal box of type W once it is up (bounded wait).
template <class W> void WhenUp(const std::function<void(W &)> &action) {
  auto *poll = new QTimer(qApp);
  auto tries = std::make_shared<int>(0);
  QObject::connect(poll, &QTimer::timeout, [poll, tries, action] {
    auto *box = qobject_cast<W *>(QApplication::activeModalWidget());
    if (box || ++*tries > 200) {
      poll->stop();
      poll->deleteLater();
      if (box)
        action(*box);
    }
  });
  poll->start(10);
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
