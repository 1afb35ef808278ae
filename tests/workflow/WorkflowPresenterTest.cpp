// What the main window's buttons do, through the presenter and a recording view, the same on
// Linux and Windows: one run at a time, a close that cancels the run it interrupts, the
// transfer's speed and progress on a clock the test moves.
#include "IdFTP.h"
#include "IdWait.h"
#include "MainWindowPresenter.h"
#include "RestoreFixture.h"
#include "ServerSession.h"
#include "SettingsStore.h"
#include "SyncState.h"
#include "WorkflowView.h"

#include <algorithm>
#include <ctime>

namespace vantari::test {
namespace {

using namespace std::chrono_literals;

const std::string CancelQuestion = "작업을 취소하시겠습니까?";

class WorkflowPresenterTest : public RestoreTest {
protected:
  // The FTP component's events, as a transfer raises them.
  const TIdFTP &FTP() { return Window().Workflow().Session().FTP(); }
  bool ServerHas(const std::string &name) const { return fs::exists(Server->PathOf(name)); }

  std::chrono::milliseconds Elapsed{1000};
};

TEST_F(WorkflowPresenterTest, SecondClickDuringARunStartsNothing) {
  Server->WriteFile("vantari.bck", Archive(New, Year2024));
  bool lockedMidRun = false;
  Recorder.DuringRun = [&] {
    lockedMidRun = View.Running;
    Window().Upload();
    Window().Download();
    Window().UndoDownload();
  };
  Window().Download();
  EXPECT_TRUE(lockedMidRun);
  EXPECT_EQ(Recorder.Texts("message"), std::vector<std::string>{AllDone});
  EXPECT_EQ(Contents(DataFolder), After);
  EXPECT_EQ(Snapshots().size(), 1u) << "one download, no undo";
  EXPECT_FALSE(View.Running);
}

// A close while the archive travels asks whether to cancel; Yes ends the transfer, leaves the
// data here and the archive there as they were, and then closes the window.
TEST_F(WorkflowPresenterTest, CloseDuringATransferCancelsThenCloses) {
  const std::string theirs = Archive(New, Year2024);
  const struct {
    void (TMainWindowPresenter::*Button)();
    const char *Transfer;
    const char *Failure;
  } cases[] = {
      {&TMainWindowPresenter::Download, "파일을 받는 중...", "파일 받기에 실패하였습니다."},
      {&TMainWindowPresenter::Upload, "파일을 올리는 중...", "파일 올리기를 실패하였습니다."}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Transfer);
    Server->WriteFile("vantari.bck", theirs);
    Recorder.Shown.clear();
    Recorder.DefaultYesNoAnswer = true; // replace the server's archive; cancel
    View.Closed = false;
    std::vector<std::string> statuses;
    View.Log = &statuses;
    std::function<void()> closeAtTransfer = [&] {
      if (View.Status == c.Transfer)
        EXPECT_FALSE(Window().CloseQuery()) << "the window stays until the run has put things back";
      else
        Recorder.DuringRun = closeAtTransfer;
    };
    Recorder.DuringRun = closeAtTransfer;
    (Window().*c.Button)();
    Recorder.DuringRun = nullptr;
    ASSERT_FALSE(Recorder.Texts("question").empty());
    EXPECT_EQ(Recorder.Texts("question").back(), CancelQuestion);
    EXPECT_EQ(Recorder.Texts("message"), std::vector<std::string>{c.Failure});
    EXPECT_TRUE(View.Closed);
    EXPECT_EQ(View.Status, "작업을 취소했습니다.");
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "status: 전송을 완료했습니다."), 0);
    EXPECT_FALSE(IdCancelRequested()) << "the next run would start cancelled";
    EXPECT_EQ(Contents(DataFolder), Old);
    EXPECT_EQ(Server->ReadFile("vantari.bck"), theirs);
    EXPECT_FALSE(ServerHas("vantari.bck.new"));
    EXPECT_TRUE(Snapshots().empty());
  }
  EXPECT_TRUE(Window().CloseQuery()) << "no run: the window closes at once";
}

