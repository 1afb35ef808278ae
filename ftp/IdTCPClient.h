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

  // Connects (timeoutMs -1: plain blocking connect). Raises EIdAlreadyConnected
  // "Already connected." when open; on any failure the socket is dropped and the
  // client can connect again.
  void OpenConnection(int32_t timeoutMs = -1);

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
};

} // namespace vantari
