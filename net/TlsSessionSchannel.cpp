// The SChannel engine of TTlsSession: only SChannel's calls and the socket's (TlsSession.cpp
// holds what the engines share).
#include "TlsSession.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <schannel.h>
#include <wincrypt.h>
#include <bcrypt.h>
// clang-format on

#include "DurableFile.h"
#include "win/WinText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vantari {

namespace {

// The largest file of trusted roots read (a system's whole bundle is a fraction of it).
constexpr size_t MaxRootsFileBytes = 16 << 20;
// Largest TLS record on the wire: header, 16 KiB of data, the cipher's expansion.
constexpr size_t MaxRecordSize = 5 + 16384 + 2048;

// SECURITY_FLAG_IGNORE_UNKNOWN_CA of the SSL chain policy.
constexpr DWORD IgnoreUnknownRoot = 0x00000100;

constexpr DWORD HandshakeFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                 ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                 ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR;

// The status code and the system's own words for it.
std::string StatusText(SECURITY_STATUS status) {
  char code[32];
  std::snprintf(code, sizeof code, "SSPI status 0x%08lX", static_cast<unsigned long>(status));
  return std::string(code) + " (" + win::SystemMessage(static_cast<DWORD>(status)) + ")";
}

// A token the security package allocated, given back when done.
struct TOutputToken {
  SecBuffer Buffer{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc Desc{SECBUFFER_VERSION, 1, &Buffer};
  ~TOutputToken() {
    if (Buffer.pvBuffer)
      ::FreeContextBuffer(Buffer.pvBuffer);
  }
};

struct TCertificateFree {
  void operator()(const CERT_CONTEXT *certificate) const {
    ::CertFreeCertificateContext(certificate);
  }
};
using TCertificatePtr = std::unique_ptr<const CERT_CONTEXT, TCertificateFree>;

struct TChainFree {
  void operator()(const CERT_CHAIN_CONTEXT *chain) const { ::CertFreeCertificateChain(chain); }
};
using TChainPtr = std::unique_ptr<const CERT_CHAIN_CONTEXT, TChainFree>;

// The DER certificates of a PEM file; none when it cannot be read.
std::vector<std::vector<BYTE>> PemCertificates(const std::string &path) {
  std::string text;
  if (ReadSmallFile(path, MaxRootsFileBytes, text) != TSmallRead::srRead)
    return {};
  std::vector<std::vector<BYTE>> certificates;
  const std::string begin = "-----BEGIN CERTIFICATE-----";
  const std::string end = "-----END CERTIFICATE-----";
  for (size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at + 1)) {
    const size_t stop = text.find(end, at);
    if (stop == std::string::npos)
      break;
    const std::string block = text.substr(at, stop + end.size() - at);
    DWORD size = 0;
    if (!::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
      continue;
    std::vector<BYTE> der(size);
    if (::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                               CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
      certificates.push_back(std::move(der));
  }
  return certificates;
}

} // namespace

// The credentials every connection of one FTP session shares: SChannel resumes a session
// for the same credentials and the same target name, which is how data connections prove
// they belong to the control connection. Roots of a file of their own (tests) are kept in
// a store of their own and trusted only for chains that end in them.
struct TTlsContext::TState {
  CredHandle Credentials{};
  bool HasCredentials = false;
  HCERTSTORE Roots = nullptr;

