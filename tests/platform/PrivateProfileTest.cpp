#include "PrivateProfile.h"
#include "Exception.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace vantari;
using vantari::test::ReadText;
using vantari::test::TTempFolder;
using vantari::test::WriteText;

namespace {

std::string ReadSetting(const std::string &key, const std::string &path) {
  return GetPrivateProfileString("Server", key, key, path);
}

void WriteSetting(const std::string &value, const std::string &key, const std::string &path) {
  WritePrivateProfileString("Server", key, value, path);
}

} // namespace

TEST(PrivateProfile, FirstRunReadsTheKeyNameItself) {
  TTempFolder folder;
  const auto ini = folder / "FtpHost.ini";
  EXPECT_EQ(ReadSetting("HOSTID", ini), "HOSTID");
  WriteText(ini, "[Other]\nHOSTID=x\n");
  EXPECT_EQ(ReadSetting("HOSTID", ini), "HOSTID");
  WriteText(ini, "[Server]\nHOSTID=\n");
  EXPECT_EQ(ReadSetting("HOSTID", ini), "");
}

TEST(PrivateProfile, ThreeWritesMakeThePrivateFileAndReadBack) {
  TTempFolder folder;
  const auto ini = folder / "FtpHost.ini";
  WriteSetting("127.0.0.1", "FTPHOST", ini);
  WriteSetting("kim", "HOSTID", ini);
  WriteSetting("비밀 번호", "HOSTPASS", ini);
  EXPECT_EQ(ReadText(ini), "[Server]\nFTPHOST=127.0.0.1\nHOSTID=kim\nHOSTPASS=비밀 번호\n");
  EXPECT_EQ(ReadSetting("HOSTID", ini), "kim");
  EXPECT_EQ(ReadSetting("hostpass", ini), "비밀 번호");
  struct stat st {};
  ASSERT_EQ(::stat(ini.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  WriteSetting("lee", "HOSTID", ini);
  EXPECT_EQ(ReadText(ini), "[Server]\nFTPHOST=127.0.0.1\nHOSTID=lee\nHOSTPASS=비밀 번호\n");
}

TEST(PrivateProfile, LongValuesAreCutAt2047Characters) {
  TTempFolder folder;
  const auto ini = folder / "FtpHost.ini";
  WriteSetting(std::string(3000, 'a'), "HOSTID", ini);
  EXPECT_EQ(ReadSetting("HOSTID", ini), std::string(2047, 'a'));
  std::string korean;
  for (int i = 0; i < 2100; ++i)
    korean += "가";
  WriteSetting(korean, "HOSTID", ini);
  EXPECT_EQ(ReadSetting("HOSTID", ini), korean.substr(0, 2047 * 3));
}

TEST(PrivateProfile, UnwritableLocationRaisesWithThePath) {
  TTempFolder folder;
  WriteText(folder / "plain", "not a folder");
  const auto ini = folder / "plain/FtpHost.ini";
  try {
    WriteSetting("kim", "HOSTID", ini);
    FAIL() << "no exception";
  } catch (const Exception &e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + ini);
  }
  EXPECT_EQ(ReadSetting("HOSTID", ini), "HOSTID");
}

TEST(PrivateProfile, ReadOnlyFileIsNotReplaced) {
  TTempFolder folder;
  const auto ini = folder / "FtpHost.ini";
  WriteText(ini, "[Server]\nHOSTID=kim\n");
  ::chmod(ini.c_str(), 0400);
  EXPECT_THROW(WriteSetting("lee", "HOSTID", ini), Exception);
  EXPECT_EQ(ReadSetting("HOSTID", ini), "kim");
}

TEST(PrivateProfile, HandEditedFileKeepsEverythingElse) {
  TTempFolder folder;
  const auto ini = folder / "FtpHost.ini";
  const std::string before = "; written by hand\r\n"
                             "[Proxy]\r\n"
                             "HOSTID=proxy-user\r\n"
                             "\r\n"
                             "[ server ]\r\n"
                             "  hostid = \"old\"  \r\n"
                             "Extra=1\r\n"
                             "\r\n"
                             "[Last]\r\n"
                             "# note\r\n";
  WriteText(ini, before);
  EXPECT_EQ(ReadSetting("HOSTID", ini), "old");
  ::chmod(ini.c_str(), 0644);

  WriteSetting("kim", "HOSTID", ini);
  WriteSetting("secret", "HOSTPASS", ini);
  WritePrivateProfileString("Last", "Key", "x", ini);
  WritePrivateProfileString("New", "A", "b", ini);
  EXPECT_EQ(ReadText(ini), "; written by hand\r\n"
                           "[Proxy]\r\n"
                           "HOSTID=proxy-user\r\n"
                           "\r\n"
                           "[ server ]\r\n"
                           "HOSTID=kim\r\n"
                           "Extra=1\r\n"
                           "HOSTPASS=secret\r\n"
                           "\r\n"
                           "[Last]\r\n"
                           "# note\r\n"
                           "Key=x\r\n"
                           "[New]\r\n"
                           "A=b\r\n");
  EXPECT_EQ(GetPrivateProfileString("Proxy", "HOSTID", "", ini), "proxy-user");
  struct stat st {};
  ASSERT_EQ(::stat(ini.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "it holds a password: private after every write";
}

TEST(PrivateProfile, LinksFifosAndHugeFilesAreRefusedNotFollowed) {
  TTempFolder folder;
  const auto ini = folder / "FtpHost.ini";
  const auto elsewhere = folder / "bashrc";
  WriteText(elsewhere, "[Server]\nHOSTID=from the link\n");
  ASSERT_EQ(::symlink(elsewhere.c_str(), ini.c_str()), 0);
  try {
    ReadSetting("HOSTID", ini);
    FAIL() << "a link was followed";
  } catch (const Exception &e) {
    EXPECT_EQ(e.Message(), "Cannot read " + ini + ": it is a symbolic link, which is not followed");
  }
  EXPECT_THROW(WriteSetting("kim", "HOSTID", ini), Exception);
  EXPECT_EQ(ReadText(elsewhere), "[Server]\nHOSTID=from the link\n");
  ::unlink(ini.c_str());

  ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0); // nobody writes: a read that waited would hang
  try {
    ReadSetting("HOSTID", ini);
    FAIL() << "a fifo was read";
  } catch (const Exception &e) {
    EXPECT_EQ(e.Message(), "Cannot read " + ini + ": it is not a regular file");
  }
  EXPECT_THROW(WriteSetting("kim", "HOSTID", ini), Exception);
  ::unlink(ini.c_str());

  WriteText(ini, "[Server]\nHOSTID=kim\n;" + std::string(1024 * 1024, 'x') + "\n");
  EXPECT_THROW(ReadSetting("HOSTID", ini), Exception);
  EXPECT_THROW(WriteSetting("kim", "HOSTID", ini), Exception);
}
