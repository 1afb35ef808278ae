#pragma once

#include "IdStack.h"
#include "IdWait.h"

namespace vantari {

// The socket stack over Windows Sockets: the OS reports failures in the established codes
// already, so they pass through as they are. Every wait goes through IdWait (repaint,
// limit, cancel); routers' ICMP reports are not read from sockets here (the ICMP client
// asks the system's echo service instead).
class TIdStackWin : public TIdStack {
public:
  TIdStackWin();
  ~TIdStackWin() override;

  TIdStackSocketHandle Accept(TIdStackSocketHandle s, std::string &ip, int32_t &port) override;
  int32_t Bind(TIdStackSocketHandle s, const std::string &ip, int32_t port) override;
  int32_t CloseSocket(TIdStackSocketHandle s) override;
  int32_t Connect(TIdStackSocketHandle s, const std::string &ip, int32_t port,
                  TIdTimeout timeout) override;
  std::string GetHostByName(const std::string &name) override;
  std::string GetHostName() override;
  std::string GetHostByAddr(const std::string &ip) override;
  int32_t GetServByName(const std::string &name) override;
  int32_t Listen(TIdStackSocketHandle s, int32_t backlog) override;
  int32_t Recv(TIdStackSocketHandle s, void *buf, int32_t len, int32_t flags) override;
  int32_t RecvFrom(TIdStackSocketHandle s, void *buf, int32_t len, int32_t flags, std::string &ip,
                   int32_t &port) override;
  int32_t RecvDatagram(TIdStackSocketHandle s, void *buf, int32_t len, std::string &ip,
                       uint8_t &ttl) override;
  int32_t RecvErrorReport(TIdStackSocketHandle s, void *buf, int32_t len, uint8_t &type,
                          uint8_t &code, std::string &reporter, uint8_t &ttl) override;
  int32_t Select(TIdStackSocketHandle s, TIdTimeout timeout) override;
  int32_t Send(TIdStackSocketHandle s, const void *buf, int32_t len, int32_t flags,
               TIdTimeout timeout) override;
  int32_t SendTo(TIdStackSocketHandle s, const void *buf, int32_t len, int32_t flags,
                 const std::string &ip, int32_t port) override;
  int32_t SetSockOpt(TIdStackSocketHandle s, int32_t level, int32_t name, const void *value,
                     int32_t len) override;
  TIdStackSocketHandle Socket(int32_t family, int32_t type, int32_t protocol) override;
  int32_t Shutdown(TIdStackSocketHandle s, int32_t how) override;
  std::string ErrorText(int32_t code) override;
  int32_t WSAGetLastError() override;
  void GetPeerName(TIdStackSocketHandle s, int32_t &family, std::string &ip,
                   int32_t &port) override;
  void GetSockName(TIdStackSocketHandle s, int32_t &family, std::string &ip,
                   int32_t &port) override;

private:
  bool FStarted = false;
};

} // namespace vantari
