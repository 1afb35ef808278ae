// The download as a transaction where it meets what only Linux has: links, fifos, FUSE,
// and mounts.
#include "RestoreFixture.h"

#include "FailureTexts.h"
#include "FilesInUse.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/fuse.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantari::test {
namespace {

// Links in the data folder (a table kept on another drive, a link whose target is gone) come
// back from an undo as the links they were.
TEST_F(RestoreTest, UndoBringsBackLinksAsLinks) {
  WriteFiles(Home.Root() / "shared", {{"Price.DB", "prices kept on another drive"}}, Year2020);
  fs::create_symlink(Home.Root() / "shared" / "Price.DB", DataFolder / "Price.DB");
  fs::create_symlink(Home.Root() / "gone" / "Quote.DB", DataFolder / "Quote.DB");
  WriteFiles(BackupFolder(), {{"vantari.bck", Archive(New, Year2024)}}, Year2024);
  Recorder.YesNoAnswers = {true}; // the archive lacks Price and Quote
  ASSERT_TRUE(Workflow().RestoreData(U8(LocalArchive())));
  ASSERT_FALSE(fs::exists(fs::symlink_status(DataFolder / "Price.DB")));

  ASSERT_TRUE(UndoDownload());
  Old["Price.DB"] = "prices kept on another drive";
  EXPECT_EQ(Contents(DataFolder), Old);
  ASSERT_TRUE(fs::is_symlink(DataFolder / "Price.DB"));
  EXPECT_EQ(fs::read_symlink(DataFolder / "Price.DB"), Home.Root() / "shared" / "Price.DB");
  ASSERT_TRUE(fs::is_symlink(DataFolder / "Quote.DB"));
  EXPECT_EQ(fs::read_symlink(DataFolder / "Quote.DB"), Home.Root() / "gone" / "Quote.DB");
  EXPECT_EQ(ReadFile(Home.Root() / "shared" / "Price.DB"), "prices kept on another drive");
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
    _exit(FilesInUse(U8(DataFolder)) ? 0 : 1);
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
  EXPECT_FALSE(Download()) << "a fifo must not hang the start";
  EXPECT_EQ(Recorder.Shown.size(), 1u);
  EXPECT_EQ(Contents(DataFolder), Old);
  fs::remove(BackupFolder() / "restore.journal");

  fs::create_symlink(elsewhere, BackupFolder() / "restore.journal.new");
  Server->WriteFile("vantari.bck", Archive(New, Year2024));
  ASSERT_TRUE(Download());
  EXPECT_EQ(ReadFile(elsewhere), "someone else's file");
  EXPECT_EQ(Contents(DataFolder), After);
}

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

  EXPECT_FALSE(Download());
  EXPECT_EQ(Recorder.Texts("failure"), std::vector<std::string>{RestoreFailed});
  EXPECT_EQ(Recorder.Reports.back().Cause, CauseDiskFull) << "never a damaged archive";
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
  EXPECT_FALSE(Download());
  EXPECT_EQ(Recorder.Texts("failure"), std::vector<std::string>{RestoreFailed});
  EXPECT_EQ(Contents(DataFolder), Old);
  EXPECT_TRUE(Snapshots().empty());
  EXPECT_FALSE(fs::exists(BackupFolder() / "staging"));
  EXPECT_FALSE(fs::exists(BackupFolder() / "restore.journal"));
}

} // namespace
} // namespace vantari::test
