#include "TlsTrust.h"

#include "PrivateProfile.h"
#include "SettingsStore.h"
#include "TlsSession.h"

#include <algorithm>
#include <cctype>

namespace vantari {

TTlsPolicy TlsPolicyOf(const std::string &text) {
  if (text == "off")
    return tpOff;
  if (text == "required")
    return tpRequired;
  return tpPreferred;
}

TTlsTrust::TTlsTrust(TTlsPolicy policy, std::string settingsFile)
    : FSettingsFile(std::move(settingsFile)), FPolicy(policy) {}

// FtpHost.ini is looked up at each use: the configuration folder may be chosen after start.
std::string TTlsTrust::File() const {
  return FSettingsFile.empty() ? TSettingsStore::SettingsFile() : FSettingsFile;
}

std::string TTlsTrust::Section(const std::string &host) {
  std::string name = host;
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return "TLS:" + name;
}

bool TTlsTrust::Refuse(TTlsRefusal refusal) {
  FRefusal = refusal;
  return false;
}

bool TTlsTrust::AcceptPeer(const std::string &host, const TTlsSession &session) {
  FRefusal = trNone;
  // The server took AUTH TLS: from now on clear text from it is refused, whatever comes next.
  if (!OfferedBefore(host))
    WritePrivateProfileString(Section(host), "Offered", "1", File());
  const std::string fingerprint = session.PeerFingerprint();
  if (fingerprint.empty())
    return Refuse(trUntrusted);
  if (session.PeerVerified())
    return true;
  if (!session.PeerSelfSigned())
    return Refuse(trUntrusted);
  const std::string pinned = PinnedCertificate(host);
  if (pinned.empty()) {
    WritePrivateProfileString(Section(host), "Certificate", fingerprint, File());
    return true;
  }
  return pinned == fingerprint || Refuse(trCertificateChanged);
}

bool TTlsTrust::AcceptPlainText(const std::string &host) {
  FRefusal = trNone;
  if (FPolicy == tpRequired)
    return Refuse(trNotOffered);
  // A server that offered TLS before and no longer does is more likely someone in between.
  if (FPolicy == tpPreferred && OfferedBefore(host))
    return Refuse(trDowngrade);
  return true;
}

std::string TTlsTrust::FailureMessage(TTlsRefusal refusal) {
  if (refusal == trCertificateChanged || refusal == trDowngrade)
    return "서버의 보안 인증서가 바뀌었습니다. 안전을 위해 접속하지 않았습니다.";
  return "서버 접속에 실패하였습니다.";
}

std::string TTlsTrust::PinnedCertificate(const std::string &host) const {
  return GetPrivateProfileString(Section(host), "Certificate", "", File());
}

bool TTlsTrust::OfferedBefore(const std::string &host) const {
  return GetPrivateProfileString(Section(host), "Offered", "", File()) == "1";
}

} // namespace vantari
