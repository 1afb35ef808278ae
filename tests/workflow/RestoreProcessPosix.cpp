#include "RestoreFixture.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vantari::test {

TSmallFileSystem::TSmallFileSystem(const fs::path &where, const char *size) : FWhere(where) {
  fs::create_directories(where);
  const std::string options = std::string("size=") + size + ",mode=0755";
  if (mount("vantari-test", where.c_str(), "tmpfs", 0, options.c_str()) != 0)
    FError = std::strerror(errno);
}

TSmallFileSystem::~TSmallFileSystem() {
  if (FError.empty())
    umount2(FWhere.c_str(), MNT_DETACH);
}

pid_t ForkQuiet() {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
  }
  return pid;
}

bool Reap(pid_t child, int seconds, int *status) {
  for (int waited = 0; waited < seconds * 20; ++waited) {
    if (waitpid(child, status, WNOHANG) == child)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TFileHolder::TFileHolder(const fs::path &file) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe");
  FProcess = ForkQuiet();
  if (FProcess == 0) {
    dup2(ready[1], STDOUT_FILENO);
    execl("/bin/sh", "sh", "-c", "exec 3<\"$0\" && echo y && exec sleep 600", file.c_str(),
          static_cast<char *>(nullptr));
    _exit(127);
  }
  close(ready[1]);
  pollfd answer{ready[0], POLLIN, 0};
  char opened = 'n';
  if (poll(&answer, 1, 10000) == 1)
    (void)!read(ready[0], &opened, 1);
  close(ready[0]);
  if (opened != 'y') {
    Stop();
    throw std::runtime_error("the holder could not open " + U8(file));
  }
}

void TFileHolder::Stop() {
  if (FProcess > 0) {
    kill(static_cast<pid_t>(FProcess), SIGKILL);
    Reap(static_cast<pid_t>(FProcess), 10);
  }
  FProcess = -1;
}

bool StoppedAt(const std::string &step, const TStoppedRun &run) {
  const pid_t child = fork();
  if (child == 0) {
    SetRestoreStopHook([&](const char *reached) {
      if (step == reached)
        _exit(42);
    });
    _exit(RunHere(run) ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 42;
}

TPausedRun::TPausedRun(const std::string &step, const TStoppedRun &run) {
  int reached[2], resume[2];
  if (pipe2(reached, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe");
  if (pipe2(resume, O_CLOEXEC) != 0) {
    close(reached[0]);
    close(reached[1]);
    throw std::runtime_error("pipe");
  }
  FProcess = fork();
  if (FProcess == 0) {
    SetRestoreStopHook([&](const char *at) {
      if (step == at) {
        char go = 0;
        (void)!write(reached[1], "r", 1);
        (void)!read(resume[0], &go, 1);
        SetRestoreStopHook({});
      }
    });
    _exit(RunHere(run) ? 0 : 1);
  }
  close(reached[1]);
  close(resume[0]);
  FResume = resume[1];
  pollfd answer{reached[0], POLLIN, 0};
  char signal = 0;
  const bool there = poll(&answer, 1, 60000) == 1 && read(reached[0], &signal, 1) == 1;
  close(reached[0]);
  if (!there) {
    Stop();
    throw std::runtime_error("the run never reached " + step);
  }
}

void TPausedRun::Stop() {
  if (FResume >= 0)
    close(static_cast<int>(FResume));
  FResume = -1;
  if (FProcess > 0) {
    kill(static_cast<pid_t>(FProcess), SIGKILL);
    Reap(static_cast<pid_t>(FProcess), 10);
  }
  FProcess = -1;
}

bool TPausedRun::Finish() {
  (void)!write(static_cast<int>(FResume), "g", 1);
  int status = 0;
  const bool ended = Reap(static_cast<pid_t>(FProcess), 60, &status);
  if (ended)
    FProcess = -1;
  return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace vantari::test
