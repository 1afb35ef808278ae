#pragma once

#include "IdStack.h"
#include "IdWait.h"

#include <cstring>

namespace vantari {

// The socket stack of the system the program is built for, declared once: IdSystemStack.cpp
// holds what every system shares, IdStackPosix.cpp and IdStackWin.cpp the system calls.
// POSIX failures become Windows Sockets codes (see WSACodeOfErrno); Windows reports them in
// those codes already. Sends never raise SIGPIPE, and every wait goes through IdWait
// (repaint, limit, cancel). On Windows routers' ICMP reports are not read from sockets (the
// ICMP client asks the system's echo service instead).
class TIdSystemStack : public TIdStack {
public:
  TIdSystemStack();
  ~TIdSystemStack() override;

  TIdStackSocketHandle Accept(TIdStackSocketHandle s, std::string &ip, int32_t &port) override;
  int32_t Bind(TIdStackSocketHandle s, const std::string &ip, int32_t port) override;
  int32_t CloseSocket(TIdStackSocketHandle s) override;
  int32_t Connect(TIdStackSocketHandle s, const std::string &ip, int32_t port,
                  TIdTimeout timeout) override;
  std::string GetHostByName(const std::string &name) override;
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
  // Leaves code as this thread's last failure; returns Id_SOCKET_ERROR.
  static int32_t Fail(int32_t code);

  bool FStarted = false; // the system's socket library was started for this stack
};

// The IPv4 socket address (either system's sockaddr_in) of ip and port; empty ip means any.
template <typename TAddress> TAddress MakeAddress(const std::string &ip, int32_t port) {
  TAddress address{};
  address.sin_family = Id_AF_INET;
  address.sin_port = TIdStack::HToNS(static_cast<uint16_t>(port));
  const uint32_t raw = ip.empty() ? 0 : TIdStack::TextToAddress(ip);
  std::memcpy(&address.sin_addr, &raw, sizeof raw); // four bytes, network order
  return address;
}

template <typename TAddress>
void ReadAddress(const TAddress &address, std::string &ip, int32_t &port) {
  ip = TIdStack::AddressToText(reinterpret_cast<const uint8_t *>(&address.sin_addr));
  port = TIdStack::NToHS(address.sin_port);
}

} // namespace vantari
