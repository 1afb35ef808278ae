// vantari-cli as a user or a timer runs it: a separate process, no terminal, against a real
// FTP server on loopback, in a private home.
#include "AppTestEnvironment.h"
#include "CliProcess.h"
#include "FailureTexts.h"
#include "FtpServer.h"
#include "NightlyTask.h"
#include "ServerHistory.h"
#include "SyncState.h"
#include "TlsFtpServers.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace vantari::test {
namespace {

namespace fs = std::filesystem;
const char *const kAllDone = "모든 작업을 정상적으로 완료하였습니다.";

// Lines of a text in order, each found after the one before.
bool InOrder(const std::string &text, const std::vector<std::string> &lines) {
  size_t at = 0;
  for (const std::string &line : lines) {
    at = text.find(line, at);
    if (at == std::string::npos)
      return false;
    at += line.size();
  }
  return true;
}

void SetTime(const fs::path &path, time_t when) {
  const utimbuf times{when, when};
  ASSERT_EQ(utime(path.c_str(), &times), 0) << path;
}

class CliTest : public ::testing::Test {
protected:
  CliTest() {
    unsetenv("VANTARI_PASSWORD");
    DataFolder = Home.Root() / "Lumora Data";
    fs::create_directories(DataFolder);
    Sample = {{"AssemblyItem.DB", "assembly rows"},
              {"Item.DB", std::string(200000, 'i') + "end"},
              {"Item.IDX", "index \x01\x02"},
              {"Sale.DB", "sale rows"},
              {"UserInfo.DB", "user info"}};
    for (const auto &[name, bytes] : Sample)
      WriteFile(DataFolder / name, bytes);
    Home.SetDataFolder(DataFolder.string() + "/");
    // The user ID of an earlier login in the window.
    WriteFile(Home.SettingsFile(), "[Server]\nHOSTID=" + Server.User() + "\n");
  }

  // Runs vantari-cli against the test server with the server's password in the environment
  // unless the environment given says otherwise.
  TCliResult Cli(std::vector<std::string> args, TCliProcess::TEnvironment environment = {},
                 const std::function<void(pid_t)> &whileRunning = nullptr, int port = 0) {
    std::vector<std::string> argv = {
        VANTARI_BINARY_DIR "/tools/cli/vantari-cli", "--host",        Server.Host(), "--port",
        std::to_string(port ? port : Server.Port()), "--ping-target", "127.0.0.1"};
    argv.insert(argv.end(), args.begin(), args.end());
    environment.emplace("VANTARI_PASSWORD", Server.Password());
    if (environment["VANTARI_PASSWORD"] == "-")
      environment.erase("VANTARI_PASSWORD");
    return TCliProcess::Run(argv, environment, 120, whileRunning);
  }

  fs::path PasswordFile(const std::string &password, mode_t mode) {
    const fs::path file = Home.Root() / "password";
    WriteFile(file, password + "\n");
    chmod(file.c_str(), mode);
    return file;
  }

  // The data as another computer has it: older than any archive, so no question comes.
  void AgeData() {
    for (const auto &entry : fs::directory_iterator(DataFolder))
      if (entry.is_regular_file())
        SetTime(entry.path(), 1577836800); // 2020-01-01
  }

