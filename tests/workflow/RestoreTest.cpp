// The download as a transaction, driven through the workflow layer without a window: a real
// FTP server on loopback, real files, processes killed at every step, a full disk, a table
// held open by another process.
#include "AppTestEnvironment.h"
#include "BackupFile.h"
#include "FileSystem.h"
#include "FtpServer.h"
#include "HostUIRecorder.h"
#include "RestoreJournal.h"
#include "RestoreTransaction.h"
#include "Workflow.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantari::test {
namespace {

namespace fs = std::filesystem;
using TContents = std::map<std::string, std::string>;

const std::string AllDone = "모든 작업을 정상적으로 완료하였습니다.";
const std::string RestoreFailed = "복원에 실패하였습니다.";
const std::string NoTables = "받은 백업파일에 회계 자료가 없어 복원하지 않았습니다.";
const std::string LocalNewer = "이 컴퓨터에 서버의 백업보다 나중에 작업한 자료가 있습니다.\n"
                               "그래도 서버의 자료로 바꾸시겠습니까?";
const std::string InUse = "루모라재고 세금계산서관리 프로그램이 자료를 사용하고 있습니다.\n"
                          "프로그램을 종료한 뒤 다시 시도하십시오.";
const std::string NothingToUndo = "되돌릴 이전 자료가 없습니다.";

constexpr time_t Year2020 = 1577872800; // 2020-01-01, long before any test runs
constexpr time_t Year2024 = 1704103200;

std::string Text(size_t bytes, const std::string &seed) {
  std::string text;
  while (text.size() < bytes)
    text += seed + " " + std::to_string(text.size()) + "\n";
  return text.substr(0, bytes);
}

std::string Noise(size_t bytes) {
  std::string out(bytes, '\0');
  uint32_t state = 99;
  for (char &byte : out) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return out;
}

TContents Contents(const fs::path &folder) {
  TContents contents;
  for (const auto &entry : fs::directory_iterator(folder))
    if (entry.is_regular_file())
      contents[entry.path().filename().string()] = ReadFile(entry.path());
  return contents;
}

void WriteFiles(const fs::path &folder, const TContents &files, time_t date) {
  fs::create_directories(folder);
  for (const auto &[name, bytes] : files) {
    WriteFile(folder / name, bytes);
    const struct timespec times[2] = {{date, 0}, {date, 0}};
    utimensat(AT_FDCWD, (folder / name).c_str(), times, 0);
  }
}

// Another process that keeps a file open until it is dropped.
class TFileHolder {
public:
  explicit TFileHolder(const fs::path &file) {
    int ready[2];
    if (pipe(ready) != 0)
      throw std::runtime_error("pipe");
    FPid = fork();
    if (FPid == 0) {
      const int fd = open(file.c_str(), O_RDONLY);
      (void)!write(ready[1], fd >= 0 ? "y" : "n", 1);
      pause();
      _exit(0);
    }
    char answer = 'n';
    (void)!read(ready[0], &answer, 1);
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ(answer, 'y');
  }
  ~TFileHolder() {
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
  }
  TFileHolder(const TFileHolder &) = delete;
  TFileHolder &operator=(const TFileHolder &) = delete;

private:
  pid_t FPid = -1;
};

class RestoreTest : public ::testing::Test {
protected:
  void SetUp() override {
    DataFolder = Home.Root() / "data";
    Old = {{"AssemblyItem.DB", Text(5000, "old assembly")},
           {"Sale.DB", Text(70000, "old sale")},
           {"TaxBill", "old tax bill"},
           {"notes.txt", "not a table, but a plain file of the folder"},
           {"ZipCode.DB", "old zip codes"}};
    New = {{"AssemblyItem.DB", Text(6000, "new assembly")},
           {"Item.dat", Text(90000, "new item")},
           {"Sale.DB", Text(80000, "new sale")},
           {"UserInfo.DB", "new user"}};
    WriteFiles(DataFolder, Old, Year2020);
    Home.SetDataFolder(DataFolder);
    Server = std::make_unique<TFtpServer>();
    Config.FtpHost = Server->Host();
    Config.FtpPort = Server->Port();
    Config.PingTarget = "127.0.0.1";
    Config.SecondArchive = (Home.Root() / "zipcode.bck").string();
    WriteFile(Config.SecondArchive, Archive({{"ZipCode.DB", "zip codes"}}, Year2024));
    After = New;
    After["ZipCode.DB"] = "zip codes";
  }

