#pragma once

#include "IdTCPConnection.h"

#include <functional>
#include <string>

namespace vantari {

// A TCP connection opened by connecting to Host:Port.
class TIdTCPClient : public TIdTCPConnection {
public:
  virtual void SetHost(const std::string &value) { FHost = value; }
  virtual void SetPort(int32_t value) { FPort = value; }

  // Connects, the host lookup included, within timeoutMs (-1 or 0: ConnectTimeout); the
  // limit passing raises EIdSocketError 10060. Raises EIdAlreadyConnected "Already
  // connected." when open; on any failure the socket is dropped and the client can
  // connect again.
  void OpenConnection(int32_t timeoutMs = -1);
  // The connect limit when the caller names none (ms); 0 = no limit.
  int32_t ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(int32_t ms) { FConnectTimeout = ms; }

  const std::string &Host() const { return FHost; }
  int32_t Port() const { return FPort; }
  const std::string &BoundIP() const { return FBoundIP; }
  void SetBoundIP(const std::string &value) { FBoundIP = value; }
  int32_t BoundPort() const { return FBoundPort; }
  void SetBoundPort(int32_t value) { FBoundPort = value; }

  std::function<void(TIdTCPClient *Sender)> OnConnected;

private:
  std::string FHost;
  int32_t FPort = 0;
  std::string FBoundIP;
  int32_t FBoundPort = 0;
  int32_t FBoundPortMin = 0;
  int32_t FBoundPortMax = 0;
  int32_t FConnectTimeout = 0;
};

} // namespace vantari
