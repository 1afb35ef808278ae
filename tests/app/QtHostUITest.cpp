// The desktop services the program installs: repaints between blocking waits, paced.
#include "QtHostUI.h"

#include <QApplication>
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

// Answers the next question box with action once it is up (bounded wait).
void WhenTheBoxIsUp(const std::function<void(QMessageBox &)> &action) {
  auto *poll = new QTimer(qApp);
  auto tries = std::make_shared<int>(0);
  QObject::connect(poll, &QTimer::timeout, [poll, tries, action] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (box || ++*tries > 200) {
      poll->stop();
      poll->deleteLater();
      if (box)
        action(*box);
    }
  });
  poll->start(10);
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

} // namespace
} // namespace vantari::test
