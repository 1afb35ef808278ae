// The OpenSSL engine of TTlsSession: only OpenSSL's calls and the socket's (TlsSession.cpp
// holds what the engines share).
#include "TlsSession.h"

#include "IdStackPosix.h"

#include <arpa/inet.h>
#include <cerrno>
#include <functional>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

namespace vantari {

namespace {

int SessionIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

std::string OpenSslErrorText() {
  const unsigned long code = ERR_peek_last_error();
  if (code == 0)
    return "connection closed by the peer";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

bool IsIpAddress(const std::string &host) {
  unsigned char address[16];
  return inet_pton(AF_INET, host.c_str(), address) == 1 ||
         inet_pton(AF_INET6, host.c_str(), address) == 1;
}

} // namespace

// The connection's OpenSSL state. OpenSSL calls back into C functions; these reach the
// session through ex_data and the BIO's data.
struct TTlsSession::TState {
  struct SslFree {
    void operator()(SSL *ssl) const { SSL_free(ssl); }
  };
  struct SessionFree {
    void operator()(SSL_SESSION *session) const { SSL_SESSION_free(session); }
  };
  using TSessionPtr = std::unique_ptr<SSL_SESSION, SessionFree>;
  struct TTicket {
    TSessionPtr Session;
    bool Used = false;
    bool FromControl = false; // made by the handshake of the connection that keeps it
  };

  explicit TState(TTlsSession &session) : Session(session) {}

  // Runs one OpenSSL call until it completes, waiting as it asks; the call's result.
  int Drive(const std::function<int()> &call, bool eofIsEnd);
  [[noreturn]] void RaiseFailure();
  void KeepTicket(SSL_SESSION *ticket);
  SSL_SESSION *TicketToOffer();

  static int Verify(int preverifyOk, X509_STORE_CTX *store);
  static int NewSession(SSL *ssl, SSL_SESSION *sslSession);
  template <typename Call> static int BioCall(BIO *bio, int retryFlags, Call call);
  static int BioRead(BIO *bio, char *out, int length);
  static int BioWrite(BIO *bio, const char *in, int length);
  static long BioControl(BIO *bio, int command, long, void *);
  static int BioCreate(BIO *bio);
  static BIO_METHOD *SocketMethod();

