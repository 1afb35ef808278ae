// The upload and download workflows on the network path: the server's last good archive
// survives a cut upload, versions rotate, another computer's upload is not replaced without a
// Yes, passive mode is remembered, a window close cancels, and a cut download resumes.
#include "FileSystem.h"
#include "IdFTP.h"
#include "IdWait.h"
#include "NetNamespace.h"
#include "QtHostUI.h"
#include "ServerSession.h"
#include "StatusBar.h"
#include "SyncState.h"
#include "Unit1.h"
#include "Workflow.h"
#include "WorkflowFixture.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vantari::test {
namespace {

namespace fs = std::filesystem;

const std::string AllDone = "message: 모든 작업을 정상적으로 완료하였습니다.";
const std::string UploadFailed = "message: 파일 올리기를 실패하였습니다.";
const std::string DownloadFailed = "message: 파일 받기에 실패하였습니다.";
const std::vector<std::string> RefusedLogin = {
    "status: ", "message: 사용자 아이디나 비밀번호에 쓸 수 없는 글자가 있습니다.",
    "status: 작업을 마치지 못했습니다."};
const std::string NewerOnServer = "다른 컴퓨터에서 더 최근에 올린 자료가 서버에 있습니다.\n그래도 "
                                  "이 컴퓨터의 자료로 바꾸시겠습니까?";

// Echo requests sent so far from the network namespace of the calling thread.
int EchoRequestsSent() {
  std::ifstream snmp("/proc/thread-self/net/snmp");
  std::string names, values;
  while (std::getline(snmp, names) && std::getline(snmp, values)) {
    if (names.rfind("IcmpMsg:", 0) != 0)
      continue;
    std::istringstream name(names), value(values);
    std::string key, count;
    while (name >> key && value >> count)
      if (key == "OutType8")
        return std::stoi(count);
  }
  return 0;
}

class NetworkPathTest : public WorkflowTest {
protected:
  // A server whose pyftpdlib carries the given Python hook (run at its start-up).
  void ServerWithHook(const std::string &python, TFtpServerOptions options = {}) {
    const fs::path hook = Home.Root() / "python-hook";
    fs::create_directories(hook);
    WriteFile(hook / "sitecustomize.py", python);
    setenv("PYTHONPATH", hook.c_str(), 1);
    Server = std::make_unique<TFtpServer>(options);
    unsetenv("PYTHONPATH");
    Config.FtpPort = Server->Port();
  }
  void ServerWith(TFtpServerOptions options) {
    Server = std::make_unique<TFtpServer>(options);
    Config.FtpPort = Server->Port();
  }
  std::string LocalArchive() const { return ReadFile(DataFolder / "Backup" / "vantari.bck"); }
  std::string ServerFile(const std::string &name) const { return Server->ReadFile(name); }
  // Changes a table so that the next archive differs.
  void ChangeData(const std::string &text) { WriteFile(DataFolder / "Sale.DB", text); }
  std::vector<std::string> Questions() const { return Recorder.Texts("question"); }
};

// The server drops the data connection of every upload after 100000 bytes and says so.
const char *const CutUploads = R"PY(
import socket, struct
from pyftpdlib.handlers import DTPHandler
_read = DTPHandler.handle_read
def handle_read(self):
    _read(self)
    if self.receive and self.tot_bytes_received > 100000:
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self._resp = ("426 Connection lost; transfer aborted.", lambda *args, **kwargs: None)
        self.close()
DTPHandler.handle_read = DTPHandler.handle_read_event = handle_read
)PY";

TEST_F(NetworkPathTest, CutUploadLeavesThePreviousArchiveWholeOnTheServer) {
  ServerWithHook(CutUploads);
  ChangeData("small");
  WriteFile(DataFolder / "Item.dat", "no longer large"); // this archive gets through whole
  Upload();
  ASSERT_TRUE(Logged(AllDone));
  const std::string previous = ServerFile("vantari.bck");
  ASSERT_EQ(previous, LocalArchive());

  WriteFile(DataFolder / "Item.dat", Sample.at("Item.dat")); // large again: it gets cut
  Recorder.Log.clear();
  Upload();
  EXPECT_TRUE(Logged(UploadFailed));
  EXPECT_FALSE(Logged(AllDone));
  EXPECT_FALSE(Logged("status: 전송을 완료했습니다.")) << "the server said the transfer failed";
  EXPECT_EQ(Recorder.Log.back(), "status: 작업을 마치지 못했습니다.");
  EXPECT_TRUE(ServerFile("vantari.bck") == previous) << "the last good archive was touched";
  EXPECT_FALSE(fs::exists(Server->PathOf("vantari.bck.new")));
}