  ~TState() {
    if (HasCredentials)
      ::FreeCredentialsHandle(&Credentials);
    if (Roots)
      ::CertCloseStore(Roots, 0);
  }
};

TTlsContext::TTlsContext(const TTlsOptions &options) : FState(std::make_unique<TState>()) {
  DWORD protocols = 0;
  if (options.MinVersion <= TlsVersion12 &&
      (options.MaxVersion == 0 || options.MaxVersion >= TlsVersion12))
    protocols |= SP_PROT_TLS1_2_CLIENT;
  if (options.MaxVersion == 0 || options.MaxVersion >= TlsVersion13)
    protocols |= SP_PROT_TLS1_3_CLIENT;
  if (protocols == 0)
    throw ETlsError("TLS set-up failed: unknown protocol version");
  if (!options.CAFile.empty()) {
    FState->Roots = ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    for (const auto &der : PemCertificates(options.CAFile)) {
      ::CertAddEncodedCertificateToStore(FState->Roots, X509_ASN_ENCODING, der.data(),
                                         static_cast<DWORD>(der.size()),
                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    }
    if (!FState->Roots || !::CertEnumCertificatesInStore(FState->Roots, nullptr))
      throw ETlsError("TLS set-up failed: no trusted roots: " + options.CAFile);
  }
  SCHANNEL_CRED credentials{};
  credentials.dwVersion = SCHANNEL_CRED_VERSION;
  credentials.grbitEnabledProtocols = protocols;
  // The chain and the name are checked after the handshake (CheckPeer), so that a
  // self-signed server can still be pinned on first use.
  credentials.dwFlags =
      SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  SECURITY_STATUS status = ::AcquireCredentialsHandleW(
      nullptr, const_cast<SEC_WCHAR *>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &credentials,
      nullptr, nullptr, &FState->Credentials, nullptr);
  if (status != SEC_E_OK && (protocols & SP_PROT_TLS1_3_CLIENT)) {
    // Systems without TLS 1.3 refuse to hear of it.
    credentials.grbitEnabledProtocols = protocols & ~SP_PROT_TLS1_3_CLIENT;
    status = ::AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR *>(UNISP_NAME_W),
                                         SECPKG_CRED_OUTBOUND, nullptr, &credentials, nullptr,
                                         nullptr, &FState->Credentials, nullptr);
  }
  if (status != SEC_E_OK)
    throw ETlsError("TLS set-up failed: " + StatusText(status));
  FState->HasCredentials = true;
}

TTlsContext::~TTlsContext() = default;

struct TTlsSession::TState {
  explicit TState(TTlsContext &context) : Shared(context.State()) {}
  ~TState() {
    if (HasContext)
      ::DeleteSecurityContext(&Handle);
  }
  TState(const TState &) = delete;
  TState &operator=(const TState &) = delete;

  TTlsContext::TState &Shared; // the credentials
  CtxtHandle Handle{};
  bool HasContext = false;
  std::wstring Target;
  SecPkgContext_StreamSizes Sizes{};
  std::vector<char> Incoming; // received, not yet decrypted
  std::string Plain;          // decrypted, not yet read
  TCertificatePtr Peer;

