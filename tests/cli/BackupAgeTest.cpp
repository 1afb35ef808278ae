// The window's word on an old backup: shown at the start when the last upload from this
// computer is more than a week old, gone once a workflow starts.
#include "AppTestEnvironment.h"
#include "HostUIRecorder.h"
#include "StatusBar.h"
#include "SyncState.h"
#include "Unit1.h"

#include <QToolButton>
#include <ctime>
#include <gtest/gtest.h>

namespace vantari::test {
namespace {

constexpr std::time_t kDay = 24 * 60 * 60;

class BackupAgeTest : public ::testing::Test {
protected:
  BackupAgeTest() {
    // No data folder: a click ends at once with its message, without the network.
    Home.WriteRegistry("");
    WriteFile(Home.SettingsFile(), "[Server]\nHOSTID=kim\n");
  }

  void LastUploadDaysAgo(const std::string &user, std::time_t days) {
    std::filesystem::create_directories(Home.StateFolder());
    TSyncState((Home.StateFolder() / "SyncState.ini").string())
        .SetLastUpload(user, std::time(nullptr) - days * kDay - 60);
  }

  QString Status(TForm1 &form) {
    return form.findChild<TStatusBar *>(QStringLiteral("StatusBar"))->PanelText(1);
  }

  TUserHome Home;
  THostUIRecorder Recorder;
};

TEST_F(BackupAgeTest, AWeekOldBackupIsNamedInTheStatusBarUntilTheNextWorkflow) {
  LastUploadDaysAgo("kim", 8);
  TForm1 form;
  EXPECT_EQ(Status(form), QStringLiteral("마지막 백업: 8일 전"));

  form.findChild<QToolButton *>(QStringLiteral("btnBackupWizard"))->click();
  ASSERT_FALSE(Recorder.Texts("message").empty()) << "the click ran the workflow";
  EXPECT_EQ(Status(form), QString());
}

TEST_F(BackupAgeTest, ARecentOrUnknownBackupLeavesTheStatusBarEmpty) {
  LastUploadDaysAgo("kim", 6);
  LastUploadDaysAgo("lee", 30); // another user's old backup is not this user's
  TForm1 recent;
  EXPECT_EQ(Status(recent), QString());

  WriteFile(Home.SettingsFile(), "[Server]\nHOSTID=park\n");
  TForm1 never;
  EXPECT_EQ(Status(never), QString());
}

} // namespace
} // namespace vantari::test
