// Both workflows end to end: a real FTP server on loopback, pings to 127.0.0.1, a data
// folder in a temporary home, and every box answered by the recorder.
#include "Workflow.h"
#include "Application.h"
#include "FileSystem.h"
#include "NetNamespace.h"
#include "WorkflowFixture.h"

#include <cstdlib>
#include <fcntl.h>
#include <regex>
#include <sys/stat.h>

namespace vantari::test {
namespace {

namespace fs = std::filesystem;

const std::string AllDone = "message: 모든 작업을 정상적으로 완료하였습니다.";
const std::string RestoreFailed = "failure: 복원에 실패하였습니다.";
const std::string Cleared = "status: "; // each run starts from an empty status bar
const std::string NotDone = "status: 작업을 마치지 못했습니다.";
const std::string NoDataFolder =
    "message: 루모라재고 세금계산서관리 프로그램의 자료 폴더를 찾을 수 없습니다.";

// Work on the other computer, made before the archive on the server (a file newer than the
// archive would bring up the question whether to replace it).
void WriteOlder(const fs::path &path, const std::string &bytes) {
  WriteFile(path, bytes);
  const struct timespec times[2] = {{1577872800, 0}, {1577872800, 0}}; // 2020-01-01
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// The log with each run of speed texts folded into one "status: <kind> speed" entry; the
// speeds themselves must have the "0.00 KB/s" form.
std::vector<std::string> Folded(const std::vector<std::string> &log) {
  static const std::regex speed(R"(status: (Uploade|Download) speed \d+\.\d\d KB/s)");
  std::vector<std::string> folded;
  for (const std::string &entry : log) {
    std::smatch match;
    const std::string item =
        std::regex_match(entry, match, speed) ? "status: " + match[1].str() + " speed" : entry;
    if (folded.empty() || folded.back() != item || item.find(" speed") == std::string::npos)
      folded.push_back(item);
  }
  return folded;
}

const std::vector<std::string> UploadLog = {Cleared,
                                            "status: 인터넷 사용가능",
                                            "status: 서버 접속 완료",
                                            "status: 백업을 완료했습니다.",
                                            "status: 파일을 올리는 중...",
                                            "status: Uploade speed",
                                            "status: 전송을 완료했습니다.",
                                            AllDone,
                                            "status: 서버 단절"};

const std::vector<std::string> DownloadLog = {Cleared,
                                              "status: 인터넷 사용가능",
                                              "status: 서버 접속 완료",
                                              "status: 파일을 받는 중...",
                                              "status: Download speed",
                                              "status: 전송을 완료했습니다.",
                                              "status: 복원을 완료했습니다.",
                                              "status: 서버 단절",
                                              AllDone};

TEST_F(WorkflowTest, UploadThenDownloadCarriesTheDataAndRemembersTheLogin) {
  Upload();
  EXPECT_EQ(Folded(Recorder.Log), UploadLog);
  EXPECT_EQ(Recorder.Cursors, (std::vector<TCursor>{TCursor::crAppStart, TCursor::crDefault}));
  const std::string stored = Server->PathOf("vantari.bck");
  ASSERT_TRUE(fs::exists(stored));
  EXPECT_EQ(VerifyWithTool(stored), 0);
  EXPECT_EQ(ReadFile(Home.SettingsFile()),
            "[Server]\nFTPHOST=127.0.0.1\nHOSTID=vantari\nHOSTPASS=s3cret-pass\n");

  // Work at home goes on: one table changed, one lost, one stray file added.
  WriteOlder(DataFolder / "Sale.DB", "changed at home");
  fs::remove(DataFolder / "UserInfo.DB");
  WriteFile(DataFolder / "scratch.tmp", "not a table");
  Recorder.Log.clear();
  Recorder.Cursors.clear();
  Download();
  EXPECT_EQ(Folded(Recorder.Log), DownloadLog);
  EXPECT_EQ(Recorder.Cursors, (std::vector<TCursor>{TCursor::crHourGlass, TCursor::crDefault}));
  EXPECT_EQ(Contents(DataFolder), Sample);
  EXPECT_TRUE(fs::exists(DataFolder / "Backup" / "vantari.bck")) << "the local copy stays";
  EXPECT_TRUE(Errors.empty());
  EXPECT_FALSE(View.Running) << "the buttons are free again";
}

TEST_F(WorkflowTest, UserIdWithAFolderPartKeepsTheArchiveInTheBackupFolder) {
  Server = std::make_unique<TFtpServer>(TFtpServerOptions{.User = "../kim"});
  Config.FtpPort = Server->Port();
  Upload();
  ASSERT_TRUE(Logged(AllDone));
  Recorder.Log.clear();
  WriteOlder(DataFolder / "Sale.DB", "changed at home");
  Download();
  EXPECT_TRUE(Logged(AllDone));
  EXPECT_EQ(Contents(DataFolder), Sample);
}

TEST_F(WorkflowTest, WrongPasswordFailsTheLoginAndLeavesTheSettingsAlone) {
  fs::create_directories(Home.ConfigFolder());
  WriteFile(Home.SettingsFile(), "[Server]\nFTPHOST=old\nHOSTID=vantari\nHOSTPASS=old\n");
  SetLogin("vantari", "wrong");
  Upload();
  EXPECT_EQ(Recorder.Log,
            (std::vector<std::string>{Cleared, "status: 인터넷 사용가능",
                                      "message: 서버 접속에 실패하였습니다.", NotDone}));
  EXPECT_EQ(ReadFile(Home.SettingsFile()), "[Server]\nFTPHOST=old\nHOSTID=vantari\nHOSTPASS=old\n");
  EXPECT_FALSE(fs::exists(Server->PathOf("vantari.bck")));
}

TEST_F(WorkflowTest, UnansweredEchoStopsBeforeAnyLogin) {
  const std::string reason = RootSkipReason();
  if (!reason.empty())
    GTEST_SKIP() << reason;
  Config.PingWaitCeiling = 300; // instead of 10 seconds per echo
  Presenter();
  TNetNamespace isolated;
  isolated.IgnoreEchoRequests();
  Upload();
  EXPECT_EQ(Recorder.Log, (std::vector<std::string>{
                              Cleared, "message: 인터넷 연결이 되어있지 않습니다.", NotDone}));
  EXPECT_FALSE(fs::exists(Home.SettingsFile())) << "no login was tried";
  EXPECT_TRUE(Errors.empty());
}

TEST_F(WorkflowTest, MissingOrDamagedRemoteArchiveLeavesTheDataAndTheLocalArchiveUntouched) {
  Upload();
  const fs::path local = DataFolder / "Backup" / "vantari.bck";
  const std::string good = ReadFile(local);
  fs::remove(Server->PathOf("vantari.bck"));
  Recorder.Log.clear();
  Download();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"message: 파일 받기에 실패하였습니다."}));
  EXPECT_FALSE(Logged("status: 복원을 완료했습니다."));
  EXPECT_EQ(Contents(DataFolder), Sample);
  EXPECT_EQ(ReadFile(local), good) << "a failed download must not cost the last good copy";

