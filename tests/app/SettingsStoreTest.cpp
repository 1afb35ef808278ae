// What the window keeps in FtpHost.ini and the data folder it takes from the registry.
#include "AppTestEnvironment.h"
#include "Application.h"
#include "Unit1.h"
#include "Workflow.h"

#include <QLineEdit>
#include <QProgressBar>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vantari::test {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
  void SetUp() override {
    Application().OnException = [this](const std::string &text) { Errors.push_back(text); };
  }
  void TearDown() override { Application().OnException = nullptr; }

  TUserHome Home;
  std::vector<std::string> Errors;
};

TEST_F(SettingsStoreTest, LoginSettingsComeBackAsTheUserIdButNeverAsThePassword) {
  {
    TForm1 first;
    EXPECT_EQ(first.Workflow().Settings().ReadSetting("HOSTID"), "HOSTID");
    first.Workflow().Settings().WriteSetting("backup.example", "FTPHOST");
    first.Workflow().Settings().WriteSetting("김철수", "HOSTID");
    first.Workflow().Settings().WriteSetting("p=w 1", "HOSTPASS");
  }
  EXPECT_EQ(ReadFile(Home.SettingsFile()),
            "[Server]\nFTPHOST=backup.example\nHOSTID=김철수\nHOSTPASS=p=w 1\n");
  struct stat info {};
  ASSERT_EQ(stat(Home.SettingsFile().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file holds a password";
  TForm1 next;
  EXPECT_EQ(next.findChild<QLineEdit *>("UserIDEdit")->text().toStdString(), "김철수");
  EXPECT_TRUE(next.findChild<QLineEdit *>("PasswordEdit")->text().isEmpty());
}

TEST_F(SettingsStoreTest, DataFolderLosesOneTrailingSeparatorOfEitherKind) {
  const std::pair<std::string, std::string> cases[] = {
      {"\"C:\\\\Data\\\\\"", "C:\\Data"},
      {"\"C:\\\\Data\"", "C:\\Data"},
      {"\"/home/x/data/\"", "/home/x/data"},
      {"str(2):\"/home/x/data\"", "/home/x/data"},
  };
  for (const auto &[value, folder] : cases) {
    SCOPED_TRACE(value);
    Home.WriteRegistry("\"DefaultDatabase\"=" + value);
    TForm1 form;
    EXPECT_EQ(form.Workflow().Settings().DataFolder(), folder);
    EXPECT_EQ(form.Workflow().Settings().BackupFolder(), folder + "/Backup");
  }
  EXPECT_TRUE(Errors.empty());
}

TEST_F(SettingsStoreTest, NumberValueShowsTheErrorBoxAndTheWindowStillComesUp) {
  Home.WriteRegistry("\"DefaultDatabase\"=dword:00000010");
  TForm1 form;
  EXPECT_EQ(Errors, std::vector<std::string>{"Invalid data type for 'DefaultDatabase'"});
  EXPECT_EQ(form.Workflow().Settings().DataFolder(), "");
  EXPECT_EQ(form.findChild<QLineEdit *>("UserIDEdit")->text().toStdString(), "HOSTID");
}

// An FtpHost.ini that cannot be read (a link, a folder) does not stop the start half-way: the
// window comes up as on a first start, and the box says what is wrong with the file.
TEST_F(SettingsStoreTest, UnreadableSettingsFileStartsLikeAFirstStartAndSaysWhy) {
  const std::string path = Home.SettingsFile().string();
  Home.SetDataFolder(Home.Root() / "data");
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { std::filesystem::create_symlink(Home.Root() / "other.ini", path); },
       "it is a symbolic link, which is not followed"},
      {[&] { std::filesystem::create_directories(path); }, "it is not a regular file"},
  };
  for (const auto &[make, why] : cases) {
    SCOPED_TRACE(why);
    std::filesystem::remove_all(path);
    make();
    Errors.clear();
    TForm1 form;
    EXPECT_EQ(Errors, std::vector<std::string>{"Cannot read " + path + ": " + why});
    EXPECT_EQ(form.findChild<QLineEdit *>("UserIDEdit")->text().toStdString(), "HOSTID");
    EXPECT_EQ(form.findChild<QProgressBar *>("ProgressBar")->parentWidget()->objectName(),
              "StatusBar");
    EXPECT_EQ(form.Workflow().Settings().DataFolder(), (Home.Root() / "data").string());
  }
}

TEST_F(SettingsStoreTest, UnwritableLocationRaisesWithThePath) {
  TForm1 form;
  // A plain file where the config folder belongs: nobody, root included, can write there.
  std::filesystem::remove_all(Home.ConfigFolder());
  WriteFile(Home.ConfigFolder(), "not a folder");
  try {
    form.Workflow().Settings().WriteSetting("kim", "HOSTID");
    FAIL() << "the write succeeded";
  } catch (const std::exception &error) {
    EXPECT_EQ(std::string(error.what()), "Unable to write to " + Home.SettingsFile().string());
  }
}

} // namespace
} // namespace vantari::test
