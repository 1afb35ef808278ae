// Restoring: round trips, restore modes, dates, volumes and the events around them.
#include "ArchiveFixture.h"

#include "ArchiveFormat.h"
#include "DosDate.h"
#include "FileSystem.h"

#include <filesystem>

namespace vantari::test {
namespace {

class BackupRestore : public ArchiveTest {};

// The documented example, as the other computer writes it: a Windows path with a drive.
TEST_F(BackupRestore, ReadsTheDocumentedExampleWrittenElsewhere) {
  const std::string example("\x01\x00\x00\x00t\x03\x00\x00\x00\x01\x00\x00\x00"
                            "\x08\x00\x00\x00"
                            "c:\\a.txt"
                            "\x00\x60\x21\x5a"
                            "EC2\x00\x0b\x00\x00\x00\x78\x01\x4b\x4c\x4a\x06\x00\x02\x4d\x01\x27"
                            "\x00\x00\x00\x00\x00\x00\x00\x00",
                            56);
  TBackupFile engine;
  TMemoryStream stream(std::vector<uint8_t>(example.begin(), example.end()));
  engine.SetRestoreStream(&stream);
  EXPECT_TRUE(engine.Verify(":STREAM"));
  ASSERT_TRUE(RestoreBytes(engine, example, Path("out")));
  EXPECT_EQ(Read(Path("out/a.txt")), "abc");
  EXPECT_EQ(FileGetDate(Path("out/a.txt")), 0x5A216000);
  EXPECT_EQ(engine.TotalSize(), 3);
  EXPECT_EQ(engine.FilesProcessed(), 1);
}

TEST_F(BackupRestore, RoundTripsNestedFilesAtEveryLevel) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"src/empty", ""},
      {"src/exact", std::string(16384, 'e')},
      {"src/over", std::string(16385, 'o')},
      {"src/random", Random(70000, 2)},
      {"src/a/b/c/deep.dbf", "deep"},
      {"src/a/twin.dbf", Random(20000, 4) + std::string(30000, 't')}};
  for (const auto &[name, content] : files)
    Write(name, content);
  for (TCompressionLevel level : {clFastest, clNone, clDefault, clMax}) {
    TBackupFile engine;
    engine.SetCompressionLevel(level);
    const std::string archive = PackToBytes(engine, {Path("src/* /s")});
    const std::string out = Path("out" + std::to_string(level));
    engine.SetRestoreFullPath(true);
    ASSERT_TRUE(RestoreBytes(engine, archive, out));
    EXPECT_EQ(engine.FilesProcessed(), 6);
    EXPECT_EQ(engine.BytesProcessed(), engine.TotalSize());
    for (const auto &[name, content] : files) {
      // The full path below its root (and drive) goes under the destination.
      const std::string restored =
          out + "/" + std::filesystem::path(Path(name)).relative_path().string();
      EXPECT_EQ(Read(restored), content) << name;
      EXPECT_EQ(FileGetDate(restored), FileGetDate(Path(name)));
    }
  }
}

TEST_F(BackupRestore, FlatRestoreIgnoresTrailingSlashAndKeepsTheLaterTwin) {
  Write("src/x/same.txt", "first");
  Write("src/y/same.txt", "second");
  TBackupFile engine;
  const std::string archive = PackToBytes(engine, {Path("src/* /s")});
  ASSERT_TRUE(RestoreBytes(engine, archive, Path("out")));
  ASSERT_TRUE(RestoreBytes(engine, archive, Path("out2/")));
  EXPECT_EQ(Read(Path("out/same.txt")), "second");
  EXPECT_EQ(Read(Path("out2/same.txt")), "second");
  EXPECT_EQ(FindFiles(Path("out/*"), faAnyFile).size(), 1u);
}

// From 2044 on an MS-DOS date no longer fits a signed 32-bit number: it still compares as later.
TEST_F(BackupRestore, RestoreModesDecideByExistenceAndStoredDate) {
  for (const int year : {2024, 2044}) {
    SCOPED_TRACE(year);
    const int32_t stored = EncodeFileDate(year, 6, 1, 10, 0, 0);
    const int32_t older = EncodeFileDate(year - 1, 6, 1, 10, 0, 0);
    const int32_t newer = EncodeFileDate(year, 7, 1, 10, 0, 0);
    Write("src/f", "archived");
    ASSERT_TRUE(FileSetDate(Path("src/f"), stored));
    TBackupFile packer;
    const std::string archive = PackToBytes(packer, {Path("src/f")});
    struct Case {
      TRestoreMode Mode;
      bool Missing, Older, Equal, Newer; // restored when the target is ...
    };
    const Case cases[] = {{rmAll, true, true, true, true},
                          {rmNoOverwrite, true, false, false, false},
                          {rmNewer, true, true, false, false},
                          {rmExisting, false, true, true, true},
                          {rmExistingNewer, false, true, false, false}};
    for (const Case &c : cases) {
      const std::pair<bool, int32_t> situations[] = {
          {c.Missing, 0}, {c.Older, older}, {c.Equal, stored}, {c.Newer, newer}};
      for (const auto &[expected, date] : situations) {
        const std::string out =
            Path(std::to_string(year) + "/o" + std::to_string(c.Mode) + "-" + std::to_string(date));
        if (date != 0) {
          Write(out.substr(Dir.size() + 1) + "/f", "local");
          ASSERT_TRUE(FileSetDate(out + "/f", date));
        }
        TBackupFile engine;
        engine.SetRestoreMode(c.Mode);
        EXPECT_TRUE(RestoreBytes(engine, archive, out));
        EXPECT_EQ(engine.FilesProcessed(), expected ? 1 : 0) << int(c.Mode) << " " << date;
        if (expected) {
          EXPECT_EQ(FileGetDate(out + "/f"), stored);
        }
        EXPECT_EQ(FileExists(out + "/f"), expected || date != 0);
      }
    }
  }
}

