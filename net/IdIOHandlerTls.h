#pragma once

#include "IdIOHandlerSocket.h"
#include "TlsSession.h"

#include <memory>
#include <string>

namespace vantari {

// The socket transport that can switch to TLS once connected (FTP's AUTH TLS, and every
// protected data connection): plain until StartTls, then every read, write and wait goes
// through the TLS session, and the close says close_notify first.
class TIdIOHandlerTls : public TIdIOHandlerSocket {
public:
  TIdIOHandlerTls() = default;
  ~TIdIOHandlerTls() override;

  // Client handshake on the connected socket (also when the peer connected to us); waits
  // through IdWait within timeout each. resumeFrom: see TTlsSession::Connect. Raises ETlsError.
  void StartTls(TTlsContext &context, const std::string &hostName, TTlsSession *resumeFrom,
                TIdTimeout timeout);
  // The TLS session, or nullptr while plain.
  TTlsSession *Tls() const { return FTls.get(); }

  void Shut() override;
  bool WaitReadable(TIdTimeout timeout) override;
  int32_t ReceiveSome(void *buffer, int32_t length) override;
  int32_t SendSome(const void *buffer, int32_t length, TIdTimeout timeout) override;

private:
  std::unique_ptr<TTlsSession> FTls;
  TIdTimeout FReadLimit; // the limit of the last wait for reading, kept for the read after it
};

} // namespace vantari
