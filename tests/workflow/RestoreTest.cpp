// The download as a transaction: what behaves the same on Linux and Windows.
#include "RestoreFixture.h"

#include "FailureTexts.h"
#include "FileSystem.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>

namespace vantari::test {
namespace {

const std::string NoTables = "받은 백업파일에 회계 자료가 없어 복원하지 않았습니다.";
const std::string LocalNewer = "이 컴퓨터에 서버의 백업보다 나중에 작업한 자료가 있습니다.\n"
                               "그래도 서버의 자료로 바꾸시겠습니까?";
const std::string NothingToUndo = "되돌릴 이전 자료가 없습니다.";
const std::string OtherInstance =
    "다른 반타리 프로그램이 실행 중입니다. 그 작업이 끝난 뒤 다시 시도하십시오.";

// A path with one separator throughout (Windows takes both).
std::string Slashed(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

#ifdef _WIN32
TContents Folded(const TContents &contents) {
  TContents folded;
  for (const auto &[name, bytes] : contents) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    folded[lower] = bytes;
  }
  return folded;
}
#endif

TEST_F(RestoreTest, DownloadKeepsTheOldDataAsASnapshotAndUndoBringsItBack) {
  Server->WriteFile("vantari.bck", Archive(New, Year2024));
  ASSERT_TRUE(Download());
  EXPECT_EQ(Recorder.Texts("message"), std::vector<std::string>{AllDone});
  EXPECT_TRUE(Recorder.Texts("question").empty()) << "the archive is newer than the data";
  EXPECT_EQ(Contents(DataFolder), After);
  EXPECT_EQ(ReadFile(LocalArchive()), Server->ReadFile("vantari.bck"));
  EXPECT_EQ(Workflow().LastPreview().Title, "2024-01-01 10:00");
  EXPECT_EQ(Workflow().LastPreview().MemberCount, 5);
  ASSERT_EQ(Snapshots().size(), 1u);
  EXPECT_EQ(Snapshots()[0].rfind("before-download-", 0), 0u);
  EXPECT_EQ(Contents(BackupFolder() / Snapshots()[0]), Old);
  ExpectNoLeftovers();

  Recorder.Shown.clear();
  ASSERT_TRUE(UndoDownload());
  EXPECT_EQ(Recorder.Texts("message"), std::vector<std::string>{AllDone});
  EXPECT_EQ(Contents(DataFolder), Old) << "byte for byte as before the download";
  EXPECT_EQ(fs::last_write_time(DataFolder / "Sale.DB"),
            fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(Year2020)));
  ASSERT_EQ(Snapshots().size(), 1u) << "the restored snapshot is used up";
  EXPECT_EQ(Contents(BackupFolder() / Snapshots()[0]), After) << "the undone data is kept";
  ExpectNoLeftovers();
}

TEST_F(RestoreTest, UndoWithoutASnapshotChangesNothing) {
  EXPECT_FALSE(UndoDownload());
  EXPECT_EQ(Recorder.Texts("message"), std::vector<std::string>{NothingToUndo});
  EXPECT_EQ(Contents(DataFolder), Old);
}

TEST_F(RestoreTest, LocalWorkNewerThanTheArchiveIsReplacedOnlyOnYes) {
  WriteFiles(DataFolder, {{"Sale.DB", "today's sales, made after the backup"}}, time(nullptr));
  Old["Sale.DB"] = "today's sales, made after the backup";
  WriteFiles(BackupFolder(), {{"vantari.bck", "yesterday's local archive"}}, Year2020);
  Server->WriteFile("vantari.bck", Archive(New, Year2024));

  EXPECT_FALSE(Download()); // No is the default answer
  EXPECT_EQ(Recorder.Texts("question"), std::vector<std::string>{LocalNewer});
  EXPECT_TRUE(Recorder.Texts("failure").empty());
  EXPECT_TRUE(Recorder.Texts("message").empty());
  EXPECT_EQ(Contents(DataFolder), Old);
  EXPECT_EQ(ReadFile(LocalArchive()), "yesterday's local archive");
  EXPECT_TRUE(Snapshots().empty());
  ExpectNoLeftovers();

  Recorder.Shown.clear();
  Recorder.YesNoAnswers = {true};
  ASSERT_TRUE(Download());
  EXPECT_EQ(Recorder.Texts("question").size(), 1u);
  EXPECT_EQ(Contents(DataFolder), After);
  EXPECT_EQ(ReadFile(LocalArchive()), Server->ReadFile("vantari.bck")) << "the old one replaced";
  ASSERT_EQ(Snapshots().size(), 1u);

  ASSERT_TRUE(UndoDownload());
  EXPECT_EQ(Contents(DataFolder), Old) << "today's work is back";
}

// An archive made in 2044 or later is newer than data of 2024: no question.
TEST_F(RestoreTest, ArchiveFrom2044IsNewerThanDataFrom2024) {
  WriteFiles(DataFolder, Old, Year2024);
  Server->WriteFile("vantari.bck", Archive(New, Year2044));
  ASSERT_TRUE(Download());
  EXPECT_TRUE(Recorder.Texts("question").empty());
  EXPECT_EQ(Contents(DataFolder), After);
}

// Without zipcode.bck the download fails, but the data folder holds the server's archive all
// the same: the next upload must not ask whether another computer's data may be replaced.
TEST_F(RestoreTest, MissingSecondArchiveStillRecordsTheServersArchive) {
  ASSERT_TRUE(Upload());
  Server->WriteFile("vantari.bck", Archive(New, Year2024)); // another computer's upload
  fs::remove(Config.SecondArchive);
  EXPECT_FALSE(Download());
  EXPECT_EQ(Recorder.Texts("failure"), std::vector<std::string>{RestoreFailed});
  EXPECT_EQ(Contents(DataFolder), New);
  Recorder.Shown.clear();
  EXPECT_TRUE(Upload());
  EXPECT_TRUE(Recorder.Texts("question").empty());
}

TEST_F(RestoreTest, ArchivesThatWouldLoseDataAreNotRestored) {
  std::string damaged = Archive({{"Sale.DB", Text(200000, "compressible rows")}}, Year2024);
  damaged[damaged.size() / 2] ^= 0x5A;
  const std::string whole = Archive(New, Year2024);
  struct TCase {
    const char *Name;
    std::string Bytes;
    std::string Box;
  };
  const TCase cases[] = {
      {"empty archive", std::string(16, '\0'), NoTables},
      {"no tables", Archive({{"readme.txt", "hello"}, {"photo.jpg", "jpeg"}}, Year2024), NoTables},
      {"damaged block", damaged, RestoreFailed},
      {"cut short", whole.substr(0, whole.size() - 1000), RestoreFailed},
      {"header only", whole.substr(0, 10), RestoreFailed},
  };
  WriteFiles(BackupFolder(), {{"vantari.bck", "the last good local archive"}}, Year2020);
  for (const TCase &test : cases) {
    SCOPED_TRACE(test.Name);
    Recorder.Shown.clear();
    Server->WriteFile("vantari.bck", test.Bytes);
    EXPECT_FALSE(Download());
    EXPECT_EQ(Recorder.Texts("failure"), std::vector<std::string>{test.Box});
    EXPECT_EQ(Recorder.Reports.back().Cause,
              test.Box == NoTables ? CauseArchiveWithoutTables : CauseArchiveDamaged);
    EXPECT_TRUE(Recorder.Texts("question").empty());
    EXPECT_EQ(Contents(DataFolder), Old);
    EXPECT_EQ(ReadFile(LocalArchive()), "the last good local archive");
    EXPECT_TRUE(Snapshots().empty());
    ExpectNoLeftovers();
  }
}

// An archive written on Windows names the tables in lower case, and one made from a thinner
// folder lacks some: the person is asked before tables leave the folder, and the tables keep
// their names.
TEST_F(RestoreTest, ArchiveLackingTablesAsksFirstAndKeepsTheTablesNames) {
  WriteFiles(BackupFolder(), {{"vantari.bck", "the last good local archive"}}, Year2020);
  Server->WriteFile("vantari.bck",
                    Archive({{"sale.db", "new sale"}, {"item.db", "new item"}}, Year2024));
  const std::string question = "받은 백업파일에 없는 자료 2개가 데이터 폴더에서 빠집니다.\n"
                               "(이전 자료는 Backup 폴더에 보관됩니다.) 계속하시겠습니까?";
  EXPECT_FALSE(Download()); // No is the default answer
  EXPECT_EQ(Recorder.Texts("question"), std::vector<std::string>{question})
      << "AssemblyItem.DB and TaxBill would leave; sale.db is Sale.DB";
  EXPECT_EQ(Contents(DataFolder), Old);
  EXPECT_EQ(ReadFile(LocalArchive()), "the last good local archive");
  EXPECT_TRUE(Snapshots().empty());
  ExpectNoLeftovers();

  Recorder.Shown.clear();
  Recorder.YesNoAnswers = {true};
  ASSERT_TRUE(Download());
  const TContents restored{
      {"Sale.DB", "new sale"}, {"item.db", "new item"}, {"ZipCode.DB", "zip codes"}};
#ifdef _WIN32
  // Wine renames no file to its own name in another case (NTFS does): the names' case is
  // not seen here.
  EXPECT_EQ(Folded(Contents(DataFolder)), Folded(restored));
#else
  EXPECT_EQ(Contents(DataFolder), restored)
      << "a table already there keeps its name; a new one comes as the archive names it";
#endif
  ASSERT_EQ(Snapshots().size(), 1u);
  EXPECT_EQ(Contents(BackupFolder() / Snapshots()[0]), Old);
}

// The Backup folder may sit on a shared drive another computer writes: a journal that names
// what no run of this program leaves, or folders that do not carry its run's mark, is not acted
// on, and the person is told which file it is.
TEST_F(RestoreTest, JournalThatProvesNothingLeavesDataAndArchiveAlone) {
  const fs::path outside = Home.Root() / "outside";
  const fs::path kept = BackupFolder() / "before-download-20240101-100000";
  const fs::path newest = BackupFolder() / "before-download-20240102-100000";
  struct TCase {
    const char *Name;
    std::string Journal;
    std::function<void()> Arrange;
  };
  std::vector<TCase> cases = {
      {"install without a snapshot", "step=install\nsnapshot=\nconsumed=\n",
       [&] {
         WriteFiles(BackupFolder() / "staging", {{"Item.dat", "staged"}}, Year2024);
       }},
      {"archive as the consumed snapshot",
       "step=committed\nsnapshot=before-download-20240101-100000\nconsumed=vantari.bck\n",
       [&] {
         WriteFiles(kept, {{"Sale.DB", "kept sale"}}, Year2020);
       }},
      {"install with the newest snapshot and an empty staging folder",
       "step=install\nsnapshot=before-download-20240102-100000\nconsumed=\n",
       [&] {
         WriteFiles(kept, {{"Sale.DB", "kept sale"}}, Year2020);
         WriteFiles(newest, {{"Sale.DB", "newest sale"}, {"Item.IDX", "index"}}, Year2020);
         fs::create_directories(BackupFolder() / "staging");
       }},
      {"committed, the newest snapshot as consumed",
       "step=committed\nsnapshot=before-download-20240101-100000\n"
       "consumed=before-download-20240102-100000\n",
       [&] {
         WriteFiles(kept, {{"Sale.DB", "kept sale"}}, Year2020);
         WriteFiles(newest, {{"Sale.DB", "newest sale"}}, Year2020);
       }},
      {"a token the folders do not carry",
       "step=install\nsnapshot=before-download-20240102-100000\ntoken=0123\nstaged=0 0\n",
       [&] {
         WriteFiles(newest, {{"Sale.DB", "newest sale"}, {".restore-token", "4567"}}, Year2020);
         WriteFiles(BackupFolder() / "staging", {{".restore-token", "4567"}}, Year2020);
       }},
  };
#ifndef _WIN32 // Wine shows a Linux link as a plain folder
  cases.push_back(
      {"snapshot that is a link", "step=snapshot\nsnapshot=before-download-20240101-100000\n", [&] {
         WriteFiles(outside, {{"Price.DB", "another folder's prices"}}, Year2020);
         fs::create_symlink(outside, kept);
       }});
#endif
  for (const TCase &test : cases) {
    SCOPED_TRACE(test.Name);
    fs::remove_all(BackupFolder());
    fs::remove_all(outside);
    WriteFiles(BackupFolder(), {{"vantari.bck", "the last good local archive"}}, Year2020);
    WriteFile(BackupFolder() / "restore.journal", test.Journal);
    test.Arrange();
    const auto folders = [&] {
      std::map<std::string, TContents> found;
      for (const auto &entry : fs::directory_iterator(BackupFolder()))
        if (entry.is_directory() && !entry.is_symlink())
          found[U8(entry.path().filename())] = Contents(entry.path());
      return found;
    };
    const auto before = folders();
    const TWorkflow restarted(Config);
    Recorder.Shown.clear();
    EXPECT_FALSE(Workflow().RecoverUnfinishedRestore());
    ASSERT_EQ(Recorder.Texts("failure").size(), 1u);
    EXPECT_EQ(Recorder.Reports.back().NextStep, StepCallSupport);
    EXPECT_NE(
        Slashed(Recorder.Texts("failure")[0]).find(Slashed(U8(BackupFolder() / "restore.journal"))),
        std::string::npos);
    EXPECT_EQ(Contents(DataFolder), Old);
    EXPECT_EQ(ReadFile(LocalArchive()), "the last good local archive");
    EXPECT_EQ(ReadFile(BackupFolder() / "restore.journal"), test.Journal);
    EXPECT_EQ(folders(), before) << "snapshots and staging as they were";
    if (fs::exists(outside)) {
      EXPECT_EQ(Contents(outside), (TContents{{"Price.DB", "another folder's prices"}}));
    }
  }
}

#ifdef _WIN32
// Names a Linux computer packs but Windows cannot hold: the restore ends before the data
// folder changes, naming the member, and leaves nothing that stops the next run.
TEST_F(RestoreTest, MembersWindowsCannotHoldStopTheRestoreBeforeTheDataChanges) {
  struct TCase {
    const char *Name;
    TContents Files;
    std::map<std::string, std::string> Renames; // packed under a stand-in name of its length
    std::string Shown;                          // the member the failure names (any case)
  };
  const TCase cases[] = {
      {"trailing dot", {{"Item.DB~", "item"}}, {{"Item.DB~", "Item.DB."}}, "item.db."},
      {"trailing blank", {{"Item.DB_", "item"}}, {{"Item.DB_", "Item.DB "}}, "item.db "},
      {"device name", {{"CQN.DB", "console"}}, {{"CQN.DB", "CON.DB"}}, "con.db"},
      {"letter case",
       {{"Item.DB", "one"}, {"JTEM.DB", "two"}},
       {{"JTEM.DB", "ITEM.DB"}},
       "item.db"},
      {"code page",
       {{"Itemy.DB", "one"}, {"Itemz.DB", "two"}},
       {{"Itemy.DB", "Item\xFF.DB"}, {"Itemz.DB", "Item\xFE.DB"}},
       "item"},
  };
  const auto lower = [](std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
  };
  WriteFiles(BackupFolder(), {{"vantari.bck", "the last good local archive"}}, Year2020);
  for (const TCase &test : cases) {
    SCOPED_TRACE(test.Name);
    TContents files = test.Files;
    files["Sale.DB"] = "new sale";
    std::string archive = Archive(files, Year2024);
    for (const auto &[from, to] : test.Renames) {
      const size_t at = archive.find(from);
      ASSERT_NE(at, std::string::npos);
      archive.replace(at, from.size(), to);
    }
    Server->WriteFile("vantari.bck", archive);
    Recorder.Shown.clear();
    EXPECT_FALSE(Download());
    ASSERT_EQ(Recorder.Texts("failure").size(), 1u);
    EXPECT_NE(lower(Recorder.Texts("failure")[0]).find(test.Shown), std::string::npos)
        << "names the member";
    EXPECT_EQ(Recorder.Reports.back().Cause, CauseNameNotAllowed);
    EXPECT_EQ(Contents(DataFolder), Old);
    EXPECT_EQ(ReadFile(LocalArchive()), "the last good local archive");
    EXPECT_TRUE(Snapshots().empty());
    ExpectNoLeftovers();
  }
  Server->WriteFile("vantari.bck", Archive(New, Year2024));
  Recorder.Shown.clear();
  ASSERT_TRUE(Download()) << "the next run works";
  EXPECT_EQ(Folded(Contents(DataFolder)), Folded(After));
}
#endif

TEST_F(RestoreTest, TableHeldOpenByAnotherProgramRefusesUploadAndDownload) {
  Server->WriteFile("vantari.bck", "the server's archive");
  {
    TFileHolder wine(DataFolder / "Sale.DB");
    for (bool upload : {true, false}) {
      SCOPED_TRACE(upload ? "upload" : "download");
      Recorder.Shown.clear();
      EXPECT_FALSE(upload ? Upload() : Download());
      EXPECT_EQ(Recorder.Shown.size(), 1u) << "refused before any network step";
      EXPECT_EQ(Recorder.Texts("message"), std::vector<std::string>{InUse});
      EXPECT_EQ(Server->ReadFile("vantari.bck"), "the server's archive");
      EXPECT_EQ(Contents(DataFolder), Old);
    }
    EXPECT_FALSE(UndoDownload());
    EXPECT_FALSE(fs::exists(BackupFolder()));
  }
  Recorder.Shown.clear();
  EXPECT_TRUE(Upload()) << "free again once the program has ended";
}

TEST_F(RestoreTest, OnlyTheLastThreeSnapshotsAreKept) {
  Server->WriteFile("vantari.bck", Archive(New, Year2024));
  for (int run = 0; run < 4; ++run)
    ASSERT_TRUE(Download());
  const std::vector<std::string> kept = Snapshots();
  ASSERT_EQ(kept.size(), 3u);
  for (const std::string &name : kept)
    EXPECT_EQ(Contents(BackupFolder() / name), After) << "the oldest, with the old data, went";
}

// Snapshots made within one second (a script downloads and undoes in a row): the newest is the
// one made last, whatever kind each is, so that the next undo brings back the right data.
TEST_F(RestoreTest, SnapshotsOfOneSecondKeepTheirOrder) {
  TRestoreTransaction transaction(U8(DataFolder), U8(BackupFolder()));
  for (int attempt = 0; attempt < 3; ++attempt) {
    fs::remove_all(DataFolder); // an attempt that ran into the next second swapped it
    WriteFiles(DataFolder, Old, Year2020);
    const time_t second = time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &second);
#else
    localtime_r(&second, &local);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    // Two undos earlier in this second.
    fs::create_directories(BackupFolder() / ("before-undo-" + std::string(stamp)));
    fs::create_directories(BackupFolder() / ("before-undo-" + std::string(stamp) + "-2"));
    // Not a name this program makes; its number does not even fit into an int.
    fs::create_directories(BackupFolder() / ("before-undo-" + std::string(stamp) + "-99999999999"));
    ASSERT_TRUE(transaction.Run("before-download", [&](const std::string &staging) {
      WriteFiles(staging, New, Year2024);
      return true;
    }));
    if (time(nullptr) != second)
      continue; // the run went into the next second; try again
    ASSERT_EQ(Snapshots().size(), 3u);
    EXPECT_EQ(Snapshots().back(), ExtractFileName(transaction.SnapshotFolder()));
    EXPECT_EQ(Contents(BackupFolder() / Snapshots().back()), Old);
    return;
  }
  GTEST_SKIP() << "the run never fitted into one second";
}

