#pragma once

#include <string>

namespace vantari::test {

// Why a test that needs root cannot run here; empty when it can.
std::string RootSkipReason();

// For its lifetime the calling thread lives in a fresh network namespace made for the
// test: only the loopback device, up, and no route anywhere else. The namespace
// disappears with the last socket opened in it. Needs root; check RootSkipReason first.
class TNetNamespace {
public:
  TNetNamespace();
  ~TNetNamespace();
  TNetNamespace(const TNetNamespace &) = delete;
  TNetNamespace &operator=(const TNetNamespace &) = delete;

  // Writes a sysctl of this namespace, e.g. SetSysctl("net/ipv4/icmp_echo_ignore_all", "1").
  void SetSysctl(const std::string &key, const std::string &value);
  // Answers no echo request (net.ipv4.icmp_echo_ignore_all = 1).
  void IgnoreEchoRequests() { SetSysctl("net/ipv4/icmp_echo_ignore_all", "1"); }
  // Lets the groups low..high open unprivileged ICMP sockets (net.ipv4.ping_group_range).
  void AllowPingGroups(unsigned low, unsigned high);

private:
  int FOriginal = -1; // the namespace to return to
};

// For its lifetime the calling thread (and the threads it starts) sees an /etc/resolv.conf
// that names only 127.0.0.1, in a mount namespace of its own, so that host lookups under
// test never send a query anywhere but to loopback. Needs root.
class TLoopbackResolver {
public:
  TLoopbackResolver();
  ~TLoopbackResolver();
  TLoopbackResolver(const TLoopbackResolver &) = delete;
  TLoopbackResolver &operator=(const TLoopbackResolver &) = delete;

private:
  int FOriginal = -1; // the mount namespace to return to
  std::string FConf;  // the stand-in file
};

// For its lifetime the process acts as an ordinary user (effective uid and gid of
// "nobody", no supplementary groups), without any capability; root is restored after.
class TUnprivilegedUser {
public:
  TUnprivilegedUser();
  ~TUnprivilegedUser();
  TUnprivilegedUser(const TUnprivilegedUser &) = delete;
  TUnprivilegedUser &operator=(const TUnprivilegedUser &) = delete;

  unsigned Gid() const { return FGid; }
  static unsigned NobodyGid();

private:
  unsigned FGid;
};

} // namespace vantari::test
