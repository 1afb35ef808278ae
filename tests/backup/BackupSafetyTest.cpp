// What a hostile archive, a hostile destination or an unlucky disk can do: nothing outside
// the destination changes, no old file is replaced by a partial one, the run says what failed.
#include "ArchiveFixture.h"

#include "ArchiveFormat.h"
#include "DosDate.h"
#include "FileSystem.h"
#include "PackPipeline.h"
#include "TargetFolder.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vantari::test {
namespace {

namespace fs = std::filesystem;

class BackupSafety : public ArchiveTest {
protected:
  // Every entry below folder (links not followed), as relative paths.
  std::vector<std::string> Entries(const std::string &folder) const {
    std::vector<std::string> found;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(folder, ignored);
         it != fs::recursive_directory_iterator(); ++it)
      found.push_back(it->path().lexically_relative(folder).generic_string());
    std::sort(found.begin(), found.end());
    return found;
  }
  // An archive with one stored member per (name, content), names as given.
  static std::string Archive(const std::vector<std::pair<std::string, std::string>> &members) {
    TArchiveBytes bytes;
    bytes.Header("t", 0, static_cast<int32_t>(members.size()));
    for (const auto &[name, content] : members) {
      bytes.Member(name).Magic();
      for (size_t at = 0; at < content.size(); at += 16384)
        bytes.Stored(content.substr(at, 16384));
      bytes.I32(0);
    }
    return bytes.I32(0).Bytes;
  }
  std::string Restored(TBackupFile &engine, const std::string &archive, const std::string &dest) {
    try {
      return RestoreBytes(engine, archive, dest) ? "true"
                                                 : "false " + std::to_string(engine.ErrorCode());
    } catch (const Exception &e) {
      return e.Message();
    }
  }
};

#ifndef _WIN32 // Linux only
TEST_F(BackupSafety, LinksInTheDestinationAreReplacedOrRefusedNeverWrittenThrough) {
  Write("outside/file", "precious");
  ASSERT_TRUE(ForceDirectories(Path("outside/dir")));
  ASSERT_TRUE(ForceDirectories(Path("dest")));
  fs::create_symlink("../outside/file", Path("dest/a"));
  fs::create_symlink("../outside/dir", Path("dest/d"));
  fs::create_symlink("../outside/nothing", Path("dest/n"));
  const std::string archive =
      Archive({{"z:\\a", "member a"}, {"z:\\d\\x", "member x"}, {"z:\\n", "member n"}});
  for (bool fullPath : {false, true}) {
    TBackupFile engine;
    engine.SetRestoreFullPath(fullPath);
    EXPECT_EQ(Restored(engine, archive, Path("dest")), "true");
  }
  EXPECT_EQ(Read(Path("outside/file")), "precious");
  EXPECT_TRUE(fs::is_empty(Path("outside/dir")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(Path("outside/nothing"))));
  // File links gave way to the members; the folder link was refused, not followed.
  EXPECT_FALSE(fs::is_symlink(Path("dest/a")));
  EXPECT_EQ(Read(Path("dest/a")), "member a");
  EXPECT_EQ(Read(Path("dest/n")), "member n");
  EXPECT_TRUE(fs::is_symlink(Path("dest/d")));
  EXPECT_EQ(Read(Path("dest/x")), "member x"); // flat restore put it beside the others
  EXPECT_EQ(Entries(Path("dest")), (std::vector<std::string>{"a", "d", "n", "x"}));
}

