#include "NetNamespace.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <net/if.h>
#include <pwd.h>
#include <sched.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace vantari::test {

namespace {

[[noreturn]] void Fail(const std::string &what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void BringLoopbackUp() {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    Fail("socket for the loopback device");
  }
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  const bool ok = ioctl(s, SIOCGIFFLAGS, &request) == 0 &&
                  (request.ifr_flags |= IFF_UP, ioctl(s, SIOCSIFFLAGS, &request) == 0);
  const int error = errno;
  close(s);
  if (!ok) {
    errno = error;
    Fail("bringing the loopback device up");
  }
}

// The supplementary groups of the process before it turned into an ordinary user.
std::vector<gid_t> savedGroups;

} // namespace

std::string RootSkipReason() {
  if (geteuid() != 0) {
    return "needs root (network namespaces, raw sockets, changing user)";
  }
  return std::string();
}

TNetNamespace::TNetNamespace() {
  FOriginal = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (FOriginal < 0) {
    Fail("opening the current network namespace");
  }
  if (unshare(CLONE_NEWNET) != 0) {
    close(FOriginal);
    Fail("unshare(CLONE_NEWNET)");
  }
  BringLoopbackUp();
}

TNetNamespace::~TNetNamespace() {
  setns(FOriginal, CLONE_NEWNET);
  close(FOriginal);
}

void TNetNamespace::SetSysctl(const std::string &key, const std::string &value) {
  std::ofstream file("/proc/sys/" + key);
  file << value << '\n';
  file.close();
  if (!file) {
    Fail("writing sysctl " + key);
  }
}

void TNetNamespace::AllowPingGroups(unsigned low, unsigned high) {
  SetSysctl("net/ipv4/ping_group_range", std::to_string(low) + " " + std::to_string(high));
}

TLoopbackResolver::TLoopbackResolver() {
  char name[] = "/tmp/vantari-resolv-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) {
    Fail("creating the stand-in resolver configuration");
  }
  FConf = name;
  const std::string text = "nameserver 127.0.0.1\noptions timeout:2 attempts:1\n";
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  FOriginal = open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
  if (!written || FOriginal < 0 || unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount(FConf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
    const int error = errno;
    if (FOriginal >= 0) {
      setns(FOriginal, CLONE_NEWNS);
      close(FOriginal);
    }
    unlink(FConf.c_str());
    errno = error;
    Fail("replacing /etc/resolv.conf for the test");
  }
}

TLoopbackResolver::~TLoopbackResolver() {
  setns(FOriginal, CLONE_NEWNS);
  close(FOriginal);
  unlink(FConf.c_str());
}

unsigned TUnprivilegedUser::NobodyGid() {
  const passwd *nobody = getpwnam("nobody");
  return nobody ? nobody->pw_gid : 65534;
}

TUnprivilegedUser::TUnprivilegedUser() : FGid(NobodyGid()) {
  const passwd *nobody = getpwnam("nobody");
  const uid_t uid = nobody ? nobody->pw_uid : 65534;
  const int count = getgroups(0, nullptr);
  savedGroups.assign(static_cast<size_t>(count > 0 ? count : 0), 0);
  if (count > 0) {
    getgroups(count, savedGroups.data());
  }
  if (setgroups(0, nullptr) != 0 || setegid(FGid) != 0 || seteuid(uid) != 0) {
    Fail("becoming an ordinary user");
  }
}

TUnprivilegedUser::~TUnprivilegedUser() {
  // Back to root: the effective capabilities return with the effective uid 0.
  if (seteuid(0) == 0) {
    setegid(0);
    setgroups(savedGroups.size(), savedGroups.data());
  }
}

} // namespace vantari::test
