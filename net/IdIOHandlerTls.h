#pragma once

#include "IdIOHandlerSocket.h"
#include "TlsSession.h"

#include <memory>
#include <string>
#include <vector>

namespace vantari {

// The socket transport that can switch to TLS once connected (FTP's AUTH TLS, and every
// protected data connection): plain until StartTls, then every read, write and wait goes
// through the TLS session, and the close says close_notify first.
class TIdIOHandlerTls : public TIdIOHandlerSocket {
public:
  TIdIOHandlerTls() = default;
  ~TIdIOHandlerTls() override;

  // Client handshake on the connected socket (also when the peer connected to us); waits
  // through IdWait within timeout each. resumeFrom: see TTlsSession::Connect. Raises ETlsError
  // (ETlsTimeout when a wait gives up).
  void StartTls(TTlsContext &context, const std::string &hostName, TTlsSession *resumeFrom,
                TIdTimeout timeout);
  // The TLS session, or nullptr while plain.
  TTlsSession *Tls() const { return FTls.get(); }

  void Shut() override;
  bool WaitReadable(TIdTimeout timeout) override;
  int32_t ReceiveSome(void *buffer, int32_t length) override;
  // Over TLS, bytes are gathered into full records (a record per small send costs a header,
  // a MAC and a system call each); FlushWrites, a wait for reading and a read send them.
  int32_t SendSome(const void *buffer, int32_t length, TIdTimeout timeout) override;
  void FlushWrites() override;

  // The most plaintext one TLS record carries.
  static constexpr int32_t RecordSize = 16384;

private:
  std::unique_ptr<TTlsSession> FTls;
  TIdTimeout FReadLimit;  // the limit of the last wait for reading, kept for the read after it
  TIdTimeout FWriteLimit; // the limit of the last send, kept for the flush after it
  std::vector<uint8_t> FGathered;
};

} // namespace vantari