TEST_F(BackupRestore, FileIdListIsNeverRestoredNorOffered) {
  Write("src/a", "a");
  TBackupFile engine;
  engine.SetSaveFileID(true);
  const std::string archive = PackToBytes(engine, {Path("src/a")});
  std::vector<std::string> offered;
  engine.OnRestoreFile = [&](TBackupFile &, std::string &file, int32_t, bool &) {
    offered.push_back(file);
  };
  ASSERT_TRUE(RestoreBytes(engine, archive, Path("out")));
  EXPECT_EQ(offered, std::vector<std::string>{Path("out/a")});
  EXPECT_EQ(FindFiles(Path("out/*"), faAnyFile).size(), 1u);
}

TEST_F(BackupRestore, EventsRedirectDeclineAndReplaceTheOutput) {
  Write("src/keep", "keep");
  Write("src/skip", "skip");
  TBackupFile engine;
  const std::string archive = PackToBytes(engine, {Path("src/*")});
  engine.OnRestoreFile = [&](TBackupFile &, std::string &file, int32_t, bool &restore) {
    restore = ExtractFileName(file) == "keep";
    file = Path("elsewhere/kept");
  };
  std::vector<std::string> restored;
  engine.OnFileRestored = [&](TBackupFile &, std::string &file, std::unique_ptr<TStream> &s) {
    restored.push_back(file + "=" + std::to_string(s->Size()));
  };
  ASSERT_TRUE(RestoreBytes(engine, archive, Path("out")));
  EXPECT_EQ(restored, std::vector<std::string>{Path("elsewhere/kept") + "=4"});
  EXPECT_EQ(Read(Path("elsewhere/kept")), "keep");
  EXPECT_FALSE(DirectoryExists(Path("out")));
}

TEST_F(BackupRestore, MissingArchiveGivesFalseWithoutAWord) {
  TBackupFile engine;
  bool raised = false;
  engine.OnProgress = [&](TBackupFile &, const std::string &, TPercentage, bool &) {
    raised = true;
  };
  EXPECT_FALSE(engine.Restore(Path("none.bck"), Path("out")));
  EXPECT_FALSE(raised);
  EXPECT_TRUE(Host.Shown.empty());
}

TEST_F(BackupRestore, MemberSplitOverVolumesComesBackWhole) {
  const std::string content = Random(3000000, 9);
  Write("big", content);
  TBackupFile engine;
  engine.SetMaxSize(1400000);
  ASSERT_TRUE(engine.Backup({Path("big"), Path("big")}, Path("v.bck")));
  std::vector<int> disks;
  engine.OnNeedDisk = [&](TBackupFile &, uint16_t disk, bool &) { disks.push_back(disk); };
  std::vector<std::string> parts;
  engine.OnFileRestored = [&](TBackupFile &, std::string &file, std::unique_ptr<TStream> &) {
    parts.push_back(file);
  };
  ASSERT_TRUE(engine.Restore(Path("v.bck"), Path("out")));
  EXPECT_EQ(disks, (std::vector<int>{2, 3})); // asked once each although present
  EXPECT_EQ(parts.size(), 3u);
  EXPECT_EQ(Read(Path("out/big")), content);
  EXPECT_EQ(FileGetDate(Path("out/big")), FileGetDate(Path("big")));
  EXPECT_TRUE(engine.Verify(Path("v.bck")));
}

TEST_F(BackupRestore, VolumePromptIsRepeatedUntilTheVolumeIsThereOrCancelled) {
  Write("big", Random(2000000, 10));
  TBackupFile engine;
  engine.SetMaxSize(1400000);
  ASSERT_TRUE(engine.Backup({Path("big")}, Path("v.bck")));
  std::filesystem::rename(Path("v.002"), Path("hidden.002"));
  Host.Shown.clear();
  Host.VolumeAnswers = {true, false};
  EXPECT_FALSE(engine.Restore(Path("v.bck"), Path("out")));
  EXPECT_EQ(Host.Texts("volume"),
            std::vector<std::string>(2, "Please insert disk 2 and click OK to continue."));
  EXPECT_EQ(engine.ErrorCode(), 0);
  EXPECT_TRUE(Host.Texts("engine-error").empty());
  EXPECT_FALSE(engine.Verify(Path("v.bck")));
}

} // namespace
} // namespace vantari::test
