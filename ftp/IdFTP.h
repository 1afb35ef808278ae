#pragma once

#include "IdRFCReply.h"
#include "IdTCPClient.h"
#include "Stream.h"
#include "TlsSession.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantari {

class TIdSocketHandle;

class EIdFTPFileAlreadyExists : public EIdException {
public:
  EIdFTPFileAlreadyExists() : EIdException("Destination file already exists.") {}
};

// A transfer that did not move the whole file: fewer (or more) bytes than the server
// announced, or, where the size cannot be asked, no 226 at its end.
class EIdFTPTransferIncomplete : public EIdException {
public:
  EIdFTPTransferIncomplete() : EIdException("The file was not transferred completely.") {}
};
// A passive-mode reply whose numbers are out of range.
class EIdFTPPassiveReply : public EIdException {
public:
  EIdFTPPassiveReply() : EIdException("The passive mode reply is not valid.") {}
};
// A user name, password or file name holding CR, LF or NUL, which would end the command.
class EIdFTPIllegalArgument : public EIdException {
public:
  EIdFTPIllegalArgument() : EIdException("A command argument holds CR, LF or NUL.") {}
};

// The server's TLS was not accepted (OnTlsPeer said no, or the certificate is not one the
// system's roots vouch for), or the server offers no TLS where it must. Nothing of the login
// was sent.
class EIdFTPTlsRefused : public EIdException {
public:
  EIdFTPTlsRefused() : EIdException("The server's TLS was not accepted.") {}
};

// A folder listing longer than TIdFTP::MaxListingBytes: the transfer was given up.
class EIdFTPListingTooLong : public EIdException {
public:
  EIdFTPListingTooLong() : EIdException("The folder listing is too long.") {}
};

// One name of a folder listing; Size is -1 where the listing gives none (NLST).
struct TIdFTPListItem {
  std::string Name; // UTF-8, without the folder
  int64_t Size = -1;
  bool IsFile = true; // false for what MLSD calls a folder or a link to one
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
// active (PORT) or passive (EPSV, PASV) data connections. Every call blocks, and
// every wait has a limit:
//   ConnectTimeout (30 s)         the TCP connect of the session and of passive data
//                                 connections, host lookup included;
//   ReplyTimeout (60 s)           each whole reply on the control connection;
//   DataConnectionTimeout (10 s)  in active mode, the reply to PORT (some servers
//                                 connect first) and, again, the server's data
//                                 connection after the transfer command;
//   TransferTimeout (60 s)        a data connection on which no byte moves;
//   RecoveryTimeout (5 s)         the replies still due after a failed transfer.
// A limit passing raises EIdReadTimeout, EIdAcceptTimeout or EIdSocketError 10060.
// A cancel (IdRequestCancel, from the window) ends the wait in progress with
// EIdCancelled; during a transfer the data connection is reset, ABOR is sent and the
// session is closed, so nothing half-done is kept by the server under the final name.
// Active mode falls back once per transfer to passive mode when PORT is refused, the
// server cannot open the data connection (425) or it does not come in time; Passive()
// then stays true for the session, which tells the caller that passive mode works.
// In active mode only the server's address may connect; in passive mode the data
// connection goes to the server's address whatever the reply names.
// After a failed transfer the session is brought back in step (ABOR, PWD) or, when that
// fails within RecoveryTimeout, closed: IsConnected() tells which.
// User names, passwords and remote file names are given in UTF-8 and go to the
// server as CP949; CR, LF and NUL in them raise EIdFTPIllegalArgument.
// FTP over TLS (TlsPolicy, off by default): after the greeting AUTH TLS; on 234 the TLS
// handshake, OnTlsPeer's verdict, then the login, PBSZ 0 and PROT P. Every data connection,
// in both modes, then runs the client side of TLS and resumes the login's TLS session (or,
// with a server that does not insist, must at least show the same certificate); an upload
// ends with close_notify.
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
  // The size from a 213 reply to SIZE; -1 for any other reply, a negative size or one
  // beyond 32 bits.
  int32_t RemoteFileSize(const std::string &name);
  // The modification time from a 213 reply to MDTM ("YYYYMMDDHHMMSS", UTC); empty for
  // any other reply.
  std::string RemoteFileTime(const std::string &name);
  // RNFR then RNTO; raises EIdProtocolReplyError when either is refused.
  void Rename(const std::string &from, const std::string &to);
  // DELE; raises EIdProtocolReplyError when refused.
  void Delete(const std::string &name);
  // Whether the server's reply to FEAT names feature (e.g. "MLST"); FEAT is asked once per
  // session, and a server without it has no features.
  bool HasFeature(const std::string &feature);
  // The names in folder (empty: the current one): MLSD where FEAT names MLST, else NLST, over
  // a data connection like a download. A listing over MaxListingBytes raises
  // EIdFTPListingTooLong; a refusal EIdProtocolReplyError.
  std::vector<TIdFTPListItem> ListFolder(const std::string &folder);
  static constexpr int64_t MaxListingBytes = 1 << 20;