// With the history off ([History] all 0), the two numbered versions of before.
TEST_F(NetworkPathTest, VersionsRotateAndTheNewestHasTheName) {
  WriteFile(Home.SettingsFile(), "[History]\nDays=0\nWeeks=0\nMonths=0\n");
  std::vector<std::string> archives;
  for (const char *sales : {"first", "second", "third"}) {
    ChangeData(sales);
    Upload();
    ASSERT_TRUE(Logged(AllDone));
    archives.push_back(LocalArchive());
    Recorder.Log.clear();
  }
  EXPECT_TRUE(ServerFile("vantari.bck") == archives[2]);
  EXPECT_TRUE(ServerFile("vantari.bck.1") == archives[1]);
  EXPECT_TRUE(ServerFile("vantari.bck.2") == archives[0]);
  EXPECT_FALSE(fs::exists(Server->PathOf("vantari.bck.new")));
  EXPECT_TRUE(Questions().empty()) << "only this computer uploaded";
}

TEST_F(NetworkPathTest, ServerThatRefusesRenamingGetsThePlainUpload) {
  TFtpServerOptions options;
  options.DisabledCommands = {"RNFR", "RNTO"};
  ServerWith(options);
  Upload();
  EXPECT_TRUE(Logged(AllDone));
  EXPECT_TRUE(ServerFile("vantari.bck") == LocalArchive());
  EXPECT_FALSE(fs::exists(Server->PathOf("vantari.bck.new")));
}

TEST_F(NetworkPathTest, AnotherComputersUploadIsReplacedOnlyAfterAYes) {
  Upload();
  ASSERT_TRUE(Logged(AllDone));
  // Another computer uploads: the server's archive is now another one.
  const std::string theirs = "an archive from the office computer";
  Server->WriteFile("vantari.bck", theirs);
  ChangeData("older home data");

  Recorder.Log.clear();
  Upload(); // the recorder answers No, the default
  EXPECT_EQ(Questions(), (std::vector<std::string>{NewerOnServer}));
  EXPECT_EQ(ServerFile("vantari.bck"), theirs) << "No sends nothing";
  EXPECT_FALSE(Logged(AllDone));
  EXPECT_FALSE(Logged("status: 파일을 올리는 중..."));

  Recorder.Log.clear();
  Recorder.YesNoAnswers = {true};
  Upload();
  EXPECT_EQ(Questions().size(), 2u);
  EXPECT_TRUE(Logged(AllDone));
  EXPECT_TRUE(ServerFile("vantari.bck") == LocalArchive());
  // Theirs is kept in the history, under the date the server gives it.
  std::vector<std::string> kept;
  for (const auto &entry : fs::directory_iterator(Server->Home()))
    if (ParseHistoryName("vantari.bck", entry.path().filename().string()) &&
        ReadFile(entry.path()) == theirs)
      kept.push_back(entry.path().filename().string());
  EXPECT_EQ(kept.size(), 1u);
}

TEST_F(NetworkPathTest, PassiveModeIsRememberedForTheServer) {
  TFtpServerOptions options;
  options.DisabledCommands = {"PORT", "EPRT"};
  ServerWith(options);
  Upload();
  ASSERT_TRUE(Logged(AllDone));
  EXPECT_TRUE(Presenter().Workflow().SyncState().PassiveWorks(Server->Host()));
  bool startedPassive = false;
  Recorder.DuringRun = [&] { startedPassive = Presenter().Workflow().Session().FTP().Passive(); };
  Recorder.DefaultYesNoAnswer = true;
  Recorder.Log.clear();
  Download();
  EXPECT_TRUE(Logged(AllDone));
  EXPECT_TRUE(startedPassive) << "the next session starts in passive mode";
}

// The server takes uploads slowly, so that the transfer waits on it.
const char *const SlowUploads = R"PY(
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
ThrottledDTPHandler.read_limit = 64 * 1024
FTPHandler.dtp_handler = ThrottledDTPHandler
)PY";

// A close that reaches the window through the event loop while the transfer waits: the
// program's own repaint pump lets it through, Yes cancels, and the window then closes.
TEST_F(NetworkPathTest, ClosingTheWindowDuringTheTransferCancelsThenCloses) {
  ServerWithHook(SlowUploads);
  const std::string onServer = "the last good archive";
  Server->WriteFile("vantari.bck", onServer);
  const TFolderContents before = Contents(DataFolder);
  TForm1 form(Config);
  form.findChild<QLineEdit *>("UserIDEdit")->setText(QString::fromStdString(Server->User()));
  form.findChild<QLineEdit *>("PasswordEdit")->setText(QString::fromStdString(Server->Password()));
  TQtHostUI program;
  Recorder.OnPaint = [&] { program.ProcessPaintEvents(); };
  form.show();
  // Once the transfer starts, the window system asks the window to close.
  auto *status = form.findChild<TStatusBar *>("StatusBar");
  std::function<void()> closeDuringTransfer = [&] {
    if (status->PanelText(1).toStdString() == "파일을 올리는 중...")
      QCoreApplication::postEvent(form.windowHandle(), new QCloseEvent);
    else
      Recorder.DuringRun = closeDuringTransfer;
  };
  Recorder.DuringRun = closeDuringTransfer;
  Recorder.YesNoAnswers = {true};
  form.btnBackupWizardClick();
  EXPECT_EQ(Questions(), (std::vector<std::string>{"작업을 취소하시겠습니까?"}));
  EXPECT_TRUE(Logged(UploadFailed));
  EXPECT_FALSE(Logged(AllDone));
  EXPECT_TRUE(ServerFile("vantari.bck") == onServer) << "the last good archive was replaced";
  EXPECT_TRUE(Contents(DataFolder) == before);
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(IdCancelRequested()) << "the next run would start cancelled";
}