  Server->WriteFile("vantari.bck", good.substr(0, good.size() - 40));
  Recorder.Log.clear();
  Download();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{RestoreFailed}));
  EXPECT_EQ(Contents(DataFolder), Sample) << "nothing may be deleted for a damaged download";
  EXPECT_EQ(ReadFile(local), good);
  EXPECT_TRUE(Errors.empty());
}

TEST_F(WorkflowTest, FirstDownloadOnAComputerWithoutABackupFolder) {
  Upload();
  fs::remove_all(DataFolder / "Backup");
  WriteOlder(DataFolder / "Sale.DB", "older work on the other computer");
  Recorder.Log.clear();
  Download();
  EXPECT_EQ(Folded(Recorder.Log), DownloadLog);
  EXPECT_EQ(Contents(DataFolder), Sample);
  EXPECT_EQ(VerifyWithTool((DataFolder / "Backup" / "vantari.bck").string()), 0);
  EXPECT_FALSE(fs::exists(DataFolder / "Backup" / "vantari.bck.part"));
}

TEST_F(WorkflowTest, DataFolderWithoutTablesSendsNothingAndKeepsTheLocalArchive) {
  for (const auto &[name, bytes] : Sample)
    fs::remove(DataFolder / name);
  WriteFile(DataFolder / "readme.txt", "not a table");
  fs::create_directories(DataFolder / "Backup");
  WriteFile(DataFolder / "Backup" / "vantari.bck", "the good local archive");
  Server->WriteFile("vantari.bck", "the good archive of yesterday");
  Upload();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"failure: 백업에 실패하였습니다."}));
  EXPECT_EQ(Server->ReadFile("vantari.bck"), "the good archive of yesterday");
  EXPECT_EQ(ReadFile(DataFolder / "Backup" / "vantari.bck"), "the good local archive");
  EXPECT_TRUE(Logged("status: 서버 단절"));
}

