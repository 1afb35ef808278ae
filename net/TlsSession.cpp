// What the TLS engines share: the wait, the close and its drain, the fingerprint that pins a
// server. The engines' own calls are in TlsSessionOpenSsl.cpp and TlsSessionSchannel.cpp.
#include "TlsSession.h"

#include "IdStack.h"
#include "IdWait.h"

namespace vantari {

namespace {

// Bytes a shutdown drops while it waits for the peer's close_notify, at most.
constexpr int MaxDrainBytes = 1 << 20;
// A peer that neither answers close_notify nor closes is left after this long.
constexpr int32_t ShutdownWaitMs = 10000;

} // namespace

bool TTlsSession::WaitFor(TTlsWaitFor what) {
  const TIdWaitSocket socket{FFd,
                             static_cast<uint8_t>(what == twReadable ? weReadable : weWritable)};
  return !IdWait(socket, TIdDeadline(TIdTimeout::FromWaitMs(FTimeoutMs))).TimedOut();
}

void TTlsSession::RaiseSocketError(int32_t code) {
  if (HasSharedStack())
    SharedStack().RaiseError(code);
  CreateSystemStack()->RaiseError(code);
}

void TTlsSession::Shutdown(bool waitForPeer) {
  if (!FHandshakeDone)
    return;
  const int32_t savedTimeout = FTimeoutMs;
  FTimeoutMs = (FTimeoutMs < 0 || FTimeoutMs > ShutdownWaitMs) ? ShutdownWaitMs : FTimeoutMs;
  try {
    if (SendCloseNotify() && waitForPeer && !FPeerClosed) {
      // Our end is said: the peer sees its end of stream and closes in turn.
      CloseSending();
      char sink[16384];
      int dropped = 0;
      while (dropped < MaxDrainBytes) {
        const int32_t n = Read(sink, sizeof sink);
        if (n <= 0)
          break;
        dropped += n;
      }
    }
  } catch (const EIdException &) {
    // The peer went away first; nothing left to say to it.
  }
  FTimeoutMs = savedTimeout;
  ForgetFailures();
}

std::string TTlsSession::PeerFingerprint() const {
  static const char hex[] = "0123456789ABCDEF";
  std::string text;
  for (const unsigned char byte : PeerCertificateDigest()) {
    if (!text.empty())
      text += ':';
    text += hex[byte >> 4];
    text += hex[byte & 15];
  }
  return text;
}

std::string TTlsSession::VerifyErrorText() const {
  if (!FHandshakeDone)
    return "no handshake";
  return FVerifyErrors.empty() ? std::string() : VerifyFailureText(FVerifyErrors.front());
}

} // namespace vantari
