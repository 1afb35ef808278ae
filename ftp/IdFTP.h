#pragma once

#include "IdRFCReply.h"
#include "IdTCPClient.h"
#include "Stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vantari {

class TIdSocketHandle;

class EIdFTPFileAlreadyExists : public EIdException {
public:
  EIdFTPFileAlreadyExists() : EIdException("Destination file already exists.") {}
};

enum TIdFTPTransferType { ftASCII, ftBinary };
enum TIdFtpProxyType { fpcmNone };

// Proxy settings; only fpcmNone (straight to Host:Port) is supported.
struct TIdFtpProxySettings {
  TIdFtpProxyType ProxyType = fpcmNone;
  std::string Host;
  std::string UserName;
  std::string Password;
  int32_t Port = 0;
};

// The FTP client: a session on the control connection and file transfers over
// active (PORT) or passive (PASV) data connections. Every call blocks.
// User names, passwords and remote file names are given in UTF-8 and go to the
// server as CP949.
class TIdFTP : public TIdTCPClient {
public:
  TIdFTP();
  ~TIdFTP() override;

  // Connects, expects the 220 greeting and, with logIn, logs in (USER, PASS only
  // after 331), sends TYPE and SYST. On any failure the connection is closed
  // before the exception reaches the caller.
  void OpenSession(bool logIn = true, int32_t timeoutMs = -1);
  void SendCredentials();
  void SendTypeCommand();
  // QUIT when connected, without reading the reply; then closes.
  void CloseSession();
  // The size from a 213 reply to SIZE; -1 for any other reply or a size beyond 32 bits.
  int32_t RemoteFileSize(const std::string &name);

  // overwrite truncates an existing local file; resume appends to it after the
  // server confirmed REST. Raises EIdFTPFileAlreadyExists when the file exists
  // and the flags ask for neither alone.
  void DownloadFile(const std::string &remoteName, const std::string &localPath, bool overwrite,
                    bool resume);
  void DownloadToStream(const std::string &remoteName, TStream &stream, bool resume);
  // STOR, or APPE with append; STOU for an empty remote name.
  void UploadFile(const std::string &localPath, const std::string &remoteName, bool append);
  void UploadFromStream(TStream &stream, const std::string &remoteName, bool append);
  // Probes REST once per instance.
  bool ServerSupportsRestart();

  virtual void DoAfterGet(TStream &stream);
  // Sends ABOR when connected and drops the data connection (from a work handler).
  virtual void Abort();
  virtual void DisconnectDataChannel();

  const std::string &Username() const { return FUsername; }
  void SetUsername(const std::string &value) { FUsername = value; }
  const std::string &Password() const { return FPassword; }
  void SetPassword(const std::string &value) { FPassword = value; }
  bool Passive() const { return FPassive; }
  void SetPassive(bool value) { FPassive = value; }
  TIdFTPTransferType TransferType() const { return FTransferType; }
  // Sends TYPE at once when connected; no effect during a transfer.
  void SetTransferType(TIdFTPTransferType value);
  const TIdFtpProxySettings &ProxySettings() const { return FProxySettings; }
  void SetProxySettings(const TIdFtpProxySettings &value) { FProxySettings = value; }
  // How long an active-mode transfer waits for the server's data connection (ms; 0 = no limit).
  int32_t DataConnectionTimeout() const { return FDataConnectionTimeout; }
  void SetDataConnectionTimeout(int32_t ms) { FDataConnectionTimeout = ms; }

  TIdRFCReply &LoginReply() { return FLoginReply; }
  const std::string &SystemType() const { return FSystemType; }
  TIdTCPConnection *DataChannel() const { return FDataChannel.get(); }
  bool RestartTested() const { return FRestartTested; }
  bool RestartSupported() const { return FRestartSupported; }

  std::function<void(TIdFTP *Sender)> OnAfterClientLogin;
  std::function<void(TIdFTP *Sender, TStream &stream)> OnAfterGet;

private:
  void RunDownload(const std::string &command, TStream &stream, bool resume);
  void RunUpload(const std::string &command, TStream &stream);
  void RunTransfer(const std::function<void()> &moveData);
  void PrepareDataChannel();
  void SendPortCommand(const TIdSocketHandle &handle);
  void RequestPassiveAddress(std::string &host, int32_t &port);
  void ListenForData();
  void WaitForData();
  void ConnectForData(const std::string &host, int32_t port);
  void SendRestart(TStream &stream);
  void FinishDataChannel();
  void ExpectTransferReply();
  void WatchControlConnection();

  std::string FUsername;
  std::string FPassword;
  bool FPassive = false;
  TIdFTPTransferType FTransferType = ftBinary;
  TIdFtpProxySettings FProxySettings;
  int32_t FDataConnectionTimeout = 60000;
  TIdRFCReply FLoginReply;
  std::string FSystemType;
  std::unique_ptr<TIdTCPConnection> FDataChannel;
  bool FRestartTested = false;
  bool FRestartSupported = false;
};

} // namespace vantari