TEST_F(RestoreTest, KilledAtAnyStepTheNextStartRollsBack) {
  const std::string archive = Archive(New, Year2024);
  const char *const steps[] = {"begun",           "unpacking", "unpacked",   "staged",   "snapshot",
                               "snapshot-moving", "install",   "installing", "committed"};
  for (const char *step : steps) {
    SCOPED_TRACE(step);
    fs::remove_all(DataFolder);
    WriteFiles(DataFolder, Old, Year2020);
    WriteFiles(BackupFolder(), {{"vantari.bck", archive}}, Year2024);
    ASSERT_TRUE(StoppedAt(step, TRun::Restore));

    const TWorkflow restarted(Config); // the next start of the program rolls back
    const bool committed = std::string(step) == "committed";
    EXPECT_EQ(Contents(DataFolder), committed ? After : Old);
    EXPECT_EQ(Snapshots().size(), committed ? 1u : 0u);
    EXPECT_EQ(ReadFile(LocalArchive()), archive);
    ExpectNoLeftovers();
  }
}

// The accounting program started while the archive unpacks: its open tables are not moved from
// under it (what it saved would go into the snapshot); the restore fails, nothing changes.
TEST_F(RestoreTest, ProgramStartedDuringTheUnpackStopsTheSwap) {
  WriteFiles(BackupFolder(), {{"vantari.bck", Archive(New, Year2024)}}, Year2024);
  std::unique_ptr<TFileHolder> wine;
  SetRestoreStopHook([&](const char *step) {
    if (std::string(step) == "staged" && !wine)
      wine = std::make_unique<TFileHolder>(DataFolder / "Sale.DB");
  });
  const bool restored = Workflow().RestoreData(U8(LocalArchive()));
  SetRestoreStopHook({});
  EXPECT_FALSE(restored);
  EXPECT_EQ(Recorder.Texts("failure"), std::vector<std::string>{RestoreFailed});
  EXPECT_EQ(Contents(DataFolder), Old);
  EXPECT_TRUE(Snapshots().empty());
  ExpectNoLeftovers();
  wine.reset();
  EXPECT_TRUE(Workflow().RestoreData(U8(LocalArchive())));
  EXPECT_EQ(Contents(DataFolder), After);
}