  TUserHome Home;
  TFtpServer Server;
  fs::path DataFolder;
  TContents Sample;
};

TEST_F(CliTest, UploadThenDownloadBringsTheUploadedDataBack) {
  const TCliResult up = Cli({"upload"});
  ASSERT_EQ(up.ExitStatus, 0) << up.Err;
  EXPECT_TRUE(
      InOrder(up.Err, {"인터넷 사용가능", "서버 접속 완료", "백업을 완료했습니다.",
                       "파일을 올리는 중...", "전송을 완료했습니다.", kAllDone, "서버 단절"}))
      << up.Err;
  EXPECT_EQ(up.Err.find('\r'), std::string::npos) << "a progress line without a terminal";
  const fs::path local = DataFolder / "Backup" / (Server.User() + ".bck");
  ASSERT_TRUE(fs::exists(Server.PathOf(Server.User() + ".bck")));
  EXPECT_EQ(Server.ReadFile(Server.User() + ".bck"), ReadFile(local));
  // The same settings as the window's login keeps.
  const std::string ini = ReadFile(Home.SettingsFile());
  EXPECT_NE(ini.find("FTPHOST=127.0.0.1"), std::string::npos) << ini;
  EXPECT_NE(ini.find("HOSTID=" + Server.User()), std::string::npos) << ini;

  fs::remove(DataFolder / "AssemblyItem.DB");
  WriteFile(DataFolder / "Stray.tmp", "not a table");
  const TCliResult down = Cli({"download"});
  ASSERT_EQ(down.ExitStatus, 0) << down.Err;
  EXPECT_TRUE(InOrder(down.Err, {"파일을 받는 중...", "전송을 완료했습니다.",
                                 "복원을 완료했습니다.", "서버 단절", kAllDone}))
      << down.Err;
  EXPECT_EQ(Contents(DataFolder), Sample);
}

TEST_F(CliTest, UndoBringsBackTheDataAsItWasBeforeTheDownload) {
  const TCliResult nothing = Cli({"undo-download"}, {{"VANTARI_PASSWORD", "-"}});
  EXPECT_EQ(nothing.ExitStatus, 1);
  EXPECT_NE(nothing.Err.find("되돌릴 이전 자료가 없습니다."), std::string::npos) << nothing.Err;
  EXPECT_EQ(Contents(DataFolder), Sample);

  ASSERT_EQ(Cli({"upload"}).ExitStatus, 0);
  // Work here that is older than the archive (no question), and a file of another program.
  WriteFile(DataFolder / "AssemblyItem.DB", "changed here");
  SetTime(DataFolder / "AssemblyItem.DB", 1577836800); // 2020-01-01
  WriteFile(DataFolder / "Stray.tmp", "stray");
  const TContents before = Contents(DataFolder);
  const TCliResult down = Cli({"download"});
  ASSERT_EQ(down.ExitStatus, 0) << down.Err;
  EXPECT_EQ(Contents(DataFolder), Sample);

  // No password needed: nothing goes to the server.
  const TCliResult undo = Cli({"undo-download"}, {{"VANTARI_PASSWORD", "-"}});
  ASSERT_EQ(undo.ExitStatus, 0) << undo.Err;
  EXPECT_TRUE(InOrder(undo.Err, {"되돌리기를 완료했습니다.", kAllDone})) << undo.Err;
  EXPECT_EQ(Contents(DataFolder), before);
}

// Unattended, the question before replacing newer work here is answered No, even with --yes.
TEST_F(CliTest, YesNeverConfirmsReplacingNewerLocalData) {
  ASSERT_EQ(Cli({"upload"}).ExitStatus, 0);
  WriteFile(DataFolder / "Sale.DB", "today's sales, made after the backup");
  SetTime(DataFolder / "Sale.DB", time(nullptr) + 3600);
  const TContents before = Contents(DataFolder);
  for (const char *yes : {"--yes", "--quiet"}) {
    const TCliResult down = Cli({yes, "download"});
    EXPECT_EQ(down.ExitStatus, 1) << yes;
    EXPECT_NE(down.Err.find("그래도 서버의 자료로 바꾸시겠습니까? -> no"), std::string::npos)
        << down.Err;
    EXPECT_EQ(Contents(DataFolder), before) << yes;
  }
}

TEST_F(CliTest, DownloadWithoutAnArchiveOnTheServerLeavesTheDataAlone) {
  const TCliResult down = Cli({"download"});
  EXPECT_EQ(down.ExitStatus, 1);
  EXPECT_NE(down.Err.find("파일 받기에 실패하였습니다."), std::string::npos) << down.Err;
  EXPECT_NE(down.Err.find("download failed"), std::string::npos) << down.Err;
  EXPECT_EQ(Contents(DataFolder), Sample);
}

TEST_F(CliTest, StatusShowsTheServerArchiveAndTheNewestLocalChange) {
  const TCliResult none = Cli({"status"}, {{"TZ", "UTC"}});
  ASSERT_EQ(none.ExitStatus, 0) << none.Err;
  EXPECT_NE(none.Out.find("server archive: vantari.bck, none on the server"), std::string::npos)
      << none.Out;

  Server.WriteFile("vantari.bck", std::string(12345, 'x'));
  SetTime(Server.PathOf("vantari.bck"), 1767323096); // 2026-01-02 03:04:56 UTC
  for (const auto &entry : Sample)
    SetTime(DataFolder / entry.first, 1767225600); // 2026-01-01 00:00:00 UTC
  SetTime(DataFolder / "Sale.DB", 1772600767);     // 2026-03-04 05:06:07 UTC
  WriteFile(DataFolder / "Stray.tmp", "newer, but no table of the accounting program");

  const TCliResult status = Cli({"status"}, {{"TZ", "UTC"}});
  ASSERT_EQ(status.ExitStatus, 0) << status.Err;
  EXPECT_NE(status.Out.find("server archive: vantari.bck, 12345 bytes, 2026-01-02 03:04:56"),
            std::string::npos)
      << status.Out;
  EXPECT_NE(status.Out.find("5 table files, newest change 2026-03-04 05:06:07 (Sale.DB)"),
            std::string::npos)
      << status.Out;
  // In another time zone the same moments read as local time.
  const TCliResult seoul = Cli({"status"}, {{"TZ", "Asia/Seoul"}});
  EXPECT_NE(seoul.Out.find("12345 bytes, 2026-01-02 12:04:56"), std::string::npos) << seoul.Out;
}

// status logs in through the same trust checks as an upload: after an upload pinned the
// server's certificate, another certificate at the same address, or the same address without
// TLS, gets no user name and no password.
TEST_F(CliTest, StatusRefusesAnotherServerAtTheSameAddressBeforeTheLogin) {
  TTlsFtpServerOptions options;
  options.User = Server.User();
  options.Password = Server.Password();
  auto tls = std::make_unique<TPyTlsFtpServer>(options);
  options.Port = tls->Port();
  const TCliResult up = Cli({"upload"}, {}, nullptr, options.Port);
  ASSERT_EQ(up.ExitStatus, 0) << up.Err;
  const std::string pinned = ReadFile(Home.SettingsFile());
  ASSERT_NE(pinned.find("[TLS:127.0.0.1]"), std::string::npos) << pinned;

  for (const bool offerTls : {true, false}) {
    SCOPED_TRACE(offerTls ? "another certificate" : "no TLS");
    tls.reset();
    options.OfferTls = offerTls;
    tls = std::make_unique<TPyTlsFtpServer>(options);
    const TCliResult status = Cli({"status"}, {}, nullptr, options.Port);
    EXPECT_EQ(status.ExitStatus, 1) << status.Out;
    const std::vector<std::string> verbs = tls->Commands();
    EXPECT_EQ(std::count(verbs.begin(), verbs.end(), "USER"), 0);
    EXPECT_EQ(std::count(verbs.begin(), verbs.end(), "PASS"), 0);
    EXPECT_EQ(ReadFile(Home.SettingsFile()), pinned) << "nothing pinned, under no name";
  }
}

TEST_F(CliTest, WrongPasswordFailsAndStoresNothing) {
  const std::string before = ReadFile(Home.SettingsFile());
  const TCliResult up = Cli({"upload"}, {{"VANTARI_PASSWORD", "wrong"}});
  EXPECT_EQ(up.ExitStatus, 1);
  EXPECT_NE(up.Err.find("서버 접속에 실패하였습니다."), std::string::npos) << up.Err;
  EXPECT_NE(up.Err.find("upload failed (exit status 1): 서버 접속에 실패하였습니다."),
            std::string::npos)
      << up.Err;
  EXPECT_EQ(ReadFile(Home.SettingsFile()), before);
  EXPECT_FALSE(fs::exists(Server.PathOf("vantari.bck")));
  EXPECT_FALSE(fs::exists(DataFolder / "Backup"));

  const TCliResult status = Cli({"status"}, {{"VANTARI_PASSWORD", "wrong"}});
  EXPECT_EQ(status.ExitStatus, 1);
  EXPECT_EQ(ReadFile(Home.SettingsFile()), before);
}

// A timer's run: standard error goes to the journal. The failure lines carry the journal's
// error priority, so "journalctl -p err" finds them; the others stay plain.
TEST_F(CliTest, InTheJournalAFailedRunLeavesLinesAtErrorPriority) {
  const TCliResult up =
      Cli({"upload"}, {{"VANTARI_PASSWORD", "wrong"}, {"JOURNAL_STREAM", "set by the run"}});
  EXPECT_EQ(up.ExitStatus, 1);
  EXPECT_EQ(up.Err.rfind("인터넷 사용가능\n", 0), 0u) << up.Err;
  EXPECT_NE(up.Err.find("\n<3>서버 접속에 실패하였습니다.\n"), std::string::npos) << up.Err;
  EXPECT_NE(
      up.Err.find("<3>vantari-cli: upload failed (exit status 1): 서버 접속에 실패하였습니다."),
      std::string::npos)
      << up.Err;

  const TCliResult ok = Cli({"upload"}, {{"JOURNAL_STREAM", "set by the run"}});
  EXPECT_EQ(ok.ExitStatus, 0) << ok.Err;
  EXPECT_EQ(ok.Err.find("<3>"), std::string::npos) << ok.Err;
  // Standard error elsewhere than the journal named in the variable: no priority marks.
  const TCliResult plain = Cli({"upload"}, {{"VANTARI_PASSWORD", "wrong"}});
  EXPECT_EQ(plain.Err.find("<3>"), std::string::npos) << plain.Err;
}

// On a terminal the transfer shows as a progress line rewritten in place, with the speed.
TEST_F(CliTest, OnATerminalAProgressLineShowsTheTransfer) {
  if (access("/usr/bin/script", X_OK) != 0)
    GTEST_SKIP() << "/usr/bin/script (util-linux) is needed for a terminal";
  std::string command = VANTARI_BINARY_DIR "/tools/cli/vantari-cli --host 127.0.0.1 --port " +
                        std::to_string(Server.Port()) + " --ping-target 127.0.0.1 upload";
  const TCliResult run = TCliProcess::Run({"/usr/bin/script", "-qec", command, "/dev/null"},
                                          {{"VANTARI_PASSWORD", Server.Password()}});
  ASSERT_EQ(run.ExitStatus, 0) << run.Out;
  EXPECT_TRUE(
      std::regex_search(run.Out, std::regex("\r *[0-9]+%  Uploade speed [0-9]+\\.[0-9]{2} KB/s")))
      << run.Out;
  EXPECT_NE(run.Out.find(kAllDone), std::string::npos) << run.Out;
}

TEST_F(CliTest, PasswordOnlyFromTheEnvironmentOrAFileOnlyItsOwnerCanRead) {
  const TCliResult onLine = Cli({"--password", "hunter2", "status"});
  EXPECT_EQ(onLine.ExitStatus, 2);
  EXPECT_EQ(onLine.Err.find("hunter2"), std::string::npos) << onLine.Err;
  EXPECT_EQ(Cli({"--password=hunter2", "status"}).ExitStatus, 2);

  const TCliResult missing = Cli({"status"}, {{"VANTARI_PASSWORD", "-"}});
  EXPECT_EQ(missing.ExitStatus, 2);
  EXPECT_NE(missing.Err.find("VANTARI_PASSWORD"), std::string::npos) << missing.Err;

  const fs::path file = PasswordFile(Server.Password(), 0644);
  const TCliResult shared =
      Cli({"--password-file", file.string(), "upload"}, {{"VANTARI_PASSWORD", "-"}});
  EXPECT_EQ(shared.ExitStatus, 1);
  EXPECT_NE(shared.Err.find("chmod 600"), std::string::npos) << shared.Err;
  EXPECT_FALSE(fs::exists(Server.PathOf("vantari.bck"))) << "nothing is sent";

  chmod(file.c_str(), 0600);
  const fs::path link = Home.Root() / "password-link";
  fs::create_symlink(file, link);
  EXPECT_EQ(
      Cli({"--password-file", link.string(), "status"}, {{"VANTARI_PASSWORD", "-"}}).ExitStatus, 1)
      << "a link could be swapped between the check and the read";

  const TCliResult own =
      Cli({"--password-file", file.string(), "status"}, {{"VANTARI_PASSWORD", "-"}});
  EXPECT_EQ(own.ExitStatus, 0) << own.Err;
}

TEST_F(CliTest, PasswordIsNeverInTheProcessArguments) {
  const fs::path file = PasswordFile(Server.Password(), 0600);
  int looks = 0;
  bool seen = false;
  const TCliResult up = Cli(
      {"--password-file", file.string(), "upload"}, {{"VANTARI_PASSWORD", "-"}}, [&](pid_t pid) {
        const std::string cmdline = ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
        if (cmdline.find("vantari-cli") == std::string::npos)
          return; // not yet the program
        ++looks;
        seen = seen || cmdline.find(Server.Password()) != std::string::npos;
      });
  EXPECT_EQ(up.ExitStatus, 0) << up.Err;
  EXPECT_GT(looks, 0);
  EXPECT_FALSE(seen);
}

// The dated names of the server's history for name, oldest first.
std::vector<std::string> HistoryOf(const TFtpServer &server, const std::string &name) {
  std::vector<std::string> dated;
  for (const auto &entry : fs::directory_iterator(server.Home()))
    if (ParseHistoryName(name, entry.path().filename().string()))
      dated.push_back(entry.path().filename().string());
  std::sort(dated.begin(), dated.end());
  return dated;
}

// Cut off before its last RNTO, an upload leaves the archive it moved into the history and its
// checked "<id>.bck.new".
TEST_F(CliTest, ArchiveLeftBetweenTheRenamesIsFoundKeptAndPutBackInPlace) {
  const std::string name = Server.User() + ".bck";
  ASSERT_EQ(Cli({"upload"}).ExitStatus, 0);
  const std::string older = Server.ReadFile(name);
  WriteFile(DataFolder / "Sale.DB", "sales of the cut upload");
  ASSERT_EQ(Cli({"upload"}).ExitStatus, 0);
  const std::string newest = Server.ReadFile(name);
  ASSERT_EQ(HistoryOf(Server, name).size(), 1u);
  const std::string previous = HistoryOf(Server, name).front();
  ASSERT_EQ(Server.ReadFile(previous), older);
  fs::remove(Server.PathOf(name));
  AgeData();

  // Its file cut short instead: the previous archive is the last whole one.
  Server.WriteFile(name + ".new", newest.substr(0, newest.size() - 3));
  const TCliResult fallback = Cli({"download"});
  EXPECT_EQ(fallback.ExitStatus, 0) << fallback.Err;
  EXPECT_EQ(ReadFile(DataFolder / "Sale.DB"), "sale rows");
  EXPECT_FALSE(fs::exists(Server.PathOf(name)));
  AgeData();

  Server.WriteFile(name + ".new", newest);
  const TCliResult status = Cli({"status"});
  ASSERT_EQ(status.ExitStatus, 0) << status.Err;
  EXPECT_NE(status.Out.find("server archive: " + name + ", missing; the last whole archive is " +
                            name + ".new, " + std::to_string(newest.size()) + " bytes"),
            std::string::npos)
      << status.Out;
  // Replacing it, or moving the versions on, needs the two-computer question's Yes.
  WriteFile(DataFolder / "Sale.DB", "a third computer's sales");
  const TCliResult up = Cli({"upload"});
  EXPECT_EQ(up.ExitStatus, 1);
  EXPECT_NE(up.Err.find("그래도 이 컴퓨터의 자료로 바꾸시겠습니까? -> no"), std::string::npos)
      << up.Err;
  EXPECT_TRUE(Server.ReadFile(name + ".new") == newest && Server.ReadFile(previous) == older);
  EXPECT_FALSE(fs::exists(Server.PathOf(name)));

  AgeData();
  const TCliResult down = Cli({"download"});
  ASSERT_EQ(down.ExitStatus, 0) << down.Err;
  EXPECT_EQ(ReadFile(DataFolder / "Sale.DB"), "sales of the cut upload");
  EXPECT_TRUE(Server.ReadFile(name) == newest && Server.ReadFile(previous) == older);
  EXPECT_FALSE(fs::exists(Server.PathOf(name + ".new")));
}

// A kept .part of one archive, and on the server another of the same size and MDTM second:
// never continued, plainly or over TLS. Over TLS a part of the server's own archive is
// continued with REST (the checks before it give up data connections the login's TLS session
// must survive).
TEST_F(CliTest, ResumeNeverJoinsTwoArchivesOfTheSameSizeAndSecond) {
  const std::string name = Server.User() + ".bck";
  TTlsFtpServerOptions options;
  options.User = Server.User();
  options.Password = Server.Password();
  TPyTlsFtpServer tls(options); // refuses a data connection that does not resume the session
  for (const bool overTls : {false, true}) {
    SCOPED_TRACE(overTls ? "TLS" : "plain");
    const int port = overTls ? tls.Port() : Server.Port();
    const std::string onServer = overTls ? tls.PathOf(name) : Server.PathOf(name);
    WriteFile(DataFolder / "AssemblyItem.DB", Noise(200000, 1));
    ASSERT_EQ(Cli({"upload"}, {}, nullptr, port).ExitStatus, 0);
    const std::string first = ReadFile(onServer);
    const std::string replacement = Noise(200000, 2);
    WriteFile(DataFolder / "AssemblyItem.DB", replacement);
    ASSERT_EQ(Cli({"upload"}, {}, nullptr, port).ExitStatus, 0);
    const std::string second = ReadFile(onServer);
    ASSERT_EQ(second.size(), first.size());
    SetTime(onServer, 1767225600);

    for (const std::string *kept : overTls ? std::vector{&second, &first} : std::vector{&first}) {
      TSyncState((Home.StateFolder() / "SyncState.ini").string())
          .SetPartialOrigin(Server.User(), {static_cast<int64_t>(second.size()), "20260101000000"});
      WriteFile(DataFolder / "Backup" / (name + ".part"), kept->substr(0, 120000));
      WriteFile(DataFolder / "AssemblyItem.DB", "changed here");
      AgeData();
      const TCliResult down = Cli({"download"}, {}, nullptr, port);
      ASSERT_EQ(down.ExitStatus, 0) << down.Err;
      EXPECT_TRUE(ReadFile(DataFolder / "Backup" / name) == second) << "joined from two archives";
      EXPECT_TRUE(ReadFile(DataFolder / "AssemblyItem.DB") == replacement);
      if (overTls) {
        const std::vector<std::string> verbs = tls.Commands();
        const auto retr = std::find(verbs.rbegin(), verbs.rend(), "RETR");
        ASSERT_TRUE(retr != verbs.rend() && retr + 1 != verbs.rend());
        EXPECT_EQ(*(retr + 1) == "REST", kept == &second) << "the download's REST";
      }
    }
  }
}

// The server's history as the nightly run and a shell see it: listed newest first, restored
// from a day through the download's transaction (newer local data only with --yes) and undone.
TEST_F(CliTest, HistoryIsListedAndADayIsRestoredAndUndone) {
  const std::string name = Server.User() + ".bck";
  WriteFile(DataFolder / "Sale.DB", "sales of the first of December");
  AgeData(); // the work of today is newer than all of it
  ASSERT_EQ(Cli({"upload"}).ExitStatus, 0);
  const std::string first = Server.ReadFile(name);
  WriteFile(DataFolder / "Sale.DB", "sales since");
  ASSERT_EQ(Cli({"upload"}).ExitStatus, 0);
  // That first archive stands in the history as made on that day.
  ASSERT_EQ(HistoryOf(Server, name).size(), 1u);
  fs::rename(Server.PathOf(HistoryOf(Server, name).front()),
             Server.PathOf(name + ".20251201-030000"));
  WriteFile(DataFolder / "Sale.DB", "today's sales");
  ASSERT_EQ(Cli({"upload"}).ExitStatus, 0);
  const std::vector<std::string> dated = HistoryOf(Server, name);
  ASSERT_EQ(dated.size(), 2u);

  const TCliResult listed = Cli({"history"});
  ASSERT_EQ(listed.ExitStatus, 0) << listed.Err;
  EXPECT_TRUE(InOrder(
      listed.Out, {std::to_string(Server.ReadFile(name).size()) + "  " + name + "\n",
                   "  " + dated[1] + "\n", std::to_string(first.size()) + "  " + dated[0] + "\n"}))
      << listed.Out;

  const TCliResult asked = Cli({"download", "--from", "2025-12-01"});
  EXPECT_EQ(asked.ExitStatus, 1);
  EXPECT_NE(asked.Err.find("-> no"), std::string::npos) << asked.Err;
  EXPECT_EQ(ReadFile(DataFolder / "Sale.DB"), "today's sales");

  const TCliResult restored = Cli({"download", "--from", "2025-12-01", "--yes"});
  ASSERT_EQ(restored.ExitStatus, 0) << restored.Err;
  EXPECT_EQ(ReadFile(DataFolder / "Sale.DB"), "sales of the first of December");
  EXPECT_TRUE(Server.ReadFile(name + ".20251201-030000") == first);
  ASSERT_EQ(Cli({"undo-download"}).ExitStatus, 0);
  EXPECT_EQ(ReadFile(DataFolder / "Sale.DB"), "today's sales");
  for (const auto &[table, bytes] : Sample) {
    if (table != "Sale.DB") {
      EXPECT_TRUE(ReadFile(DataFolder / table) == bytes) << table;
    }
  }

  const TCliResult none = Cli({"download", "--from", "2020-01-01", "--yes"});
  EXPECT_EQ(none.ExitStatus, 1);
  EXPECT_NE(none.Err.find("2020-01-01 또는 그 이전에 올린 백업이 서버에 없습니다."),
            std::string::npos)
      << none.Err;
}

// Tables overwritten with random bytes, as encrypting malware leaves them: the unattended
// upload refuses and says why, and the server's archive stays byte for byte.
TEST_F(CliTest, UnattendedUploadRefusesTablesOverwrittenWithRandomBytes) {
  const std::string name = Server.User() + ".bck";
  const char *const tables[] = {"Sale.DB", "Purchase.DB", "Bankbook.DB"};
  for (const char *table : tables) {
    std::string rows;
    for (int n = 0; n < 3000; ++n)
      rows += std::string(table) + "|" + std::to_string(n * 7919 % 100003) + "|ROW " +
              std::to_string(n) + "|KRW|\r\n";
    WriteFile(DataFolder / table, rows);
  }
  ASSERT_EQ(Cli({"upload"}).ExitStatus, 0);
  const std::string good = Server.ReadFile(name);
  unsigned seed = 7;
  for (const char *table : tables)
    WriteFile(DataFolder / table, Noise(fs::file_size(DataFolder / table), seed++));
  WriteFile(DataFolder / "Item.DB", Noise(Sample.at("Item.DB").size(), seed++));

  const TCliResult up = Cli({"upload"});
  EXPECT_EQ(up.ExitStatus, 1);
  EXPECT_NE(up.Err.find("자료 파일이 손상되었거나 암호화된 것 같습니다."), std::string::npos)
      << up.Err;
  for (const char *table : tables)
    EXPECT_NE(up.Err.find(table), std::string::npos) << table;
  EXPECT_NE(up.Err.find("upload failed (exit status 1): 서버의 백업을 바꾸지 않았습니다."),
            std::string::npos)
      << up.Err;
  EXPECT_TRUE(Server.ReadFile(name) == good);
  EXPECT_TRUE(HistoryOf(Server, name).empty());
  EXPECT_FALSE(fs::exists(Server.PathOf(name + ".new")));
}

// A nightly upload that finds no password kept is told at the window's next start, and the
// next login that works keeps its password for the nights after.
TEST_F(CliTest, NightlyWithoutAKeptPasswordIsToldAndTheNextLoginKeepsOne) {
  const TCliProcess::TEnvironment noPassword = {{"VANTARI_PASSWORD", "-"}};
  EXPECT_EQ(Cli({"upload", "--yes", "--nightly"}, noPassword).ExitStatus, 2);
  EXPECT_EQ(TSyncState().NightlyNotice(Server.User()), std::string(NoticeNightlyFailed) +
                                                           CauseNoNightlyPassword + "\n" +
                                                           StepNoNightlyPassword);
  EXPECT_FALSE(fs::exists(Server.PathOf(Server.User() + ".bck")));

  ASSERT_EQ(Cli({"upload"}).ExitStatus, 0); // as the window logs in
  const TCliResult night = Cli({"upload", "--yes", "--nightly"}, noPassword);
  EXPECT_EQ(night.ExitStatus, 0) << night.Err;
  EXPECT_EQ(TSyncState().NightlyNotice(Server.User()), "");
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(Cli({}).ExitStatus, 2);
  EXPECT_EQ(Cli({"backup"}).ExitStatus, 2);
  EXPECT_EQ(Cli({"--frobnicate", "upload"}).ExitStatus, 2);
  EXPECT_EQ(Cli({"upload", "extra"}).ExitStatus, 2);
  for (const char *day : {"2026-1-08", "08.12.2026", "2026-12-0x"})
    EXPECT_EQ(Cli({"download", "--from", day}).ExitStatus, 2) << day;
  EXPECT_EQ(Cli({"upload", "--from", "2026-12-08"}).ExitStatus, 2);
  const TCliResult help = Cli({"--help"});
  EXPECT_EQ(help.ExitStatus, 0);
  EXPECT_NE(help.Out.find("undo-download"), std::string::npos);
  // Without a user ID (no login in the window yet) nothing can be named on the server.
  fs::remove(Home.SettingsFile());
  const TCliResult noUser = Cli({"upload"});
  EXPECT_EQ(noUser.ExitStatus, 2);
  EXPECT_FALSE(fs::exists(Server.PathOf("HOSTID.bck")));
}

} // namespace
} // namespace vantari::test
