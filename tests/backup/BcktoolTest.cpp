// bcktool as customers and scripts use it: exit statuses, messages, volumes without a terminal.
#include "ArchiveFixture.h"

#include "ArchiveFormat.h"
#include "BackupFile.h"
#include "FileSystem.h"

#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace vantari::test {
namespace {

#ifdef BCKTOOL_PATH

class Bcktool : public ArchiveTest {
protected:
  // Runs bcktool with standard input from /dev/null; returns the exit status and keeps
  // standard error in Errors.
  int Run(const std::string &arguments) {
    const std::string command = std::string(BCKTOOL_PATH) + " " + arguments + " </dev/null 2>" +
                                Path("stderr") + " >" + Path("stdout");
    const int status = std::system(command.c_str());
    Errors = Read(Path("stderr"));
    Output = Read(Path("stdout"));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Errors;
  std::string Output;
};

TEST_F(Bcktool, CreatesListsVerifiesAndExtracts) {
  Write("src/a.dbf", "alpha");
  Write("src/sub/b.dbf", Random(40000, 1));
  ASSERT_EQ(Run("create -t title -l max -i " + Path("x.bck") + " '" + Path("src/*.dbf /s") + "'"),
            0)
      << Errors;
  ASSERT_EQ(Run("list " + Path("x.bck")), 0);
  EXPECT_NE(Output.find("FILE:LIST"), std::string::npos);
  EXPECT_NE(Output.find("       40000  z:\\"), std::string::npos) << Output;
  EXPECT_NE(Output.find("3 members"), std::string::npos);
  EXPECT_EQ(Run("verify " + Path("x.bck")), 0);
  EXPECT_EQ(Run("extract --mode=no-overwrite " + Path("x.bck") + " " + Path("out")), 0);
  EXPECT_EQ(Read(Path("out/b.dbf")), Read(Path("src/sub/b.dbf")));
  EXPECT_EQ(Run("--help"), 0);
  EXPECT_NE(Output.find("Usage: bcktool"), std::string::npos);
}

// Names that are legal on Linux but not on Windows: one ending in a blank is packed as it is;
// one holding '\\' reads as a file in a folder and never replaces that file, whichever comes
// first; one holding ':' comes back under its own name.
TEST_F(Bcktool, OddNamesArePackedAsTheyAreAndNeverReplaceAnotherFile) {
  Write("src/Item.DB", "the item table");
  Write("src/Sale.old\\Item.DB", "a stray copy");
  Write("src/Item.c:d", "colon");
  Write("src/Item.db ", "blank");
  const std::string item = "'" + Path("src/Item.*") + "'", sale = "'" + Path("src/Sale.*") + "'";
  for (const std::string &masks : {item + " " + sale, sale + " " + item}) {
    SCOPED_TRACE(masks);
    ASSERT_EQ(Run("create " + Path("x.bck") + " " + masks), 0) << Errors;
    std::filesystem::remove_all(Path("out"));
    EXPECT_EQ(Run("extract " + Path("x.bck") + " " + Path("out")), 1);
    EXPECT_EQ(Errors, "bcktool: not extracted (another member has its file name): " +
                          archive::MemberName(Path("src/Sale.old\\Item.DB")) + "\n");
    EXPECT_EQ(Read(Path("out/Item.DB")), "the item table");
    EXPECT_EQ(Read(Path("out/Item.c:d")), "colon");
    EXPECT_EQ(Read(Path("out/Item.db ")), "blank");
    EXPECT_FALSE(FileExists(Path("out/d")));
  }
}

// An extract killed in the middle of a member leaves its hidden temporary file; the next
// extract into that folder removes it.
TEST_F(Bcktool, ExtractRemovesWhatAKilledExtractLeft) {
  Write("src/a", Random(200000, 3));
  ASSERT_EQ(Run("create " + Path("x.bck") + " " + Path("src/a")), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TBackupFile engine;
    engine.OnProgress = [](TBackupFile &, const std::string &file, TPercentage percent, bool &) {
      if (!file.empty() && percent > 20)
        ::_exit(7); // as a kill would: no clean-up of any kind
    };
    engine.Restore(Path("x.bck"), Path("out"));
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(WEXITSTATUS(status), 7);
  const auto hidden = [&] {
    std::vector<std::string> names;
    if (DIR *dir = ::opendir(Path("out").c_str())) {
      while (const dirent *entry = ::readdir(dir))
        if (std::string(entry->d_name).rfind(".vantari-", 0) == 0)
          names.push_back(entry->d_name);
      ::closedir(dir);
    }
    return names;
  };
  ASSERT_EQ(hidden().size(), 1u);
  EXPECT_EQ(Run("extract " + Path("x.bck") + " " + Path("out")), 0) << Errors;
  EXPECT_TRUE(hidden().empty());
  EXPECT_EQ(Read(Path("out/a")), Read(Path("src/a")));
}

TEST_F(Bcktool, DamageAndMisuseGiveDistinctStatuses) {
  Write("src/a", Random(30000, 2));
  ASSERT_EQ(Run("create " + Path("x.bck") + " " + Path("src/a")), 0);
  const std::string whole = Read(Path("x.bck"));
  Write("cut.bck", whole.substr(0, whole.size() - 3));
  EXPECT_EQ(Run("verify " + Path("cut.bck")), 1);
  EXPECT_NE(Errors.find("damaged: archive ends without its end marker"), std::string::npos);
  EXPECT_EQ(Run("extract " + Path("cut.bck") + " " + Path("out")), 1);
  EXPECT_EQ(Errors, "bcktool: " + Path("cut.bck") +
                        ": Stream read error (the archive is damaged or incomplete)\n");
  EXPECT_EQ(Run("extract " + Path("none.bck") + " " + Path("out")), 1);
  EXPECT_EQ(Run("extract " + Path("x.bck") + " " + Path("src/a/out")), 1); // a file is in the way
  EXPECT_EQ(Errors, "bcktool: not extracted (cannot create it or its folder): " +
                        Path("src/a/out/a") + "\n");
  EXPECT_EQ(Run("frobnicate x"), 2);
  EXPECT_EQ(Run("create -v 100 " + Path("y.bck") + " x"), 2);
  EXPECT_EQ(Run("extract " + Path("x.bck")), 2);
}

TEST_F(Bcktool, ExtractWithoutTerminalFollowsPresentVolumesOnly) {
  Write("big", Random(2000000, 3));
  ASSERT_EQ(Run("create -v 1400k " + Path("v.bck") + " " + Path("big")), 0) << Errors;
  EXPECT_TRUE(FileExists(Path("v.002")));
  EXPECT_EQ(Run("extract " + Path("v.bck") + " " + Path("out")), 0) << Errors;
  EXPECT_EQ(Read(Path("out/big")), Read(Path("big")));
  std::rename(Path("v.002").c_str(), Path("v.keep").c_str());
  EXPECT_EQ(Run("extract " + Path("v.bck") + " " + Path("out2")), 1);
  EXPECT_EQ(Errors, "bcktool: volume " + Path("v.002") + " not found\n");
}

#endif

} // namespace
} // namespace vantari::test
