// vantari-cli: the upload and download workflows of the window, from a shell or a timer.
#include "BackupStatus.h"
#include "CliHostUI.h"
#include "CliOptions.h"
#include "FileSystem.h"
#include "MainWindowPresenter.h"
#include "NightlyCredential.h"
#include "NightlyTask.h"
#include "Password.h"
#include "Paths.h"
#include "SupportReport.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>

using namespace vantari;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
const char *const kProgram = "vantari-cli";
const char *const kNoSetting = "HOSTID"; // what FtpHost.ini gives for a missing user ID

// A command that ran but did not succeed: one closing line that says so, for the journal.
int Failed(TCliHostUI &host, const std::string &command) {
  std::string line = command + " failed (exit status 1)";
  if (!host.LastMessage().empty())
    line += ": " + host.LastMessage();
  host.Complain(line);
  return kExitFailure;
}

// The service's server unless the settings or the command line name another one.
TWorkflowConfig ConfigFor(const TCliOptions &o, const TSettingsStore &settings) {
  TWorkflowConfig config = TWorkflowConfig::BuiltIn();
  const std::string saved = settings.ReadSetting("FTPHOST");
  if (!o.Host.empty())
    config.FtpHost = o.Host;
  else if (!saved.empty() && saved != "FTPHOST")
    config.FtpHost = saved;
  if (o.Port > 0)
    config.FtpPort = o.Port;
  if (!o.PingTarget.empty())
    config.PingTarget = o.PingTarget;
  return config;
}

std::string Size(int64_t bytes) {
  return std::to_string(bytes) + " bytes";
}

// The server's side through the same session as an upload: the connectivity check, the TLS
// trust under the checked host's name, the login.
int Status(TWorkflow &workflow, const std::string &user, TCliHostUI &host) {
  const std::string remote = workflow.RemoteArchiveName();
  TServerArchiveState archive;
  std::string name;
  if (!workflow.QueryServerArchive(archive, name))
    return Failed(host, "status");
  std::printf("server archive: %s", remote.c_str());
  if (name != remote)
    std::printf(", missing; the last whole archive is %s", name.c_str());
  if (!archive.Known()) {
    std::printf(", none on the server\n");
  } else {
    const auto modified = TBackupStatus::ParseMdtm(archive.Time);
    std::printf(", %s, %s\n", archive.Size >= 0 ? Size(archive.Size).c_str() : "size unknown",
                modified ? TBackupStatus::LocalTime(*modified).c_str() : "date unknown");
  }
  const std::string &folder = workflow.Settings().DataFolder();
  if (!workflow.Settings().HasDataFolder()) {
    std::printf("local data: no data folder\n");
  } else {
    const TLocalData data = TBackupStatus::ScanDataFolder(folder);
    if (data.Newest)
      std::printf("local data: %s, %d table files, newest change %s (%s)\n", folder.c_str(),
                  data.Files, TBackupStatus::LocalTime(*data.Newest).c_str(),
                  data.NewestFile.c_str());
    else
      std::printf("local data: %s, no table files\n", folder.c_str());
  }
  const auto lastUpload = workflow.SyncState().LastUpload(user);
  if (lastUpload)
    std::printf("last upload from this computer: %s (%d days ago)\n",
                TBackupStatus::LocalTime(*lastUpload).c_str(),
                TSyncState::DaysBetween(*lastUpload, std::time(nullptr)));
  else
    std::printf("last upload from this computer: none recorded\n");
  std::fflush(stdout);
  return kExitOk;
}

// The server's archives, newest first: local date and time, size, name.
int History(TWorkflow &workflow, TCliHostUI &host) {
  std::vector<THistoryEntry> history;
  if (!workflow.QueryServerHistory(history))
    return Failed(host, "history");
  for (const THistoryEntry &entry : history)
    std::printf("%s  %12s  %s\n", HistoryTimeText(entry.Made, LocalUtcOffset(entry.Made)).c_str(),
                entry.Size >= 0 ? std::to_string(entry.Size).c_str() : "?", entry.Name.c_str());
  if (history.empty())
    std::printf("no archive on the server\n");
  std::fflush(stdout);
  return kExitOk;
}

// What the support desk asks for; needs no password and no server.
int Report(const TCliOptions &o) {
  TSettingsStore settings;
  TWorkflow workflow(ConfigFor(o, settings));
  workflow.Settings().ReadDataFolder();
  const std::string user = o.User.empty() ? settings.ReadSetting("HOSTID") : o.User;
  std::fputs(SupportReport(workflow, user == kNoSetting ? std::string() : user).c_str(), stdout);
  return kExitOk;
}

