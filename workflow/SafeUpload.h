#pragma once

#include "SyncState.h"

#include <cstdint>
#include <string>

namespace vantari {

class TIdFTP;

// The server's archive as SIZE and MDTM describe it now (Size -1 and an empty Time when the
// server gives none, e.g. because there is no archive yet).
TServerArchiveState ReadServerArchive(TIdFTP &ftp, const std::string &remoteName);

// Whether the server's archive is another than the one this computer last saw: false when
// nothing was seen before or nothing is there now.
bool ServerArchiveChanged(const TServerArchiveState &known, const TServerArchiveState &now);

// The name an upload travels under before it is renamed into place.
std::string UploadTemporaryName(const std::string &remoteName);

// An upload that keeps the last good backup: the file goes to the server under a temporary
// name, is checked there (VerifyUpload), then the previous archive becomes "<name>.1" (the
// one before that "<name>.2") and the new one is renamed into place. A server that refuses
// renaming gets a plain STOR of the name instead, and the temporary file is removed. Blocks;
// raises on any failure, with the archive under the final name as it was (only the plain
// STOR of a server without renaming can leave it cut short, as before).
void SafeUpload(TIdFTP &ftp, const std::string &localPath, const std::string &remoteName);

} // namespace vantari
