#include "ServerSession.h"

#include "IdFTP.h"
#include "IdIcmpClient.h"
#include "IdWait.h"
#include "ServerProbe.h"
#include "SyncState.h"

namespace vantari {

namespace {

constexpr int32_t PingTimeout = 10000;
// An echo answers within milliseconds where echoes pass at all; one not back by then is
// missed, and a network that swallows echoes costs no more than this before the server is
// asked directly.
constexpr int32_t FirstEchoTimeout = 2000;
// How long the connectivity check's TCP try may take when an echo was missed.
constexpr int32_t ServerProbeTimeout = 10000;

} // namespace

TServerSession::TServerSession(const TWorkflowConfig &config, TSyncState &syncState)
    : FConfig(config), FSyncState(syncState) {
  FIdFTP1 = std::make_unique<TIdFTP>();
  FIdFTP1->SetMaxLineAction(maException);
  FIdFTP1->SetReadTimeout(0);
  FIdFTP1->SetRecvBufferSize(8192);
  FIdFTP1->SetSendBufferSize(1024);
  FIdFTP1->SetPort(FConfig.FtpPort);
  FIdFTP1->SetPassive(false);
  FIdFTP1->SetPassword("anonymous@");
  // FTP over TLS as the build chose; whom to trust is TTlsTrust's decision, always under the
  // name the connectivity check gave.
  FTlsTrust = std::make_unique<TTlsTrust>(FConfig.TlsPolicy);
  FIdFTP1->SetTlsPolicy(FConfig.TlsPolicy);
  FIdFTP1->OnTlsPeer = [this](TIdFTP *, const TTlsSession &session) {
    return FTlsTrust->AcceptPeer(FHost, session);
  };
  FIdFTP1->OnTlsNotOffered = [this](TIdFTP *) { return FTlsTrust->AcceptPlainText(FHost); };

  FPing = std::make_unique<TIdIcmpClient>();
  FPing->SetWaitCeiling(FConfig.PingWaitCeiling);
}

TServerSession::~TServerSession() = default;

bool TServerSession::CheckInternet() {
  FHost.clear();
  FPing->SetHost(FConfig.PingTarget);
  bool answered = true;
  try {
    for (int echo = 0; echo < 3 && answered; ++echo) {
      FPing->SetReceiveTimeout(echo == 0 ? FirstEchoTimeout : PingTimeout);
      FPing->SendPing(std::string(), 0);
      answered = FPing->LastEcho().SenderAddress != "0.0.0.0";
    }
  } catch (const EIdCancelled &) {
    throw;
  } catch (const EIdException &) {
    answered = false; // no echo to be had here (e.g. no right to ICMP sockets)
  }
  // A network that filters ICMP still lets the service through: ask the server itself.
  if (!answered && !ServerAnswers(FConfig.FtpHost, FConfig.FtpPort, ServerProbeTimeout))
    return false;
  FHost = FConfig.FtpHost;
  return true;
}

void TServerSession::Open(const std::string &user, const std::string &password) {
  FTlsTrust->ClearRefusal();
  // Without a checked host the certificate would be judged (and pinned) under no name.
  if (FHost.empty())
    throw EIdException("No connectivity check named the server.");
  FIdFTP1->SetUsername(user);
  FIdFTP1->SetPassword(password);
  FIdFTP1->SetHost(FHost);
  FIdFTP1->SetPassive(FSyncState.PassiveWorks(FHost));
  FIdFTP1->OpenSession(true, -1);
}

void TServerSession::Close() {
  FIdFTP1->CloseSession();
}

bool TServerSession::IsOpen() {
  return FIdFTP1->IsConnected();
}

TTlsRefusal TServerSession::Refusal() const {
  return FTlsTrust->Refusal();
}

void TServerSession::RememberPassiveMode() {
  if (FIdFTP1->Passive() && !FSyncState.PassiveWorks(FHost))
    FSyncState.SetPassiveWorks(FHost, true);
}

} // namespace vantari
