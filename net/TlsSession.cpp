#include "TlsSession.h"

#include "IdStackPosix.h"

#include <arpa/inet.h>
#include <cerrno>
#include <mutex>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

namespace vantari {

namespace {

// Bytes a shutdown drops while it waits for the peer's close_notify, at most.
constexpr int MaxDrainBytes = 1 << 20;
// A peer that neither answers close_notify nor closes is left after this long.
constexpr int32_t ShutdownWaitMs = 10000;

int SessionIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

[[noreturn]] void RaiseSocketError(int error) {
  const int32_t code = WSACodeOfErrno(error);
  if (HasSharedStack())
    SharedStack().RaiseError(code);
  TIdStackPosix stack;
  stack.RaiseError(code);
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

// OpenSSL calls back into C functions; these reach the session through ex_data / BIO data.
struct TTlsCallbacks {
  static int Verify(int preverifyOk, X509_STORE_CTX *store) {
    auto *ssl =
        static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto *session = static_cast<TTlsSession *>(SSL_get_ex_data(ssl, SessionIndex()));
    if (!preverifyOk && session)
      session->FVerifyErrors.push_back(X509_STORE_CTX_get_error(store));
    // Never fail the handshake here: an unverified certificate may still be pinned.
    return 1;
  }

  static int NewSession(SSL *ssl, SSL_SESSION *sslSession) {
    auto *session = static_cast<TTlsSession *>(SSL_get_ex_data(ssl, SessionIndex()));
    if (!session)
      return 0;
    session->KeepTicket(sslSession);
    return 1; // the reference is ours now
  }

  static int BioRead(BIO *bio, char *out, int length) {
    auto *session = static_cast<TTlsSession *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    for (;;) {
      const ssize_t n = ::recv(session->FFd, out, static_cast<size_t>(length), MSG_DONTWAIT);
      if (n >= 0) {
        if (n == 0)
          BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
        return static_cast<int>(n);
      }
      if (errno == EINTR)
        continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        BIO_set_retry_read(bio);
      } else {
        session->FLastErrno = errno;
      }
      return -1;
    }
  }

  static int BioWrite(BIO *bio, const char *in, int length) {
    auto *session = static_cast<TTlsSession *>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    for (;;) {
      // MSG_NOSIGNAL: a peer that is gone must not kill the process.
      const ssize_t n =
          ::send(session->FFd, in, static_cast<size_t>(length), MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n >= 0)
        return static_cast<int>(n);
      if (errno == EINTR)
        continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        BIO_set_retry_write(bio);
      } else {
        session->FLastErrno = errno;
      }
      return -1;
    }
  }

  static long BioControl(BIO *bio, int command, long, void *) {
    switch (command) {
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_CTRL_EOF:
      return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) ? 1 : 0;
    default:
      return 0;
    }
  }

  static int BioCreate(BIO *bio) {
    BIO_set_init(bio, 1);
    return 1;
  }

