// The small state the client keeps between runs, and what the workflows record in it.
#include "SyncState.h"
#include "AppTestEnvironment.h"
#include "WorkflowFixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vantari::test {
namespace {

TEST(SyncStateTest, FactsSurviveARestartPerUserAndPerServerAndGarbageReadsAsUnknown) {
  TUserHome home;
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

} // namespace
} // namespace vantari::test
