// The small state the client keeps between runs, and what the workflows record in it.
#include "SyncState.h"
#include "AppTestEnvironment.h"
#include "FailureTexts.h"
#include "WorkflowFixture.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vantari::test {
namespace {

TEST(SyncStateTest, FactsSurviveARestartPerUserAndPerServerAndGarbageReadsAsUnknown) {
  TUserHome home;
  // A file from before, in the settings folder that may roam, is moved to this computer's
  // own folder once; one written later in the old place is no longer read.
  std::filesystem::create_directories(home.ConfigFolder());
  WriteFile(home.ConfigFolder() / "SyncState.ini", "[User:lee]\nLastDownload=1765000000\n");
  EXPECT_EQ(TSyncState().LastDownload("lee"), 1765000000);
  EXPECT_EQ(TSyncState().Path(), (home.StateFolder() / "SyncState.ini").string());
  EXPECT_FALSE(std::filesystem::exists(home.ConfigFolder() / "SyncState.ini"));
  WriteFile(home.ConfigFolder() / "SyncState.ini", "[User:lee]\nLastUpload=1\n");
  EXPECT_FALSE(TSyncState().LastUpload("lee").has_value());
  {
    TSyncState state;
    EXPECT_FALSE(state.ServerArchive("kim").Known());
    EXPECT_FALSE(state.LastUpload("kim").has_value());
    state.SetServerArchive("kim", {1234567, "20261208101500"});
    state.SetLastUpload("kim", 1765000000);
    state.SetPassiveWorks("backup.example", true);
  }
  TSyncState state;
  EXPECT_EQ(state.ServerArchive("kim"), (TServerArchiveState{1234567, "20261208101500"}));
  EXPECT_EQ(state.LastUpload("kim"), 1765000000);
  EXPECT_FALSE(state.LastUpload("lee").has_value()) << "another user shares nothing";
  EXPECT_FALSE(state.LastDownload("kim").has_value());
  EXPECT_TRUE(state.PassiveWorks("backup.example"));
  EXPECT_FALSE(state.PassiveWorks("other.example"));
  struct stat info {};
  ASSERT_EQ(stat(state.Path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  WriteFile(state.Path(), "[User:kim]\nServerSize=12x\nLastUpload=\n");
  EXPECT_EQ(state.ServerArchive("kim").Size, -1);
  EXPECT_FALSE(state.LastUpload("kim").has_value());
}

TEST(SyncStateTest, DaysAreWholeAndNeverNegative) {
  EXPECT_EQ(TSyncState::DaysBetween(0, 86399), 0);
  EXPECT_EQ(TSyncState::DaysBetween(0, 8 * 86400 + 5), 8);
  EXPECT_EQ(TSyncState::DaysBetween(100, 0), 0) << "a clock set back";
}

TEST_F(WorkflowTest, SuccessfulUploadAndDownloadAreRememberedButFailuresAreNot) {
  SetLogin(Server->User(), "wrong");
  Upload();
  EXPECT_FALSE(TSyncState().LastUpload("vantari").has_value());
  SetLogin(Server->User(), Server->Password());
  const std::time_t before = std::time(nullptr);
  Upload();
  const auto uploaded = TSyncState().LastUpload("vantari");
  ASSERT_TRUE(uploaded.has_value());
  EXPECT_GE(*uploaded, before);
  EXPECT_LE(*uploaded, std::time(nullptr));
  Download();
  EXPECT_TRUE(TSyncState().LastDownload("vantari").has_value());
}

// The program's own state file in a shape it cannot use (read-only, a folder, a fifo, too big)
// never fails good work: it reads as nothing known, and the upload that reached the server is
// reported done, followed by a word on what could not be kept.
TEST_F(WorkflowTest, UnusableSyncStateNeverFailsAnUpload) {
  const std::string path = TSyncState().Path();
  const struct {
    std::function<void()> Make;
    std::string Why;
  } cases[] = {
      {[&] {
         WriteFile(path, "");
         chmod(path.c_str(), 0400);
       },
       "Unable to write to " + path},
      {[&] { std::filesystem::create_directories(path); },
       "Cannot read " + path + ": it is not a regular file"},
      {[&] { mkfifo(path.c_str(), 0600); }, "Cannot read " + path + ": it is not a regular file"},
      {[&] { WriteFile(path, std::string(2 << 20, ';')); },
       "Cannot read " + path + ": it is larger than a settings file can be"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Why);
    std::filesystem::remove_all(path);
    c.Make();
    Recorder.Log.clear();
    Upload();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{
                           "message: 모든 작업을 정상적으로 완료하였습니다.",
                           "message: 작업은 완료했지만 작업 기록 파일을 저장하지 못했습니다."}));
    EXPECT_EQ(Recorder.Reports.back().Cause, CauseStateNotSaved);
    EXPECT_NE(Recorder.Reports.back().Details.find(c.Why), std::string::npos);
    EXPECT_TRUE(Errors.empty());
    EXPECT_EQ(ReadFile(Server->PathOf("vantari.bck")),
              ReadFile(DataFolder / "Backup" / "vantari.bck"));
  }
}

} // namespace
} // namespace vantari::test
