#include "IdTCPClient.h"

#include "IdIOHandlerTls.h"

namespace vantari {

void TIdTCPClient::OpenConnection(int32_t timeoutMs) {
  if (!IOHandler()) {
    auto transport = std::make_unique<TIdIOHandlerTls>();
    transport->OnStatus = OnStatus;
    AdoptIOHandler(std::move(transport));
  } else if (IOHandler()->IsOpen()) {
    throw EIdAlreadyConnected();
  }
  try {
    IOHandler()->Prepare();
    ResetReadState();
    const TIdTimeout limit = TIdTimeout::FromSetting(timeoutMs > 0 ? timeoutMs : FConnectTimeout);
    IOHandler()->ConnectTo(FHost, FPort, limit, FBoundPortMax, FBoundPortMin, FBoundPort, FBoundIP);
    ReportStatus(hsConnected, FHost);
    if (OnConnected)
      OnConnected(this);
  } catch (...) {
    DropSocket();
    throw;
  }
}

} // namespace vantari
