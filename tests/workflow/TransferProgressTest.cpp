// The transfer events on a clock the test moves: speed text, progress bar, repaint pacing.
#include "AppTestEnvironment.h"
#include "HostUIRecorder.h"
#include "IdFTP.h"
#include "ServerSession.h"
#include "StatusBar.h"
#include "Unit1.h"
#include "Workflow.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <gtest/gtest.h>
#include <thread>

namespace vantari::test {
namespace {

using namespace std::chrono_literals;

class TransferProgressTest : public ::testing::Test {
protected:
  TransferProgressTest() {
    TForm1::TConfig config = TForm1::TConfig::BuiltIn();
    config.Clock = [this] { return std::chrono::steady_clock::time_point(Elapsed); };
    Form = std::make_unique<TForm1>(config);
    Bar = Form->findChild<QProgressBar *>("ProgressBar");
  }
  // The FTP component's events, as a transfer raises them.
  const TIdFTP &FTP() const { return Form->Workflow().Session().FTP(); }
  std::string Text() const {
    return Form->findChild<TStatusBar *>("StatusBar")->PanelText(1).toStdString();
  }

  TUserHome Home;
  THostUIRecorder Recorder;
  std::chrono::milliseconds Elapsed{1000};
  std::unique_ptr<TForm1> Form;
  QProgressBar *Bar = nullptr;
};

TEST_F(TransferProgressTest, SpeedIsTheAverageSinceTheStartWithTwoDecimals) {
  FTP().OnWorkBegin(nullptr, wmWrite, 4096000);
  EXPECT_EQ(Bar->maximum(), 4096000);
  FTP().OnWork(nullptr, wmWrite, 1024);
  EXPECT_EQ(Text(), "Uploade speed 0.00 KB/s") << "no time has passed yet";
  Elapsed += 10s;
  FTP().OnWork(nullptr, wmWrite, 2048000);
  EXPECT_EQ(Text(), "Uploade speed 200.00 KB/s");
  EXPECT_EQ(Bar->value(), 2048000);
  FTP().OnWorkEnd(nullptr, wmWrite);
  EXPECT_EQ(Text(), "전송을 완료했습니다.");
  EXPECT_TRUE(Bar->isHidden());

  // A download whose size the server did not give: a busy bar, and the speed all the same.
  FTP().OnWorkBegin(nullptr, wmRead, 0);
  EXPECT_EQ(Bar->maximum(), 0);
  Elapsed += 1s;
  FTP().OnWork(nullptr, wmRead, 12642); // 12.3457 KB in one second
  EXPECT_EQ(Text(), "Download speed 12.35 KB/s");
}

TEST_F(TransferProgressTest, RedrawsAtMostEveryTenthOfASecondButCountsEverything) {
  FTP().OnWorkBegin(nullptr, wmWrite, 100000);
  Elapsed += 1s;
  FTP().OnWork(nullptr, wmWrite, 1024);
  const int pumps = Recorder.PaintPumps;
  Elapsed += 50ms;
  FTP().OnWork(nullptr, wmWrite, 2048);
  EXPECT_EQ(Text(), "Uploade speed 1.00 KB/s") << "too soon to redraw";
  EXPECT_EQ(Bar->value(), 1024);
  EXPECT_EQ(Recorder.PaintPumps, pumps);
  Elapsed += 50ms;
  FTP().OnWork(nullptr, wmWrite, 11264); // 11 KB in 1.1 s
  EXPECT_EQ(Text(), "Uploade speed 10.00 KB/s");
  EXPECT_EQ(Bar->value(), 11264);
  EXPECT_EQ(Recorder.PaintPumps, pumps + 1);

  // The end of a burst followed by a pause: the last count reaches the window all the same.
  Elapsed += 50ms;
  FTP().OnWork(nullptr, wmWrite, 12288); // 12 KB in 1.15 s
  EXPECT_EQ(Text(), "Uploade speed 10.00 KB/s");
  std::this_thread::sleep_for(150ms);
  QCoreApplication::processEvents();
  EXPECT_EQ(Text(), "Uploade speed 10.43 KB/s");
  EXPECT_EQ(Bar->value(), 12288);
}

} // namespace
} // namespace vantari::test