  TTlsSession &Session;
  std::unique_ptr<SSL, SslFree> Ssl;
  int LastErrno = 0; // errno of the socket call that failed last
  // Sessions the server gave this connection (TLS 1.3 sends them after the handshake), and
  // those it gave the data connections that resumed from it.
  std::vector<TTicket> Tickets;
  TTlsSession *TicketHome = &Session; // where this connection's new sessions go
};

int TTlsSession::TState::Verify(int preverifyOk, X509_STORE_CTX *store) {
  auto *ssl =
      static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto *session = static_cast<TTlsSession *>(SSL_get_ex_data(ssl, SessionIndex()));
  if (!preverifyOk && session)
    session->FVerifyErrors.push_back(X509_STORE_CTX_get_error(store));
  // Never fail the handshake here: an unverified certificate may still be pinned.
  return 1;
}

int TTlsSession::TState::NewSession(SSL *ssl, SSL_SESSION *sslSession) {
  auto *session = static_cast<TTlsSession *>(SSL_get_ex_data(ssl, SessionIndex()));
  if (!session)
    return 0;
  session->FState->KeepTicket(sslSession);
  return 1; // the reference is ours now
}

// One socket call for the BIO, never blocking: its count, or -1 with the BIO told to retry
// (the socket is not ready) or with the errno kept (the call failed).
template <typename Call> int TTlsSession::TState::BioCall(BIO *bio, int retryFlags, Call call) {
  auto *state = static_cast<TState *>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  for (;;) {
    const ssize_t n = call(state->Session.FFd);
    if (n >= 0)
      return static_cast<int>(n);
    if (errno == EINTR)
      continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
      BIO_set_flags(bio, retryFlags | BIO_FLAGS_SHOULD_RETRY);
    else
      state->LastErrno = errno;
    return -1;
  }
}

int TTlsSession::TState::BioRead(BIO *bio, char *out, int length) {
  const int n = BioCall(bio, BIO_FLAGS_READ, [out, length](int fd) {
    return ::recv(fd, out, static_cast<size_t>(length), MSG_DONTWAIT);
  });
  if (n == 0)
    BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
  return n;
}

int TTlsSession::TState::BioWrite(BIO *bio, const char *in, int length) {
  // MSG_NOSIGNAL: a peer that is gone must not kill the process.
  return BioCall(bio, BIO_FLAGS_WRITE, [in, length](int fd) {
    return ::send(fd, in, static_cast<size_t>(length), MSG_DONTWAIT | MSG_NOSIGNAL);
  });
}

long TTlsSession::TState::BioControl(BIO *bio, int command, long, void *) {
  switch (command) {
  case BIO_CTRL_FLUSH:
    return 1;
  case BIO_CTRL_EOF:
    return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) ? 1 : 0;
  default:
    return 0;
  }
}

int TTlsSession::TState::BioCreate(BIO *bio) {
  BIO_set_init(bio, 1);
  return 1;
}

// The socket belongs to the connection, so the BIO reads and writes it but never closes it.
BIO_METHOD *TTlsSession::TState::SocketMethod() {
  static BIO_METHOD *method = [] {
    BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vantari socket");
    BIO_meth_set_read(m, BioRead);
    BIO_meth_set_write(m, BioWrite);
    BIO_meth_set_ctrl(m, BioControl);
    BIO_meth_set_create(m, BioCreate);
    return m;
  }();
  return method;
}

int TTlsSession::TState::Drive(const std::function<int()> &call, bool eofIsEnd) {
  SSL *ssl = Ssl.get();
  for (;;) {
    ERR_clear_error();
    LastErrno = 0;
    const int result = call();
    if (result > 0)
      return result;
    switch (SSL_get_error(ssl, result)) {
    case SSL_ERROR_WANT_READ:
      if (!Session.WaitFor(twReadable))
        throw ETlsTimeout();
      continue;
    case SSL_ERROR_WANT_WRITE:
      if (!Session.WaitFor(twWritable))
        throw ETlsTimeout();
      continue;
    case SSL_ERROR_ZERO_RETURN:
      Session.FPeerClosed = true;
      Session.FPeerClosedCleanly = true;
      return 0;
    case SSL_ERROR_SYSCALL:
      if (LastErrno != 0)
        RaiseSocketError(WSACodeOfErrno(LastErrno));
      break; // end of stream
    case SSL_ERROR_SSL:
      if (ERR_GET_REASON(ERR_peek_error()) != SSL_R_UNEXPECTED_EOF_WHILE_READING)
        RaiseFailure();
      break; // end of stream without close_notify
    default:
      RaiseFailure();
    }
    if (!eofIsEnd)
      RaiseFailure();
    Session.FPeerClosed = true;
    return 0;
  }
}

void TTlsSession::TState::RaiseFailure() {
  const std::string text = OpenSslErrorText();
  ERR_clear_error();
  throw ETlsError((Session.FHandshakeDone ? "TLS failure: " : "TLS handshake failed: ") + text);
}

void TTlsSession::TState::KeepTicket(SSL_SESSION *ticket) {
  TState &home = *TicketHome->FState;
  home.Tickets.push_back(TTicket{TSessionPtr(ticket), false, TicketHome == &Session});
}

// TLS 1.3 tickets are good for one use with many servers (vsftpd's and pyftpdlib's OpenSSL
// among them; a server sends two at login), so each data connection gets one not offered
// before: the control connection's own first, then those later data connections were given.
// Only when none is left the newest is offered again (TLS 1.2 sessions allow that).
SSL_SESSION *TTlsSession::TState::TicketToOffer() {
  for (bool fromControl : {true, false}) {
    for (auto it = Tickets.rbegin(); it != Tickets.rend(); ++it) {
      if (it->FromControl == fromControl && !it->Used &&
          SSL_SESSION_is_resumable(it->Session.get())) {
        it->Used = true;
        return it->Session.get();
      }
    }
  }
  for (auto it = Tickets.rbegin(); it != Tickets.rend(); ++it) {
    if (SSL_SESSION_is_resumable(it->Session.get()))
      return it->Session.get();
  }
  return nullptr;
}

struct TTlsContext::TState {
  struct Free {
    void operator()(SSL_CTX *context) const { SSL_CTX_free(context); }
  };
  std::unique_ptr<SSL_CTX, Free> Context;
};

TTlsContext::TTlsContext(const TTlsOptions &options) : FState(std::make_unique<TState>()) {
  FState->Context.reset(SSL_CTX_new(TLS_client_method()));
  if (!FState->Context)
    throw ETlsError("TLS set-up failed: " + OpenSslErrorText());
  SSL_CTX *context = FState->Context.get();
  if (!SSL_CTX_set_min_proto_version(context, options.MinVersion) ||
      !SSL_CTX_set_max_proto_version(context, options.MaxVersion))
    throw ETlsError("TLS set-up failed: unknown protocol version");
  const int loaded = options.CAFile.empty()
                         ? SSL_CTX_set_default_verify_paths(context)
                         : SSL_CTX_load_verify_locations(context, options.CAFile.c_str(), nullptr);
  if (!loaded)
    throw ETlsError("TLS set-up failed: no trusted roots: " + OpenSslErrorText());
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, TTlsSession::TState::Verify);
  // Sessions are kept by the connection that received them (see TTlsSession), not in a cache.
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(context, TTlsSession::TState::NewSession);
  // Whole records per receive instead of header and body apart.
  SSL_CTX_set_read_ahead(context, 1);
  SSL_CTX_set_mode(context, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
}

TTlsContext::~TTlsContext() = default;

TTlsSession::TTlsSession(TTlsContext &context, int fd)
    : FState(std::make_unique<TState>(*this)), FFd(fd) {
  FState->Ssl.reset(SSL_new(context.State().Context.get()));
  SSL *ssl = FState->Ssl.get();
  if (!ssl)
    throw ETlsError("TLS set-up failed: " + OpenSslErrorText());
  SSL_set_ex_data(ssl, SessionIndex(), this);
  BIO *bio = BIO_new(TState::SocketMethod());
  if (!bio)
    throw ETlsError("TLS set-up failed: " + OpenSslErrorText());
  BIO_set_data(bio, FState.get());
  SSL_set_bio(ssl, bio, bio);
}

TTlsSession::~TTlsSession() {
  // Tickets arriving while the connection is torn down have nowhere to go.
  SSL_set_ex_data(FState->Ssl.get(), SessionIndex(), nullptr);
}

void TTlsSession::Connect(const std::string &hostName, TTlsSession *resumeFrom) {
  SSL *ssl = FState->Ssl.get();
  if (hostName.empty()) {
    FVerifyErrors.push_back(X509_V_ERR_HOSTNAME_MISMATCH);
  } else if (IsIpAddress(hostName)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), hostName.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl, hostName.c_str());
    SSL_set1_host(ssl, hostName.c_str());
  }
  if (resumeFrom) {
    FState->TicketHome = resumeFrom;
    if (SSL_SESSION *offer = resumeFrom->FState->TicketToOffer())
      SSL_set_session(ssl, offer);
  }
  FState->Drive([ssl] { return SSL_connect(ssl); }, false);
  FHandshakeDone = true;
  // A resumed handshake checks no certificate: the one the session was made with counts.
  if (resumeFrom && SessionReused())
    FVerifyErrors = resumeFrom->FVerifyErrors;
}

