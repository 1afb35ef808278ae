#include "CliOptions.h"

#include <charconv>
#include <set>

namespace vantari {

namespace {

const std::set<std::string> kCommands = {
    "upload",  "download",       "undo-download",   "status",     "report",
    "history", "enable-nightly", "disable-nightly", "save-login", "help"};

// "YYYY-MM-DD" in digits; whether the day exists is the server history's to say.
std::string ParseDay(const std::string &text) {
  bool shaped = text.size() == 10;
  for (size_t i = 0; shaped && i < text.size(); ++i)
    shaped = i == 4 || i == 7 ? text[i] == '-' : text[i] >= '0' && text[i] <= '9';
  if (!shaped)
    throw ECliUsageError("invalid date '" + text + "' (YYYY-MM-DD)");
  return text;
}

std::string TakeValue(const std::vector<std::string> &args, size_t &i, const std::string &name,
                      bool hasInline, const std::string &inlineValue) {
  if (hasInline)
    return inlineValue;
  if (i + 1 >= args.size())
    throw ECliUsageError("option '" + name + "' needs a value");
  return args[++i];
}

int32_t ParsePort(const std::string &text) {
  int32_t port = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535)
    throw ECliUsageError("invalid port '" + text + "'");
  return port;
}

void ApplyOption(TCliOptions &o, const std::vector<std::string> &args, size_t &i) {
  std::string name = args[i];
  std::string value;
  bool hasInline = false;
  const size_t eq = name.find('=');
  if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
    value = name.substr(eq + 1);
    name.erase(eq);
    hasInline = true;
  }
  const auto take = [&] { return TakeValue(args, i, name, hasInline, value); };
  if (hasInline &&
      (name == "--yes" || name == "--quiet" || name == "--help" || name == "--nightly"))
    throw ECliUsageError("option '" + name + "' takes no value");
  if (name == "-y" || name == "--yes")
    o.Yes = true;
  else if (name == "-q" || name == "--quiet")
    o.Quiet = true;
  else if (name == "--nightly")
    o.Nightly = true;
  else if (name == "-h" || name == "--help")
    o.Command = "help";
  else if (name == "--password-file")
    o.PasswordFile = take();
  else if (name == "--host")
    o.Host = take();
  else if (name == "--port")
    o.Port = ParsePort(take());
  else if (name == "--ping-target")
    o.PingTarget = take();
  else if (name == "--user")
    o.User = take();
  else if (name == "--at")
    o.At = take();
  else if (name == "--from")
    o.From = ParseDay(take());
  else if (name == "-p" || name == "--password")
    // The value is never repeated: it may be the password itself.
    throw ECliUsageError("a password is not taken from the command line; set VANTARI_PASSWORD "
                         "or use --password-file");
  else
    throw ECliUsageError("unknown option '" + name + "'");
}

} // namespace

TCliOptions ParseCliOptions(const std::vector<std::string> &args) {
  TCliOptions o;
  std::string command;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg.size() > 1 && arg[0] == '-') {
      ApplyOption(o, args, i);
      continue;
    }
    if (!command.empty())
      throw ECliUsageError("unexpected argument '" + arg + "'");
    command = arg;
  }
  if (o.Command == "help")
    return o;
  if (command.empty())
    throw ECliUsageError("no command given");
  if (!kCommands.count(command))
    throw ECliUsageError("unknown command '" + command + "'");
  o.Command = command;
  if (!o.From.empty() && o.Command != "download")
    throw ECliUsageError("option '--from' goes with download only");
  return o;
}

// The places the help names are this system's: the settings, the data folder's key and the
// nightly timer live elsewhere on Windows than on Linux.
#ifdef _WIN32
#define VANTARI_NIGHTLY_MARK ""
#define VANTARI_PASSWORD_FILE_RULE "kept where only its owner can read it (the user's profile)"
#define VANTARI_WINDOW_PLACES                                                                      \
  "%APPDATA%\\Vantari\\FtpHost.ini and the registry key\n"                                         \
  "HKCU\\Software\\Corvex\\LumoraBC\\Database, value DefaultDatabase"
#else
#define VANTARI_NIGHTLY_MARK "(Windows) "
#define VANTARI_PASSWORD_FILE_RULE "readable by its owner only (chmod 600)"
#define VANTARI_WINDOW_PLACES "~/.config/vantari/FtpHost.ini and user.reg"
#endif

const char *CliUsage() {
  return "Usage: vantari-cli [OPTION]... COMMAND\n"
         "Uploads and downloads the accounting data like the Vantari window, without one.\n"
         "\n"
         "Commands:\n"
         "  upload          pack the data folder and upload it (자료 올리기)\n"
         "  download        download the archive and restore it into the data folder\n"
         "                  (자료 내려받기)\n"
         "  undo-download   bring back the data as it was before the last download\n"
         "  status          the server's archive (date, size), the local data's newest change\n"
         "  report          the information for a support call (문제 신고용 정보), never the\n"
         "                  password\n"
         "  history         the server's archives, the earlier ones included: date, size, name,\n"
         "                  newest first\n"
         "  enable-nightly  " VANTARI_NIGHTLY_MARK
         "upload every night: a Task Scheduler task of this user,\n"
         "                  vantari-backup, at --at HH:MM (21:00 without it), with the\n"
         "                  password kept by save-login (or given now) and --user, --host\n"
         "                  and --port when given\n"
         "  disable-nightly " VANTARI_NIGHTLY_MARK "remove that task and the kept password\n"
         "  save-login      log in once with --user and the password, then keep both: the\n"
         "                  user ID for the window, the password for the nightly backup\n"
         "\n"
         "Options:\n"
         "  -y, --yes               without a terminal, answer yes where that keeps the data\n"
         "                          (the next volume); replacing newer local data is confirmed\n"
         "                          only with download --from: unattended, that question is\n"
         "                          otherwise answered no\n"
         "  -q, --quiet             no status lines and no progress line\n"
         "  --nightly               the nightly upload: the password kept for it is used, its\n"
         "                          result is kept for the window's next start, and a failure\n"
         "                          is shown on the desktop\n"
         "  --password-file FILE    read the password from FILE (its first line); FILE must be\n"
         "                          " VANTARI_PASSWORD_FILE_RULE "\n"
         "  --from YYYY-MM-DD       download: the server's last archive of that day or before\n"
         "                          it; with --yes it replaces newer local data too (kept as a\n"
         "                          snapshot that undo-download brings back)\n"
         "  --user ID               another user ID than the last login's\n"
         "  --host HOST, --port N   another FTP server than the service's\n"
         "  --ping-target ADDR      another address for the connectivity check\n"
         "  -h, --help              this help\n"
         "\n"
         "The password comes from the environment variable VANTARI_PASSWORD or from\n"
         "--password-file, never from the command line. The user ID and the data folder are\n"
         "those of the window (" VANTARI_WINDOW_PLACES ").\n"
         "\n"
         "Messages go to standard error. Exit status: 0 success, 1 failure, 2 usage error.\n";
}

#undef VANTARI_NIGHTLY_MARK
#undef VANTARI_PASSWORD_FILE_RULE
#undef VANTARI_WINDOW_PLACES

} // namespace vantari
