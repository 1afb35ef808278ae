#include "ServerProbe.h"

#include "IdTCPClient.h"
#include "IdWait.h"

namespace vantari {

bool ServerAnswers(const std::string &host, int32_t port, int32_t timeoutMs) {
  TIdTCPClient probe;
  probe.SetHost(host);
  probe.SetPort(port);
  try {
    probe.OpenConnection(timeoutMs);
  } catch (const EIdCancelled &) {
    throw;
  } catch (const Exception &) {
    return false;
  }
  probe.CloseConnection();
  return true;
}

} // namespace vantari
