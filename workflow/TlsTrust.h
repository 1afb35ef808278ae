#pragma once

#include "TlsSession.h"

#include <string>

namespace vantari {

// "off", "preferred", "required"; anything else is tpPreferred.
TTlsPolicy TlsPolicyOf(const std::string &text);

// Why the last check refused the server.
enum TTlsRefusal { trNone, trCertificateChanged, trDowngrade, trUntrusted, trNotOffered };

// Whether a server's TLS is to be trusted. Per host it remembers, in section "TLS:<host>" of
// the settings file (FtpHost.ini, or the file named at construction), that the server once offered
// TLS (Offered=1), after which clear text is refused like a changed certificate, and the SHA-256
// fingerprint of a self-signed certificate pinned on first use (Certificate=AB:CD:...).
class TTlsTrust {
public:
  explicit TTlsTrust(TTlsPolicy policy, std::string settingsFile = {});

  TTlsPolicy Policy() const { return FPolicy; }
  // The control connection's handshake is done; true lets the login go on. A certificate
  // the system's roots vouch for (with the host name) is trusted; a self-signed one is pinned
  // the first time and must match afterwards; anything else is refused.
  bool AcceptPeer(const std::string &host, const TTlsSession &session);
  // The server did not take AUTH TLS; true lets the login go on in clear text.
  bool AcceptPlainText(const std::string &host);

  TTlsRefusal Refusal() const { return FRefusal; }
  void ClearRefusal() { FRefusal = trNone; }
  // The message the user sees when a session failed with this refusal.
  static std::string FailureMessage(TTlsRefusal refusal);

  std::string PinnedCertificate(const std::string &host) const;
  bool OfferedBefore(const std::string &host) const;

private:
  static std::string Section(const std::string &host);
  std::string File() const;
  bool Refuse(TTlsRefusal refusal);

  std::string FSettingsFile;
  TTlsPolicy FPolicy;
  TTlsRefusal FRefusal = trNone;
};

} // namespace vantari
