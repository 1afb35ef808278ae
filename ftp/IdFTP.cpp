#include "IdFTP.h"

#include "Cp949.h"
#include "FileSystem.h"
#include "IdIOHandlerTls.h"
#include "ScopeExit.h"
#include "TextSplit.h"

#include <algorithm>
#include <cctype>
#include <utility>

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
    FFeaturesRead = false;
    FFeatures.clear();
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

// Folder listings: FEAT decides between MLSD and NLST; the listing comes over a data
// connection like a download, into memory and bounded.
namespace {

std::string UpperWord(const std::string &line) {
  std::string word = TrimBlanks(line);
  word = word.substr(0, word.find(' '));
  std::transform(word.begin(), word.end(), word.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return word;
}

// Keeps what arrives up to a limit; one byte more gives up the transfer.
class TListingStream : public TStream {
public:
  int64_t Read(void *, int64_t) override { return 0; }
  int64_t Write(const void *buffer, int64_t count) override {
    if (static_cast<int64_t>(FBytes.size()) + count > TIdFTP::MaxListingBytes)
      throw EIdFTPListingTooLong();
    FBytes.append(static_cast<const char *>(buffer), static_cast<size_t>(count));
    return count;
  }
  int64_t Seek(int64_t, TSeekOrigin) override { return static_cast<int64_t>(FBytes.size()); }
  void SetSize(int64_t) override {}
  const std::string &Bytes() const { return FBytes; }

private:
  std::string FBytes;
};

// "type=file;size=123;modify=20261208213000; name": the facts, one blank, the name.
bool ParseMlsdLine(const std::string &line, TIdFTPListItem &item) {
  const size_t blank = line.find(' ');
  if (blank == std::string::npos || blank + 1 >= line.size())
    return false;
  item.Name = line.substr(blank + 1);
  std::string facts = line.substr(0, blank);
  std::transform(facts.begin(), facts.end(), facts.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const std::string &fact : SplitText(facts, ';')) {
    const size_t eq = fact.find('=');
    if (eq == std::string::npos)
      continue;
    const std::string key = fact.substr(0, eq), value = fact.substr(eq + 1);
    if (key == "type")
      item.IsFile = value == "file";
    int32_t size = -1;
    if (key == "size" && ParseInt32(value, size) && size >= 0)
      item.Size = size;
  }
  return true;
}

} // namespace

// The reply's lines are read here as they come: its feature lines begin with one blank and
// would lose their first characters to the usual reply text.
bool TIdFTP::HasFeature(const std::string &feature) {
  if (!FFeaturesRead) {
    FFeaturesRead = true;
    WriteLine("FEAT");
    const std::string first = ReadLine("\n", ReplyTimeout());
    const std::string terminator = TIdRFCReply::MultiLineTerminator(first);
    const bool listed = first.compare(0, 4, "211-") == 0;
    std::string line = first;
    for (int32_t count = 1; !terminator.empty(); ++count) {
      if (count > MaxReplyLines)
        throw EIdReplyTooLong();
      line = ReadLine("\n", ReplyTimeout());
      if (TIdRFCReply::EndsMultiLineReply(line, terminator))
        break;
      if (listed && !line.empty() && line.front() == ' ')
        FFeatures.push_back(UpperWord(line));
    }
  }
  return std::find(FFeatures.begin(), FFeatures.end(), UpperWord(feature)) != FFeatures.end();
}

std::vector<TIdFTPListItem> TIdFTP::ListFolder(const std::string &folder) {
  const bool machine = HasFeature("MLST");
  // Appended, not prepended to: MinGW's GCC 12 warns falsely (-Wrestrict) on " " + text.
  const std::string argument =
      folder.empty() ? std::string() : std::string(" ").append(Argument(folder));
  TListingStream listing;
  {
    // No transfer the person sees: its work events would move the progress bar.
    TWorkBeginEvent begin = std::exchange(OnWorkBegin, nullptr);
    TWorkEvent work = std::exchange(OnWork, nullptr);
    TWorkEndEvent end = std::exchange(OnWorkEnd, nullptr);
    TScopeExit restore([&] {
      OnWorkBegin = std::move(begin);
      OnWork = std::move(work);
      OnWorkEnd = std::move(end);
    });
    RunDownload((machine ? "MLSD" : "NLST") + argument, listing, false);
  }
  std::vector<TIdFTPListItem> items;
  size_t start = 0;
  const std::string &bytes = listing.Bytes();
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos)
      end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    TIdFTPListItem item;
    if (machine ? !ParseMlsdLine(line, item) : line.empty())
      continue;
    if (!machine)
      item.Name = line.substr(line.find_last_of('/') + 1); // some servers name the folder too
    item.Name = Cp949ToUtf8(item.Name);
    if (!item.Name.empty())
      items.push_back(item);
  }
  return items;
}

// A command argument in the server's code page; CR, LF and NUL would end the command.
std::string TIdFTP::Argument(const std::string &text) const {
  if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    throw EIdFTPIllegalArgument();
  return Utf8ToCp949(text);
}

} // namespace vantari
