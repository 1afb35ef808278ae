// The data connections of TIdFTP: active and passive, the fallback between them, TLS on
// them, and the clean-up after a failed transfer.
#include "IdFTP.h"

#include "IdIOHandlerTls.h"
#include "IdSimpleServer.h"

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

// A download given up midway (its bytes are in, or the local side failed) says close_notify
// before its connection is reset: OpenSSL takes the session of a TLS connection dropped without
// it for a broken one and stops offering it, and every later data connection must resume the
// login's session. An upload's connection is reset bare, so that the server never takes a
// cut-off file for a whole one.
void SayDataTlsClosed(TIdTCPConnection &data) {
  if (auto *transport = dynamic_cast<TIdIOHandlerTls *>(data.IOHandler());
      transport && transport->Tls() && transport->IsOpen())
    transport->Tls()->Shutdown(false);
}

} // namespace

// What one transfer has done so far; decides what a failure leaves to clean up.
struct TIdFTP::TTransfer {
  std::string Command;
  TStream &Stream;
  bool Upload;
  bool Resume;
  bool CommandSent = false; // the transfer command went out: a final reply is due
  bool Preliminary = false; // its 1xx reply was read
  bool FinalRead = false;
};

void TIdFTP::RunDownload(const std::string &command, TStream &stream, bool resume) {
  TTransfer transfer{command, stream, false, resume};
  RunTransfer(transfer);
}

void TIdFTP::RunUpload(const std::string &command, TStream &stream) {
  TTransfer transfer{command, stream, true, false};
  RunTransfer(transfer);
}

void TIdFTP::RunTransfer(TTransfer &transfer) {
  ReportStatus(ftpTransfer, "Starting FTP transfer");
  FLastTransferCode = 0;
  if (!FPassive) {
    if (TryActive(transfer))
      return;
    // Nothing moved and the session is in step: the same transfer once more, passively.
    FPassive = true;
    TTransfer again{transfer.Command, transfer.Stream, transfer.Upload, transfer.Resume};
    RunPassive(again);
    return;
  }
  RunPassive(transfer);
}

namespace {

// How the wait for the server's active data connection ended.
enum TActiveData { adAccepted, adRefused, adTimedOut };

// The server cannot make a data connection of this kind.
bool CannotOpenData(int16_t code) {
  return code == 425;
}

bool IsPreliminary(int16_t code) {
  return code == 110 || code == 125 || code == 150 || code == 154;
}

} // namespace

// False when the data connection could not be made this way and nothing moved; the
// session is then in step (or reconnected) for a passive try.
bool TIdFTP::TryActive(TTransfer &transfer) {
  try {
    ListenForData();
  } catch (const EIdProtocolReplyError &) {
    FinishDataChannel(); // PORT refused
    return false;
  } catch (const EIdReadTimeout &) {
    // Some servers connect before they answer PORT: no answer means no connection.
    FinishDataChannel();
    if (!Resynchronise())
      OpenSession(true, -1);
    return false;
  } catch (...) {
    FinishDataChannel(true);
    throw;
  }
  try {
    if (transfer.Resume)
      SendRestart(transfer.Stream);
    WriteLine(transfer.Command);
    transfer.CommandSent = true;
    const int outcome = AwaitActiveData(transfer);
    if (outcome != adAccepted) {
      FinishDataChannel();
      if (outcome == adTimedOut && !Resynchronise())
        OpenSession(true, -1);
      return false;
    }
    if (!transfer.Preliminary) {
      const int16_t code = ExpectReply({110, 125, 150, 154, 425});
      if (CannotOpenData(code)) {
        FinishDataChannel();
        return false;
      }
      transfer.Preliminary = true;
    }
    MoveData(transfer, true);
  } catch (const EIdCancelled &) {
    FailTransfer(transfer, true);
    throw;
  } catch (...) {
    FailTransfer(transfer, false);
    throw;
  }
  FinishDataChannel();
  ExpectTransferReply(transfer);
  return true;
}

// Waits for the server's connection from the PORT command on, reading any reply that
// comes meanwhile: a preliminary one keeps the wait going, 425 ends it, others raise.
int TIdFTP::AwaitActiveData(TTransfer &transfer) {
  auto &listener = static_cast<TIdSimpleServer &>(*FDataChannel);
  const TIdDeadline deadline(TIdTimeout::FromSetting(FDataConnectionTimeout));
  for (;;) {
    if (InputQueue().Size() == 0) {
      try {
        const TIdPeerWait waited = listener.AwaitPeer(IOHandler()->WaitSocket(), deadline);
        if (waited == pwAccepted)
          return adAccepted;
        if (waited == pwAborted)
          return adTimedOut;
      } catch (const EIdAcceptTimeout &) {
        return adTimedOut;
      }
    }
    const int16_t code = ReadReply();
    if (CannotOpenData(code))
      return adRefused;
    if (!IsPreliminary(code))
      RaiseReplyError(); // a refusal (550, ...) is the final reply
    transfer.Preliminary = true;
  }
}