TEST_F(WorkflowTest, MissingDataFolderRefusesBeforeAnyNetworkStep) {
  for (const std::string &value :
       {std::string("\"\""), '"' + (Home.Root() / "gone").string() + '"'}) {
    SCOPED_TRACE(value);
    Home.WriteRegistry("\"DefaultDatabase\"=" + value);
    TWorkflowView view;
    view.Log = &Recorder.Log;
    TMainWindowPresenter window(view, Config);
    window.FormCreate();
    for (auto button : {&TMainWindowPresenter::Upload, &TMainWindowPresenter::Download}) {
      Recorder.Log.clear();
      (window.*button)();
      EXPECT_EQ(Recorder.Log, (std::vector<std::string>{Cleared, NoDataFolder, NotDone}));
    }
  }
  EXPECT_FALSE(fs::exists(Home.SettingsFile()));
}

TEST_F(WorkflowTest, ServerKeepingFewerBytesIsAFailedUpload) {
  // A server that answers 226 but keeps only half of what it was sent: its own hook for
  // received files cuts them short before it reads the next command.
  const fs::path hook = Home.Root() / "python-hook";
  fs::create_directories(hook);
  WriteFile(hook / "sitecustomize.py", "import os\n"
                                       "from pyftpdlib.handlers import FTPHandler\n"
                                       "def on_file_received(self, file):\n"
                                       "    os.truncate(file, os.path.getsize(file) // 2)\n"
                                       "FTPHandler.on_file_received = on_file_received\n");
  setenv("PYTHONPATH", hook.c_str(), 1);
  Server = std::make_unique<TFtpServer>();
  unsetenv("PYTHONPATH");
  Config.FtpPort = Server->Port();
  Upload();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"message: 파일 올리기를 실패하였습니다."}));
  // The short copy was caught under its temporary name and removed; nothing took the name.
  EXPECT_FALSE(fs::exists(Server->PathOf("vantari.bck")));
  EXPECT_FALSE(fs::exists(Server->PathOf("vantari.bck.new")));
  EXPECT_TRUE(Logged("status: 서버 단절"));
}

// Nothing is deleted any more: a read-only file moves into the snapshot with the rest.
TEST_F(WorkflowTest, ReadOnlyDataFileIsKeptInTheSnapshot) {
  Upload();
  WriteOlder(DataFolder / "Sale.DB", "read-only local copy");
  ASSERT_TRUE(FileSetReadOnly((DataFolder / "Sale.DB").string(), true));
  Recorder.Log.clear();
  Download();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{AllDone}));
  EXPECT_EQ(Contents(DataFolder), Sample);
  std::vector<fs::path> snapshots;
  for (const auto &entry : fs::directory_iterator(DataFolder / "Backup"))
    if (entry.is_directory())
      snapshots.push_back(entry.path());
  ASSERT_EQ(snapshots.size(), 1u);
  EXPECT_EQ(ReadFile(snapshots[0] / "Sale.DB"), "read-only local copy");
}

TEST_F(WorkflowTest, UndoItemBringsBackTheDataOfBeforeTheDownload) {
  Upload();
  WriteOlder(DataFolder / "Sale.DB", "work of the day");
  fs::remove(DataFolder / "UserInfo.DB");
  const TFolderContents before = Contents(DataFolder);
  Download();
  ASSERT_EQ(Contents(DataFolder), Sample);
  Recorder.Log.clear();
  Click(&TMainWindowPresenter::UndoDownload);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{AllDone}));
  EXPECT_EQ(Contents(DataFolder), before);
  EXPECT_FALSE(View.Running);
}

TEST_F(WorkflowTest, MissingSecondArchiveRestoresTheDataThenReportsFailure) {
  Config.SecondArchive = (Home.Root() / "no-zipcode.bck").string();
  Upload();
  fs::remove(DataFolder / "Item.idx");
  Recorder.Log.clear();
  Download();
  EXPECT_EQ(Boxes(), (std::vector<std::string>{RestoreFailed}));
  EXPECT_EQ(Contents(DataFolder), Sample);
}

TEST_F(WorkflowTest, ExceptionInAStepClosesTheSessionAndFreesTheButtons) {
  Config.SecondArchive = (Home.Root() / "garbage.bck").string();
  WriteFile(Config.SecondArchive, "xyz");
  Upload();
  Recorder.Log.clear();
  Download();
  EXPECT_EQ(Errors, std::vector<std::string>{"Cannot read archive"});
  EXPECT_EQ(Recorder.Log.back(), NotDone) << "never a step's success text";
  EXPECT_FALSE(Logged(AllDone));
  // The session was closed, so the next login works.
  Recorder.Log.clear();
  Upload();
  EXPECT_EQ(Folded(Recorder.Log), UploadLog);
}

} // namespace
} // namespace vantari::test