// A power cut at the start that rolls back a cut-short restore: the start after it must finish
// the rollback, not take the old files already put back for new ones.
TEST_F(RestoreTest, RollBackKilledHalfwayIsFinishedByTheNextStart) {
  WriteFiles(BackupFolder(), {{"vantari.bck", Archive(New, Year2024)}}, Year2024);
  ASSERT_TRUE(StoppedAt("installing", TRun::Restore));
  for (int killed = 0; killed < 2; ++killed)
    ASSERT_TRUE(StoppedAt("rolling-back", TRun::Start));
  const TWorkflow restarted(Config);
  EXPECT_EQ(Contents(DataFolder), Old);
  EXPECT_TRUE(Snapshots().empty());
  ExpectNoLeftovers();
  Recorder.Shown.clear();
  Server->WriteFile("vantari.bck", Archive(New, Year2024));
  EXPECT_TRUE(Download()) << "no failed recovery blocks the next download";
  EXPECT_EQ(Contents(DataFolder), After);
}

// The program started a second time (or the command line from a timer) while a download is
// halfway through its swap: the newcomer must not take the live transaction for one cut short.
TEST_F(RestoreTest, SecondInstanceLeavesARunningRestoreAlone) {
  WriteFiles(BackupFolder(), {{"vantari.bck", Archive(New, Year2024)}}, Year2024);
  TPausedRun first("installing", Run(TRun::Restore));
  {
    TWorkflow second(Config); // its start finds the journal of the running one
    second.Settings().ReadDataFolder();
    EXPECT_FALSE(second.RestoreData(U8(LocalArchive())));
    EXPECT_EQ(Recorder.Texts("message"), std::vector<std::string>{OtherInstance});
    EXPECT_TRUE(Recorder.Texts("failure").empty());
    EXPECT_FALSE(TRestoreTransaction(U8(DataFolder), U8(BackupFolder())).Recover());
    EXPECT_FALSE(TRestoreTransaction(U8(DataFolder), U8(BackupFolder()))
                     .Run("before-download", [](const std::string &) { return true; }));
  }
  EXPECT_TRUE(first.Finish()) << "the first run completes";
  EXPECT_EQ(Contents(DataFolder), After);
  ASSERT_EQ(Snapshots().size(), 1u);
  EXPECT_EQ(Contents(BackupFolder() / Snapshots()[0]), Old);
  ExpectNoLeftovers();
}

