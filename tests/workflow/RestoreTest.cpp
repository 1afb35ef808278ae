// The download as a transaction, driven through the workflow layer without a window: a real
// FTP server on loopback, real files, processes killed at every step, a full disk, a table
// held open by another process.
#include "AppTestEnvironment.h"
#include "BackupFile.h"
#include "FileSystem.h"
#include "FilesInUse.h"
#include "FtpServer.h"
#include "HostUIRecorder.h"
#include "RestoreJournal.h"
#include "RestoreTransaction.h"
#include "Workflow.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <linux/fuse.h>
#include <map>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
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
const std::string OtherInstance =
    "다른 반타리 프로그램이 실행 중입니다. 그 작업이 끝난 뒤 다시 시도하십시오.";

constexpr time_t Year2020 = 1577872800; // 2020-01-01, long before any test runs
constexpr time_t Year2024 = 1704103200;
constexpr time_t Year2044 = 2348388000; // past the top of a signed 32-bit MS-DOS date

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

// A child that writes nothing to the test's output: a child stuck in a file system request
// must not keep CTest's output pipe open after the test has ended.
pid_t ForkQuiet() {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
  }
  return pid;
}

// Reaps child, waiting at most about seconds; false when it is still there.
bool Reap(pid_t child, int seconds, int *status = nullptr) {
  for (int waited = 0; waited < seconds * 20; ++waited) {
    if (waitpid(child, status, WNOHANG) == child)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// Another program (not this one) that keeps a file open until it is dropped. Raises, and so
// ends the test, when the file could not be opened within 10 s.
class TFileHolder {
public:
  explicit TFileHolder(const fs::path &file) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    FPid = ForkQuiet();
    if (FPid == 0) {
      dup2(ready[1], STDOUT_FILENO);
      execl("/bin/sh", "sh", "-c", "exec 3<\"$0\" && echo y && exec sleep 600", file.c_str(),
            static_cast<char *>(nullptr));
      _exit(127);
    }
    close(ready[1]);
    pollfd answer{ready[0], POLLIN, 0};
    char opened = 'n';
    if (poll(&answer, 1, 10000) == 1)
      (void)!read(ready[0], &opened, 1);
    close(ready[0]);
    if (opened != 'y') {
      Stop();
      throw std::runtime_error("the holder could not open " + file.string());
    }
  }
  ~TFileHolder() { Stop(); }
  TFileHolder(const TFileHolder &) = delete;
  TFileHolder &operator=(const TFileHolder &) = delete;

private:
  void Stop() {
    if (FPid > 0) {
      kill(FPid, SIGKILL);
      Reap(FPid, 10);
    }
    FPid = -1;
  }
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
           {"TaxBill", "new tax bill"},
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
  EXPECT_EQ(Workflow().LastPreview().MemberCount, 5);
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

// Links in the data folder (a table kept on another drive, a link whose target is gone) come
// back from an undo as the links they were.
TEST_F(RestoreTest, UndoBringsBackLinksAsLinks) {
  WriteFiles(Home.Root() / "shared", {{"Price.DB", "prices kept on another drive"}}, Year2020);
  fs::create_symlink(Home.Root() / "shared" / "Price.DB", DataFolder / "Price.DB");
  fs::create_symlink(Home.Root() / "gone" / "Quote.DB", DataFolder / "Quote.DB");
  WriteFiles(BackupFolder(), {{"vantari.bck", Archive(New, Year2024)}}, Year2024);
  Recorder.YesNoAnswers = {true}; // the archive lacks Price and Quote
  ASSERT_TRUE(Workflow().RestoreData(LocalArchive().string()));
  ASSERT_FALSE(fs::exists(fs::symlink_status(DataFolder / "Price.DB")));

  ASSERT_TRUE(Workflow().UndoDownload());
  Old["Price.DB"] = "prices kept on another drive";
  EXPECT_EQ(Contents(DataFolder), Old);
  ASSERT_TRUE(fs::is_symlink(DataFolder / "Price.DB"));
  EXPECT_EQ(fs::read_symlink(DataFolder / "Price.DB"), Home.Root() / "shared" / "Price.DB");
  ASSERT_TRUE(fs::is_symlink(DataFolder / "Quote.DB"));
  EXPECT_EQ(fs::read_symlink(DataFolder / "Quote.DB"), Home.Root() / "gone" / "Quote.DB");
  EXPECT_EQ(ReadFile(Home.Root() / "shared" / "Price.DB"), "prices kept on another drive");
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

// An archive made in 2044 or later is newer than data of 2024: no question.
TEST_F(RestoreTest, ArchiveFrom2044IsNewerThanDataFrom2024) {
  WriteFiles(DataFolder, Old, Year2024);
  Server->WriteFile("vantari.bck", Archive(New, Year2044));
  ASSERT_TRUE(Workflow().Download());
  EXPECT_TRUE(Recorder.Texts("question").empty());
  EXPECT_EQ(Contents(DataFolder), After);
}

// Without zipcode.bck the download fails, but the data folder holds the server's archive all
// the same: the next upload must not ask whether another computer's data may be replaced.
TEST_F(RestoreTest, MissingSecondArchiveStillRecordsTheServersArchive) {
  ASSERT_TRUE(Workflow().Upload());
  Server->WriteFile("vantari.bck", Archive(New, Year2024)); // another computer's upload
  fs::remove(Config.SecondArchive);
  EXPECT_FALSE(Workflow().Download());
  EXPECT_EQ(Recorder.Texts("failure"), std::vector<std::string>{RestoreFailed});
  EXPECT_EQ(Contents(DataFolder), New);
  Recorder.Shown.clear();
  EXPECT_TRUE(Workflow().Upload());
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
    EXPECT_FALSE(Workflow().Download());
    EXPECT_EQ(Recorder.Texts("failure"), std::vector<std::string>{test.Box});
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
  EXPECT_FALSE(Workflow().Download()); // No is the default answer
  EXPECT_EQ(Recorder.Texts("question"), std::vector<std::string>{question})
      << "AssemblyItem.DB and TaxBill would leave; sale.db is Sale.DB";
  EXPECT_EQ(Contents(DataFolder), Old);
  EXPECT_EQ(ReadFile(LocalArchive()), "the last good local archive");
  EXPECT_TRUE(Snapshots().empty());
  ExpectNoLeftovers();

  Recorder.Shown.clear();
  Recorder.YesNoAnswers = {true};
  ASSERT_TRUE(Workflow().Download());
  EXPECT_EQ(
      Contents(DataFolder),
      (TContents{{"Sale.DB", "new sale"}, {"item.db", "new item"}, {"ZipCode.DB", "zip codes"}}))
      << "a table already there keeps its name; a new one comes as the archive names it";
  ASSERT_EQ(Snapshots().size(), 1u);
  EXPECT_EQ(Contents(BackupFolder() / Snapshots()[0]), Old);
}

// The Backup folder may sit on a shared drive another computer writes: a journal that names
// what no run of this program leaves is not acted on, and the person is told which file it is.
TEST_F(RestoreTest, JournalThatProvesNothingLeavesDataAndArchiveAlone) {
  const fs::path outside = Home.Root() / "outside";
  const fs::path kept = BackupFolder() / "before-download-20240101-100000";
  struct TCase {
    const char *Name;
    std::string Journal;
    std::function<void()> Arrange;
  };
  const TCase cases[] = {
      {"install without a snapshot", "step=install\nsnapshot=\nconsumed=\n",
       [&] {
         WriteFiles(BackupFolder() / "staging", {{"Item.dat", "staged"}}, Year2024);
       }},
      {"snapshot that is a link", "step=snapshot\nsnapshot=before-download-20240101-100000\n",
       [&] {
         WriteFiles(outside, {{"Price.DB", "another folder's prices"}}, Year2020);
         fs::create_symlink(outside, kept);
       }},
      {"archive as the consumed snapshot",
       "step=committed\nsnapshot=before-download-20240101-100000\nconsumed=vantari.bck\n",
       [&] {
         WriteFiles(kept, {{"Sale.DB", "kept sale"}}, Year2020);
       }},
  };
  for (const TCase &test : cases) {
    SCOPED_TRACE(test.Name);
    fs::remove_all(BackupFolder());
    fs::remove_all(outside);
    WriteFiles(BackupFolder(), {{"vantari.bck", "the last good local archive"}}, Year2020);
    WriteFile(BackupFolder() / "restore.journal", test.Journal);
    test.Arrange();
    const TWorkflow restarted(Config);
    Recorder.Shown.clear();
    EXPECT_FALSE(Workflow().RecoverUnfinishedRestore());
    ASSERT_EQ(Recorder.Texts("failure").size(), 1u);
    EXPECT_NE(Recorder.Texts("failure")[0].find((BackupFolder() / "restore.journal").string()),
              std::string::npos);
    EXPECT_EQ(Contents(DataFolder), Old);
    EXPECT_EQ(ReadFile(LocalArchive()), "the last good local archive");
    EXPECT_EQ(ReadFile(BackupFolder() / "restore.journal"), test.Journal);
    if (fs::exists(outside)) {
      EXPECT_EQ(Contents(outside), (TContents{{"Price.DB", "another folder's prices"}}));
    }
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

// A network file system whose server stops answering, as a NAS that went away does: a small
// FUSE server in a process of its own that, once told to, leaves every attribute request
// unanswered. Needs root to mount.
class THungFileSystem {
public:
  explicit THungFileSystem(const fs::path &where) : FWhere(where) {
    fs::create_directories(where);
    int control[2];
    const int device = open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (device < 0 || pipe2(control, O_CLOEXEC) != 0) {
      FError = std::strerror(errno);
      if (device >= 0)
        close(device);
      return;
    }
    // Mounted before the server starts: a device not yet mounted fails every read, and a
    // server started first would end before it had anything to answer.
    const std::string options =
        "fd=" + std::to_string(device) + ",rootmode=40000,user_id=0,group_id=0";
    if (mount("vantari-test", where.c_str(), "fuse", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
      FError = std::strerror(errno);
    else
      FMounted = true;
    if (FMounted && (FServer = ForkQuiet()) == 0) {
      close(control[1]);
      Serve(device, control[0]);
      _exit(0);
    }
    close(device);
    close(control[0]);
    FControl = control[1];
    // The server answers (INIT, then the root's attributes) before any test goes on.
    struct stat st {};
    if (FMounted && (FServer < 0 || stat(where.c_str(), &st) != 0))
      FError = "the file system server does not answer";
  }
  ~THungFileSystem() {
    Abort();
    if (FMounted)
      umount2(FWhere.c_str(), MNT_DETACH);
    if (FControl >= 0)
      close(FControl);
  }
  THungFileSystem(const THungFileSystem &) = delete;
  THungFileSystem &operator=(const THungFileSystem &) = delete;
  const std::string &Error() const { return FError; }
  // From now on attribute requests are never answered.
  void Hang() { (void)!write(FControl, "h", 1); }
  // Ends the server: the connection is aborted and every waiting request fails.
  void Abort() {
    if (FServer > 0) {
      kill(FServer, SIGKILL);
      waitpid(FServer, nullptr, 0);
    }
    FServer = -1;
  }

private:
  static void Reply(int device, uint64_t unique, int error, const void *body, size_t size) {
    std::vector<char> out(sizeof(fuse_out_header) + size);
    const fuse_out_header header{static_cast<uint32_t>(out.size()), error, unique};
    std::memcpy(out.data(), &header, sizeof header);
    if (size)
      std::memcpy(out.data() + sizeof header, body, size);
    (void)!write(device, out.data(), out.size());
  }
  static fuse_attr Attributes(uint64_t node) {
    fuse_attr attr{};
    attr.ino = node;
    attr.mode = node == FUSE_ROOT_ID ? (S_IFDIR | 0755) : (S_IFREG | 0644);
    attr.nlink = node == FUSE_ROOT_ID ? 2 : 1;
    attr.size = node == FUSE_ROOT_ID ? 0 : 5;
    attr.blksize = 4096;
    return attr;
  }
  // Every name is the same file; attributes are never cached, so each stat asks.
  static void Serve(int device, int control) {
    std::vector<char> buffer(1 << 20);
    bool hung = false;
    for (int requests = 0; requests < 10000; ++requests) {
      pollfd fds[2] = {{device, POLLIN, 0}, {control, POLLIN, 0}};
      if (poll(fds, 2, 20000) <= 0)
        return;
      if (fds[1].revents) {
        char c;
        hung = read(control, &c, 1) == 1;
        continue;
      }
      const ssize_t n = read(device, buffer.data(), buffer.size());
      if (n < static_cast<ssize_t>(sizeof(fuse_in_header)))
        return;
      fuse_in_header in;
      std::memcpy(&in, buffer.data(), sizeof in);
      const char *body = buffer.data() + sizeof in;
      switch (in.opcode) {
      case FUSE_INIT: {
        fuse_init_in request;
        std::memcpy(&request, body,
                    sizeof request.major + sizeof request.minor + sizeof request.max_readahead);
        fuse_init_out out{};
        out.major = FUSE_KERNEL_VERSION;
        out.minor = FUSE_KERNEL_MINOR_VERSION;
        out.max_readahead = request.max_readahead;
        out.max_write = 4096;
        out.time_gran = 1;
        Reply(device, in.unique, 0, &out, sizeof out);
        break;
      }
      case FUSE_LOOKUP: {
        fuse_entry_out out{};
        out.nodeid = 2;
        out.attr = Attributes(2);
        Reply(device, in.unique, 0, &out, sizeof out);
        break;
      }
      case FUSE_GETATTR: {
        if (hung)
          break;
        fuse_attr_out out{};
        out.attr = Attributes(in.nodeid);
        Reply(device, in.unique, 0, &out, sizeof out);
        break;
      }
      case FUSE_OPEN: {
        fuse_open_out out{};
        out.fh = 1;
        Reply(device, in.unique, 0, &out, sizeof out);
        break;
      }
      case FUSE_FORGET:
      case FUSE_BATCH_FORGET:
      case FUSE_INTERRUPT:
        break;
      case FUSE_FLUSH:
      case FUSE_RELEASE:
        Reply(device, in.unique, 0, nullptr, 0);
        break;
      default:
        Reply(device, in.unique, -ENOSYS, nullptr, 0);
      }
    }
  }

  fs::path FWhere;
  std::string FError;
  pid_t FServer = -1;
  int FControl = -1;
  bool FMounted = false;
};

// Another program holding a file open on a network drive whose server went away must not
// hang the check (and with it the upload or download) for ever.
TEST_F(RestoreTest, FilesInUseCheckDoesNotHangOnAnUnansweringFileSystem) {
  if (geteuid() != 0)
    GTEST_SKIP() << "mounting a FUSE file system needs root";
  THungFileSystem nas(Home.Root() / "nas");
  ASSERT_EQ(nas.Error(), "") << "mounting a FUSE file system";
  TFileHolder other(Home.Root() / "nas" / "letter.doc");
  nas.Hang();
  TFileHolder wine(DataFolder / "Sale.DB");

  const pid_t check = ForkQuiet();
  if (check == 0)
    _exit(FilesInUse(DataFolder.string()) ? 0 : 1);
  int status = 0;
  const bool ended = Reap(check, 5, &status);
  if (!ended) {
    nas.Abort(); // a request the server has read is waited for even by a killed process
    kill(check, SIGKILL);
    Reap(check, 10);
  }
  ASSERT_TRUE(ended) << "the check still waits for the file system after 5 s";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the held table is seen";
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

// Snapshots made within one second (a script downloads and undoes in a row): the newest is the
// one made last, whatever kind each is, so that the next undo brings back the right data.
TEST_F(RestoreTest, SnapshotsOfOneSecondKeepTheirOrder) {
  TRestoreTransaction transaction(DataFolder.string(), BackupFolder().string());
  for (int attempt = 0; attempt < 3; ++attempt) {
    fs::remove_all(DataFolder); // an attempt that ran into the next second swapped it
    WriteFiles(DataFolder, Old, Year2020);
    const time_t second = time(nullptr);
    std::tm local{};
    localtime_r(&second, &local);
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
  const bool restored = Workflow().RestoreData(LocalArchive().string());
  SetRestoreStopHook({});
  EXPECT_FALSE(restored);
  EXPECT_EQ(Recorder.Texts("failure"), std::vector<std::string>{RestoreFailed});
  EXPECT_EQ(Contents(DataFolder), Old);
  EXPECT_TRUE(Snapshots().empty());
  ExpectNoLeftovers();
  wine.reset();
  EXPECT_TRUE(Workflow().RestoreData(LocalArchive().string()));
  EXPECT_EQ(Contents(DataFolder), After);
}

// A power cut at the start that rolls back a cut-short restore: the start after it must finish
// the rollback, not take the old files already put back for new ones.
TEST_F(RestoreTest, RollBackKilledHalfwayIsFinishedByTheNextStart) {
  WriteFiles(BackupFolder(), {{"vantari.bck", Archive(New, Year2024)}}, Year2024);
  ASSERT_TRUE(
      StoppedAt("installing", [&] { return Workflow().RestoreData(LocalArchive().string()); }));
  for (int killed = 0; killed < 2; ++killed)
    ASSERT_TRUE(StoppedAt("rolling-back", [&] { return TWorkflow(Config).Running(); }));
  const TWorkflow restarted(Config);
  EXPECT_EQ(Contents(DataFolder), Old);
  EXPECT_TRUE(Snapshots().empty());
  ExpectNoLeftovers();
  Recorder.Shown.clear();
  Server->WriteFile("vantari.bck", Archive(New, Year2024));
  EXPECT_TRUE(Workflow().Download()) << "no failed recovery blocks the next download";
  EXPECT_EQ(Contents(DataFolder), After);
}

// The program started a second time (or the command line from a timer) while a download is
// halfway through its swap: the newcomer must not take the live transaction for one cut short.
TEST_F(RestoreTest, SecondInstanceLeavesARunningRestoreAlone) {
  WriteFiles(BackupFolder(), {{"vantari.bck", Archive(New, Year2024)}}, Year2024);
  int reached[2], resume[2];
  ASSERT_EQ(pipe(reached), 0);
  ASSERT_EQ(pipe(resume), 0);
  const pid_t first = fork();
  if (first == 0) {
    SetRestoreStopHook([&](const char *step) {
      if (std::string(step) == "installing") {
        char go = 0;
        (void)!write(reached[1], "r", 1);
        (void)!read(resume[0], &go, 1);
        SetRestoreStopHook({});
      }
    });
    _exit(Workflow().RestoreData(LocalArchive().string()) ? 0 : 1);
  }
  char signal = 0;
  ASSERT_EQ(read(reached[0], &signal, 1), 1);
  {
    TWorkflow second(Config); // its start finds the journal of the running one
    second.Settings().ReadDataFolder();
    EXPECT_FALSE(second.RestoreData(LocalArchive().string()));
    EXPECT_EQ(Recorder.Texts("message"), std::vector<std::string>{OtherInstance});
    EXPECT_TRUE(Recorder.Texts("failure").empty());
    EXPECT_FALSE(TRestoreTransaction(DataFolder.string(), BackupFolder().string()).Recover());
    EXPECT_FALSE(TRestoreTransaction(DataFolder.string(), BackupFolder().string())
                     .Run("before-download", [](const std::string &) { return true; }));
  }
  (void)!write(resume[1], "g", 1);
  int status = 0;
  ASSERT_EQ(waitpid(first, &status, 0), first);
  for (const int fd : {reached[0], reached[1], resume[0], resume[1]})
    close(fd);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the first run completes";
  EXPECT_EQ(Contents(DataFolder), After);
  ASSERT_EQ(Snapshots().size(), 1u);
  EXPECT_EQ(Contents(BackupFolder() / Snapshots()[0]), Old);
  ExpectNoLeftovers();
}

TEST_F(RestoreTest, UndoKilledAtAnyStepTheNextStartRollsBack) {
  WriteFiles(BackupFolder(), {{"vantari.bck", Archive(New, Year2024)}}, Year2024);
  ASSERT_TRUE(Workflow().RestoreData(LocalArchive().string()));
  const std::string snapshot = Snapshots().at(0);
  for (const char *step : {"copying", "staged", "snapshot-moving", "installing", "committed"}) {
    SCOPED_TRACE(step);
    ASSERT_TRUE(StoppedAt(step, [&] { return Workflow().UndoDownload(); }));
    const TWorkflow restarted(Config);
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
    FAIL() << "cannot mount a tmpfs: " << small.Error();
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

// A Backup folder on a file system of its own (another disk mounted there): the snapshot cannot
// be made by rename, so the restore fails and leaves the data folder as it was.
TEST_F(RestoreTest, BackupFolderOnAnotherFileSystemLeavesTheDataAsItWas) {
  if (geteuid() != 0)
    GTEST_SKIP() << "mounting a file system needs root";
  TSmallFileSystem other(BackupFolder(), "4m");
  if (!other.Error().empty())
    FAIL() << "cannot mount a tmpfs: " << other.Error();
  WriteFiles(BackupFolder(), {{"vantari.bck", "the last good local archive"}}, Year2020);
  Server->WriteFile("vantari.bck", Archive(New, Year2024));
  EXPECT_FALSE(Workflow().Download());
  EXPECT_EQ(Recorder.Texts("failure"), std::vector<std::string>{RestoreFailed});
  EXPECT_EQ(Contents(DataFolder), Old);
  EXPECT_TRUE(Snapshots().empty());
  EXPECT_FALSE(fs::exists(BackupFolder() / "staging"));
  EXPECT_FALSE(fs::exists(BackupFolder() / "restore.journal"));
}

} // namespace
} // namespace vantari::test