TEST_F(NetworkPathTest, UserIdOrPasswordThatWouldBreakACommandIsRefusedBeforeTheNetwork) {
  for (const std::string &user : {std::string("vantari\r\nDELE x"), std::string("van\ntari")}) {
    SetLogin(user, Server->Password());
    Recorder.Log.clear();
    Upload();
    EXPECT_EQ(Recorder.Log, RefusedLogin);
  }
  SetLogin(Server->User(), std::string("pw\0x", 4));
  Recorder.Log.clear();
  Download();
  EXPECT_EQ(Recorder.Log, RefusedLogin);
  // Blanks around the user ID are dropped, so this logs in as the server's user.
  SetLogin("  " + Server->User() + " ", Server->Password());
  Recorder.Log.clear();
  Upload();
  EXPECT_TRUE(Logged(AllDone));
  EXPECT_TRUE(fs::exists(Server->PathOf("vantari.bck")));
}

TEST_F(NetworkPathTest, NetworkThatSwallowsEchoesStillUploadsWhenTheServerAnswers) {
  if (const std::string why = RootSkipReason(); !why.empty())
    GTEST_SKIP() << why;
  TNetNamespace network;
  network.IgnoreEchoRequests();
  ServerWith({}); // inside the namespace, where echoes go unanswered
  Config.PingWaitCeiling = 300;
  Upload();
  EXPECT_TRUE(Logged("status: 인터넷 사용가능"));
  EXPECT_TRUE(Logged(AllDone));
  EXPECT_EQ(EchoRequestsSent(), 1)
      << "each echo's limit was waited out before the server was asked";
  EXPECT_TRUE(ServerFile("vantari.bck") == LocalArchive());
  Server.reset();
}

// The server ends every RETR from the start normally after 100000 bytes, announcing
// success; only a RETR after REST goes through.
const char *const CutFirstDownload = R"PY(
from pyftpdlib.handlers import FTPHandler, DTPHandler
FTPHandler.use_sendfile = False
_retr = FTPHandler.ftp_RETR
def ftp_RETR(self, file):
    self._cut_next = self._restart_position == 0
    return _retr(self, file)
FTPHandler.ftp_RETR = ftp_RETR
_send = DTPHandler.send
def send(self, data):
    result = _send(self, data)
    if getattr(self.cmd_channel, "_cut_next", False) and self.tot_bytes_sent > 100000:
        self.cmd_channel._cut_next = False
        self._resp = ("226 Transfer complete.", lambda *args, **kwargs: None)
        self.close()
    return result
DTPHandler.send = send
)PY";

TEST_F(NetworkPathTest, DownloadCutShortFailsThenResumesIntoItsPartFile) {
  ServerWithHook(CutFirstDownload);
  Upload();
  ASSERT_TRUE(Logged(AllDone));
  const std::string archive = ServerFile("vantari.bck");
  ASSERT_GT(archive.size(), 150000u);
  ChangeData("changed after the upload");
  const TFolderContents before = Contents(DataFolder);
  Recorder.DefaultYesNoAnswer = true; // yes, replace the newer local work

  Recorder.Log.clear();
  Download();
  EXPECT_TRUE(Logged(DownloadFailed)) << "a short file passed for the archive";
  EXPECT_TRUE(Contents(DataFolder) == before) << "a cut download reached the restore";
  const std::string part = (DataFolder / "Backup" / "vantari.bck.part").string();
  ASSERT_TRUE(fs::exists(part));
  EXPECT_GT(fs::file_size(part), 100000u);
  EXPECT_LT(fs::file_size(part), archive.size());

  Recorder.Log.clear();
  Download();
  EXPECT_TRUE(Logged(AllDone));
  EXPECT_TRUE(LocalArchive() == archive);
  EXPECT_EQ(ReadFile(DataFolder / "Sale.DB"), Sample.at("Sale.DB"));
}

} // namespace
} // namespace vantari::test