  TWorkflow &Workflow() {
    if (!FWorkflow) {
      FWorkflow = std::make_unique<TWorkflow>(Config);
      FWorkflow->Settings().ReadDataFolder();
      FWorkflow->SetLogin(Server->User(), Server->Password());
    }
    return *FWorkflow;
  }

  // An archive of files dated date, made the way an upload makes one.
  std::string Archive(const TContents &files, time_t date) {
    const fs::path folder = Home.Root() / ("other-" + std::to_string(++FArchives));
    WriteFiles(folder, files, date);
    const fs::path archive = folder.string() + ".bck";
    TBackupFile engine;
    engine.SetBackupTitle("2024-01-01 10:00");
    EXPECT_TRUE(engine.Backup({folder.string() + "/*.*"}, archive.string()));
    return ReadFile(archive);
  }

  fs::path BackupFolder() const { return DataFolder / "Backup"; }
  fs::path LocalArchive() const { return BackupFolder() / "vantari.bck"; }
  std::vector<std::string> Snapshots() const {
    return TRestoreTransaction(DataFolder.string(), BackupFolder().string()).Snapshots();
  }
  // Nothing of a transaction is left over.
  void ExpectNoLeftovers() const {
    EXPECT_FALSE(fs::exists(BackupFolder() / "staging"));
    EXPECT_FALSE(fs::exists(BackupFolder() / "restore.journal"));
    EXPECT_FALSE(fs::exists(BackupFolder() / "vantari.bck.part"));
  }

  TUserHome Home;
  fs::path DataFolder;
  std::unique_ptr<TFtpServer> Server;
  TWorkflowConfig Config;
  THostUIRecorder Recorder;
  TContents Old, New, After;

private:
  std::unique_ptr<TWorkflow> FWorkflow;
  int FArchives = 0;
};

TEST_F(RestoreTest, DownloadKeepsTheOldDataAsASnapshotAndUndoBringsItBack) {
  Server->WriteFile("vantari.bck", Archive(New, Year2024));
  ASSERT_TRUE(Workflow().Download());
  EXPECT_EQ(Recorder.Texts("message"), std::vector<std::string>{AllDone});
  EXPECT_TRUE(Recorder.Texts("question").empty()) << "the archive is newer than the data";
  EXPECT_EQ(Contents(DataFolder), After);
  EXPECT_EQ(ReadFile(LocalArchive()), Server->ReadFile("vantari.bck"));
  EXPECT_EQ(Workflow().LastPreview().Title, "2024-01-01 10:00");
  EXPECT_EQ(Workflow().LastPreview().MemberCount, 4);
  ASSERT_EQ(Snapshots().size(), 1u);
  EXPECT_EQ(Snapshots()[0].rfind("before-download-", 0), 0u);
  EXPECT_EQ(Contents(BackupFolder() / Snapshots()[0]), Old);
  ExpectNoLeftovers();

  Recorder.Shown.clear();
  ASSERT_TRUE(Workflow().UndoDownload());
  EXPECT_EQ(Recorder.Texts("message"), std::vector<std::string>{AllDone});
  EXPECT_EQ(Contents(DataFolder), Old) << "byte for byte as before the download";
  EXPECT_EQ(fs::last_write_time(DataFolder / "Sale.DB"),
            fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(Year2020)));
  ASSERT_EQ(Snapshots().size(), 1u) << "the restored snapshot is used up";
  EXPECT_EQ(Contents(BackupFolder() / Snapshots()[0]), After) << "the undone data is kept";
  ExpectNoLeftovers();
}

TEST_F(RestoreTest, UndoWithoutASnapshotChangesNothing) {
  EXPECT_FALSE(Workflow().UndoDownload());
  EXPECT_EQ(Recorder.Texts("message"), std::vector<std::string>{NothingToUndo});
  EXPECT_EQ(Contents(DataFolder), Old);
}

