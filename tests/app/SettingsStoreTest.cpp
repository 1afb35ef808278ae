// The settings the window keeps (FtpHost.ini) and the data folder it reads from the registry.
#include "AppTestEnvironment.h"
#include "Application.h"
#include "Exception.h"
#include "Unit1.h"

#include <QLineEdit>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vantari::test {
namespace {

namespace fs = std::filesystem;

class SettingsStoreTest : public ::testing::Test {
protected:
  void SetUp() override {
    Application().OnException = [this](const std::string &text) { Errors.push_back(text); };
  }
  void TearDown() override { Application().OnException = nullptr; }

  TUserHome Home;
  std::vector<std::string> Errors;
};

TEST_F(SettingsStoreTest, FirstRunReadsTheKeyNameAndALoginsWritesComeBack) {
  TForm1 form;
  EXPECT_EQ(form.ReadSetting("HOSTID"), "HOSTID");
  form.WriteSetting("backup.example", "FTPHOST");
  form.WriteSetting("김철수", "HOSTID");
  form.WriteSetting("p=w 1", "HOSTPASS");
  EXPECT_EQ(form.ReadSetting("HOSTID"), "김철수");
  EXPECT_EQ(ReadFile(Home.SettingsFile()),
            "[Server]\nFTPHOST=backup.example\nHOSTID=김철수\nHOSTPASS=p=w 1\n");
  struct stat info {};
  ASSERT_EQ(stat(Home.SettingsFile().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file holds a password";
}

TEST_F(SettingsStoreTest, LongValuesAreCutAndHandEditedSectionsStay) {
  TForm1 form;
  fs::create_directories(Home.ConfigFolder());
  WriteFile(Home.SettingsFile(), "; kept by hand\n[Proxy]\nHost=cache.local\n\n[Server]\nHOSTID=" +
                                     std::string(3000, 'x') + "\n");
  EXPECT_EQ(form.ReadSetting("HOSTID"), std::string(2047, 'x'));
  form.WriteSetting("lee", "HOSTID");
  const std::string text = ReadFile(Home.SettingsFile());
  EXPECT_NE(text.find("; kept by hand\n[Proxy]\nHost=cache.local\n"), std::string::npos) << text;
  EXPECT_EQ(form.ReadSetting("HOSTID"), "lee");
}

TEST_F(SettingsStoreTest, UnwritableLocationRaisesWithThePath) {
  TForm1 form;
  // A plain file where the config folder belongs: no user, root included, can write there.
  fs::remove_all(Home.ConfigFolder());
  WriteFile(Home.ConfigFolder(), "not a folder");
  try {
    form.WriteSetting("kim", "HOSTID");
    FAIL() << "the write succeeded";
  } catch (const Exception &error) {
    EXPECT_EQ(error.Message(), "Unable to write to " + Home.SettingsFile().string());
  }
}

TEST_F(SettingsStoreTest, DataFolderLosesOneTrailingSeparatorOfEitherKind) {
  const std::pair<std::string, std::string> cases[] = {
      {"\"DefaultDatabase\"=\"C:\\\\Data\\\\\"", "C:\\Data"},
      {"\"DefaultDatabase\"=\"C:\\\\Data\"", "C:\\Data"},
      {"\"DefaultDatabase\"=\"/home/x/data/\"", "/home/x/data"},
      {"\"DefaultDatabase\"=str(2):\"/home/x/data\"", "/home/x/data"},
  };
  for (const auto &[line, folder] : cases) {
    SCOPED_TRACE(line);
    Home.WriteRegistry(line);
    TForm1 form;
    EXPECT_EQ(form.DataFolder(), folder);
    EXPECT_EQ(form.BackupFolder(), folder + "/Backup");
  }
  EXPECT_TRUE(Errors.empty());
}

TEST_F(SettingsStoreTest, MissingKeyIsCreatedAndLeavesNoDataFolder) {
  TForm1 form;
  EXPECT_EQ(form.DataFolder(), "");
  EXPECT_NE(ReadFile(Home.ConfigFolder() / "user.reg").find("[Software\\\\Corvex\\\\LumoraBC"),
            std::string::npos);
  EXPECT_TRUE(Errors.empty());
}

TEST_F(SettingsStoreTest, NumberValueShowsTheErrorBoxAndTheWindowStillComesUp) {
  Home.WriteRegistry("\"DefaultDatabase\"=dword:00000010");
  TForm1 form;
  EXPECT_EQ(Errors, std::vector<std::string>{"Invalid data type for 'DefaultDatabase'"});
  EXPECT_EQ(form.DataFolder(), "");
  EXPECT_EQ(form.findChild<QLineEdit *>("UserIDEdit")->text().toStdString(), "HOSTID");
}

TEST_F(SettingsStoreTest, WinePrefixValueMapsThroughDosDevices) {
  const fs::path prefix = Home.Root() / "wine";
  const fs::path drive = Home.Root() / "drive-d";
  fs::create_directories(prefix / "dosdevices");
  fs::create_directories(drive / "Lumora" / "Data");
  fs::create_directory_symlink(drive, prefix / "dosdevices" / "d:");
  WriteFile(prefix / "user.reg", "WINE REGISTRY Version 2\n\n"
                                 "[Software\\\\Corvex\\\\LumoraBC\\\\Database] 1700000000\n"
                                 "\"DefaultDatabase\"=\"D:\\\\Lumora\\\\Data\\\\\"\n");
  const std::string before = ReadFile(prefix / "user.reg");
  setenv("WINEPREFIX", prefix.c_str(), 1);
  TForm1 form;
  EXPECT_EQ(fs::path(form.DataFolder()), drive / "Lumora" / "Data");
  EXPECT_EQ(ReadFile(prefix / "user.reg"), before) << "the prefix is never written";
}

} // namespace
} // namespace vantari::test
