#pragma once

#include "Exception.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantari {

// A journal that cannot be read, or that describes no state a run of this program leaves:
// recovery leaves everything as it is for a person to look at.
class EUntrustedJournal : public Exception {
public:
  using Exception::Exception;
};

// The step a restore transaction has reached, kept in the Backup folder so that a run cut
// short (a kill, a power cut) can be rolled back at the next start.
enum class TRestoreStep {
  rsStaging,   // unpacking into the staging folder; the data folder is untouched (no journal
               // is written for it; one that says so is still read)
  rsSnapshot,  // moving the data folder's files into the snapshot folder
  rsInstall,   // moving the staged files into the data folder
  rsCommitted, // the data folder holds the new files; only tidying is left
};

// The plain files a run staged: what the data folder and the staging folder hold between them
// while the staged files move in (or back out).
struct TStagedFiles {
  int64_t Count = 0;
  int64_t Bytes = 0;
  bool operator==(const TStagedFiles &) const = default;
};

struct TRestoreJournal {
  TRestoreStep Step = TRestoreStep::rsStaging;
  std::string Snapshot; // folder name inside the Backup folder, empty before rsSnapshot
  // A run's own mark, also written into its staging and snapshot folders (TokenName): a journal
  // acts only on folders that carry it.
  std::string Token;
  TStagedFiles Staged;

  // The hidden file in the staging and snapshot folders that holds the run's token.
  static constexpr const char *TokenName = ".restore-token";
  // A fresh token.
  static std::string NewToken();

  // "<backup folder>/restore.journal".
  static std::string PathIn(const std::string &backupFolder);
  // Replaces the journal durably (ReplaceFileDurably), mode 0600; a symbolic link in its place
  // is replaced, never followed. The folders of syncFirst are synced first, so that what they
  // hold is on disk before the journal says so. False on any failure.
  static bool Write(const std::string &backupFolder, const TRestoreJournal &journal,
                    const std::vector<std::string> &syncFirst = {});
  // The journal, or nothing when there is none. A journal that is not a small regular file,
  // does not parse, or names anything but an archive as consumed (runs of old named the
  // snapshot an undo used up there) raises EUntrustedJournal: the folder needs a person's look.
  static std::optional<TRestoreJournal> Read(const std::string &backupFolder);
  static bool Remove(const std::string &backupFolder);
};

} // namespace vantari