  // The socket belongs to the connection, so the BIO reads and writes it but never closes it.
  static BIO_METHOD *SocketMethod() {
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
};

void TTlsContext::Free::operator()(SSL_CTX *context) const {
  SSL_CTX_free(context);
}

TTlsContext::TTlsContext(const TTlsOptions &options) {
  FContext.reset(SSL_CTX_new(TLS_client_method()));
  if (!FContext)
    throw ETlsError("TLS set-up failed: " + OpenSslErrorText());
  SSL_CTX *context = FContext.get();
  if (!SSL_CTX_set_min_proto_version(context, options.MinVersion) ||
      !SSL_CTX_set_max_proto_version(context, options.MaxVersion))
    throw ETlsError("TLS set-up failed: unknown protocol version");
  const int loaded = options.CAFile.empty()
                         ? SSL_CTX_set_default_verify_paths(context)
                         : SSL_CTX_load_verify_locations(context, options.CAFile.c_str(), nullptr);
  if (!loaded)
    throw ETlsError("TLS set-up failed: no trusted roots: " + OpenSslErrorText());
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, TTlsCallbacks::Verify);
  // Sessions are kept by the connection that received them (see TTlsSession), not in a cache.
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(context, TTlsCallbacks::NewSession);
  // Whole records per receive instead of header and body apart.
  SSL_CTX_set_read_ahead(context, 1);
  SSL_CTX_set_mode(context, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
}

TTlsContext::~TTlsContext() = default;

void TTlsSession::SslFree::operator()(SSL *ssl) const {
  SSL_free(ssl);
}

void TTlsSession::SessionFree::operator()(SSL_SESSION *session) const {
  SSL_SESSION_free(session);
}

TTlsSession::TTlsSession(TTlsContext &context, int fd) : FFd(fd) {
  FSsl.reset(SSL_new(context.Handle()));
  if (!FSsl)
    throw ETlsError("TLS set-up failed: " + OpenSslErrorText());
  SSL_set_ex_data(FSsl.get(), SessionIndex(), this);
  BIO *bio = BIO_new(TTlsCallbacks::SocketMethod());
  if (!bio)
    throw ETlsError("TLS set-up failed: " + OpenSslErrorText());
  BIO_set_data(bio, this);
  SSL_set_bio(FSsl.get(), bio, bio);
}

TTlsSession::~TTlsSession() {
  // Tickets arriving while the connection is torn down have nowhere to go.
  SSL_set_ex_data(FSsl.get(), SessionIndex(), nullptr);
}

void TTlsSession::Connect(const std::string &hostName, TTlsSession *resumeFrom) {
  SSL *ssl = FSsl.get();
  if (hostName.empty()) {
    FVerifyErrors.push_back(X509_V_ERR_HOSTNAME_MISMATCH);
  } else if (IsIpAddress(hostName)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), hostName.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl, hostName.c_str());
    SSL_set1_host(ssl, hostName.c_str());
  }
  if (resumeFrom) {
    FTicketHome = resumeFrom;
    if (SSL_SESSION *offer = resumeFrom->TicketToOffer())
      SSL_set_session(ssl, offer);
  }
  Drive([ssl] { return SSL_connect(ssl); }, false);
  FHandshakeDone = true;
  // A resumed handshake checks no certificate: the one the session was made with counts.
  if (resumeFrom && SessionReused())
    FVerifyErrors = resumeFrom->FVerifyErrors;
}

int32_t TTlsSession::Read(void *buffer, int32_t length) {
  if (length <= 0 || FPeerClosed)
    return 0;
  SSL *ssl = FSsl.get();
  return Drive([ssl, buffer, length] { return SSL_read(ssl, buffer, length); }, true);
}

void TTlsSession::Write(const void *buffer, int32_t length) {
  if (length <= 0)
    return;
  SSL *ssl = FSsl.get();
  Drive([ssl, buffer, length] { return SSL_write(ssl, buffer, length); }, false);
}

// Read-ahead may hold whole records not yet decrypted (the peer's close_notify among them, with
// nothing more to come on the socket), so those count too; so does a close already seen.
bool TTlsSession::HasPending() const {
  return FPeerClosed || SSL_has_pending(FSsl.get()) == 1;
}