int32_t TTlsSession::Read(void *buffer, int32_t length) {
  if (length <= 0 || FPeerClosed)
    return 0;
  SSL *ssl = FState->Ssl.get();
  return FState->Drive([ssl, buffer, length] { return SSL_read(ssl, buffer, length); }, true);
}

void TTlsSession::Write(const void *buffer, int32_t length) {
  if (length <= 0)
    return;
  SSL *ssl = FState->Ssl.get();
  FState->Drive([ssl, buffer, length] { return SSL_write(ssl, buffer, length); }, false);
}

// Read-ahead may hold whole records not yet decrypted (the peer's close_notify among them, with
// nothing more to come on the socket), so those count too; so does a close already seen.
bool TTlsSession::HasPending() const {
  return FPeerClosed || SSL_has_pending(FState->Ssl.get()) == 1;
}

bool TTlsSession::SendCloseNotify() {
  SSL *ssl = FState->Ssl.get();
  for (;;) {
    ERR_clear_error();
    const int result = SSL_shutdown(ssl);
    if (result >= 0)
      return result == 0; // 1: the peer's close_notify came already
    if (SSL_get_error(ssl, result) != SSL_ERROR_WANT_WRITE || !WaitFor(twWritable))
      return false;
  }
}

void TTlsSession::CloseSending() {
  ::shutdown(FFd, SHUT_WR);
}

void TTlsSession::ForgetFailures() {
  ERR_clear_error();
}

std::vector<unsigned char> TTlsSession::PeerCertificateDigest() const {
  X509 *certificate = SSL_get0_peer_certificate(FState->Ssl.get());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!certificate || !X509_digest(certificate, EVP_sha256(), digest, &length))
    return {};
  return std::vector<unsigned char>(digest, digest + length);
}

bool TTlsSession::PeerSelfSigned() const {
  X509 *certificate = SSL_get0_peer_certificate(FState->Ssl.get());
  return certificate && X509_self_signed(certificate, 1) == 1;
}

std::string TTlsSession::VerifyFailureText(int failure) {
  return X509_verify_cert_error_string(failure);
}

bool TTlsSession::SessionReused() const {
  return SSL_session_reused(FState->Ssl.get()) == 1;
}

std::string TTlsSession::Version() const {
  return SSL_get_version(FState->Ssl.get());
}

} // namespace vantari
