#include "SafeUpload.h"

#include "ArchiveWalk.h"
#include "FileSystem.h"
#include "IdFTP.h"
#include "IdWait.h"

#include <algorithm>

namespace vantari {

namespace {

void RemoveTemporary(TIdFTP &ftp, const std::string &name) {
  try {
    if (ftp.IsConnected())
      ftp.Delete(name);
  } catch (const Exception &) {
    // Left behind, it is replaced by the next upload's.
  }
}

std::string PreviousName(const std::string &remoteName) {
  return remoteName + ".1";
}

// The numbered versions of before: each moves one place down.
void RotateNumbered(TIdFTP &ftp, const std::string &remoteName) {
  const std::string previous = PreviousName(remoteName);
  const std::string older = remoteName + ".2";
  // Where there is none yet, the rename is refused harmlessly.
  Tolerated([&] { ftp.Delete(older); });
  Tolerated([&] { ftp.Rename(previous, older); });
  Tolerated([&] { ftp.Rename(remoteName, previous); });
}

// History work whose failure costs the history only; a cancel still ends the run.
template <class F> void ForHistory(F work) {
  try {
    work();
  } catch (const EIdCancelled &) {
    throw;
  } catch (const Exception &) {
  }
}

// A transfer that the person does not see as one: its work events would move the progress bar
// and reset what the real transfer announced.
class TQuietTransfer {
public:
  explicit TQuietTransfer(TIdFTP &ftp)
      : FFtp(ftp), FBegin(std::move(ftp.OnWorkBegin)), FWork(std::move(ftp.OnWork)),
        FEnd(std::move(ftp.OnWorkEnd)) {
    ftp.OnWorkBegin = nullptr;
    ftp.OnWork = nullptr;
    ftp.OnWorkEnd = nullptr;
  }
  ~TQuietTransfer() {
    FFtp.OnWorkBegin = std::move(FBegin);
    FFtp.OnWork = std::move(FWork);
    FFtp.OnWorkEnd = std::move(FEnd);
  }
  TQuietTransfer(const TQuietTransfer &) = delete;
  TQuietTransfer &operator=(const TQuietTransfer &) = delete;

private:
  TIdFTP &FFtp;
  TWorkBeginEvent FBegin;
  TWorkEvent FWork;
  TWorkEndEvent FEnd;
};

// Raised by TWindowStream once it holds what was wanted: it ends the transfer early.
class EWindowComplete : public Exception {
public:
  EWindowComplete() : Exception("The wanted bytes have been read.") {}
};

// Keeps the bytes of a download from where it starts (offset, sent as REST) and stops it there.
class TWindowStream : public TStream {
public:
  TWindowStream(int64_t offset, size_t wanted) : FOffset(offset), FWanted(wanted) {}
  int64_t Read(void *, int64_t) override { return 0; }
  int64_t Write(const void *buffer, int64_t count) override {
    const size_t take = std::min(FWanted - FBytes.size(), static_cast<size_t>(count));
    FBytes.append(static_cast<const char *>(buffer), take);
    if (FBytes.size() == FWanted)
      throw EWindowComplete();
    return count;
  }
  int64_t Seek(int64_t, TSeekOrigin) override {
    return FOffset + static_cast<int64_t>(FBytes.size());
  }
  void SetSize(int64_t) override {}
  const std::string &Bytes() const { return FBytes; }

private:
  int64_t FOffset;
  size_t FWanted;
  std::string FBytes;
};

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

void SafeUpload(TIdFTP &ftp, const std::string &localPath, const std::string &remoteName,
                const THistoryPlan &plan) {
  const std::string temporary = UploadTemporaryName(remoteName);
  const bool dated = !plan.Schedule.Off();
  try {
    ftp.UploadFile(localPath, temporary, false);
    ftp.VerifyUpload(temporary, FileSize(localPath));
  } catch (...) {
    RemoveTemporary(ftp, temporary);
    throw;
  }
  std::set<std::string> names; // the folder after the history moves
  if (dated)
    ForHistory([&] { names = MoveCurrentIntoHistory(ftp, remoteName, plan.ReplacedMade); });
  else
    RotateNumbered(ftp, remoteName);
  if (Tolerated([&] { ftp.Rename(temporary, remoteName); })) {
    if (dated)
      ForHistory([&] { ThinHistory(ftp, remoteName, names, plan.Schedule, plan.UtcOffset); });
    return;
  }
  // No renaming here: the plain upload, as servers without it have always had.
  RemoveTemporary(ftp, temporary);
  ftp.UploadFile(localPath, remoteName, false);
  ftp.VerifyUpload(remoteName, FileSize(localPath));
}

std::vector<std::string> StrandedArchives(TIdFTP &ftp, const std::string &remoteName) {
  std::vector<std::string> found;
  if (ftp.RemoteFileSize(remoteName) >= 0)
    return found;
  // Only a cut-off upload leaves its own file: then the archive it moved aside is the newest
  // of the history (or "<name>.1" of before, or on a server that lists nothing).
  std::vector<THistoryEntry> history;
  if (ftp.RemoteFileSize(UploadTemporaryName(remoteName)) >= 0) {
    found.push_back(UploadTemporaryName(remoteName));
    history = ReadServerHistory(ftp, remoteName, std::nullopt);
  }
  if (!history.empty())
    found.push_back(history.front().Name);
  else if (ftp.RemoteFileSize(PreviousName(remoteName)) >= 0)
    found.push_back(PreviousName(remoteName));
  return found;
}

bool FetchWholeArchive(TIdFTP &ftp, const std::string &remoteName, TStream &stream) {
  const int64_t size = ftp.RemoteFileSize(remoteName);
  stream.SetSize(0);
  ftp.DownloadToStream(remoteName, stream, false, size);
  stream.SetPosition(0);
  return TArchiveWalk().Run(stream);
}

void PutStrandedArchiveInPlace(TIdFTP &ftp, const std::string &remoteName) {
  const std::string temporary = UploadTemporaryName(remoteName);
  if (ftp.RemoteFileSize(remoteName) < 0 && ftp.RemoteFileSize(temporary) >= 0)
    Tolerated([&] { ftp.Rename(temporary, remoteName); });
}

bool ServerFileHolds(TIdFTP &ftp, const std::string &remoteName, int64_t offset,
                     const std::string &bytes) {
  if (bytes.empty())
    return false;
  TQuietTransfer quiet(ftp);
  TWindowStream stream(offset, bytes.size());
  try {
    ftp.DownloadToStream(remoteName, stream, offset > 0);
  } catch (const EWindowComplete &) {
    // Enough read; the transfer was given up and the session brought back in step.
  } catch (const EIdProtocolReplyError &) {
    return false;
  }
  return ftp.IsConnected() && stream.Bytes() == bytes;
}

} // namespace vantari
