// What the system stacks share; their system calls are in IdStackPosix.cpp and IdStackWin.cpp.
#include "IdSystemStack.h"

#include "IdHostLookup.h"

namespace vantari {

std::string TIdSystemStack::GetHostByName(const std::string &name) {
  std::string ip;
  const int32_t code = IdLookUpHost(name, ip);
  if (code != 0) {
    Fail(code);
    CheckResult(Id_SOCKET_ERROR);
  }
  return ip;
}

int32_t TIdSystemStack::Select(TIdStackSocketHandle s, TIdTimeout timeout) {
  const TIdWaitResult ready = IdWait({s, weReadable}, TIdDeadline(timeout));
  if (ready.Closed)
    return Fail(Id_WSAENOTSOCK);
  // Readable, or an error or hang-up that the next receive reports, as select has it.
  return ready.First ? 1 : 0;
}

std::string TIdSystemStack::ErrorText(int32_t code) {
  if (code == Id_WSAHOST_NOT_FOUND)
    return "Host not found.";
  return TIdStack::ErrorText(code);
}

} // namespace vantari