void TTlsSession::Shutdown(bool waitForPeer) {
  if (!FHandshakeDone)
    return;
  SSL *ssl = FSsl.get();
  const int32_t savedTimeout = FTimeoutMs;
  FTimeoutMs = (FTimeoutMs < 0 || FTimeoutMs > ShutdownWaitMs) ? ShutdownWaitMs : FTimeoutMs;
  try {
    int result = 0;
    for (;;) {
      ERR_clear_error();
      result = SSL_shutdown(ssl);
      if (result >= 0)
        break;
      if (SSL_get_error(ssl, result) != SSL_ERROR_WANT_WRITE || !WaitFor(twWritable))
        break;
    }
    if (result == 0 && waitForPeer && !FPeerClosed) {
      // Our end is said: the peer sees its end of stream and closes in turn.
      ::shutdown(FFd, SHUT_WR);
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
  ERR_clear_error();
}

int TTlsSession::Drive(const std::function<int()> &call, bool eofIsEnd) {
  SSL *ssl = FSsl.get();
  for (;;) {
    ERR_clear_error();
    FLastErrno = 0;
    const int result = call();
    if (result > 0)
      return result;
    switch (SSL_get_error(ssl, result)) {
    case SSL_ERROR_WANT_READ:
      if (!WaitFor(twReadable))
        throw ETlsTimeout();
      continue;
    case SSL_ERROR_WANT_WRITE:
      if (!WaitFor(twWritable))
        throw ETlsTimeout();
      continue;
    case SSL_ERROR_ZERO_RETURN:
      FPeerClosed = true;
      FPeerClosedCleanly = true;
      return 0;
    case SSL_ERROR_SYSCALL:
      if (FLastErrno != 0)
        RaiseSocketError(FLastErrno);
      break; // end of stream
    case SSL_ERROR_SSL:
      if (ERR_GET_REASON(ERR_peek_error()) != SSL_R_UNEXPECTED_EOF_WHILE_READING)
        RaiseFailure(FHandshakeDone ? "TLS failure: " : "TLS handshake failed: ");
      break; // end of stream without close_notify
    default:
      RaiseFailure(FHandshakeDone ? "TLS failure: " : "TLS handshake failed: ");
    }
    if (!eofIsEnd)
      RaiseFailure(FHandshakeDone ? "TLS failure: " : "TLS handshake failed: ");
    FPeerClosed = true;
    return 0;
  }
}

bool TTlsSession::WaitFor(TTlsWaitFor what) {
  if (FWait)
    return FWait(FFd, what, FTimeoutMs);
  pollfd entry{FFd, static_cast<short>(what == twReadable ? POLLIN : POLLOUT), 0};
  for (;;) {
    const int result = ::poll(&entry, 1, FTimeoutMs < 0 ? -1 : FTimeoutMs);
    if (result >= 0 || errno != EINTR)
      return result != 0; // an error shows itself in the next call
  }
}

void TTlsSession::RaiseFailure(const char *what) {
  const std::string text = OpenSslErrorText();
  ERR_clear_error();
  throw ETlsError(what + text);
}

void TTlsSession::KeepTicket(SSL_SESSION *session) {
  FTicketHome->FTickets.push_back(Ticket{TSessionPtr(session), false, FTicketHome == this});
}

// TLS 1.3 tickets are good for one use with many servers (vsftpd's and pyftpdlib's OpenSSL
// among them; a server sends two at login), so each data connection gets one not offered
// before: the control connection's own first, then those later data connections were given.
// Only when none is left the newest is offered again (TLS 1.2 sessions allow that).
SSL_SESSION *TTlsSession::TicketToOffer() {
  for (bool fromControl : {true, false}) {
    for (auto it = FTickets.rbegin(); it != FTickets.rend(); ++it) {
      if (it->FromControl == fromControl && !it->Used &&
          SSL_SESSION_is_resumable(it->Session.get())) {
        it->Used = true;
        return it->Session.get();
      }
    }
  }
  for (auto it = FTickets.rbegin(); it != FTickets.rend(); ++it) {
    if (SSL_SESSION_is_resumable(it->Session.get()))
      return it->Session.get();
  }
  return nullptr;
}

std::string TTlsSession::PeerFingerprint() const {
  X509 *certificate = SSL_get0_peer_certificate(FSsl.get());
  if (!certificate)
    return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!X509_digest(certificate, EVP_sha256(), digest, &length))
    return {};
  static const char hex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    if (i > 0)
      text += ':';
    text += hex[digest[i] >> 4];
    text += hex[digest[i] & 15];
  }
  return text;
}

bool TTlsSession::PeerSelfSigned() const {
  X509 *certificate = SSL_get0_peer_certificate(FSsl.get());
  return certificate && X509_self_signed(certificate, 1) == 1;
}

std::string TTlsSession::VerifyErrorText() const {
  if (!FHandshakeDone)
    return "no handshake";
  return FVerifyErrors.empty() ? std::string()
                               : X509_verify_cert_error_string(FVerifyErrors.front());
}

bool TTlsSession::SessionReused() const {
  return SSL_session_reused(FSsl.get()) == 1;
}

std::string TTlsSession::Version() const {
  return SSL_get_version(FSsl.get());
}

} // namespace vantari
