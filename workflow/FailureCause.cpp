#include "FailureCause.h"

#include "DosDate.h"
#include "FailureTexts.h"
#include "IdStack.h"
#include "IdTCPConnection.h"
#include "IdWait.h"
#include "Log.h"
#include "SystemInfo.h"

#include <ctime>
#include <iterator>

namespace vantari {

namespace {

struct TCauseRow {
  TFailureCause Cause;
  const char *Name;
  const char *Text;
  const char *Step;
};

constexpr TCauseRow CauseRows[] = {
    {TFailureCause::fcUnknown, "unknown", CauseUnknown, StepUnknown},
    {TFailureCause::fcWrongLogin, "wrong-login", CauseWrongLogin, StepWrongLogin},
    {TFailureCause::fcServerNotAnswering, "server-not-answering", CauseServerNotAnswering,
     StepServerNotAnswering},
    {TFailureCause::fcHostNotFound, "host-not-found", CauseHostNotFound, StepHostNotFound},
    {TFailureCause::fcNoInternet, "no-internet", CauseNoInternet, StepNoInternet},
    {TFailureCause::fcServerChanged, "server-changed", CauseServerChanged, StepServerChanged},
    {TFailureCause::fcNoServerArchive, "no-server-archive", CauseNoServerArchive,
     StepNoServerArchive},
    {TFailureCause::fcServerFull, "server-full", CauseServerFull, StepServerFull},
    {TFailureCause::fcDiskFull, "disk-full", CauseDiskFull, StepDiskFull},
    {TFailureCause::fcNoDataFolder, "no-data-folder", CauseNoDataFolder, StepNoDataFolder},
    {TFailureCause::fcTableInUse, "table-in-use", CauseTableInUse, StepTableInUse},
    {TFailureCause::fcCancelled, "cancelled", CauseCancelled, StepCancelled},
    {TFailureCause::fcNewerKept, "newer-kept", CauseNewerKept, StepNewerKept},
    {TFailureCause::fcDataLooksDamaged, "data-looks-damaged", CauseDataLooksDamaged,
     StepDataLooksDamaged},
    {TFailureCause::fcBadLogin, "bad-login", CauseBadLogin, StepBadLogin},
    {TFailureCause::fcOtherInstance, "other-instance", CauseOtherInstance, StepOtherInstance},
    {TFailureCause::fcRestoreUnfinished, "restore-unfinished", CauseRestoreUnfinished,
     StepCallSupport},
    {TFailureCause::fcArchiveWithoutTables, "archive-without-tables", CauseArchiveWithoutTables,
     StepArchiveWithoutTables},
    {TFailureCause::fcNameNotAllowed, "name-not-allowed", CauseNameNotAllowed, StepReportToSupport},
    {TFailureCause::fcServerArchiveDamaged, "server-archive-damaged", CauseServerArchiveDamaged,
     StepServerArchiveDamaged},
    {TFailureCause::fcNothingToUndo, "nothing-to-undo", CauseNothingToUndo, StepNothingToUndo},
    {TFailureCause::fcNoArchiveOfDay, "no-archive-of-day", CauseNoArchiveOfDay, StepNoArchiveOfDay},
    {TFailureCause::fcStateNotSaved, "state-not-saved", CauseStateNotSaved, StepStateNotSaved},
    {TFailureCause::fcNoNightlyPassword, "no-nightly-password", CauseNoNightlyPassword,
     StepNoNightlyPassword},
    {TFailureCause::fcArchiveDamaged, "archive-damaged", CauseArchiveDamaged,
     StepServerArchiveDamaged},
};

const TCauseRow &RowOf(TFailureCause cause) {
  for (const TCauseRow &row : CauseRows)
    if (row.Cause == cause)
      return row;
  return CauseRows[0];
}

// Room a step needs beyond its own bytes: the file system's bookkeeping, the journal.
constexpr int64_t SpaceMargin = 1024 * 1024;

// A connection that could not be made or was lost on the way.
bool ServerUnreachable(int32_t code) {
  switch (code) {
  case Id_WSAETIMEDOUT:
  case Id_WSAECONNREFUSED:
  case Id_WSAECONNRESET:
  case Id_WSAECONNABORTED:
  case Id_WSAEHOSTDOWN:
  case Id_WSAEHOSTUNREACH:
  case Id_WSAENETUNREACH:
  case Id_WSAENETDOWN:
    return true;
  default:
    return false;
  }
}

// What a network layer's failure says about the server, whichever step raised it.
TFailureCause ConnectionCause(const std::exception &e) {
  if (dynamic_cast<const EIdCancelled *>(&e))
    return TFailureCause::fcCancelled;
  if (const auto *socket = dynamic_cast<const EIdSocketError *>(&e)) {
    if (socket->SocketErrorCode() == Id_WSAHOST_NOT_FOUND)
      return TFailureCause::fcHostNotFound;
    if (ServerUnreachable(socket->SocketErrorCode()))
      return TFailureCause::fcServerNotAnswering;
  }
  if (dynamic_cast<const EIdReadTimeout *>(&e) ||
      dynamic_cast<const EIdConnClosedGracefully *>(&e) ||
      dynamic_cast<const EIdClosedSocket *>(&e))
    return TFailureCause::fcServerNotAnswering;
  if (const auto *reply = dynamic_cast<const EIdProtocolReplyError *>(&e))
    if (reply->ReplyErrorCode() == 421)
      return TFailureCause::fcServerNotAnswering; // the server is closing or over its limit
  return TFailureCause::fcUnknown;
}

// One line: the socket layer's "Socket Error # 10061\r\nConnection refused." included.
std::string Trimmed(const std::string &message) {
  std::string text;
  for (const char c : message)
    if (c != '\r')
      text += c == '\n' ? ' ' : c;
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  return text;
}

} // namespace

const char *CauseName(TFailureCause cause) {
  return RowOf(cause).Name;
}

TFailureCause CauseNamed(const std::string &name) {
  for (const TCauseRow &row : CauseRows)
    if (name == row.Name)
      return row.Cause;
  return TFailureCause::fcUnknown;
}

TFailureCause LoginFailureCause(const std::exception &e, TTlsRefusal refusal) {
  if (refusal == trCertificateChanged || refusal == trDowngrade)
    return TFailureCause::fcServerChanged;
  if (const auto *reply = dynamic_cast<const EIdProtocolReplyError *>(&e))
    if (reply->ReplyErrorCode() == 530)
      return TFailureCause::fcWrongLogin;
  return ConnectionCause(e);
}

TFailureCause TransferFailureCause(const std::exception &e) {
  if (const auto *reply = dynamic_cast<const EIdProtocolReplyError *>(&e))
    if (reply->ReplyErrorCode() == 452 || reply->ReplyErrorCode() == 552)
      return TFailureCause::fcServerFull;
  return ConnectionCause(e);
}

bool LocalSpaceShort(const std::string &folder, int64_t need) {
  const int64_t free = FreeDiskBytes(folder);
  return free >= 0 && free < need + SpaceMargin;
}

TFailureCause LocalStepCause(const TOsResult &said, const std::string &folder, int64_t need) {
  if (said.Kind() == TOsErrorKind::okDiskFull || LocalSpaceShort(folder, need))
    return TFailureCause::fcDiskFull;
  return TFailureCause::fcUnknown;
}

std::string CauseText(TFailureCause cause, const std::string &subject) {
  if (cause == TFailureCause::fcTableInUse && subject.empty())
    return CauseTableInUseUnknown;
  if (cause == TFailureCause::fcNoDataFolder && subject.empty())
    return CauseNoDataFolderUnset;
  switch (cause) {
  case TFailureCause::fcNoDataFolder:
  case TFailureCause::fcTableInUse:
  case TFailureCause::fcNoArchiveOfDay:
    return Format(RowOf(cause).Text, subject.c_str());
  default:
    return RowOf(cause).Text;
  }
}

std::string NextStepText(TFailureCause cause) {
  return RowOf(cause).Step;
}

std::string FailureDetails(const std::exception *e) {
  std::string details;
  if (const auto *reply = dynamic_cast<const EIdProtocolReplyError *>(e))
    details += DetailServerReply + std::to_string(reply->ReplyErrorCode()) + " " +
               Trimmed(reply->Message()) + "\n";
  else if (e != nullptr && !dynamic_cast<const EIdCancelled *>(e))
    details += DetailSystemError + Trimmed(e->what()) + "\n";
  const std::tm local = LocalTime(std::time(nullptr));
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  return TLog::Masked(details + DetailTime + stamp);
}

TFailureReport MakeFailureReport(const std::string &headline, TFailureCause cause,
                                 const std::string &subject, const std::exception *e,
                                 bool failureBox) {
  TFailureReport report;
  report.Headline = headline;
  report.Cause = CauseText(cause, subject);
  report.NextStep = NextStepText(cause);
  report.Details = FailureDetails(e);
  report.FailureBox = failureBox;
  return report;
}

} // namespace vantari