TEST_F(RestoreTest, LocalWorkNewerThanTheArchiveIsReplacedOnlyOnYes) {
  WriteFiles(DataFolder, {{"Sale.DB", "today's sales, made after the backup"}}, time(nullptr));
  Old["Sale.DB"] = "today's sales, made after the backup";
  WriteFiles(BackupFolder(), {{"vantari.bck", "yesterday's local archive"}}, Year2020);
  Server->WriteFile("vantari.bck", Archive(New, Year2024));

  EXPECT_FALSE(Workflow().Download()); // No is the default answer
  EXPECT_EQ(Recorder.Texts("question"), std::vector<std::string>{LocalNewer});
  EXPECT_TRUE(Recorder.Texts("failure").empty());
  EXPECT_TRUE(Recorder.Texts("message").empty());
  EXPECT_EQ(Contents(DataFolder), Old);
  EXPECT_EQ(ReadFile(LocalArchive()), "yesterday's local archive");
  EXPECT_TRUE(Snapshots().empty());
  ExpectNoLeftovers();

  Recorder.Shown.clear();
  Recorder.YesNoAnswers = {true};
  ASSERT_TRUE(Workflow().Download());
  EXPECT_EQ(Recorder.Texts("question").size(), 1u);
  EXPECT_EQ(Contents(DataFolder), After);
  ASSERT_EQ(Snapshots().size(), 1u);

  ASSERT_TRUE(Workflow().UndoDownload());
  EXPECT_EQ(Contents(DataFolder), Old) << "today's work is back";
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
    EXPECT_FALSE(Workflow().Download());
    EXPECT_EQ(Recorder.Texts("failure"), std::vector<std::string>{test.Box});
    EXPECT_TRUE(Recorder.Texts("question").empty());
    EXPECT_EQ(Contents(DataFolder), Old);
    EXPECT_EQ(ReadFile(LocalArchive()), "the last good local archive");
    EXPECT_TRUE(Snapshots().empty());
    ExpectNoLeftovers();
  }
}

TEST_F(RestoreTest, TableHeldOpenByAnotherProgramRefusesUploadAndDownload) {
  Server->WriteFile("vantari.bck", "the server's archive");
  {
    TFileHolder wine(DataFolder / "Sale.DB");
    for (bool upload : {true, false}) {
      SCOPED_TRACE(upload ? "upload" : "download");
      Recorder.Shown.clear();
      EXPECT_FALSE(upload ? Workflow().Upload() : Workflow().Download());
      EXPECT_EQ(Recorder.Shown.size(), 1u) << "refused before any network step";
      EXPECT_EQ(Recorder.Texts("message"), std::vector<std::string>{InUse});
      EXPECT_EQ(Server->ReadFile("vantari.bck"), "the server's archive");
      EXPECT_EQ(Contents(DataFolder), Old);
    }
    EXPECT_FALSE(Workflow().UndoDownload());
    EXPECT_FALSE(fs::exists(BackupFolder()));
  }
  Recorder.Shown.clear();
  EXPECT_TRUE(Workflow().Upload()) << "free again once the program has ended";
}

TEST_F(RestoreTest, OnlyTheLastThreeSnapshotsAreKept) {
  Server->WriteFile("vantari.bck", Archive(New, Year2024));
  for (int run = 0; run < 4; ++run)
    ASSERT_TRUE(Workflow().Download());
  const std::vector<std::string> kept = Snapshots();
  ASSERT_EQ(kept.size(), 3u);
  for (const std::string &name : kept)
    EXPECT_EQ(Contents(BackupFolder() / name), After) << "the oldest, with the old data, went";
}

TEST_F(RestoreTest, JournalIsNeverFollowedThroughALink) {
  fs::create_directories(BackupFolder());
  const fs::path elsewhere = Home.Root() / "precious.txt";
  WriteFile(elsewhere, "someone else's file");
  fs::create_symlink(elsewhere, BackupFolder() / "restore.journal");
  EXPECT_FALSE(Workflow().RecoverUnfinishedRestore()) << "a link is no journal";
  EXPECT_EQ(ReadFile(elsewhere), "someone else's file");
  fs::remove(BackupFolder() / "restore.journal");

  ASSERT_EQ(mkfifo((BackupFolder() / "restore.journal").c_str(), 0600), 0);
  Recorder.Shown.clear();
  EXPECT_FALSE(Workflow().Download()) << "a fifo must not hang the start";
  EXPECT_EQ(Recorder.Shown.size(), 1u);
  EXPECT_EQ(Contents(DataFolder), Old);
  fs::remove(BackupFolder() / "restore.journal");

  fs::create_symlink(elsewhere, BackupFolder() / "restore.journal.new");
  Server->WriteFile("vantari.bck", Archive(New, Year2024));
  ASSERT_TRUE(Workflow().Download());
  EXPECT_EQ(ReadFile(elsewhere), "someone else's file");
  EXPECT_EQ(Contents(DataFolder), After);
}

