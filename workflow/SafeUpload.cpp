#include "SafeUpload.h"

#include "FileSystem.h"
#include "IdFTP.h"

namespace vantari {

namespace {

// Runs a command whose refusal is expected and harmless (a file that is not there).
template <class F> bool Tolerated(F command) {
  try {
    command();
    return true;
  } catch (const EIdProtocolReplyError &) {
    return false;
  }
}

void RemoveTemporary(TIdFTP &ftp, const std::string &name) {
  try {
    if (ftp.IsConnected())
      ftp.Delete(name);
  } catch (const Exception &) {
    // Left behind, it is replaced by the next upload's.
  }
}

} // namespace

TServerArchiveState ReadServerArchive(TIdFTP &ftp, const std::string &remoteName) {
  TServerArchiveState state;
  state.Size = ftp.RemoteFileSize(remoteName);
  state.Time = ftp.RemoteFileTime(remoteName);
  return state;
}

bool ServerArchiveChanged(const TServerArchiveState &known, const TServerArchiveState &now) {
  if (!known.Known() || !now.Known())
    return false;
  return known.Size != now.Size || known.Time != now.Time;
}

std::string UploadTemporaryName(const std::string &remoteName) {
  return remoteName + ".new";
}

void SafeUpload(TIdFTP &ftp, const std::string &localPath, const std::string &remoteName) {
  const std::string temporary = UploadTemporaryName(remoteName);
  const std::string previous = remoteName + ".1";
  const std::string older = remoteName + ".2";
  try {
    ftp.UploadFile(localPath, temporary, false);
    ftp.VerifyUpload(temporary, FileSize(localPath));
  } catch (...) {
    RemoveTemporary(ftp, temporary);
    throw;
  }
  // Versions move one place down; where there is none yet, the rename is refused harmlessly.
  Tolerated([&] { ftp.Delete(older); });
  Tolerated([&] { ftp.Rename(previous, older); });
  Tolerated([&] { ftp.Rename(remoteName, previous); });
  if (Tolerated([&] { ftp.Rename(temporary, remoteName); }))
    return;
  // No renaming here: the plain upload, as servers without it have always had.
  RemoveTemporary(ftp, temporary);
  ftp.UploadFile(localPath, remoteName, false);
  ftp.VerifyUpload(remoteName, FileSize(localPath));
}

} // namespace vantari
