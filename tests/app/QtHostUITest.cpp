// The desktop services the program installs: repaints between blocking waits, paced.
#include "QtHostUI.h"

#include <QTimer>
#include <gtest/gtest.h>
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

} // namespace
} // namespace vantari::test
