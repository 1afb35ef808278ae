#include "IdFTP.h"

#include "Cp949.h"
#include "FileSystem.h"
#include "IdIOHandlerTls.h"

namespace vantari {

namespace {

std::string FirstLine(const TIdRFCReply &reply) {
  return reply.Text().empty() ? std::string() : reply.Text().front();
}

} // namespace

TIdFTP::TIdFTP() {
  SetPort(21);
  SetConnectTimeout(30000);
  SetReplyTimeout(60000);
  SetWriteTimeout(60000);
}

TIdFTP::~TIdFTP() = default;

void TIdFTP::OpenSession(bool logIn, int32_t timeoutMs) {
  try {
    OpenConnection(timeoutMs == 0 ? -1 : timeoutMs);
    ExpectReply({220});
    GreetingReply() = LastReply();
    if (FTlsPolicy != tpOff)
      StartControlTls();
    if (logIn) {
      SendCredentials();
      if (OnAfterClientLogin)
        OnAfterClientLogin(this);
      if (ControlTls()) {
        SendCommand("PBSZ 0", {200});
        SendCommand("PROT P", {200});
      }
      SendTypeCommand();
      if (SendCommand("SYST", {200, 215, 500}) == 500)
        FSystemType = "Unknown";
      else
        FSystemType = FirstLine(LastReply());
      ReportStatus(ftpReady, "Connection established");
    }
  } catch (const EIdReadTimeout &) {
    AbandonConnection(); // the server stopped answering: it would not end TLS politely either
    throw;
  } catch (...) {
    CloseConnection();
    throw;
  }
}

void TIdFTP::SendCredentials() {
  const std::string user = Argument(FUsername);
  const std::string password = Argument(FPassword);
  if (SendCommand("USER " + user, {230, 331}) == 331)
    SendCommand("PASS " + password, {230});
  FLoginReply = LastReply();
}

void TIdFTP::SendTypeCommand() {
  SendCommand(FTransferType == ftASCII ? "TYPE A" : "TYPE I", {200});
}

void TIdFTP::SetTransferType(TIdFTPTransferType value) {
  if (value == FTransferType || FDataChannel)
    return;
  FTransferType = value;
  if (IsConnected())
    SendTypeCommand();
}

void TIdFTP::CloseSession() {
  if (IsConnected())
    WriteLine("QUIT");
  CloseConnection();
}

int32_t TIdFTP::RemoteFileSize(const std::string &name) {
  if (SendCommand("SIZE " + Argument(name), -1) != 213)
    return -1;
  std::string joined;
  for (const std::string &line : LastReply().Text())
    joined += (joined.empty() ? "" : "\r\n") + line;
  joined = TrimBlanks(joined);
  const size_t space = joined.find(' ');
  if (space != std::string::npos)
    joined.erase(0, space + 1);
  int32_t size = -1;
  return ParseInt32(joined, size) && size >= 0 ? size : -1;
}

std::string TIdFTP::RemoteFileTime(const std::string &name) {
  if (SendCommand("MDTM " + Argument(name), -1) != 213)
    return std::string();
  const std::string time = TrimBlanks(FirstLine(LastReply()));
  // YYYYMMDDHHMMSS, perhaps with a fraction after it.
  if (time.size() < 14 ||
      !std::all_of(time.begin(), time.begin() + 14, [](char c) { return c >= '0' && c <= '9'; }))
    return std::string();
  return time.substr(0, 14);
}

void TIdFTP::Rename(const std::string &from, const std::string &to) {
  const std::string target = Argument(to);
  SendCommand("RNFR " + Argument(from), {350});
  SendCommand("RNTO " + target, {250});
}

void TIdFTP::Delete(const std::string &name) {
  SendCommand("DELE " + Argument(name), {200, 250});
}

void TIdFTP::VerifyUpload(const std::string &remoteName, int64_t expectedSize) {
  const int32_t size = RemoteFileSize(remoteName);
  // Without SIZE the final reply is all there is: 225, 226 and 250 all say the file is whole.
  const bool whole =
      FLastTransferCode == 225 || FLastTransferCode == 226 || FLastTransferCode == 250;
  if (size >= 0 ? size != expectedSize : !whole)
    throw EIdFTPTransferIncomplete();
}

bool TIdFTP::ServerSupportsRestart() {
  if (FRestartTested)
    return FRestartSupported;
  FRestartTested = true;
  FRestartSupported = SendCommand("REST 1", -1) == 350;
  SendCommand("REST 0", -1);
  return FRestartSupported;
}

void TIdFTP::DownloadFile(const std::string &remoteName, const std::string &localPath,
                          bool overwrite, bool resume, int64_t expectedSize) {
  std::unique_ptr<TFileStream> file;
  if (FileExists(localPath)) {
    resume = resume && ServerSupportsRestart();
    if (overwrite && !resume) {
      file = std::make_unique<TFileStream>(localPath, fmCreate);
    } else if (resume && !overwrite) {
      file = std::make_unique<TFileStream>(localPath, fmOpenWrite);
      file->Seek(0, TSeekOrigin::soEnd);
    } else {
      throw EIdFTPFileAlreadyExists();
    }
  } else {
    file = std::make_unique<TFileStream>(localPath, fmCreate);
  }
  DownloadToStream(remoteName, *file, resume, expectedSize);
}

void TIdFTP::DownloadToStream(const std::string &remoteName, TStream &stream, bool resume,
                              int64_t expectedSize) {
  const std::string command = "RETR " + Argument(remoteName);
  resume = resume && ServerSupportsRestart();
  RunDownload(command, stream, resume);
  // A server that closes the data connection early looks like the end of the file.
  if (expectedSize >= 0 && stream.Size() != expectedSize)
    throw EIdFTPTransferIncomplete();
  DoAfterGet(stream);
}

void TIdFTP::UploadFile(const std::string &localPath, const std::string &remoteName, bool append) {
  TFileStream file(localPath, fmOpenRead);
  UploadFromStream(file, remoteName, append);
}

void TIdFTP::UploadFromStream(TStream &stream, const std::string &remoteName, bool append) {
  if (remoteName.empty())
    RunUpload("STOU ", stream);
  else
    RunUpload((append ? "APPE " : "STOR ") + Argument(remoteName), stream);
}

void TIdFTP::DoAfterGet(TStream &stream) {
  if (OnAfterGet)
    OnAfterGet(this, stream);
}

void TIdFTP::Abort() {
  if (IsConnected())
    WriteLine("ABOR");
  DisconnectDataChannel();
}

void TIdFTP::DisconnectDataChannel() {
  if (FDataChannel)
    FDataChannel->DropSocket();
}

TTlsSession *TIdFTP::ControlTls() const {
  auto *transport = dynamic_cast<TIdIOHandlerTls *>(IOHandler());
  return transport ? transport->Tls() : nullptr;
}

// AUTH TLS and the handshake, before anything of the login is sent.
void TIdFTP::StartControlTls() {
  if (SendCommand("AUTH TLS", -1) != 234) {
    if (FTlsPolicy == tpRequired || (OnTlsNotOffered && !OnTlsNotOffered(this)))
      throw EIdFTPTlsRefused();
    return;
  }
  auto *transport = dynamic_cast<TIdIOHandlerTls *>(IOHandler());
  // Bytes that came after the 234 would pass for replies sent inside TLS.
  if (!transport || InputQueue().Size() != 0)
    throw ETlsError("TLS failure: clear text after the AUTH TLS reply");
  FTlsContext = std::make_unique<TTlsContext>(FTlsOptions);
  transport->StartTls(*FTlsContext, Host(), nullptr, TIdTimeout::FromSetting(ReplyTimeout()));
  const TTlsSession &session = *transport->Tls();
  if (OnTlsPeer ? !OnTlsPeer(this, session) : !session.PeerVerified())
    throw EIdFTPTlsRefused();
}

// A command argument in the server's code page; CR, LF and NUL would end the command.
std::string TIdFTP::Argument(const std::string &text) const {
  if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    throw EIdFTPIllegalArgument();
  return Utf8ToCp949(text);
}

} // namespace vantari