  void SendAll(TTlsSession &session, const char *data, size_t length);
  // Appends what the socket has; false at end of stream.
  bool ReceiveMore(TTlsSession &session);
  void Handshake(TTlsSession &session, bool started);
  // Decrypts the records in Incoming; false when more bytes are needed.
  bool DecryptSome(TTlsSession &session);
  void CheckPeer(TTlsSession &session, const std::string &hostName);
};

void TTlsSession::TState::SendAll(TTlsSession &session, const char *data, size_t length) {
  while (length > 0) {
    if (!session.WaitFor(twWritable))
      throw ETlsTimeout();
    const int n = ::send(static_cast<SOCKET>(session.FFd), data,
                         static_cast<int>(std::min<size_t>(length, MaxRecordSize)), 0);
    if (n == SOCKET_ERROR) {
      const int error = ::WSAGetLastError();
      if (error == WSAEWOULDBLOCK)
        continue;
      RaiseSocketError(error);
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
}

bool TTlsSession::TState::ReceiveMore(TTlsSession &session) {
  if (!session.WaitFor(twReadable))
    throw ETlsTimeout();
  char buffer[MaxRecordSize];
  const int n = ::recv(static_cast<SOCKET>(session.FFd), buffer, sizeof buffer, 0);
  if (n == SOCKET_ERROR)
    RaiseSocketError(::WSAGetLastError());
  Incoming.insert(Incoming.end(), buffer, buffer + n);
  return n > 0;
}

// Runs InitializeSecurityContext until the handshake is done; with started, the first
// message was sent already (a renegotiation or post-handshake message is in Incoming).
void TTlsSession::TState::Handshake(TTlsSession &session, bool started) {
  const char *failure = session.FHandshakeDone ? "TLS failure: " : "TLS handshake failed: ";
  bool needInput = !started || Incoming.empty();
  if (!started) {
    TOutputToken output;
    DWORD flags = 0;
    const SECURITY_STATUS status = ::InitializeSecurityContextW(
        &Shared.Credentials, nullptr, Target.empty() ? nullptr : Target.data(), HandshakeFlags, 0,
        0, nullptr, 0, &Handle, &output.Desc, &flags, nullptr);
    if (status != SEC_I_CONTINUE_NEEDED)
      throw ETlsError(failure + StatusText(status));
    HasContext = true;
    SendAll(session, static_cast<const char *>(output.Buffer.pvBuffer), output.Buffer.cbBuffer);
    needInput = true;
  }
  for (;;) {
    if (needInput && !ReceiveMore(session))
      throw ETlsError(std::string(failure) + "connection closed by the peer");
    SecBuffer input[2] = {
        {static_cast<unsigned long>(Incoming.size()), SECBUFFER_TOKEN, Incoming.data()},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inputDesc{SECBUFFER_VERSION, 2, input};
    TOutputToken output;
    DWORD flags = 0;
    const SECURITY_STATUS status = ::InitializeSecurityContextW(
        &Shared.Credentials, &Handle, Target.empty() ? nullptr : Target.data(), HandshakeFlags, 0,
        0, &inputDesc, 0, nullptr, &output.Desc, &flags, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      needInput = true;
      continue;
    }
    if (output.Buffer.cbBuffer > 0 && output.Buffer.pvBuffer)
      SendAll(session, static_cast<const char *>(output.Buffer.pvBuffer), output.Buffer.cbBuffer);
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED &&
        status != SEC_I_INCOMPLETE_CREDENTIALS)
      throw ETlsError(failure + StatusText(status));
    // What the step did not use stays for the next (or for the first records of data).
    if (input[1].BufferType == SECBUFFER_EXTRA && input[1].cbBuffer > 0) {
      Incoming.erase(Incoming.begin(), Incoming.end() - input[1].cbBuffer);
      needInput = false;
    } else {
      Incoming.clear();
      needInput = true;
    }
    if (status == SEC_E_OK)
      break;
    if (status == SEC_I_CONTINUE_NEEDED && !needInput && Incoming.empty())
      needInput = true;
  }
  ::QueryContextAttributesW(&Handle, SECPKG_ATTR_STREAM_SIZES, &Sizes);
}

bool TTlsSession::TState::DecryptSome(TTlsSession &session) {
  while (!Incoming.empty()) {
    SecBuffer buffers[4] = {
        {static_cast<unsigned long>(Incoming.size()), SECBUFFER_DATA, Incoming.data()},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = ::DecryptMessage(&Handle, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE)
      return false;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
      throw ETlsError("TLS failure: " + StatusText(status));
    std::vector<char> extra;
    for (const SecBuffer &buffer : buffers) {
      const char *bytes = static_cast<const char *>(buffer.pvBuffer);
      if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0)
        Plain.append(bytes, buffer.cbBuffer);
      else if (buffer.BufferType == SECBUFFER_EXTRA && buffer.cbBuffer > 0)
        extra.assign(bytes, bytes + buffer.cbBuffer);
    }
    Incoming = std::move(extra);
    if (status == SEC_I_CONTEXT_EXPIRED) {
      session.FPeerClosed = true;
      session.FPeerClosedCleanly = true;
      Incoming.clear();
      return true;
    }
    if (status == SEC_I_RENEGOTIATE) {
      // Post-handshake messages (TLS 1.3 session tickets, key updates) go back through the
      // handshake call.
      Handshake(session, true);
    }
  }
  return true;
}

// The chain must end in a trusted root (the system's store, or the roots named in the
// options) and the certificate must name the host; failures are kept, not raised: a
// self-signed server may still be pinned.
void TTlsSession::TState::CheckPeer(TTlsSession &session, const std::string &hostName) {
  const CERT_CONTEXT *peer = nullptr;
  if (::QueryContextAttributesW(&Handle, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &peer) != SEC_E_OK ||
      !peer) {
    session.FVerifyErrors.push_back(static_cast<int>(SEC_E_CERT_UNKNOWN));
    return;
  }
  Peer.reset(peer);
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof parameters;
  const CERT_CHAIN_CONTEXT *chain = nullptr;
  if (!::CertGetCertificateChain(nullptr, peer, nullptr,
                                 Shared.Roots ? Shared.Roots : peer->hCertStore, &parameters, 0,
                                 nullptr, &chain)) {
    session.FVerifyErrors.push_back(static_cast<int>(::GetLastError()));
    return;
  }
  const TChainPtr owned(chain);
  std::wstring server = win::Widen(hostName);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA extra{};
  extra.cbSize = sizeof extra;
  extra.dwAuthType = AUTHTYPE_SERVER;
  extra.pwszServerName = server.empty() ? nullptr : server.data();
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &extra;
  CERT_CHAIN_POLICY_STATUS outcome{};
  outcome.cbSize = sizeof outcome;
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &outcome)) {
    session.FVerifyErrors.push_back(static_cast<int>(::GetLastError()));
    return;
  }
  if (outcome.dwError == static_cast<DWORD>(CERT_E_UNTRUSTEDROOT) && Shared.Roots &&
      chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
    // The roots named in the options: trusted when the chain ends in one of them and the
    // name matches; the system's own roots are not asked then.
    const CERT_SIMPLE_CHAIN *simple = chain->rgpChain[0];
    const CERT_CONTEXT *root = simple->rgpElement[simple->cElement - 1]->pCertContext;
    const CERT_CONTEXT *known = ::CertFindCertificateInStore(Shared.Roots, X509_ASN_ENCODING, 0,
                                                             CERT_FIND_EXISTING, root, nullptr);
    if (known) {
      ::CertFreeCertificateContext(known);
      extra.fdwChecks = IgnoreUnknownRoot;
      outcome = CERT_CHAIN_POLICY_STATUS{};
      outcome.cbSize = sizeof outcome;
      if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &outcome))
        outcome.dwError = ::GetLastError();
    }
  }
  if (outcome.dwError != 0)
    session.FVerifyErrors.push_back(static_cast<int>(outcome.dwError));
}

