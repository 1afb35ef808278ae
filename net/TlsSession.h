#pragma once

#include "IdException.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
// OpenSSL's types, so that users of this header need not include OpenSSL.
struct ssl_ctx_st;
struct ssl_st;
struct ssl_session_st;
#endif

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

#ifdef _WIN32
  struct TState;
  TState &State() const {
    return *FState;
  }

private:
  std::unique_ptr<TState> FState;
#else
  ssl_ctx_st *Handle() const {
    return FContext.get();
  }

private:
  struct Free {
    void operator()(ssl_ctx_st *context) const;
  };
  std::unique_ptr<ssl_ctx_st, Free> FContext;
#endif
};

enum TTlsWaitFor { twReadable, twWritable };
// Blocks until fd is ready for what, for at most timeoutMs (-2: no limit); false on time-out.
// The network layer hands its one wait here, so a TLS wait repaints and ends like every other.
using TTlsWait = std::function<bool(int fd, TTlsWaitFor what, int32_t timeoutMs)>;

// The client side of TLS over a connected stream socket that somebody else owns.
// Every call blocks through the wait; the socket's own blocking mode is left alone.
class TTlsSession {
public:
  TTlsSession(TTlsContext &context, int fd);
  ~TTlsSession();
  TTlsSession(const TTlsSession &) = delete;
  TTlsSession &operator=(const TTlsSession &) = delete;

  void SetWait(TTlsWait wait) { FWait = std::move(wait); }
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
  // The first verification failure, in OpenSSL's words; empty when verified.
  std::string VerifyErrorText() const;
  bool SessionReused() const;
  // "TLSv1.2", "TLSv1.3".
  std::string Version() const;

#ifdef _WIN32
private:
  struct TState; // the SChannel context and what it buffers

  bool WaitFor(TTlsWaitFor what);

  std::unique_ptr<TState> FState;
  int FFd;
  TTlsWait FWait;
  int32_t FTimeoutMs = -2;
  bool FHandshakeDone = false;
  bool FPeerClosed = false;
  bool FPeerClosedCleanly = false;
  std::vector<int> FVerifyErrors; // the chain check's failures (Windows codes)
#else
private:
  friend struct TTlsCallbacks;
  struct SessionFree {
    void operator()(ssl_session_st *session) const;
  };
  using TSessionPtr = std::unique_ptr<ssl_session_st, SessionFree>;
  struct Ticket {
    TSessionPtr Session;
    bool Used = false;
    bool FromControl = false; // made by the handshake of the connection that keeps it
  };
  struct SslFree {
    void operator()(ssl_st *ssl) const;
  };

  // Runs one OpenSSL call until it completes, waiting as it asks; the call's result.
  int Drive(const std::function<int()> &call, bool eofIsEnd);
  bool WaitFor(TTlsWaitFor what);
  [[noreturn]] void RaiseFailure(const char *what);
  void KeepTicket(ssl_session_st *session);
  ssl_session_st *TicketToOffer();

  std::unique_ptr<ssl_st, SslFree> FSsl;
  int FFd;
  TTlsWait FWait;
  int32_t FTimeoutMs = -2;
  bool FHandshakeDone = false;
  bool FPeerClosed = false;
  bool FPeerClosedCleanly = false;
  int FLastErrno = 0; // errno of the socket call that failed last
  std::vector<int> FVerifyErrors;
  // Sessions the server gave this connection (TLS 1.3 sends them after the handshake), and
  // those it gave the data connections that resumed from it.
  std::vector<Ticket> FTickets;
  TTlsSession *FTicketHome = this; // where this connection's new sessions go
#endif
};

} // namespace vantari
