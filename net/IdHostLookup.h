#pragma once

#include "IdStack.h"

#include <atomic>
#include <string>

namespace vantari {

// One name lookup by the system's resolver, shared by the thread that runs it and the caller
// that waits for it. The system's part (IdHostLookupPosix.cpp, IdHostLookupWin.cpp) is the
// resolver call and the signal that the lookup ended.
class TIdHostLookup {
public:
  explicit TIdHostLookup(std::string name);
  ~TIdHostLookup();
  TIdHostLookup(const TIdHostLookup &) = delete;
  TIdHostLookup &operator=(const TIdHostLookup &) = delete;

  // Looks the name up, blocking, then marks the lookup ended and signals it.
  void Run();
  bool Ended() const { return FEnded.load(); }
  // Turns readable once the lookup ended; Id_INVALID_SOCKET where the system gives no such
  // descriptor (the caller then looks every few milliseconds).
  TIdStackSocketHandle EndedSignal() const { return FSignal; }
  // 0, or the Windows Sockets code of the failure; read once Ended.
  int32_t Code() const { return FCode; }
  // The first IPv4 address as dotted text; read once Ended with Code 0.
  const std::string &Address() const { return FAddress; }

private:
  void Resolve();     // sets FCode and FAddress
  void SignalEnded(); // makes EndedSignal readable

  std::string FName;
  std::atomic<bool> FEnded{false};
  TIdStackSocketHandle FSignal = Id_INVALID_SOCKET;
  int32_t FCode = 0;
  std::string FAddress;
};

// Looks name up on a thread of its own while the caller waits in the one wait, so that an
// unanswering name server neither freezes the window nor holds the caller past 30 s: 0 and
// ip, or the failure's Windows Sockets code (10060 when the limit passed first). Raises
// EIdCancelled like every wait; the thread then finishes alone.
int32_t IdLookUpHost(const std::string &name, std::string &ip);

} // namespace vantari
