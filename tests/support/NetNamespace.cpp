#include "NetNamespace.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <net/if.h>
#include <pwd.h>
#include <sched.h>
#include <stdexcept>
#include <sys/ioctl.h>
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