TTlsSession::TTlsSession(TTlsContext &context, int fd)
    : FState(std::make_unique<TState>(context)), FFd(fd) {}

TTlsSession::~TTlsSession() = default;

void TTlsSession::Connect(const std::string &hostName, TTlsSession *resumeFrom) {
  // SChannel finds the session to resume by credentials and target name: the data
  // connections share the control connection's context and name its host, so resumeFrom
  // has nothing more to hand over.
  (void)resumeFrom;
  FState->Target = win::Widen(hostName);
  FState->Handshake(*this, false);
  FHandshakeDone = true;
  if (hostName.empty())
    FVerifyErrors.push_back(static_cast<int>(CERT_E_CN_NO_MATCH));
  FState->CheckPeer(*this, hostName);
}

int32_t TTlsSession::Read(void *buffer, int32_t length) {
  if (length <= 0)
    return 0;
  TState &state = *FState;
  for (;;) {
    if (!state.Plain.empty()) {
      const size_t n = std::min(state.Plain.size(), static_cast<size_t>(length));
      std::memcpy(buffer, state.Plain.data(), n);
      state.Plain.erase(0, n);
      return static_cast<int32_t>(n);
    }
    if (FPeerClosed)
      return 0;
    if (state.DecryptSome(*this) && (!state.Plain.empty() || FPeerClosed))
      continue;
    if (!state.ReceiveMore(*this)) {
      FPeerClosed = true; // end of stream without close_notify
      return 0;
    }
  }
}