int Run(const TCliOptions &o, TCliHostUI &host) {
  TSettingsStore settings;
  TMainWindowPresenter presenter(host, ConfigFor(o, settings));
  TWorkflow &workflow = presenter.Workflow();
  workflow.Settings().ReadDataFolder();

  std::string user = o.User;
  if (user.empty()) {
    user = settings.ReadSetting("HOSTID");
    if (user == kNoSetting) {
      host.Complain("no user ID: log in once with the window, or give --user ID");
      return kExitUsage;
    }
  }
  std::string password;
  if (o.Command != "undo-download") {
    try {
      password = TPasswordSource::Read(o.PasswordFile, o.Nightly);
    } catch (const ENoPassword &e) {
      host.Complain(e.Message());
      if (o.Nightly) // nobody reads the journal at night: the window tells at its next start
        RecordNightlyFailure(workflow.SyncState(), user, TFailureCause::fcNoNightlyPassword);
      return kExitUsage;
    }
  }
  host.SetLogin(user, password);
  workflow.SetLogin(user, password);

  if (o.Command == "status")
    return Status(workflow, user, host);
  if (o.Command == "history")
    return History(workflow, host);
  if (o.Command == "upload") {
    presenter.Upload();
    if (o.Nightly)
      RecordNightlyRun(workflow, user, presenter.Succeeded());
  } else if (o.Command == "download" && !o.From.empty())
    presenter.DownloadFrom(o.From, o.Yes);
  else if (o.Command == "download")
    presenter.Download();
  else if (o.Command == "undo-download")
    presenter.UndoDownload();
  host.EndProgress();
  return presenter.Succeeded() ? kExitOk : Failed(host, o.Command);
}

// save-login: how the installer hands over a login. It is tried on the server first; only a
// login that works is kept: the user ID for the window (the login itself saves it) and the
// password for the nightly backup. Without --user or a password given, the window's last
// login is the one.
int SaveLogin(const TCliOptions &o, TCliHostUI &host) {
  TSettingsStore settings;
  const std::string user = o.User.empty() ? settings.ReadSetting("HOSTID") : o.User;
  if (user.empty() || user == kNoSetting) {
    host.Complain("save-login needs --user ID: no login was saved by the window yet");
    return kExitUsage;
  }
  std::string password;
  try {
    password = TPasswordSource::Read(o.PasswordFile);
  } catch (const ENoPassword &e) {
    password = settings.ReadSetting("HOSTPASS");
    if (password.empty() || password == "HOSTPASS") {
      host.Complain(e.Message());
      return kExitUsage;
    }
  }
  TMainWindowPresenter presenter(host, ConfigFor(o, settings));
  presenter.Workflow().SetLogin(user, password);
  if (!presenter.Workflow().CheckLogin())
    return Failed(host, "save-login");
  if (!SaveNightlyCredential(password)) {
    host.Complain("save-login: the password could not be kept in " + ConfigFolder());
    return kExitFailure;
  }
  return kExitOk;
}

// enable-nightly and disable-nightly: the Task Scheduler's daily upload (Windows). The task
// runs with what was given here (user, server) and the password kept for it: the one given
// now (--password-file, VANTARI_PASSWORD), else the one save-login kept.
int Nightly(const TCliOptions &o) {
  std::string failure;
  if (o.Command == "disable-nightly") {
    failure = RemoveNightlyTask();
    if (failure.empty() && !RemoveNightlyCredential())
      failure = "the kept password could not be removed from " + ConfigFolder();
  } else {
    TNightlyTask task;
    if (!o.At.empty() && !ParseNightlyTime(o.At, task)) {
      std::cerr << kProgram << ": invalid time '" << o.At << "' (HH:MM)" << std::endl;
      return kExitUsage;
    }
    task.Program = NightlyProgramIn(ProgramFolder());
    task.User = o.User;
    task.Host = o.Host;
    task.Port = o.Port;
    task.PingTarget = o.PingTarget;
    try {
      NightlyTaskXml(task); // refuses what the task cannot carry before anything is kept
      if (!o.PasswordFile.empty() || std::getenv(TPasswordSource::EnvironmentName) != nullptr) {
        if (!SaveNightlyCredential(TPasswordSource::Read(o.PasswordFile)))
          throw Exception("the password could not be kept in " + ConfigFolder());
      } else if (!HasNightlyCredential()) {
        throw Exception("no password kept: run save-login, or give --password-file FILE");
      }
      failure = RegisterNightlyTask(task);
    } catch (const Exception &e) { // an unusable password file, a value the task cannot carry
      std::cerr << kProgram << ": " << o.Command << ": " << e.Message() << std::endl;
      return kExitUsage;
    }
  }
  if (failure.empty())
    return kExitOk;
  std::cerr << kProgram << ": " << o.Command << " failed: " << failure << std::endl;
  return kExitFailure;
}

} // namespace

int main(int argc, char **argv) {
  TCliOptions options;
  try {
    options = ParseCliOptions(TCliHostUI::Arguments(argc, argv));
  } catch (const ECliUsageError &e) {
    std::cerr << kProgram << ": " << e.Message() << "\nTry 'vantari-cli --help' for more "
              << "information." << std::endl;
    return kExitUsage;
  }
  if (options.Command == "help") {
    std::cout << CliUsage();
    return kExitOk;
  }
  if (options.Command == "enable-nightly" || options.Command == "disable-nightly")
    return Nightly(options);
  if (options.Command == "report")
    return Report(options);
  TCliHostUI host(kProgram, options.Quiet, options.Yes);
  SetHostUI(&host);
  int status = kExitFailure;
  try {
    status = options.Command == "save-login" ? SaveLogin(options, host) : Run(options, host);
  } catch (const std::exception &e) {
    // What no step catches (the connectivity check's socket, a damaged archive's header).
    host.Complain(e.what());
    status = Failed(host, options.Command);
  }
  SetHostUI(nullptr);
  return status;
}
