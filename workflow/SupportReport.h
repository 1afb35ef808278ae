#pragma once

#include "FailureCause.h"

#include <string>

namespace vantari {

class TSyncState;
class TWorkflow;

// Keeps how the nightly upload just run went (when, whether, why) in the sync state for the
// window's next start, and when it failed, tells the person on the desktop at once.
void RecordNightlyRun(TWorkflow &workflow, const std::string &userID, bool succeeded);
// The same for a nightly upload that could not start: no login was tried, cause says why.
void RecordNightlyFailure(TSyncState &state, const std::string &userID, TFailureCause cause);

// The program's version as the build names it ("5.10").
const char *ProgramVersion();

// What the support desk asks for, as one text to paste: the program's and the system's
// versions, the data and settings folders, the server, the TLS state and the pinned
// certificate, the sync state with the last nightly upload, and the last 100 log lines. The
// password never appears in it. The same text for "vantari-cli report" and the window's
// "문제 신고용 정보 복사".
// userID: the login whose sync state it shows.
std::string SupportReport(const TWorkflow &workflow, const std::string &userID);

} // namespace vantari