TEST_F(BackupSafety, LinkedDestinationFolderIsRefusedByBcktoolToo) {
#ifdef BCKTOOL_PATH
  Write("outside/keep", "keep");
  Write("dest/placeholder", "");
  fs::create_symlink("../outside", Path("dest/d"));
  Write("x.bck", Archive({{"z:\\d\\keep", "evil"}, {"z:\\d\\new", "evil"}}));
  const std::string command = std::string(BCKTOOL_PATH) + " extract -q -f " + Path("x.bck") + " " +
                              Path("dest") + " 2>" + Path("err") + " </dev/null";
  const int status = std::system(command.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(Read(Path("err"))
                .find("not extracted (cannot create it or its folder): " + Path("dest/d/keep")),
            std::string::npos);
  EXPECT_EQ(Read(Path("outside/keep")), "keep");
  EXPECT_EQ(Entries(Path("outside")), std::vector<std::string>{"keep"});
#else
  GTEST_SKIP() << "bcktool not built";
#endif
}

TEST_F(BackupSafety, EmptyDestinationIsAUsageErrorInBcktool) {
#ifdef BCKTOOL_PATH
  // A member stored under an absolute name: an unset variable must not restore it there.
  Write("x.bck", Archive({{archive::MemberName(Path("victim/file")), "evil"}}));
  const std::string command =
      std::string(BCKTOOL_PATH) + " extract -q " + Path("x.bck") + " '' 2>/dev/null </dev/null";
  const int status = std::system(command.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_FALSE(fs::exists(Path("victim")));
#else
  GTEST_SKIP() << "bcktool not built";
#endif
}
#endif

TEST_F(BackupSafety, VolumeChainsOnlyGoForward) {
  const std::string first = TArchiveBytes()
                                .Header()
                                .Member("z:\\a")
                                .Magic()
                                .Stored("part one")
                                .I32(0)
                                .Text("NEXT:DISK002")
                                .Bytes;
  const std::string segment = TArchiveBytes().Magic().Stored(" and more").I32(0).Bytes;
  const std::vector<std::pair<std::string, std::string>> chains = {
      {"NEXT:DISK002", ""}, // .002 names itself
      {"NEXT:DISK001", ""}, // .002 goes back to the first
      {"NEXT:DISK003", TArchiveBytes().Raw(segment).Text("NEXT:DISK002").Bytes}}; // 3 back to 2
  for (const auto &[next, third] : chains) {
    Write("v.bck", first);
    Write("v.002", TArchiveBytes().Raw(segment).Text(next).Bytes);
    Write("v.003", third);
    Write("out/a", "old a");
    TBackupFile engine;
    int asked = 0;
    engine.OnNeedDisk = [&](TBackupFile &, uint16_t, bool &go) { go = ++asked < 10; };
    std::string outcome;
    try {
      outcome = engine.Restore(Path("v.bck"), Path("out")) ? "true" : "false";
    } catch (const EBackupError &e) {
      outcome = e.Message();
    }
    EXPECT_EQ(outcome, "Cannot read archive") << next;
    EXPECT_LE(asked, 2) << next;
    EXPECT_FALSE(engine.Verify(Path("v.bck"))) << next;
    EXPECT_EQ(Read(Path("out/a")), "old a") << next;
    EXPECT_EQ(Entries(Path("out")), std::vector<std::string>{"a"}) << next;
  }
}

// Restores a member of four blocks over an old file and stops the run inside it.
TEST_F(BackupSafety, StopInsideAMemberKeepsTheOldFileWhole) {
  const std::string big = Random(4 * 16384, 21);
  const std::string archive = Archive({{"z:\\first", "done"}, {"z:\\big", big}});
  Write("out/big", "the old big file");
  TBackupFile engine;
  int blocks = 0;
  engine.OnProgress = [&](TBackupFile &, const std::string &file, TPercentage, bool &go) {
    if (ExtractFileName(file) == "big" && ++blocks == 2)
      go = false;
  };
  EXPECT_EQ(Restored(engine, archive, Path("out")), "false 0");
  EXPECT_EQ(Read(Path("out/big")), "the old big file");
  EXPECT_EQ(Read(Path("out/first")), "done");
  EXPECT_EQ(Entries(Path("out")), (std::vector<std::string>{"big", "first"}));
  EXPECT_TRUE(Host.Texts("engine-error").empty());
}

#ifndef _WIN32 // Linux only
TEST_F(BackupSafety, KilledRestoreLeavesTheOldFileInPlace) {
  const std::string big = Random(4 * 16384, 22);
  Write("x.bck", Archive({{"z:\\big", big}}));
  Write("out/big", "the old big file");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TBackupFile engine;
    int blocks = 0;
    engine.OnProgress = [&](TBackupFile &, const std::string &, TPercentage, bool &) {
      if (++blocks == 3)
        ::_exit(7); // as a kill would: no clean-up of any kind
    };
    engine.Restore(Path("x.bck"), Path("out"));
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(WEXITSTATUS(status), 7);
  EXPECT_EQ(Read(Path("out/big")), "the old big file");
  // What the killed run leaves is its temporary file, never the target cut short.
  for (const auto &entry : Entries(Path("out")))
    EXPECT_TRUE(entry == "big" || entry.rfind(".vantari-", 0) == 0) << entry;
}
#endif

TEST_F(BackupSafety, DamagedBlockInsideAMemberKeepsTheOldFileWhole) {
  const std::string archive = TArchiveBytes()
                                  .Header()
                                  .Member("z:\\a")
                                  .Magic()
                                  .Stored(std::string(16384, 'n'))
                                  .I32(5)
                                  .Raw("\x78\x01\xff\xff\xff")
                                  .I32(0)
                                  .I32(0)
                                  .Bytes;
  Write("out/a", "old");
  TBackupFile engine;
  EXPECT_EQ(Restored(engine, archive, Path("out")), "false 6");
  EXPECT_EQ(Read(Path("out/a")), "old");
  EXPECT_EQ(Entries(Path("out")), std::vector<std::string>{"a"});
}

#ifndef _WIN32 // Linux only
// A small file system of its own that fills up.
class BackupDiskFull : public BackupSafety {
protected:
  void SetUp() override {
    if (::geteuid() != 0)
      GTEST_SKIP() << "mounting a small tmpfs needs root";
    Disk = Path("disk");
    ASSERT_TRUE(ForceDirectories(Disk));
    if (::mount("tmpfs", Disk.c_str(), "tmpfs", 0, "size=256k") != 0)
      FAIL() << "cannot mount a tmpfs: " << std::strerror(errno);
    Mounted = true;
  }
  void TearDown() override {
    if (Mounted)
      ::umount2(Disk.c_str(), MNT_DETACH);
  }
  std::string Disk;
  bool Mounted = false;
};

TEST_F(BackupDiskFull, RestoreThatFillsTheDiskKeepsTheOldFileAndNamesTheMember) {
  Write("disk/out/table.dbf", "old table");
  ASSERT_TRUE(FileSetDate(Disk + "/out/table.dbf", EncodeFileDate(2020, 1, 1, 0, 0, 0)));
  const std::string archive =
      Archive({{"z:\\small.dbf", "fits"}, {"z:\\table.dbf", Random(600000, 23)}});
  for (TRestoreMode mode : {rmAll, rmNewer}) {
    TBackupFile engine;
    engine.SetRestoreMode(mode);
    EXPECT_EQ(Restored(engine, archive, Disk + "/out"), "false 8");
    EXPECT_EQ(engine.FailedFile(), Disk + "/out/table.dbf");
    EXPECT_EQ(Read(Disk + "/out/table.dbf"), "old table");
    EXPECT_EQ(FileGetDate(Disk + "/out/table.dbf"), EncodeFileDate(2020, 1, 1, 0, 0, 0));
    EXPECT_EQ(Read(Disk + "/out/small.dbf"), "fits");
    EXPECT_EQ(Entries(Disk + "/out"), (std::vector<std::string>{"small.dbf", "table.dbf"}));
  }
  EXPECT_EQ(Host.Texts("engine-error"),
            std::vector<std::string>(2, "Cannot write file " + Disk + "/out/table.dbf"));
}

TEST_F(BackupDiskFull, BackupThatFillsTheDiskKeepsThePreviousArchive) {
  Write("src/small", "small");
  TBackupFile engine;
  ASSERT_TRUE(engine.Backup({Path("src/small")}, Disk + "/x.bck"));
  const std::string previous = Read(Disk + "/x.bck");
  Write("src/big", Random(600000, 24));
  EXPECT_FALSE(engine.Backup({Path("src/*")}, Disk + "/x.bck"));
  EXPECT_EQ(engine.ErrorCode(), 4);
  EXPECT_EQ(Read(Disk + "/x.bck"), previous);
  EXPECT_EQ(Entries(Disk), std::vector<std::string>{"x.bck"});
  EXPECT_EQ(Host.Texts("engine-error"), std::vector<std::string>{"Cannot write to archive"});
}
#endif

TEST_F(BackupSafety, CancelledBackupKeepsThePreviousArchiveAndVolumes) {
  Write("src/a", Random(200000, 25));
  TBackupFile engine;
  engine.SetMaxSize(100000);
  ASSERT_TRUE(engine.Backup({Path("src/a")}, Path("x.bck")));
  const std::vector<std::string> volumes = {Read(Path("x.bck")), Read(Path("x.002")),
                                            Read(Path("x.003"))};
  Write("src/a", Random(200000, 26));
  int blocks = 0;
  engine.OnProgress = [&](TBackupFile &, const std::string &file, TPercentage, bool &go) {
    if (!file.empty() && ++blocks == 9) // inside the second volume
      go = false;
  };
  EXPECT_FALSE(engine.Backup({Path("src/a")}, Path("x.bck")));
  EXPECT_EQ(engine.ErrorCode(), 0);
  EXPECT_EQ(
      (std::vector<std::string>{Read(Path("x.bck")), Read(Path("x.002")), Read(Path("x.003"))}),
      volumes);
  EXPECT_EQ(Entries(Dir), (std::vector<std::string>{"src", "src/a", "x.002", "x.003", "x.bck"}));
}

#ifndef _WIN32 // Linux only
// A backup killed halfway (the computer shut down during an upload) leaves its partial archive
// under a temporary name; the next backup into that folder removes it, but never the file of a
// run still writing.
TEST_F(BackupSafety, PartialArchiveOfAKilledBackupIsRemovedByTheNextOne) {
  Write("src/a", Random(300000, 27));
  const auto temporaries = [&] {
    std::vector<std::string> found;
    for (const auto &entry : Entries(Dir))
      if (entry.rfind(".vantari-", 0) == 0)
        found.push_back(entry);
    return found;
  };
  const auto age = [&](const std::string &name) {
    const time_t earlier = ::time(nullptr) - 120;
    const struct timespec times[2] = {{earlier, 0}, {earlier, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Path(name).c_str(), times, 0), 0);
  };
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TBackupFile engine;
    int blocks = 0;
    engine.OnProgress = [&](TBackupFile &, const std::string &file, TPercentage, bool &) {
      if (!file.empty() && ++blocks == 5)
        ::_exit(7); // as a kill would: no clean-up of any kind
    };
    engine.Backup({Path("src/a")}, Path("x.bck"));
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(WEXITSTATUS(status), 7);
  const std::vector<std::string> abandoned = temporaries();
  ASSERT_EQ(abandoned.size(), 1u);
  age(abandoned[0]); // the next backup comes later

  const TTargetFolder folder = TTargetFolder::Open(Dir, false);
  TReplacementFile writing(folder, "y.bck"); // another run, still at work
  std::vector<std::string> both = temporaries();
  std::erase(both, abandoned[0]);
  ASSERT_EQ(both.size(), 1u);
  const std::string living = both[0];
  age(living);

  TBackupFile engine;
  ASSERT_TRUE(engine.Backup({Path("src/a")}, Path("x.bck")));
  EXPECT_EQ(temporaries(), std::vector<std::string>{living});
  TBackupFile reader;
  EXPECT_TRUE(reader.Verify(Path("x.bck")));
  writing.Finish(-1);
  writing.Commit();
  EXPECT_TRUE(temporaries().empty());
}
#endif

// A compressor that cannot be set up fails every chunk; none keeps the block an earlier run
// left in its slot, which would go into the archive as another part of the file.
TEST(PackPipeline, UnreadyStateFailsEveryChunk) {
  TPackPipeline pipeline(42, 2); // no such level
  ASSERT_FALSE(pipeline.Ready());
  for (int i = 0; i < 3; ++i) {
    TPackedChunk *chunk = pipeline.Free();
    ASSERT_NE(chunk, nullptr);
    chunk->Count = 100;
    chunk->Packed = 7; // what an earlier chunk made of this slot
    pipeline.Submit();
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(pipeline.Oldest().Packed, -1);
    pipeline.Release();
  }
  EXPECT_TRUE(pipeline.Empty());
}

#ifndef _WIN32 // Linux only
// Archives written on Windows carry lower-case names; the data folder keeps its own case.
TEST_F(BackupSafety, MembersGoOntoFilesWhoseNamesDifferOnlyInCase) {
  const int32_t stored = EncodeFileDate(2024, 6, 1, 10, 0, 0);
  TArchiveBytes bytes;
  bytes.Header().Member("c:\\data\\assemblyitem.db", stored).Magic().Stored("from windows").I32(0);
  bytes.Member("c:\\data\\newtable.db", stored).Magic().Stored("new").I32(0).I32(0);
  const struct {
    TRestoreMode Mode;
    int32_t Local;
    bool Restored;
  } cases[] = {{rmAll, EncodeFileDate(2024, 7, 1, 0, 0, 0), true},
               {rmExisting, EncodeFileDate(2024, 5, 1, 0, 0, 0), true},
               {rmNewer, EncodeFileDate(2024, 7, 1, 0, 0, 0), false},
               {rmNoOverwrite, EncodeFileDate(2024, 5, 1, 0, 0, 0), false}};
  for (const auto &c : cases) {
    const std::string out = "o" + std::to_string(c.Mode);
    Write(out + "/Data/AssemblyItem.DB", "linux copy");
    ASSERT_TRUE(FileSetDate(Path(out + "/Data/AssemblyItem.DB"), c.Local));
    TBackupFile engine;
    engine.SetRestoreMode(c.Mode);
    engine.SetRestoreFullPath(true);
    std::vector<std::string> offered;
    engine.OnRestoreFile = [&](TBackupFile &, std::string &file, int32_t, bool &) {
      offered.push_back(file.substr(Path(out).size()));
    };
    ASSERT_TRUE(RestoreBytes(engine, bytes.Bytes, Path(out)));
    EXPECT_EQ(offered, (std::vector<std::string>{"/Data/AssemblyItem.DB", "/Data/newtable.db"}));
    EXPECT_EQ(Read(Path(out + "/Data/AssemblyItem.DB")), c.Restored ? "from windows" : "linux copy")
        << int(c.Mode);
    std::vector<std::string> expected = {"Data", "Data/AssemblyItem.DB", "Data/newtable.db"};
    if (c.Mode == rmExisting)
      expected.pop_back();
    EXPECT_EQ(Entries(Path(out)), expected) << int(c.Mode);
  }
}
#endif

TEST_F(BackupSafety, PackedBytesDoNotDependOnTheThreadCount) {
  std::string content;
  for (int i = 0; i < 40; ++i)
    content +=
        (i % 4 == 3) ? Random(16384, 30 + i) : std::string(16384, static_cast<char>('a' + i));
  Write("src/f", content + "tail");
  Write("src/g", "short");
  std::vector<std::string> archives;
  for (int threads : {1, 2, 4}) {
    TBackupFile engine;
    engine.SetPackThreads(threads);
    archives.push_back(PackToBytes(engine, {Path("src/*")}));
  }
  EXPECT_EQ(archives[0], archives[1]);
  EXPECT_EQ(archives[0], archives[2]);
  // Chunks come back in their order: more of them than the ring holds, and a file after.
  TBackupFile reader;
  ASSERT_TRUE(RestoreBytes(reader, archives[2], Path("out")));
  EXPECT_EQ(Read(Path("out/f")), content + "tail");
  EXPECT_EQ(Read(Path("out/g")), "short");
}

TEST_F(BackupSafety, ListingGivesTitleNamesAndDatesWithoutWriting) {
  const int32_t older = EncodeFileDate(2023, 1, 2, 3, 4, 6);
  const int32_t newer = EncodeFileDate(2024, 1, 2, 3, 4, 6);
  TArchiveBytes bytes;
  bytes.Header("title", 9, 2).Member("FILE:LIST", older).Magic().Deflated("z:\\a\t1=1\r\n").I32(0);
  bytes.Member("z:\\a", newer).Magic().Deflated("abcdef").I32(0);
  bytes.Member("z:\\b", older).Magic().Stored("xyz").I32(0).I32(0);
  Write("x.bck", bytes.Bytes);
  TBackupFile engine;
  TArchiveContents contents;
  ASSERT_TRUE(engine.ListMembers(Path("x.bck"), contents));
  EXPECT_EQ(contents.Title, "title");
  EXPECT_EQ(contents.FileCount, 2);
  ASSERT_EQ(contents.Members.size(), 3u);
  EXPECT_EQ(contents.Members[1].Name, "z:\\a");
  EXPECT_EQ(contents.Members[1].FileDate, newer);
  EXPECT_EQ(contents.Members[2].FileDate, older);
  ASSERT_TRUE(engine.ListMembers(Path("x.bck"), contents, true));
  EXPECT_EQ(contents.Members[1].Size, 6);
  // A damaged archive lists what it could and says what is wrong.
  Write("cut.bck", bytes.Bytes.substr(0, bytes.Bytes.size() - 4));
  EXPECT_FALSE(engine.ListMembers(Path("cut.bck"), contents));
  EXPECT_EQ(contents.Members.size(), 2u); // the last one's end was never seen
  EXPECT_NE(contents.Failure.find("end marker"), std::string::npos);
  EXPECT_EQ(Entries(Dir), (std::vector<std::string>{"cut.bck", "x.bck"}));
}

} // namespace
} // namespace vantari::test