void TTlsSession::Write(const void *buffer, int32_t length) {
  TState &state = *FState;
  const auto *data = static_cast<const char *>(buffer);
  const size_t most = state.Sizes.cbMaximumMessage > 0 ? state.Sizes.cbMaximumMessage : 16384;
  // Whole records as large as the cipher allows, so the peer decrypts few.
  std::vector<char> record(state.Sizes.cbHeader + most + state.Sizes.cbTrailer);
  while (length > 0) {
    const size_t n = std::min(most, static_cast<size_t>(length));
    std::memcpy(record.data() + state.Sizes.cbHeader, data, n);
    SecBuffer buffers[4] = {
        {state.Sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
        {static_cast<unsigned long>(n), SECBUFFER_DATA, record.data() + state.Sizes.cbHeader},
        {state.Sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + state.Sizes.cbHeader + n},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = ::EncryptMessage(&state.Handle, 0, &desc, 0);
    if (status != SEC_E_OK)
      throw ETlsError("TLS failure: " + StatusText(status));
    state.SendAll(*this, record.data(),
                  buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
    data += n;
    length -= static_cast<int32_t>(n);
  }
}

// A whole record waiting in the buffer counts too (the peer's close_notify among them,
// with nothing more to come on the socket); so does a close already seen.
bool TTlsSession::HasPending() const {
  const TState &state = *FState;
  if (FPeerClosed || !state.Plain.empty())
    return true;
  const auto &in = state.Incoming;
  if (in.size() < 5)
    return false;
  const size_t record =
      5 + ((static_cast<unsigned char>(in[3]) << 8) | static_cast<unsigned char>(in[4]));
  return in.size() >= record;
}

bool TTlsSession::SendCloseNotify() {
  TState &state = *FState;
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
  SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
  if (::ApplyControlToken(&state.Handle, &controlDesc) == SEC_E_OK) {
    TOutputToken output;
    DWORD flags = 0;
    const SECURITY_STATUS status = ::InitializeSecurityContextW(
        &state.Shared.Credentials, &state.Handle,
        state.Target.empty() ? nullptr : state.Target.data(), HandshakeFlags, 0, 0, nullptr, 0,
        nullptr, &output.Desc, &flags, nullptr);
    if ((status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED) && output.Buffer.cbBuffer > 0)
      state.SendAll(*this, static_cast<const char *>(output.Buffer.pvBuffer),
                    output.Buffer.cbBuffer);
  }
  return true; // SChannel keeps no record of the peer's close_notify until it is read
}

void TTlsSession::CloseSending() {
  ::shutdown(static_cast<SOCKET>(FFd), SD_SEND);
}

void TTlsSession::ForgetFailures() {}

std::vector<unsigned char> TTlsSession::PeerCertificateDigest() const {
  const CERT_CONTEXT *peer = FState->Peer.get();
  if (!peer)
    return {};
  std::vector<unsigned char> digest(32);
  BCRYPT_ALG_HANDLE sha256 = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    return {};
  const NTSTATUS hashed = ::BCryptHash(sha256, nullptr, 0, peer->pbCertEncoded, peer->cbCertEncoded,
                                       digest.data(), static_cast<ULONG>(digest.size()));
  ::BCryptCloseAlgorithmProvider(sha256, 0);
  if (!BCRYPT_SUCCESS(hashed))
    return {};
  return digest;
}

bool TTlsSession::PeerSelfSigned() const {
  const CERT_CONTEXT *peer = FState->Peer.get();
  if (!peer)
    return false;
  CERT_INFO *info = peer->pCertInfo;
  return ::CertCompareCertificateName(X509_ASN_ENCODING, &info->Subject, &info->Issuer) &&
         ::CryptVerifyCertificateSignatureEx(
             0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
             const_cast<CERT_CONTEXT *>(peer), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
             const_cast<CERT_CONTEXT *>(peer), 0, nullptr);
}

std::string TTlsSession::VerifyFailureText(int failure) {
  return win::SystemMessage(static_cast<DWORD>(failure));
}

bool TTlsSession::SessionReused() const {
  SecPkgContext_SessionInfo info{};
  if (!FState->HasContext ||
      ::QueryContextAttributesW(&FState->Handle, SECPKG_ATTR_SESSION_INFO, &info) != SEC_E_OK)
    return false;
  return (info.dwFlags & SSL_SESSION_RECONNECT) != 0;
}

std::string TTlsSession::Version() const {
  SecPkgContext_ConnectionInfo info{};
  if (!FState->HasContext ||
      ::QueryContextAttributesW(&FState->Handle, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK)
    return {};
  if (info.dwProtocol & SP_PROT_TLS1_3_CLIENT)
    return "TLSv1.3";
  if (info.dwProtocol & SP_PROT_TLS1_2_CLIENT)
    return "TLSv1.2";
  return "TLS";
}

} // namespace vantari