// The start names this user's backup when it is more than a week old, until the next run.
TEST_F(WorkflowPresenterTest, AWeekOldBackupIsNamedAtTheStartUntilTheNextRun) {
  const std::time_t now = std::time(nullptr);
  TSyncState().SetLastUpload("kim", now - 8 * 86400 - 60);
  TSyncState().SetLastUpload("lee", now - 6 * 86400);
  const std::pair<std::string, std::string> cases[] = {
      {"kim", "마지막 백업: 8일 전"}, {"lee", ""}, {"park", ""}};
  for (const auto &[user, notice] : cases) {
    SCOPED_TRACE(user);
    TSettingsStore().WriteSetting(user, "HOSTID");
    TWorkflowView view;
    TMainWindowPresenter window(view, Config);
    window.FormCreate();
    EXPECT_EQ(view.UserID, user);
    EXPECT_EQ(view.Status, notice);
    view.UserID += "\n"; // refused before any network step
    window.Upload();
    EXPECT_EQ(view.Status, "작업을 마치지 못했습니다.");
  }
}

TEST_F(WorkflowPresenterTest, SpeedIsTheAverageSinceTheStartWithTwoDecimals) {
  Config.Clock = [this] { return std::chrono::steady_clock::time_point(Elapsed); };
  FTP().OnWorkBegin(nullptr, wmWrite, 4096000);
  EXPECT_EQ(View.Maximum, 4096000);
  FTP().OnWork(nullptr, wmWrite, 1024);
  EXPECT_EQ(View.Status, "Uploade speed 0.00 KB/s") << "no time has passed yet";
  Elapsed += 10s;
  FTP().OnWork(nullptr, wmWrite, 2048000);
  EXPECT_EQ(View.Status, "Uploade speed 200.00 KB/s");
  EXPECT_EQ(View.Position, 2048000);
  FTP().OnWorkEnd(nullptr, wmWrite);
  EXPECT_EQ(View.Status, "Uploade speed 200.00 KB/s") << "done only once the server has answered";
  EXPECT_FALSE(View.ProgressVisible);

  // A download whose size the server did not give: a busy bar, and the speed all the same.
  FTP().OnWorkBegin(nullptr, wmRead, 0);
  EXPECT_EQ(View.Maximum, 0);
  Elapsed += 1s;
  FTP().OnWork(nullptr, wmRead, 12642); // 12.3457 KB in one second
  EXPECT_EQ(View.Status, "Download speed 12.35 KB/s");
}

TEST_F(WorkflowPresenterTest, RedrawsAtMostEveryTenthOfASecondButCountsEverything) {
  Config.Clock = [this] { return std::chrono::steady_clock::time_point(Elapsed); };
  FTP().OnWorkBegin(nullptr, wmWrite, 100000);
  Elapsed += 1s;
  FTP().OnWork(nullptr, wmWrite, 1024);
  const int pumps = Recorder.PaintPumps;
  Elapsed += 50ms;
  FTP().OnWork(nullptr, wmWrite, 2048);
  EXPECT_EQ(View.Status, "Uploade speed 1.00 KB/s") << "too soon to redraw";
  EXPECT_EQ(View.Position, 1024);
  EXPECT_EQ(Recorder.PaintPumps, pumps);
  Elapsed += 50ms;
  FTP().OnWork(nullptr, wmWrite, 11264); // 11 KB in 1.1 s
  EXPECT_EQ(View.Status, "Uploade speed 10.00 KB/s");
  EXPECT_EQ(View.Position, 11264);
  EXPECT_EQ(Recorder.PaintPumps, pumps + 1);

  // The end of a burst followed by a pause: the last count reaches the window all the same.
  Elapsed += 50ms;
  FTP().OnWork(nullptr, wmWrite, 12288); // 12 KB in 1.15 s
  EXPECT_EQ(View.Status, "Uploade speed 10.00 KB/s");
  ASSERT_TRUE(View.TimerRunning);
  Window().RepaintTimerElapsed(); // the view's timer is over
  EXPECT_EQ(View.Status, "Uploade speed 10.43 KB/s");
  EXPECT_EQ(View.Position, 12288);
  EXPECT_FALSE(View.TimerRunning);
  FTP().OnWorkEnd(nullptr, wmWrite);
  EXPECT_FALSE(View.TimerRunning) << "no redraw after the transfer";
}

} // namespace
} // namespace vantari::test
