#include "UserRegistry.h"
#include "Exception.h"
#include "TempFolder.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vantari;
using vantari::test::ReadText;
using vantari::test::TTempFolder;
using vantari::test::WriteText;

namespace {

const std::string Key = "Software\\Corvex\\LumoraBC\\Database";

std::string Hive(const std::string &values) {
  return "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
         "#arch=win64\n\n[Software\\\\Corvex\\\\LumoraBC\\\\Database] 1700000000\n#time=1d9\n" +
         values + "\n[Software\\\\Other] 1700000000\n\"DefaultDatabase\"=\"D:\\\\Other\"\n";
}

std::string ReadDefaultDatabase(TUserRegistry &registry) {
  EXPECT_TRUE(registry.OpenKey(Key, true));
  const std::string value = registry.ReadString("DefaultDatabase");
  registry.CloseKey();
  return value;
}

} // namespace

TEST(UserRegistry, MissingKeyIsCreatedInAPrivateFile) {
  TTempFolder folder;
  const auto reg = folder / "user.reg";
  TUserRegistry registry(reg, "");
  EXPECT_FALSE(registry.OpenKey(Key, false));
  EXPECT_EQ(ReadDefaultDatabase(registry), "");
  EXPECT_TRUE(ReadText(reg).starts_with("WINE REGISTRY Version 2\n"));
  EXPECT_NE(ReadText(reg).find("\n[Software\\\\Corvex\\\\LumoraBC\\\\Database] "),
            std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(reg.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(registry.OpenKey("software\\corvex\\lumorabc\\DATABASE\\", false));

  // Opening a missing key of an existing hive is a read: the file is not rewritten.
  const std::string hive = Hive("\"DefaultDatabase\"=\"C:\\\\Data\\\\\"");
  WriteText(reg, hive);
  ::chmod(reg.c_str(), 0644);
  EXPECT_TRUE(registry.OpenKey("Software\\New", true));
  EXPECT_EQ(registry.ReadString("DefaultDatabase"), "");
  EXPECT_EQ(ReadText(reg), hive);
  ASSERT_EQ(::stat(reg.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u) << "not replaced";
  EXPECT_EQ(ReadDefaultDatabase(registry), "C:\\Data\\");
}

TEST(UserRegistry, StandInIsNeverReadThroughALinkOrFromAFifo) {
  TTempFolder folder;
  const auto reg = folder / "user.reg";
  const auto elsewhere = folder / "other.reg";
  WriteText(elsewhere, Hive("\"DefaultDatabase\"=\"/etc\""));
  ASSERT_EQ(::symlink(elsewhere.c_str(), reg.c_str()), 0);
  TUserRegistry registry(reg, "");
  EXPECT_THROW(registry.OpenKey(Key, true), Exception);
  EXPECT_EQ(ReadText(elsewhere), Hive("\"DefaultDatabase\"=\"/etc\""));
  ::unlink(reg.c_str());
  ASSERT_EQ(::mkfifo(reg.c_str(), 0600), 0);
  EXPECT_THROW(registry.OpenKey(Key, true), Exception);
  struct stat st {};
  ASSERT_EQ(::lstat(reg.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "left as it was";
}

TEST(UserRegistry, StringValuesReadAsStoredWithTheirEscapes) {
  TTempFolder folder;
  const auto reg = folder / "user.reg";
  TUserRegistry registry(reg, "");
  const std::pair<std::string, std::string> cases[] = {
      {"\"DefaultDatabase\"=\"C:\\\\Data\\\\\"", "C:\\Data\\"},
      {"\"defaultdatabase\"=str(2):\"/home/x/data/\"", "/home/x/data/"},
      {"\"DefaultDatabase\"=\"C:\\\\\\xd68c\\xacc4\\\\\\\"q\\\"\"", "C:\\회계\\\"q\""},
      {"\"DefaultDatabase\"=\"/home/x/자료\"", "/home/x/자료"},
      {"\"DefaultDatabase\"=hex(2):2f,00,61,00,\\\n  62,00,00,00", "/ab"},
  };
  for (const auto &[line, expected] : cases) {
    WriteText(reg, Hive(line));
    EXPECT_EQ(ReadDefaultDatabase(registry), expected) << line;
  }
}

TEST(UserRegistry, OtherTypesRaiseInvalidDataType) {
  TTempFolder folder;
  const auto reg = folder / "user.reg";
  TUserRegistry registry(reg, "");
  for (const std::string line :
       {"\"DefaultDatabase\"=dword:00000001", "\"DefaultDatabase\"=hex:01,02",
        "\"DefaultDatabase\"=str(7):\"a\\0b\""}) {
    WriteText(reg, Hive(line));
    ASSERT_TRUE(registry.OpenKey(Key, true));
    try {
      registry.ReadString("DefaultDatabase");
      ADD_FAILURE() << "no exception for " << line;
    } catch (const Exception &e) {
      EXPECT_EQ(e.Message(), "Invalid data type for 'DefaultDatabase'");
    }
  }
}

class WinePrefix : public ::testing::Test {
protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    fs::create_directories(Prefix / "dosdevices");
    fs::create_directories(Prefix / "drive_c/Lumora/data");
    fs::create_directory_symlink("../drive_c", Prefix / "dosdevices/c:");
    fs::create_directory_symlink("/", Prefix / "dosdevices/z:");
  }
  TTempFolder Config, Prefix;
};

TEST_F(WinePrefix, ValueMapsThroughDosdevicesAndThePrefixIsNeverWritten) {
  const auto hive = Prefix / "user.reg";
  const auto canonicalC = std::filesystem::canonical(Prefix / "drive_c").string();
  TUserRegistry registry(Config / "user.reg", Prefix.Path());
  const std::pair<std::string, std::string> cases[] = {
      {"\"DefaultDatabase\"=\"C:\\\\LUMORA\\\\Data\\\\\"", canonicalC + "/Lumora/data/"},
      {"\"DefaultDatabase\"=\"c:\\\\Lumora\\\\new\"", canonicalC + "/Lumora/new"},
      {"\"DefaultDatabase\"=\"Z:\\\\home\\\\x\\\\data\\\\\"", "/home/x/data/"},
      {"\"DefaultDatabase\"=\"Q:\\\\Data\"", ""},
  };
  for (const auto &[line, expected] : cases) {
    WriteText(hive, Hive(line));
    EXPECT_EQ(ReadDefaultDatabase(registry), expected) << line;
    EXPECT_EQ(ReadText(hive), Hive(line));
  }

  WriteText(Config / "user.reg", Hive("\"DefaultDatabase\"=\"/srv/own\""));
  EXPECT_EQ(ReadDefaultDatabase(registry), "/srv/own") << "the user's own value comes first";
}

// A config folder the program cannot write (made by root through sudo, on a read-only mount):
// the stand-in cannot be made, but reading the data folder from the Wine prefix must still work.
TEST_F(WinePrefix, UnwritableConfigFolderStillReadsThePrefix) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "mounting a read-only folder needs root";
  const std::string readOnly = Config / "ro";
  std::filesystem::create_directories(readOnly);
  if (::mount("vantari-test", readOnly.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0)
    FAIL() << "cannot mount a tmpfs: " << std::strerror(errno);
  struct TUnmount {
    std::string Path;
    ~TUnmount() { ::umount2(Path.c_str(), MNT_DETACH); }
  } unmount{readOnly};
  WriteText(Prefix / "user.reg", Hive("\"DefaultDatabase\"=\"C:\\\\Lumora\\\\data\\\\\""));
  TUserRegistry registry(readOnly + "/user.reg", Prefix.Path());
  EXPECT_EQ(ReadDefaultDatabase(registry),
            std::filesystem::canonical(Prefix / "drive_c").string() + "/Lumora/data/");
  EXPECT_FALSE(std::filesystem::exists(readOnly + "/user.reg"));
}
