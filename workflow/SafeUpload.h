#pragma once

#include "ServerHistory.h"
#include "SyncState.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantari {

class TIdFTP;
class TStream;

// The server's archive as SIZE and MDTM describe it now (Size -1 and an empty Time when the
// server gives none, e.g. because there is no archive yet).
TServerArchiveState ReadServerArchive(TIdFTP &ftp, const std::string &remoteName);

// Whether the server's archive is another than the one this computer last saw: false when
// nothing was seen before or nothing is there now.
bool ServerArchiveChanged(const TServerArchiveState &known, const TServerArchiveState &now);

// The name an upload travels under before it is renamed into place.
std::string UploadTemporaryName(const std::string &remoteName);

// What an upload does with the archive it replaces.
struct THistoryPlan {
  THistorySchedule Schedule{0, 0, 0}; // off: "<name>.1" and "<name>.2"
  std::time_t ReplacedMade = 0;       // when the archive on the server now was made
  int UtcOffset = 0;                  // of the clock whose days the schedule counts
};

// An upload that keeps the last good backup: the file goes to the server under a temporary
// name, is checked there (VerifyUpload), then the previous archive moves aside and the new one
// is renamed into place. Aside is a dated name thinned by the plan's schedule afterwards, or,
// with the history off, "<name>.1" (the one before that "<name>.2"). A server that refuses
// renaming gets a plain STOR of the name instead, and the temporary file is removed. Blocks;
// raises on any failure, with the archive under the final name as it was (only the plain
// STOR of a server without renaming can leave it cut short, as before). A refused rename or
// delete of the history never fails the upload.
void SafeUpload(TIdFTP &ftp, const std::string &localPath, const std::string &remoteName,
                const THistoryPlan &plan = {});

// An upload cut off between its last two renames leaves no "<name>": its checked file is
// still under the temporary name and the archive before it under the newest dated name (or
// "<name>.1"). Gives those that are there, newest first (the history is listed only when the
// temporary file is there); empty while "<name>" is there or when the
// server tells no sizes (nothing can be said then, and the archive is looked for under its name
// alone).
std::vector<std::string> StrandedArchives(TIdFTP &ftp, const std::string &remoteName);

// Receives remoteName into stream from its start and reads it through as an archive: true
// when every block inflates and the end marker comes (a cut-off upload never ends so).
// Raises when the transfer fails.
bool FetchWholeArchive(TIdFTP &ftp, const std::string &remoteName, TStream &stream);

// Before an upload replaces a stranded archive (after the person's Yes): the one under the
// temporary name is renamed into place, so that the upload keeps it in the history instead of
// overwriting it. A server that refuses renaming keeps it where it is.
void PutStrandedArchiveInPlace(TIdFTP &ftp, const std::string &remoteName);

// Whether the server's file holds bytes at offset: they are read (after REST offset when it
// is not 0), then the transfer is given up (ABOR) once there are enough. False too when the
// server refuses or that cost the session.
bool ServerFileHolds(TIdFTP &ftp, const std::string &remoteName, int64_t offset,
                     const std::string &bytes);

} // namespace vantari