void TIdFTP::RunPassive(TTransfer &transfer) {
  try {
    const int32_t port = RequestPassivePort();
    if (transfer.Upload) {
      // The command goes first: some servers open the port only once they know it.
      WriteLine(transfer.Command);
      transfer.CommandSent = true;
      ConnectForData(port);
    } else {
      ConnectForData(port);
      if (transfer.Resume)
        SendRestart(transfer.Stream);
      WriteLine(transfer.Command);
      transfer.CommandSent = true;
    }
    ExpectReply({110, 125, 150, 154});
    transfer.Preliminary = true;
    MoveData(transfer, false);
  } catch (const EIdCancelled &) {
    FailTransfer(transfer, true);
    throw;
  } catch (...) {
    FailTransfer(transfer, false);
    throw;
  }
  FinishDataChannel();
  ExpectTransferReply(transfer);
}

void TIdFTP::MoveData(TTransfer &transfer, bool fromStart) {
  StartDataTls();
  if (!transfer.Upload) {
    FDataChannel->ReadToStream(transfer.Stream, -1, true);
  } else {
    try {
      FDataChannel->WriteFromStream(transfer.Stream, fromStart);
    } catch (const EIdSocketError &e) {
      // The server already closed the data connection: it has what it wanted, and the
      // final reply says whether that was all of it.
      if (e.SocketErrorCode() != Id_WSAENOTSOCK)
        throw;
    }
  }
  if (FPassive)
    FDataChannel->CloseConnection();
}

// A transfer failed with its exception on the way out: the data connection is reset
// (a download's over TLS after its close_notify) and the replies still due are read, or the
// session is closed.
void TIdFTP::FailTransfer(TTransfer &transfer, bool cancelled) {
  if (!transfer.Upload && FDataChannel)
    SayDataTlsClosed(*FDataChannel);
  FinishDataChannel(true);
  if (cancelled || IdCancelRequested()) {
    CloseAfterCancel();
    return;
  }
  if (!transfer.CommandSent || transfer.FinalRead || !IsConnected())
    return;
  try {
    std::rethrow_exception(std::current_exception());
  } catch (const EIdProtocolReplyError &) {
    return; // the refusal was the command's final reply
  } catch (...) {
  }
  Resynchronise();
}

// Reads what is still due after ABOR and PWD, up to PWD's 257, within RecoveryTimeout;
// when that fails the session is closed. True when the session is usable.
bool TIdFTP::Resynchronise() {
  try {
    WriteLine("ABOR");
    WriteLine("PWD");
    const TIdDeadline deadline(TIdTimeout::FromSetting(FRecoveryTimeout));
    for (int replies = 0; replies < 16; ++replies)
      if (ReadReplyWithin(deadline.Remaining()) == 257)
        return true;
  } catch (const EIdCancelled &) {
    CloseConnection();
    throw;
  } catch (const Exception &) {
  }
  AbandonConnection();
  return false;
}

// Closes a session whose server stopped answering without waiting for it: a polite TLS close
// would wait for the server's own close_notify, which such a server never sends.
void TIdFTP::AbandonConnection() {
  if (auto *transport = dynamic_cast<TIdIOHandlerSocket *>(IOHandler());
      ControlTls() && transport && transport->SocketHandle())
    transport->SocketHandle()->ResetAndClose();
  CloseConnection();
}

// The user stopped the transfer: tell the server and end the session; nothing waits.
void TIdFTP::CloseAfterCancel() {
  try {
    if (IsConnected())
      WriteLine("ABOR");
  } catch (const Exception &) {
  }
  CloseConnection();
}

void TIdFTP::PrepareDataChannel() {
  FDataChannel->SetSendBufferSize(SendBufferSize());
  FDataChannel->SetRecvBufferSize(RecvBufferSize());
  // A data connection on which nothing moves for TransferTimeout has failed.
  FDataChannel->SetReadTimeout(FTransferTimeout);
  FDataChannel->SetWriteTimeout(FTransferTimeout);
  FDataChannel->OnWork = OnWork;
  FDataChannel->OnWorkBegin = OnWorkBegin;
  FDataChannel->OnWorkEnd = OnWorkEnd;
}

void TIdFTP::SendPortCommand(const TIdSocketHandle &handle) {
  std::string address = handle.IP();
  for (char &c : address)
    if (c == '.')
      c = ',';
  WriteLine("PORT " + address + "," + std::to_string(handle.Port() / 256) + "," +
            std::to_string(handle.Port() % 256));
  // Some servers connect before they answer: the answer comes within the data limit.
  ReadReplyWithin(TIdTimeout::FromSetting(FDataConnectionTimeout));
  CheckReplyCode(static_cast<int16_t>(LastReply().NumericCode()), {200});
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
  int32_t numbers[6];
  for (int i = 0; i < 6; ++i) {
    numbers[i] = StrToInt(fields[i]);
    if (numbers[i] < 0 || numbers[i] > 255)
      throw EIdFTPPassiveReply();
  }
  host = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
         std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
  port = numbers[4] * 256 + numbers[5];
  if (port == 0)
    throw EIdFTPPassiveReply();
}

