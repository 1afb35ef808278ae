#include "CliProcess.h"

#include "AppTestEnvironment.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vantari::test {

namespace fs = std::filesystem;

TCliResult TCliProcess::Run(const std::vector<std::string> &args, const TEnvironment &environment,
                            int timeoutSeconds, const std::function<void(pid_t)> &whileRunning) {
  std::string folder = (fs::temp_directory_path() / "vantari-cli-run-XXXXXX").string();
  if (!mkdtemp(folder.data()))
    throw std::runtime_error("cannot create a temporary folder");
  const std::string out = folder + "/out", err = folder + "/err";
  const pid_t pid = fork();
  if (pid < 0)
    throw std::runtime_error("fork failed");
  if (pid == 0) {
    for (const auto &[name, value] : environment)
      setenv(name.c_str(), value.c_str(), 1);
    const int in = open("/dev/null", O_RDONLY);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    struct stat st {};
    if (environment.count("JOURNAL_STREAM") && fstat(2, &st) == 0)
      setenv("JOURNAL_STREAM",
             (std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).c_str(), 1);
    std::vector<char *> argv;
    for (const std::string &arg : args)
      argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  TCliResult result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid)
      break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      status = -1;
      break;
    }
    if (whileRunning)
      whileRunning(pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (status != -1 && WIFEXITED(status))
    result.ExitStatus = WEXITSTATUS(status);
  result.Out = ReadFile(out);
  result.Err = ReadFile(err);
  fs::remove_all(folder);
  return result;
}

} // namespace vantari::test