  // After an upload: SIZE must give expectedSize; where the server gives no size, the
  // transfer must have ended with 225, 226 or 250. Raises EIdFTPTransferIncomplete otherwise.
  void VerifyUpload(const std::string &remoteName, int64_t expectedSize);

  // overwrite truncates an existing local file; resume appends to it after the
  // server confirmed REST. Raises EIdFTPFileAlreadyExists when the file exists
  // and the flags ask for neither alone. With expectedSize (from SIZE) a file that
  // ends up of another size raises EIdFTPTransferIncomplete.
  void DownloadFile(const std::string &remoteName, const std::string &localPath, bool overwrite,
                    bool resume, int64_t expectedSize = -1);
  void DownloadToStream(const std::string &remoteName, TStream &stream, bool resume,
                        int64_t expectedSize = -1);
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
  // The limits listed above (ms; 0 = no limit).
  int32_t DataConnectionTimeout() const { return FDataConnectionTimeout; }
  void SetDataConnectionTimeout(int32_t ms) { FDataConnectionTimeout = ms; }
  int32_t TransferTimeout() const { return FTransferTimeout; }
  void SetTransferTimeout(int32_t ms) { FTransferTimeout = ms; }
  int32_t RecoveryTimeout() const { return FRecoveryTimeout; }
  void SetRecoveryTimeout(int32_t ms) { FRecoveryTimeout = ms; }
  // The final reply code of the last transfer (0 before any).
  int16_t LastTransferCode() const { return FLastTransferCode; }

  TIdRFCReply &LoginReply() { return FLoginReply; }
  const std::string &SystemType() const { return FSystemType; }
  TIdTCPConnection *DataChannel() const { return FDataChannel.get(); }
  bool RestartTested() const { return FRestartTested; }
  bool RestartSupported() const { return FRestartSupported; }

  TTlsPolicy TlsPolicy() const { return FTlsPolicy; }
  void SetTlsPolicy(TTlsPolicy value) { FTlsPolicy = value; }
  // Versions and trusted roots of the next session's TLS.
  TTlsOptions &TlsOptions() { return FTlsOptions; }
  // The control connection's TLS session, or nullptr while the session is in clear text.
  TTlsSession *ControlTls() const;

  // Judges the server's certificate after the handshake, before the login; false ends the
  // session (EIdFTPTlsRefused). Unassigned: only a certificate the system's roots vouch for.
  std::function<bool(TIdFTP *Sender, const TTlsSession &Session)> OnTlsPeer;
  // With tpPreferred, the server refused AUTH TLS; false ends the session before the login
  // (EIdFTPTlsRefused). Unassigned: the session goes on in clear text.
  std::function<bool(TIdFTP *Sender)> OnTlsNotOffered;
  std::function<void(TIdFTP *Sender)> OnAfterClientLogin;
  std::function<void(TIdFTP *Sender, TStream &stream)> OnAfterGet;

private:
  struct TTransfer;
  void RunDownload(const std::string &command, TStream &stream, bool resume);
  void RunUpload(const std::string &command, TStream &stream);
  void RunTransfer(TTransfer &transfer);
  bool TryActive(TTransfer &transfer);
  void RunPassive(TTransfer &transfer);
  void MoveData(TTransfer &transfer, bool fromStart);
  void FailTransfer(TTransfer &transfer, bool cancelled);
  bool Resynchronise();
  void AbandonConnection();
  void CloseAfterCancel();
  void PrepareDataChannel();
  void SendPortCommand(const TIdSocketHandle &handle);
  void RequestPassiveAddress(std::string &host, int32_t &port);
  int32_t RequestPassivePort();
  void ListenForData();
  int AwaitActiveData(TTransfer &transfer);
  void ConnectForData(int32_t port);
  void SendRestart(TStream &stream);
  void FinishDataChannel(bool failed = false);
  void StartControlTls();
  void StartDataTls();
  void ExpectTransferReply(TTransfer &transfer);
  std::string ControlAddress(bool remote) const;
  std::string Argument(const std::string &text) const;

  std::string FUsername;
  std::string FPassword;
  bool FPassive = false;
  TIdFTPTransferType FTransferType = ftBinary;
  TIdFtpProxySettings FProxySettings;
  int32_t FDataConnectionTimeout = 10000;
  int32_t FTransferTimeout = 60000;
  int32_t FRecoveryTimeout = 5000;
  int16_t FLastTransferCode = 0;
  bool FEpsvRefused = false;
  TIdRFCReply FLoginReply;
  std::string FSystemType;
  TTlsPolicy FTlsPolicy = tpOff;
  TTlsOptions FTlsOptions;
  std::unique_ptr<TTlsContext> FTlsContext;
  std::unique_ptr<TIdTCPConnection> FDataChannel;
  bool FRestartTested = false;
  bool FRestartSupported = false;
  bool FFeaturesRead = false;
  std::vector<std::string> FFeatures;
};

} // namespace vantari