// Runs the restore (or the undo) in a child process that ends itself at step; false when the
// child never reached it.
bool StoppedAt(const std::string &step, const std::function<bool()> &run) {
  const pid_t child = fork();
  if (child == 0) {
    SetRestoreStopHook([&](const char *reached) {
      if (step == reached)
        _exit(42);
    });
    _exit(run() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 42;
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
    ASSERT_TRUE(StoppedAt(step, [&] { return Workflow().RestoreData(LocalArchive().string()); }));
    EXPECT_TRUE(fs::exists(BackupFolder() / "restore.journal"));

    TWorkflow restarted(Config); // the next start of the program
    restarted.Settings().ReadDataFolder();
    ASSERT_TRUE(restarted.RecoverUnfinishedRestore());
    const bool committed = std::string(step) == "committed";
    EXPECT_EQ(Contents(DataFolder), committed ? After : Old);
    EXPECT_EQ(Snapshots().size(), committed ? 1u : 0u);
    EXPECT_EQ(ReadFile(LocalArchive()), archive);
    ExpectNoLeftovers();
  }
}

TEST_F(RestoreTest, UndoKilledAtAnyStepTheNextStartRollsBack) {
  WriteFiles(BackupFolder(), {{"vantari.bck", Archive(New, Year2024)}}, Year2024);
  ASSERT_TRUE(Workflow().RestoreData(LocalArchive().string()));
  const std::string snapshot = Snapshots().at(0);
  for (const char *step : {"copying", "staged", "snapshot-moving", "installing", "committed"}) {
    SCOPED_TRACE(step);
    ASSERT_TRUE(StoppedAt(step, [&] { return Workflow().UndoDownload(); }));
    TWorkflow restarted(Config);
    restarted.Settings().ReadDataFolder();
    ASSERT_TRUE(restarted.RecoverUnfinishedRestore());
    if (std::string(step) == "committed") {
      EXPECT_EQ(Contents(DataFolder), Old);
      EXPECT_FALSE(fs::exists(BackupFolder() / snapshot)) << "used up";
    } else {
      EXPECT_EQ(Contents(DataFolder), After);
      EXPECT_EQ(Snapshots(), std::vector<std::string>{snapshot});
      EXPECT_EQ(Contents(BackupFolder() / snapshot), Old);
    }
    ExpectNoLeftovers();
  }
}

// A file system of its own, small enough that the staging copy of the archive cannot fit.
class TSmallFileSystem {
public:
  TSmallFileSystem(const fs::path &where, const char *size) : FWhere(where) {
    fs::create_directories(where);
    const std::string options = std::string("size=") + size + ",mode=0755";
    if (mount("vantari-test", where.c_str(), "tmpfs", 0, options.c_str()) != 0)
      FError = std::strerror(errno);
  }
  ~TSmallFileSystem() {
    if (FError.empty())
      umount2(FWhere.c_str(), MNT_DETACH);
  }
  TSmallFileSystem(const TSmallFileSystem &) = delete;
  TSmallFileSystem &operator=(const TSmallFileSystem &) = delete;
  const std::string &Error() const { return FError; }

private:
  fs::path FWhere;
  std::string FError;
};

TEST_F(RestoreTest, DiskFullWhileStagingLeavesTheDataAsItWas) {
  if (geteuid() != 0)
    GTEST_SKIP() << "mounting a small file system needs root";
  TSmallFileSystem small(Home.Root() / "small", "1000k");
  if (!small.Error().empty())
    GTEST_SKIP() << "cannot mount a tmpfs here: " << small.Error();
  DataFolder = Home.Root() / "small" / "data";
  WriteFiles(DataFolder, Old, Year2020);
  WriteFiles(BackupFolder(), {{"vantari.bck", "the last good local archive"}}, Year2020);
  Home.SetDataFolder(DataFolder);
  // Noise does not compress: the download fits, a second copy of it does not.
  Server->WriteFile("vantari.bck", Archive({{"Item.dat", Noise(600000)}}, Year2024));

  EXPECT_FALSE(Workflow().Download());
  EXPECT_EQ(Recorder.Texts("failure"), std::vector<std::string>{RestoreFailed});
  EXPECT_EQ(Contents(DataFolder), Old);
  EXPECT_EQ(ReadFile(LocalArchive()), "the last good local archive");
  EXPECT_TRUE(Snapshots().empty());
  ExpectNoLeftovers();
}

} // namespace
} // namespace vantari::test
