#pragma once

#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vantari::test {

// One run of a program with extra environment variables and no terminal: standard input is
// /dev/null, standard output and error are kept. Killed when it runs past its limit. A
// JOURNAL_STREAM variable in the environment is set to the device and inode of the standard
// error file, as systemd does for a service whose standard error goes to the journal.
struct TCliResult {
  int ExitStatus = -1; // -1: killed or did not end in time
  std::string Out;
  std::string Err;
};

class TCliProcess {
public:
  using TEnvironment = std::map<std::string, std::string>;

  static TCliResult Run(const std::vector<std::string> &args, const TEnvironment &environment,
                        int timeoutSeconds = 120,
                        const std::function<void(pid_t)> &whileRunning = nullptr);
};

} // namespace vantari::test
