#pragma once

#include "IdIOHandler.h"
#include "IdSocketHandle.h"

#include <memory>

namespace vantari {

// Proxy settings; never configured, the transport always connects directly.
struct TIdSocksInfo {};

// The socket transport: owns one socket handle and performs the connect sequence.
class TIdIOHandlerSocket : public TIdIOHandler {
public:
  TIdIOHandlerSocket() = default;
  ~TIdIOHandlerSocket() override;

  void Shut() override;
  // OpenSocket (stream), BindLocal, hsResolving (names only), LookupHost, hsConnecting,
  // connect; a refusal raises EIdSocketError (10061), the limit passing 10060.
  void ConnectTo(const std::string &host, int32_t port, TIdTimeout timeout, int32_t boundPortMax,
                 int32_t boundPortMin, int32_t boundPort, const std::string &boundIP) override;
  bool IsOpen() override;
  // Creates the socket handle, or clears the one there is (with its local address).
  void Prepare() override;
  bool WaitReadable(TIdTimeout timeout) override;
  // Raise EIdClosedSocket "Disconnected." when not open.
  int32_t ReceiveSome(void *buffer, int32_t length) override;
  int32_t SendSome(const void *buffer, int32_t length, TIdTimeout timeout) override;
  TIdStackSocketHandle WaitSocket() const override;

  TIdSocketHandle *SocketHandle() const { return FSocketHandle.get(); }
  bool UseNagle() const { return FUseNagle; }
  void SetUseNagle(bool value) { FUseNagle = value; }
  TIdSocksInfo &SocksInfo() { return FSocksInfo; }

private:
  TIdSocketHandle &OpenHandle();

  std::unique_ptr<TIdSocketHandle> FSocketHandle;
  bool FUseNagle = true;
  TIdSocksInfo FSocksInfo;
};

} // namespace vantari
