#include "IdIOHandlerTls.h"

#include "IdException.h"

namespace vantari {

namespace {

int32_t WaitMs(TIdTimeout timeout) {
  if (!timeout.Limited())
    return -2;
  return static_cast<int32_t>(std::min<int64_t>(timeout.Milliseconds(), INT32_MAX));
}

// The network layer's one wait, so a TLS wait repaints, ends at its limit and obeys cancel.
bool WaitForTls(int fd, TTlsWaitFor what, int32_t ms) {
  const TIdWaitSocket socket{fd,
                             static_cast<uint8_t>(what == twReadable ? weReadable : weWritable)};
  return !IdWait(socket, TIdDeadline(TIdTimeout::FromWaitMs(ms))).TimedOut();
}

} // namespace

TIdIOHandlerTls::~TIdIOHandlerTls() {
  TIdIOHandlerTls::Shut();
}

void TIdIOHandlerTls::StartTls(TTlsContext &context, const std::string &hostName,
                               TTlsSession *resumeFrom, TIdTimeout timeout) {
  if (!IsOpen())
    throw EIdClosedSocket();
  FTls = std::make_unique<TTlsSession>(context, SocketHandle()->SocketId());
  FTls->SetWait(WaitForTls);
  FTls->SetTimeout(WaitMs(timeout));
  try {
    FTls->Connect(hostName, resumeFrom);
  } catch (...) {
    FTls.reset(); // nothing to close politely: the handshake never finished
    throw;
  }
}

void TIdIOHandlerTls::Shut() {
  if (FTls && IsOpen())
    FTls->Shutdown(true);
  FTls.reset();
  TIdIOHandlerSocket::Shut();
}

bool TIdIOHandlerTls::WaitReadable(TIdTimeout timeout) {
  FReadLimit = timeout;
  if (FTls && FTls->HasPending())
    return true;
  return TIdIOHandlerSocket::WaitReadable(timeout);
}

int32_t TIdIOHandlerTls::ReceiveSome(void *buffer, int32_t length) {
  if (!FTls)
    return TIdIOHandlerSocket::ReceiveSome(buffer, length);
  if (!IsOpen())
    throw EIdClosedSocket();
  FTls->SetTimeout(WaitMs(FReadLimit));
  return FTls->Read(buffer, length);
}

int32_t TIdIOHandlerTls::SendSome(const void *buffer, int32_t length, TIdTimeout timeout) {
  if (!FTls)
    return TIdIOHandlerSocket::SendSome(buffer, length, timeout);
  if (!IsOpen())
    throw EIdClosedSocket();
  FTls->SetTimeout(WaitMs(timeout));
  FTls->Write(buffer, length);
  return length;
}

} // namespace vantari
