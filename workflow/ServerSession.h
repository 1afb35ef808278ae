#pragma once

#include "TlsTrust.h"
#include "WorkflowConfig.h"

#include <memory>
#include <string>

namespace vantari {

class TIdFTP;
class TIdIcmpClient;
class TSyncState;

// The one way to the service's server, the same for upload, download and status: the
// connectivity check names the host, the TLS trust judges the server under that name, passive
// mode starts as the sync state remembers it, then the login, with the session's limits.
class TServerSession {
public:
  TServerSession(const TWorkflowConfig &config, TSyncState &syncState);
  ~TServerSession();
  TServerSession(const TServerSession &) = delete;
  TServerSession &operator=(const TServerSession &) = delete;

  // Echoes to the ping target; at the first one missed the server's own port decides. True
  // names the host that Open logs in to. Blocks; raises only EIdCancelled.
  bool CheckInternet();
  // Logs in to the host the last check named (none: refused before any connection). Blocks;
  // raises on any failure; Refusal() tells a TLS verdict apart.
  void Open(const std::string &user, const std::string &password);
  // QUIT and close; nothing when not open.
  void Close();
  bool IsOpen();
  const std::string &Host() const { return FHost; }
  TTlsRefusal Refusal() const;
  // A server where only passive mode worked starts in passive mode next time.
  void RememberPassiveMode();

  // The open session's FTP component, for the workflow's transfers and its events.
  TIdFTP &FTP() { return *FIdFTP1; }
  const TIdFTP &FTP() const { return *FIdFTP1; }

private:
  const TWorkflowConfig &FConfig;
  TSyncState &FSyncState;
  std::unique_ptr<TIdFTP> FIdFTP1;
  std::unique_ptr<TTlsTrust> FTlsTrust;
  std::unique_ptr<TIdIcmpClient> FPing;
  std::string FHost; // set by a successful check only
};

} // namespace vantari
