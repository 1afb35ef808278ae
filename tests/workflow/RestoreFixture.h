#pragma once

// The download as a transaction, driven through the workflow layer without a window: a real
// FTP server on loopback, real files, another process ended at every step, a table held open
// by another program. What runs the same on Linux and Windows shares this fixture.
#include "AppTestEnvironment.h"
#include "FtpServer.h"
#include "HostUIRecorder.h"
#include "RestoreTransaction.h"
#include "Workflow.h"
#include "WorkflowView.h"

#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vantari::test {

namespace fs = std::filesystem;

inline const std::string AllDone = "모든 작업을 정상적으로 완료하였습니다.";
inline const std::string RestoreFailed = "복원에 실패하였습니다.";
inline const std::string InUse = "루모라재고 세금계산서관리 프로그램이 자료를 사용하고 있습니다.\n"
                                 "프로그램을 종료한 뒤 다시 시도하십시오.";

constexpr time_t Year2020 = 1577872800; // 2020-01-01, long before any test runs
constexpr time_t Year2024 = 1704103200;
constexpr time_t Year2044 = 2348388000; // past the top of a signed 32-bit MS-DOS date

std::string Text(size_t bytes, const std::string &seed);
std::string Noise(size_t bytes);
void WriteFiles(const fs::path &folder, const TContents &files, time_t date);

// Another program (not this one) that keeps a file open until it is dropped, letting others
// read and write it as the accounting program does. Raises, and so ends the test, when the
// file could not be opened within 10 s.
class TFileHolder {
public:
  explicit TFileHolder(const fs::path &file);
  ~TFileHolder() { Stop(); }
  TFileHolder(const TFileHolder &) = delete;
  TFileHolder &operator=(const TFileHolder &) = delete;

private:
  void Stop();
  intptr_t FProcess = -1; // POSIX: the pid; Windows: the process handle
};

// What a run that is ended midway does: restore an archive, undo the last download, or merely
// start (which rolls back a transaction cut short); and what it needs to know for that.
enum class TRun { Restore, Undo, Start };
struct TStoppedRun {
  TRun Run;
  std::string Archive; // what a restore restores
  std::string SecondArchive;
  std::string User; // the login, which names the local archive
  std::string Password;
};

// The run done in this process, as the program with the fixture's data folder would.
bool RunHere(const TStoppedRun &run);

// Does run in another process that is ended without any clean-up the moment it reaches step;
// false when it never reached it.
bool StoppedAt(const std::string &step, const TStoppedRun &run);

// run in another process, held at step: the constructor returns once the run is there (and
// raises, ending the test, when it is not within a minute).
class TPausedRun {
public:
  TPausedRun(const std::string &step, const TStoppedRun &run);
  ~TPausedRun() { Stop(); }
  TPausedRun(const TPausedRun &) = delete;
  TPausedRun &operator=(const TPausedRun &) = delete;
  // Lets the run go on to its end; whether it succeeded.
  bool Finish();

private:
  void Stop();
  intptr_t FProcess = -1; // POSIX: the pid; Windows: the process handle
  intptr_t FResume = -1;  // POSIX: a pipe's write end; Windows: an event
};

#ifndef _WIN32
// A child that writes nothing to the test's output: a child stuck in a file system request
// must not keep CTest's output pipe open after the test has ended.
pid_t ForkQuiet();
// Reaps child, waiting at most about seconds; false when it is still there.
bool Reap(pid_t child, int seconds, int *status = nullptr);

// A tmpfs of the given size ("64k") mounted at where for its lifetime: a disk that fills up.
// Needs root; Error() tells why the mount failed.
class TSmallFileSystem {
public:
  TSmallFileSystem(const fs::path &where, const char *size);
  ~TSmallFileSystem();
  TSmallFileSystem(const TSmallFileSystem &) = delete;
  TSmallFileSystem &operator=(const TSmallFileSystem &) = delete;
  const std::string &Error() const { return FError; }

private:
  fs::path FWhere;
  std::string FError;
};
#endif

class RestoreTest : public ::testing::Test {
protected:
  void SetUp() override;

  // The main window's presenter over a recording view, started as the window starts it, with
  // the server's login in its boxes: the tests press its buttons as a person would.
  TMainWindowPresenter &Window();
  TWorkflow &Workflow() { return Window().Workflow(); }
  bool Upload() { return Press(&TMainWindowPresenter::Upload); }
  bool Download() { return Press(&TMainWindowPresenter::Download); }
  bool UndoDownload() { return Press(&TMainWindowPresenter::UndoDownload); }
  bool Press(void (TMainWindowPresenter::*button)()) {
    (Window().*button)();
    return Window().Succeeded();
  }
  // An archive of files dated date, made the way an upload makes one.
  std::string Archive(const TContents &files, time_t date);

  fs::path BackupFolder() const { return DataFolder / "Backup"; }
  fs::path LocalArchive() const { return BackupFolder() / "vantari.bck"; }
  std::vector<std::string> Snapshots() const {
    return TRestoreTransaction(U8(DataFolder), U8(BackupFolder())).Snapshots();
  }
  // A run of this fixture's program.
  TStoppedRun Run(TRun run) const {
    return {run, U8(LocalArchive()), Config.SecondArchive, Server->User(), Server->Password()};
  }
  bool StoppedAt(const std::string &step, TRun run) { return test::StoppedAt(step, Run(run)); }
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
  TWorkflowView View;
  TContents Old, New, After;

private:
  std::unique_ptr<TMainWindowPresenter> FWindow;
  int FArchives = 0;
};

} // namespace vantari::test
