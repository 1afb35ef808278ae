#pragma once

#include "HostUI.h"
#include "OsError.h"
#include "TlsTrust.h"

#include <exception>
#include <string>

namespace vantari {

// Why a workflow did not do its work, as far as the person can act on it.
enum class TFailureCause {
  fcUnknown,
  fcWrongLogin,           // the server refused the login (530 after PASS)
  fcServerNotAnswering,   // refused, timed out, or the connection dropped
  fcHostNotFound,         // the server's name has no address
  fcNoInternet,           // the connectivity check failed
  fcServerChanged,        // a changed certificate or a server no longer offering TLS
  fcNoServerArchive,      // nothing uploaded under the user's name yet
  fcServerFull,           // 452 or 552
  fcDiskFull,             // this computer's disk has no room for the step
  fcNoDataFolder,         // subject: the folder
  fcTableInUse,           // subject: the holding program, when known
  fcCancelled,            // nothing changed, here or on the server
  fcNewerKept,            // another computer's newer archive kept after No: nothing uploaded
  fcDataLooksDamaged,     // the tables look encrypted, damaged or gone: the server's backup kept
  fcBadLogin,             // the ID or password holds a character the command stream cannot carry
  fcOtherInstance,        // another run of the program works on the same data folder
  fcRestoreUnfinished,    // a restore cut short could not be rolled back, or its record is not ours
  fcArchiveWithoutTables, // the archive holds no table: the data folder kept
  fcNameNotAllowed,       // a member this computer cannot hold under its name: the data kept
  fcServerArchiveDamaged, // no whole archive on the server: nothing restored
  fcNothingToUndo,        // no snapshot left from before a download
  fcNoArchiveOfDay,       // subject: the oldest archive's date on the server
  fcStateNotSaved,        // the work was done, its record was not kept
  fcNoNightlyPassword,    // the nightly upload found no password kept for it
  fcArchiveDamaged,       // the archive received does not unpack: the data folder kept
};

// A stable name for the cause, kept in the sync state ("wrong-login"), and back
// (fcUnknown for a name it does not know).
const char *CauseName(TFailureCause cause);
TFailureCause CauseNamed(const std::string &name);

// The login (connect, TLS, USER and PASS) raised e; refusal is the TLS trust's verdict.
TFailureCause LoginFailureCause(const std::exception &e, TTlsRefusal refusal);
// A transfer raised e; a local file error is fcUnknown here (see LocalSpaceShort).
TFailureCause TransferFailureCause(const std::exception &e);
// Whether the volume holding folder has less room than need bytes (plus a margin).
bool LocalSpaceShort(const std::string &folder, int64_t need);
// What a local file step that failed with said (success when nothing was said) tells the
// person: a full disk by the system's code, or by the room left for need bytes.
TFailureCause LocalStepCause(const TOsResult &said, const std::string &folder, int64_t need);

// The sentence saying what happened (subject fills in the folder or the program) and the one
// saying what to do.
std::string CauseText(TFailureCause cause, const std::string &subject = {});
std::string NextStepText(TFailureCause cause);

// The technical part: the server's reply or the system's error with its code (e may be
// null), then the time. Registered secrets never appear in it.
std::string FailureDetails(const std::exception *e);

TFailureReport MakeFailureReport(const std::string &headline, TFailureCause cause,
                                 const std::string &subject, const std::exception *e,
                                 bool failureBox);

} // namespace vantari
