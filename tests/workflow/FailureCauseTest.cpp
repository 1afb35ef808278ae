// Every failure box says what happened and what to do under its established first line. Each
// case is brought about for real (a wrong password, a stopped server, a full disk, a table
// held open, ...) through the workflow layer alone, so that Linux and Windows share it.
#include "RestoreFixture.h"

#include "DosDate.h"
#include "FailureTexts.h"
#include "FolderOps.h"
#include "IdWait.h"
#include "PrivateProfile.h"
#include "SettingsStore.h"
#include "SupportReport.h"
#include "SyncState.h"
#include "WorkflowTexts.h"

#include <ctime>
#include <functional>
#include <iostream>

#ifndef _WIN32
#include "NetNamespace.h"
#endif

namespace vantari::test {
namespace {

const std::string ConnectFailed = "서버 접속에 실패하였습니다.";

class FailureCauseTest : public RestoreTest {
public: // for the table's rows
  using RestoreTest::Archive;
  using RestoreTest::BackupFolder;
  using RestoreTest::Config;
  using RestoreTest::DataFolder;
  using RestoreTest::Download;
  using RestoreTest::Home;
  using RestoreTest::New;
  using RestoreTest::Recorder;
  using RestoreTest::Server;
  using RestoreTest::UndoDownload;
  using RestoreTest::Upload;
  using RestoreTest::View;
  using RestoreTest::Window;
  using RestoreTest::Workflow;

protected:
  void SetUp() override {
    RestoreTest::SetUp();
    // A table that does not compress: its archive outgrows a small disk.
    WriteFiles(DataFolder, {{"Item.DB", Noise(300000)}}, Year2020);
  }
};

struct TCauseCase {
  const char *Name;
  // Brings the case about and runs the workflow; returns what the workflow returned.
  std::function<bool(FailureCauseTest &)> Run;
  std::string Headline;
  bool FailureBox;
  std::string Cause; // empty: the row's Expect decides
  std::string NextStep;
  bool Root = false; // a network namespace or a mount of the test's own
  // What stands before the failing run (e.g. the server's archive).
  std::function<void(FailureCauseTest &)> Prepare = [](auto &) {};
};

std::ostream &operator<<(std::ostream &out, const TCauseCase &row) {
  return out << row.Name;
}

std::string Today() {
  const std::tm local = LocalTime(std::time(nullptr));
  char day[16];
  std::strftime(day, sizeof day, "%Y-%m-%d", &local);
  return day;
}

bool UploadWith(FailureCauseTest &t, const std::string &password) {
  t.Window();
  t.View.Password = password; // as typed into the window's box
  return t.Upload();
}

#ifndef _WIN32
// pyftpdlib answering every STOR as a server over its quota does.
const char *const ServerFullHook = R"PY(
from pyftpdlib.handlers import FTPHandler
def ftp_STOR(self, file, mode='w'):
    self.respond("552 Requested file action aborted. Exceeded storage allocation.")
FTPHandler.ftp_STOR = ftp_STOR
)PY";
#endif

std::vector<TCauseCase> Cases() {
  std::vector<TCauseCase> rows = {
      {"WrongPassword", [](auto &t) { return UploadWith(t, "not-the-password"); }, ConnectFailed,
       false, CauseWrongLogin, StepWrongLogin},
      {"StoppedServer",
       [](auto &t) {
         t.Server->Stop();
         return t.Upload();
       },
       ConnectFailed, false, CauseServerNotAnswering, StepServerNotAnswering},
      {"NothingOnTheServer", [](auto &t) { return t.Download(); }, TextDownloadFailed, false,
       CauseNoServerArchive, StepNoServerArchive},
      {"MissingDataFolder",
       [](auto &t) {
         t.Home.SetDataFolder(t.Home.Root() / "moved-away");
         return t.Upload();
       },
       TextNoDataFolder, false, "", StepNoDataFolder},
      {"TableHeldOpen",
       [](auto &t) {
         TFileHolder holder(t.DataFolder / "Sale.DB");
         return t.Upload();
       },
       std::string(TextInUse), false, "", StepTableInUse},
      {"CancelledDownload",
       [](auto &t) {
         t.Recorder.DuringRun = [] { IdRequestCancel(); };
         return t.Download();
       },
       TextDownloadFailed, false, CauseCancelled, StepCancelled, false,
       [](auto &t) { t.Server->WriteFile("vantari.bck", t.Archive(t.New, Year2024)); }},
      {"ServerNoLongerOffersTls", [](auto &t) { return t.Upload(); },
       "서버의 보안 인증서가 바뀌었습니다. 안전을 위해 접속하지 않았습니다.", false,
       CauseServerChanged, StepServerChanged, false,
       [](auto &t) { // an earlier session with this server ran over TLS
         WritePrivateProfileString("TLS:" + t.Server->Host(), "Offered", "1",
                                   TSettingsStore::SettingsFile());
       }},
      {"NoToTheNewerArchive", [](auto &t) { return t.Upload(); }, // answered No
       HeadlineNewerKept, false, CauseNewerKept, StepNewerKept, false,
       [](auto &t) {
         ASSERT_TRUE(t.Upload());
         t.Server->WriteFile("vantari.bck", t.Archive(t.New, Year2024)); // another computer's
         t.Recorder.Reports.clear();
       }},
      {"LineBreakInThePassword", [](auto &t) { return UploadWith(t, "pw\r\nDELE vantari.bck"); },
       TextBadLogin, false, CauseBadLogin, StepBadLogin},
      {"AnotherRunHoldsTheFolder",
       [](auto &t) {
         fs::create_directories(t.BackupFolder());
         const TFolderLock other(U8(t.BackupFolder()));
         if (!other.Held())
           throw std::runtime_error("cannot take the Backup folder's lock");
         return t.Download();
       },
       TextOtherInstance, false, CauseOtherInstance, StepOtherInstance, false,
       [](auto &t) { t.Server->WriteFile("vantari.bck", t.Archive(t.New, Year2024)); }},
      {"ArchiveWithoutTables", [](auto &t) { return t.Download(); }, TextNoTables, true,
       CauseArchiveWithoutTables, StepArchiveWithoutTables, false,
       [](auto &t) {
         t.Server->WriteFile("vantari.bck", t.Archive({{"readme.txt", "no books"}}, Year2024));
       }},
      {"UploadCutOffLeftNoWholeArchive", [](auto &t) { return t.Download(); }, TextDownloadFailed,
       false, CauseServerArchiveDamaged, StepServerArchiveDamaged, false,
       [](auto &t) { // only the cut-off upload's own file, and it is not whole
         const std::string whole = t.Archive(t.New, Year2024);
         t.Server->WriteFile("vantari.bck.new", whole.substr(0, whole.size() / 2));
       }},
      {"NothingToUndo", [](auto &t) { return t.UndoDownload(); }, TextNothingToUndo, false,
       CauseNothingToUndo, StepNothingToUndo},
      {"NoArchiveOfThatDay",
       [](auto &t) {
         t.Window().DownloadFrom("2001-02-03", false);
         return t.Window().Succeeded();
       },
       Format(TextNoArchiveOfDay, "2001-02-03"), false, "", StepNoArchiveOfDay, false,
       [](auto &t) {
         ASSERT_TRUE(t.Upload());
         t.Recorder.Reports.clear();
       }},
  };
#ifndef _WIN32
  // What needs a network or a mount of the test's own (root), or a server hook set through
  // the environment.
  const std::vector<TCauseCase> linux = {
      {"NoInternet",
       [](auto &t) {
         TNetNamespace network; // no server here, and echoes go unanswered
         network.IgnoreEchoRequests();
         t.Config.PingWaitCeiling = 300;
         return t.Upload();
       },
       TextNoInternet, false, CauseNoInternet, StepNoInternet, true},
      {"UnknownHostName",
       [](auto &t) {
         TNetNamespace network;
         TLoopbackResolver resolver;
         t.Config.FtpHost = "backup.vantari-test.invalid";
         return t.Upload();
       },
       ConnectFailed, false, CauseHostNotFound, StepHostNotFound, true},
      {"ServerStorageFull", [](auto &t) { return t.Upload(); }, TextUploadFailed, false,
       CauseServerFull, StepServerFull, false,
       [](auto &t) { // the server's quota refuses every upload
         const fs::path hook = t.Home.Root() / "python-hook";
         WriteFiles(hook, {{"sitecustomize.py", ServerFullHook}}, Year2024);
         setenv("PYTHONPATH", hook.c_str(), 1);
         t.Server = std::make_unique<TFtpServer>();
         unsetenv("PYTHONPATH");
         t.Config.FtpPort = t.Server->Port();
       }},
      {"LocalDiskFull",
       [](auto &t) {
         TSmallFileSystem small(t.BackupFolder(), "64k");
         if (!small.Error().empty())
           throw std::runtime_error("cannot mount a tmpfs: " + small.Error());
         return t.Upload();
       },
       TextBackupFailed, true, CauseDiskFull, StepDiskFull, true},
  };
  rows.insert(rows.end(), linux.begin(), linux.end());
#endif
  return rows;
}

class FailureCauses : public FailureCauseTest, public ::testing::WithParamInterface<TCauseCase> {};

TEST_P(FailureCauses, BoxSaysWhatHappenedAndWhatToDoAndChangesNothing) {
  const TCauseCase &row = GetParam();
#ifndef _WIN32
  if (const std::string why = RootSkipReason(); row.Root && !why.empty())
    GTEST_SKIP() << why;
#endif
  row.Prepare(*this);
  const TContents data = Contents(DataFolder);
  const std::string archive = Server->PathOf("vantari.bck");
  const std::string onServer = fs::exists(archive) ? Server->ReadFile("vantari.bck") : "";

  EXPECT_FALSE(row.Run(*this));

  for (const TFailureReport &shown : Recorder.Reports)
    std::cout << "[" << row.Name << "] " << (shown.FailureBox ? "failure box" : "message box")
              << "\n"
              << shown.Text() << "\n-- details --\n"
              << shown.Details << std::endl;
  ASSERT_EQ(Recorder.Reports.size(), 1u) << "one box";
  const TFailureReport &box = Recorder.Reports.front();
  EXPECT_EQ(box.Headline, row.Headline);
  EXPECT_EQ(box.Text().substr(0, row.Headline.size() + 1), row.Headline + "\n");
  EXPECT_EQ(box.FailureBox, row.FailureBox);
  EXPECT_EQ(box.NextStep, row.NextStep);
  EXPECT_NE(box.Details.find(DetailTime), std::string::npos);
  if (!row.Cause.empty())
    EXPECT_EQ(box.Cause, row.Cause);
  else if (row.NextStep == StepNoArchiveOfDay) // names the oldest day there is: today's upload
    EXPECT_EQ(box.Cause.rfind("서버에 남아 있는 가장 오래된 백업은 " + Today(), 0), 0u)
        << box.Cause;
  else if (row.Headline == TextNoDataFolder)
    EXPECT_EQ(box.Cause, Format(CauseNoDataFolder, (Home.Root() / "moved-away").string().c_str()));
  else
#ifdef _WIN32 // the Restart Manager of Wine names no program
    EXPECT_NE(box.Cause.find("자료 파일을 열어 두고 있습니다."), std::string::npos);
#else // the holder is sleep(1), exec'd by the shell that opened the table
    EXPECT_EQ(box.Cause, Format(CauseTableInUse, "sleep"));
#endif

  // Whatever went wrong, the data folder and the server's archive are as they were.
  EXPECT_EQ(Contents(DataFolder), data);
  EXPECT_EQ(fs::exists(archive) ? Server->ReadFile("vantari.bck") : "", onServer);
  ExpectNoLeftovers();
}

INSTANTIATE_TEST_SUITE_P(Rows, FailureCauses, ::testing::ValuesIn(Cases()),
                         [](const auto &info) { return std::string(info.param.Name); });

// Whatever the program wrote (log, sync state, archives, journal) holds no password; only the
// settings file keeps the one that logged in last.
TEST_F(FailureCauseTest, NoPasswordInTheLogTheReportOrAnyFileButTheSettings) {
  const std::string wrong = "wr0ng-but-typed";
  ASSERT_TRUE(Upload());
  Recorder.YesNoAnswers = {true, true};
  Download();
  EXPECT_FALSE(UploadWith(*this, wrong));
  RecordNightlyRun(Workflow(), Server->User(), false);
  const std::string report = SupportReport(Workflow(), Server->User());
  std::cout << report << std::endl;

  EXPECT_NE(report.find(Config.FtpHost + ":" + std::to_string(Config.FtpPort)), std::string::npos);
  EXPECT_NE(report.find("upload: done"), std::string::npos) << "the log's lines are in it";
  int scanned = 0;
  for (const auto &entry : fs::recursive_directory_iterator(Home.Root())) {
    if (!entry.is_regular_file() || entry.path().filename() == Home.SettingsFile().filename())
      continue;
    ++scanned;
    const std::string bytes = ReadFile(entry.path());
    for (const std::string &password : {Server->Password(), wrong})
      EXPECT_EQ(bytes.find(password), std::string::npos) << password << " in " << entry.path();
  }
  EXPECT_GE(scanned, 4) << "the log, the sync state and the archives at least";
  for (const std::string &password : {Server->Password(), wrong})
    EXPECT_EQ(report.find(password), std::string::npos);
}

// The nightly upload failed: the next start of the window finds why and what to do, until an
// upload succeeds.
TEST_F(FailureCauseTest, FailedNightlyUploadIsToldAtTheNextStart) {
  EXPECT_FALSE(UploadWith(*this, "changed-elsewhere"));
  RecordNightlyRun(Workflow(), Server->User(), false);

  const TSyncState nextStart; // read afresh, as the window does
  EXPECT_EQ(nextStart.NightlyNotice(Server->User()), std::string(NoticeNightlyFailed) +
                                                         CauseWrongLogin + "\n" + StepWrongLogin +
                                                         "\n" + NoticeUploadNow);
  EXPECT_TRUE(UploadWith(*this, Server->Password()));
  EXPECT_EQ(TSyncState().NightlyNotice(Server->User()), "");
}

} // namespace
} // namespace vantari::test