TEST_F(RestoreTest, UndoKilledAtAnyStepTheNextStartRollsBack) {
  WriteFiles(BackupFolder(), {{"vantari.bck", Archive(New, Year2024)}}, Year2024);
  ASSERT_TRUE(Workflow().RestoreData(U8(LocalArchive())));
  const std::string snapshot = Snapshots().at(0);
  for (const char *step : {"copying", "staged", "snapshot-moving", "installing", "committed"}) {
    SCOPED_TRACE(step);
    ASSERT_TRUE(StoppedAt(step, TRun::Undo));
    const TWorkflow restarted(Config);
    if (std::string(step) == "committed") {
      // No journal names a snapshot to remove: the one restored from stays, the newest is the
      // undone data, so that a second undo brings that back.
      EXPECT_EQ(Contents(DataFolder), Old);
      ASSERT_EQ(Snapshots().size(), 2u);
      EXPECT_EQ(Snapshots()[0], snapshot);
      EXPECT_EQ(Contents(BackupFolder() / Snapshots()[1]), After);
    } else {
      EXPECT_EQ(Contents(DataFolder), After);
      EXPECT_EQ(Snapshots(), std::vector<std::string>{snapshot});
      EXPECT_EQ(Contents(BackupFolder() / snapshot), Old);
    }
    ExpectNoLeftovers();
  }
}

} // namespace
} // namespace vantari::test
