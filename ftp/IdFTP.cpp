#include "IdFTP.h"

#include "Cp949.h"
#include "IdIOHandlerSocket.h"
#include "IdSimpleServer.h"

#include <filesystem>

namespace vantari {

namespace {

int32_t StrToInt(const std::string &text) {
  int32_t value = 0;
  if (!ParseInt32(TrimBlanks(text), value))
    throw EConvertError(Format("'%s' is not a valid integer value", text.c_str()));
  return value;
}

std::string FirstLine(const TIdRFCReply &reply) {
  return reply.Text().empty() ? std::string() : reply.Text().front();
}

// "h1,h2,h3,h4,p1,p2" from "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)." or
// from the last word of the line when there are no parentheses.
std::string PassiveAddressPart(const std::string &line) {
  const size_t open = line.find('(');
  const size_t close = line.find(')');
  if (open != std::string::npos && close != std::string::npos && close > open)
    return line.substr(open + 1, close - open - 1);
  const size_t space = line.rfind(' ');
  return space == std::string::npos ? line : line.substr(space + 1);
}

} // namespace

TIdFTP::TIdFTP() {
  SetPort(21);
}

TIdFTP::~TIdFTP() = default;

void TIdFTP::OpenSession(bool logIn, int32_t timeoutMs) {
  try {
    OpenConnection(timeoutMs == 0 ? -1 : timeoutMs);
    ExpectReply({220});
    GreetingReply() = LastReply();
    if (logIn) {
      SendCredentials();
      if (OnAfterClientLogin)
        OnAfterClientLogin(this);
      SendTypeCommand();
      if (SendCommand("SYST", {200, 215, 500}) == 500)
        FSystemType = "Unknown";
      else
        FSystemType = FirstLine(LastReply());
      ReportStatus(ftpReady, "Connection established");
    }
  } catch (...) {
    CloseConnection();
    throw;
  }
}

void TIdFTP::SendCredentials() {
  if (SendCommand("USER " + Utf8ToCp949(FUsername), {230, 331}) == 331)
    SendCommand("PASS " + Utf8ToCp949(FPassword), {230});
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
  if (SendCommand("SIZE " + Utf8ToCp949(name), -1) != 213)
    return -1;
  std::string joined;
  for (const std::string &line : LastReply().Text())
    joined += (joined.empty() ? "" : "\r\n") + line;
  joined = TrimBlanks(joined);
  const size_t space = joined.find(' ');
  if (space != std::string::npos)
    joined.erase(0, space + 1);
  int32_t size = -1;
  return ParseInt32(joined, size) ? size : -1;
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
                          bool overwrite, bool resume) {
  std::error_code error;
  std::unique_ptr<TFileStream> file;
  if (std::filesystem::exists(localPath, error)) {
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
  DownloadToStream(remoteName, *file, resume);
}

void TIdFTP::DownloadToStream(const std::string &remoteName, TStream &stream, bool resume) {
  resume = resume && ServerSupportsRestart();
  RunDownload("RETR " + Utf8ToCp949(remoteName), stream, resume);
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
    RunUpload((append ? "APPE " : "STOR ") + Utf8ToCp949(remoteName), stream);
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

void TIdFTP::RunDownload(const std::string &command, TStream &stream, bool resume) {
  RunTransfer([&] {
    if (!FPassive) {
      ListenForData();
      if (resume)
        SendRestart(stream);
      SendCommand(command, {125, 150, 154});
      WaitForData();
      FDataChannel->ReadToStream(stream, -1, true);
      return;
    }
    std::string host;
    int32_t port = 0;
    RequestPassiveAddress(host, port);
    ConnectForData(host, port);
    if (resume)
      SendRestart(stream);
    WriteLine(command);
    ExpectReply({125, 150, 154});
    try {
      FDataChannel->ReadToStream(stream, -1, true);
    } catch (...) {
      FDataChannel->CloseConnection();
      throw;
    }
    FDataChannel->CloseConnection();
  });
}

void TIdFTP::RunUpload(const std::string &command, TStream &stream) {
  RunTransfer([&] {
    if (!FPassive) {
      ListenForData();
      SendCommand(command, {125, 150});
      WaitForData();
      FDataChannel->WriteFromStream(stream, true);
      return;
    }
    std::string host;
    int32_t port = 0;
    RequestPassiveAddress(host, port);
    WriteLine(command);
    ConnectForData(host, port);
    ExpectReply({110, 125, 150});
    try {
      FDataChannel->WriteFromStream(stream, false);
    } catch (const EIdSocketError &e) {
      // The server already closed the data connection: it has what it wanted.
      if (e.SocketErrorCode() != Id_WSAENOTSOCK)
        throw;
    }
    FDataChannel->CloseConnection();
  });
}

// The data connection is freed and "Transfer complete" reported whatever happens;
// the final reply is read only when the data moved.
void TIdFTP::RunTransfer(const std::function<void()> &moveData) {
  ReportStatus(ftpTransfer, "Starting FTP transfer");
  try {
    moveData();
  } catch (...) {
    FinishDataChannel();
    throw;
  }
  FinishDataChannel();
  ExpectTransferReply();
}

void TIdFTP::PrepareDataChannel() {
  FDataChannel->SetSendBufferSize(SendBufferSize());
  FDataChannel->SetRecvBufferSize(RecvBufferSize());
  FDataChannel->OnWork = OnWork;
  FDataChannel->OnWorkBegin = OnWorkBegin;
  FDataChannel->OnWorkEnd = OnWorkEnd;
}

void TIdFTP::SendPortCommand(const TIdSocketHandle &handle) {
  std::string address = handle.IP();
  for (char &c : address)
    if (c == '.')
      c = ',';
  SendCommand("PORT " + address + "," + std::to_string(handle.Port() / 256) + "," +
                  std::to_string(handle.Port() % 256),
              {200});
}

void TIdFTP::RequestPassiveAddress(std::string &host, int32_t &port) {
  SendCommand("PASV", {227});
  const std::string part = PassiveAddressPart(TrimBlanks(FirstLine(LastReply())));
  std::vector<std::string> fields(1);
  for (char c : part) {
    if (c == ',')
      fields.emplace_back();
    else
      fields.back() += c;
  }
  fields.resize(std::max<size_t>(fields.size(), 6));
  host = std::to_string(StrToInt(fields[0])) + "." + std::to_string(StrToInt(fields[1])) + "." +
         std::to_string(StrToInt(fields[2])) + "." + std::to_string(StrToInt(fields[3]));
  port = StrToInt(fields[4]) * 256 + StrToInt(fields[5]);
}

// Active mode: listen on the address the control connection uses and announce it.
void TIdFTP::ListenForData() {
  auto listener = std::make_unique<TIdSimpleServer>();
  TIdSimpleServer &server = *listener;
  FDataChannel = std::move(listener);
  PrepareDataChannel();
  if (auto *transport = dynamic_cast<TIdIOHandlerSocket *>(IOHandler());
      transport && transport->SocketHandle())
    server.SetBoundIP(transport->SocketHandle()->IP());
  server.SetAcceptTimeout(FDataConnectionTimeout);
  server.OnAcceptWait = [this](TIdSimpleServer *) { WatchControlConnection(); };
  server.StartListening();
  SendPortCommand(*server.Binding());
}

void TIdFTP::WaitForData() {
  static_cast<TIdSimpleServer &>(*FDataChannel).WaitForPeer();
}

// While the server's data connection is awaited, any reply on the control
// connection is a refusal (425 after 150): it ends the wait with that reply.
void TIdFTP::WatchControlConnection() {
  if (InputQueue().Size() > 0 || (IOHandler() && IOHandler()->WaitReadable(0))) {
    ReadReply();
    RaiseReplyError();
  }
}

// Passive mode: connect to the address the server gave.
void TIdFTP::ConnectForData(const std::string &host, int32_t port) {
  auto client = std::make_unique<TIdTCPClient>();
  TIdTCPClient &connection = *client;
  FDataChannel = std::move(client);
  PrepareDataChannel();
  connection.SetHost(host);
  connection.SetPort(port);
  connection.OpenConnection(-1);
}

void TIdFTP::SendRestart(TStream &stream) {
  SendCommand("REST " + std::to_string(stream.Position()), {350});
}

void TIdFTP::FinishDataChannel() {
  FDataChannel.reset();
  ReportStatus(ftpReady, "Transfer complete");
}

void TIdFTP::ExpectTransferReply() {
  const int16_t code = ExpectReply({225, 226, 250, 426, 450});
  if (code == 426 || code == 450) {
    ExpectReply({226, 225});
    ReportStatus(ftpAborted, "Transfer aborted");
  }
}

} // namespace vantari
