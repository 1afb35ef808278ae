// The file system stand-in: Windows wildcard rules, attributes, MS-DOS dates and paths.
#include "FileSystem.h"
#include "DosDate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantari {
namespace {

class FileSystem : public ::testing::Test {
protected:
  FileSystem() {
    std::string pattern = ::testing::TempDir() + "vantari-fs-XXXXXX";
    Dir = std::string(::mkdtemp(pattern.data())) + "/";
  }
  ~FileSystem() override { std::filesystem::remove_all(Dir); }
  void Touch(const std::string &name, const std::string &content = "x") {
    std::filesystem::create_directories(std::filesystem::path(Dir + name).parent_path());
    std::ofstream(Dir + name) << content;
  }
  std::vector<std::string> Names(const std::string &mask, int attr) {
    std::vector<std::string> names;
    for (const auto &rec : FindFiles(Dir + mask, attr))
      names.push_back(rec.Name);
    return names;
  }
  std::string Dir;
};

TEST(Wildcards, FollowWindowsRules) {
  EXPECT_TRUE(MatchesMask("ITEM.DBF", "item.*"));
  EXPECT_TRUE(MatchesMask("Item", "item.*"));
  EXPECT_TRUE(MatchesMask("README", "*.*"));
  EXPECT_TRUE(MatchesMask("README", "*."));
  EXPECT_FALSE(MatchesMask("a.txt", "*."));
  EXPECT_TRUE(MatchesMask("a.tar.gz", "*.gz"));
  EXPECT_TRUE(MatchesMask("ab1.dbf", "ab?.dbf"));
  EXPECT_FALSE(MatchesMask("ab.dbf", "ab?.dbf"));
  EXPECT_FALSE(MatchesMask("Items.dbf", "item.*"));
  EXPECT_TRUE(MatchesMask("x", "*"));
}

TEST_F(FileSystem, FindFilesFiltersByAttributeAndSortsByName) {
  Touch("b.dbf");
  Touch("A.dbf");
  Touch(".hidden.dbf");
  Touch("sub/x");
  ASSERT_EQ(::mkfifo((Dir + "pipe.dbf").c_str(), 0600), 0);
  EXPECT_EQ(Names("*.dbf", 0), (std::vector<std::string>{"A.dbf", "b.dbf"}));
  EXPECT_EQ(Names("*.dbf", faHidden | faSysFile),
            (std::vector<std::string>{".hidden.dbf", "A.dbf", "b.dbf", "pipe.dbf"}));
  EXPECT_EQ(Names("*", faDirectory), (std::vector<std::string>{"A.dbf", "b.dbf", "sub"}));
  EXPECT_TRUE(Names("*", 0).size() == 2 && FindFiles(Dir + "missing/*", faAnyFile).empty());
  EXPECT_EQ(FileGetAttr(Dir + "pipe.dbf") & faSysFile, faSysFile);
}

TEST_F(FileSystem, ReadOnlyFilesCannotBeDeleted) {
  Touch("ro");
  ASSERT_TRUE(FileSetReadOnly(Dir + "ro", true));
  EXPECT_EQ(FileGetAttr(Dir + "ro") & faReadOnly, faReadOnly);
  EXPECT_FALSE(DeleteFile(Dir + "ro"));
  EXPECT_TRUE(FileExists(Dir + "ro"));
  ASSERT_TRUE(FileSetReadOnly(Dir + "ro", false));
  EXPECT_TRUE(DeleteFile(Dir + "ro"));
  EXPECT_FALSE(FileExists(Dir + "ro"));
  EXPECT_FALSE(DeleteFile(Dir + "ro"));
  EXPECT_FALSE(DeleteFile(Dir));
}

TEST_F(FileSystem, ForceDirectoriesCreatesParents) {
  EXPECT_TRUE(ForceDirectories(Dir + "a/b/c/"));
  EXPECT_TRUE(DirectoryExists(Dir + "a/b/c"));
  EXPECT_FALSE(FileExists(Dir + "a/b"));
  Touch("file");
  EXPECT_FALSE(ForceDirectories(Dir + "file/sub"));
}

TEST_F(FileSystem, ArchiveAttributeStaysClearedUntilTheFileChanges) {
  Touch("f", "one");
  EXPECT_TRUE(FileHasArchiveAttr(Dir + "f"));
  ASSERT_TRUE(FileClearArchiveAttr(Dir + "f"));
  EXPECT_FALSE(FileHasArchiveAttr(Dir + "f"));
  EXPECT_EQ(FileGetAttr(Dir + "f") & faArchive, 0);
  std::ofstream(Dir + "f", std::ios::app) << "more";
  EXPECT_TRUE(FileHasArchiveAttr(Dir + "f"));
  ASSERT_TRUE(FileClearArchiveAttr(Dir + "f"));
  ASSERT_TRUE(FileSetArchiveAttr(Dir + "f"));
  EXPECT_TRUE(FileHasArchiveAttr(Dir + "f"));
}

TEST_F(FileSystem, DatesRoundTripInTwoSecondSteps) {
  Touch("d");
  const int32_t date = EncodeFileDate(2025, 1, 1, 12, 0, 0);
  EXPECT_EQ(date, 0x5A216000);
  ASSERT_TRUE(FileSetDate(Dir + "d", date));
  EXPECT_EQ(FileGetDate(Dir + "d"), date);
  EXPECT_EQ(DateTimeToFileDate(FileDateToDateTime(date) + 1), date);
  EXPECT_EQ(DateTimeToFileDate(0), EncodeFileDate(1980, 1, 1, 0, 0, 0));
  EXPECT_EQ(FileGetDate(Dir + "none"), -1);
}

TEST_F(FileSystem, TemporaryFilesAreUniqueAndEmpty) {
  const std::string a = GetTempFileName(Dir, "FID");
  const std::string b = GetTempFileName(Dir, "FID");
  EXPECT_NE(a, b);
  EXPECT_EQ(ExtractFileName(a).substr(0, 3), "FID");
  EXPECT_EQ(FileSize(a), 0);
  EXPECT_EQ(GetTempFileName(Dir + "missing", "FID"), "");
  EXPECT_EQ(GetTempDir().back(), '/');
}

TEST(Paths, SplitChangeAndExpand) {
  EXPECT_EQ(ExtractFileName("/a/b.c"), "b.c");
  EXPECT_EQ(ExtractFilePath("/a/b.c"), "/a/");
  EXPECT_EQ(ExtractFileDir("/a/b.c"), "/a");
  EXPECT_EQ(ChangeFileExt("/d/user.bck", ".002"), "/d/user.002");
  EXPECT_EQ(ChangeFileExt("/d.x/user", ".002"), "/d.x/user.002");
  EXPECT_EQ(ExpandFileName("/a/./b/../c"), "/a/c");
  EXPECT_EQ(ExpandFileName("/../x"), "/x");
  EXPECT_EQ(ExpandFileName("rel"), GetCurrentDir() + "/rel");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
}

} // namespace
} // namespace vantari