// EPSV, else PASV; only the port is taken: the data connection goes to the server the
// control connection reached, never to an address a reply names.
int32_t TIdFTP::RequestPassivePort() {
  if (!FEpsvRefused) {
    if (SendCommand("EPSV", -1) == 229) {
      // "229 Entering Extended Passive Mode (|||6446|)": the delimiter is the first character.
      const std::string line = FirstLine(LastReply());
      const size_t open = line.find('(');
      const size_t close = line.find(')', open == std::string::npos ? 0 : open);
      if (open == std::string::npos || close == std::string::npos || close - open < 6)
        throw EIdFTPPassiveReply();
      const std::string inner = line.substr(open + 1, close - open - 1);
      const char delimiter = inner.front();
      const size_t third = inner.find(delimiter, inner.find(delimiter, 1) + 1);
      const size_t last = inner.rfind(delimiter);
      int32_t port = 0;
      if (third == std::string::npos || last <= third + 1 ||
          !ParseInt32(inner.substr(third + 1, last - third - 1), port) || port < 1 || port > 65535)
        throw EIdFTPPassiveReply();
      return port;
    }
    FEpsvRefused = true;
  }
  std::string named;
  int32_t port = 0;
  RequestPassiveAddress(named, port);
  return port;
}

// The local (or remote) address of the control connection.
std::string TIdFTP::ControlAddress(bool remote) const {
  auto *transport = dynamic_cast<TIdIOHandlerSocket *>(IOHandler());
  if (!transport || !transport->SocketHandle())
    return std::string();
  return remote ? transport->SocketHandle()->RemoteIP() : transport->SocketHandle()->IP();
}

// Active mode: listen on the address the control connection uses and announce it;
// only the server may connect.
void TIdFTP::ListenForData() {
  auto listener = std::make_unique<TIdSimpleServer>();
  TIdSimpleServer &server = *listener;
  FDataChannel = std::move(listener);
  PrepareDataChannel();
  server.SetBoundIP(ControlAddress(false));
  server.SetAllowedPeerIP(ControlAddress(true));
  server.StartListening();
  SendPortCommand(*server.Binding());
}

// Passive mode: connect to the server's address and the port it gave.
void TIdFTP::ConnectForData(int32_t port) {
  auto client = std::make_unique<TIdTCPClient>();
  TIdTCPClient &connection = *client;
  FDataChannel = std::move(client);
  PrepareDataChannel();
  connection.SetConnectTimeout(ConnectTimeout());
  connection.SetHost(ControlAddress(true));
  connection.SetPort(port);
  connection.OpenConnection(-1);
}

void TIdFTP::SendRestart(TStream &stream) {
  SendCommand("REST " + std::to_string(stream.Position()), {350});
}

void TIdFTP::FinishDataChannel(bool failed) {
  if (failed && FDataChannel) {
    if (auto *transport = dynamic_cast<TIdIOHandlerSocket *>(FDataChannel->IOHandler());
        transport && transport->SocketHandle())
      transport->SocketHandle()->ResetAndClose();
  }
  FDataChannel.reset();
  ReportStatus(ftpReady, "Transfer complete");
}

// The data connection (ours or the server's) is made: the client side of TLS on it,
// resuming the login's session, which proves to the server that it belongs to this login.
void TIdFTP::StartDataTls() {
  TTlsSession *control = ControlTls();
  if (!control)
    return;
  auto *transport = dynamic_cast<TIdIOHandlerTls *>(FDataChannel->IOHandler());
  if (!transport)
    throw ETlsError("TLS failure: the data connection cannot run TLS");
  transport->StartTls(*FTlsContext, Host(), control, TIdTimeout::FromSetting(FTransferTimeout));
  // A server that does not insist on resumption must at least be the one we logged in to.
  const TTlsSession &data = *transport->Tls();
  if (!data.SessionReused() && data.PeerFingerprint() != control->PeerFingerprint())
    throw EIdFTPTlsRefused();
}

// 426 and 450 say the file did not arrive whole: a failure, after the 226 or 225 that may
// follow them (a lone one is final too).
void TIdFTP::ExpectTransferReply(TTransfer &transfer) {
  int16_t code = 0;
  try {
    code = ExpectReply({225, 226, 250, 426, 450});
  } catch (const EIdCancelled &) {
    CloseAfterCancel();
    throw;
  }
  transfer.FinalRead = true;
  FLastTransferCode = code;
  if (code != 426 && code != 450)
    return;
  const TIdRFCReply aborted = LastReply();
  try {
    ReadReplyWithin(TIdTimeout::FromSetting(FRecoveryTimeout));
  } catch (const EIdReadTimeout &) {
  }
  ReportStatus(ftpAborted, "Transfer aborted");
  LastReply() = aborted;
  RaiseReplyError();
}

} // namespace vantari
