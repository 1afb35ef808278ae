#pragma once

#include "IdException.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantari {

// A TLS failure: the handshake was refused, a record was damaged, the peer broke the protocol.
class ETlsError : public EIdException {
public:
  using EIdException::EIdException;
};
// The wait handed to the session gave up before the peer answered or took bytes: a time-out
// like any other, whether TLS was reading or writing.
class ETlsTimeout : public EIdReadTimeout {
public:
  ETlsTimeout() = default;
};

// When a connection that can run over TLS does: tpOff never asks, tpPreferred uses TLS whenever
// the peer offers it, tpRequired refuses a peer that does not.
enum TTlsPolicy { tpOff, tpPreferred, tpRequired };

// Protocol versions as TLS numbers them.
constexpr int TlsVersion12 = 0x0303;
constexpr int TlsVersion13 = 0x0304;

struct TTlsOptions {
  int MinVersion = TlsVersion12;
  int MaxVersion = 0; // 0: the newest the library knows
  // Trusted roots: empty means the system's store; tests name a file of their own.
  std::string CAFile;
};

// One client configuration (OpenSSL context; on Windows SChannel credentials) shared by a
// control connection and its data connections, so that sessions made by one can be offered
// by the others.
class TTlsContext {
public:
  explicit TTlsContext(const TTlsOptions &options = {});
  ~TTlsContext();
  TTlsContext(const TTlsContext &) = delete;
  TTlsContext &operator=(const TTlsContext &) = delete;

  struct TState; // the engine's own
  TState &State() const { return *FState; }

private:
  std::unique_ptr<TState> FState;
};

// What an engine waits for on the socket.
enum TTlsWaitFor { twReadable, twWritable };

// The client side of TLS over a connected stream socket that somebody else owns.
// Every call blocks through the network layer's one wait (IdWait: it repaints, ends at its
// limit and obeys cancel); the socket's own blocking mode is left alone. TlsSession.cpp holds
// what every engine shares, TlsSessionOpenSsl.cpp and TlsSessionSchannel.cpp the engines.
class TTlsSession {
public:
  TTlsSession(TTlsContext &context, int fd);
  ~TTlsSession();
  TTlsSession(const TTlsSession &) = delete;
  TTlsSession &operator=(const TTlsSession &) = delete;

  // Limit of each wait for the peer, in ms; -2 (the default) waits without limit.
  void SetTimeout(int32_t ms) { FTimeoutMs = ms; }

  // Client handshake. hostName is sent as SNI (names only) and must match the certificate
  // for PeerVerified. With resumeFrom, offers a session that connection received (FTP data
  // connections prove this way that they belong to the control connection); sessions the
  // server then gives this connection go to resumeFrom too, which must outlive this one.
  // Raises ETlsError, or ETlsTimeout when a wait gives up.
  void Connect(const std::string &hostName, TTlsSession *resumeFrom = nullptr);
  // Up to length bytes (> 0); 0 when the peer has closed (see PeerClosedCleanly).
  int32_t Read(void *buffer, int32_t length);
  // All length bytes, or raises (ETlsError, ETlsTimeout, EIdSocketError).
  void Write(const void *buffer, int32_t length);
  // A Read can return without waiting for the socket: bytes or records are buffered, or the
  // peer's close was seen.
  bool HasPending() const;
  // Sends close_notify; with waitForPeer also reads (and drops) until the peer's close_notify
  // or end of stream, so closing the socket afterwards never resets data the peer has yet to
  // read. Errors are swallowed: the transfer's outcome was settled before.
  void Shutdown(bool waitForPeer);

  // The peer ended with close_notify, not by a bare end of stream (which may be a truncation).
  bool PeerClosedCleanly() const { return FPeerClosedCleanly; }
  // SHA-256 of the peer's certificate (DER), upper-case hex pairs joined by ':'.
  std::string PeerFingerprint() const;
  // The chain ends in a trusted root and the certificate names hostName.
  bool PeerVerified() const { return FHandshakeDone && FVerifyErrors.empty(); }
  // The certificate is its own issuer (nothing but a pin can make it trusted).
  bool PeerSelfSigned() const;
  // The first verification failure, in the engine's words; empty when verified.
  std::string VerifyErrorText() const;
  bool SessionReused() const;
  // "TLSv1.2", "TLSv1.3".
  std::string Version() const;

  struct TState; // the engine's connection and what it buffers

private:
  // Blocks until the socket is ready for what, within the timeout; false on time-out.
  bool WaitFor(TTlsWaitFor what);
  [[noreturn]] static void RaiseSocketError(int32_t code);
  // The engine's part of Shutdown: sends close_notify; true when the peer's is yet to come.
  bool SendCloseNotify();
  // Ends this side's sending on the socket, so the peer sees its end of stream.
  void CloseSending();
  // Drops what the engine kept of failures on the way out.
  void ForgetFailures();
  // SHA-256 of the peer's certificate; empty without one.
  std::vector<unsigned char> PeerCertificateDigest() const;
  // The text of one verification failure, in the engine's words.
  static std::string VerifyFailureText(int failure);

  std::unique_ptr<TState> FState;
  int FFd;
  int32_t FTimeoutMs = -2;
  bool FHandshakeDone = false;
  bool FPeerClosed = false;
  bool FPeerClosedCleanly = false;
  std::vector<int> FVerifyErrors; // the chain check's failures (the engine's codes)
};

} // namespace vantari
