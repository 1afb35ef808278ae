#pragma once

#include "Exception.h"

#include <string>
#include <vector>

namespace vantari {

// A command line that cannot be carried out as given (exit status 2).
class ECliUsageError : public Exception {
  using Exception::Exception;
};

struct TCliOptions {
  std::string Command; // upload, download, undo-download, status, report, history, help
  // Without a terminal, prompts whose OK keeps the data are answered OK.
  bool Yes = false;
  bool Quiet = false; // no status lines, no progress line
  std::string PasswordFile;
  // A server other than the one of the settings (support staff, a test server).
  std::string Host;
  int32_t Port = 0; // 0: the program's own
  std::string PingTarget;
  std::string User; // empty: the user ID of the last login (FtpHost.ini)
  std::string At;   // enable-nightly: "HH:MM", empty for the timer's 21:00
  // The nightly run: the password is the one kept for the nightly backup, and the result is
  // kept for the window's next start.
  bool Nightly = false;
  std::string From; // download: "YYYY-MM-DD", the server's last archive of that day or before
};

// Parses argv (without the program name); raises ECliUsageError with the reason. A password
// is never taken from the command line: any process on the machine can read it there.
TCliOptions ParseCliOptions(const std::vector<std::string> &args);
const char *CliUsage();

} // namespace vantari
