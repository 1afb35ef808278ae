#include "RestoreJournal.h"

#include "DurableFile.h"
#include "Exception.h"
#include "FolderOps.h"

#include <random>
#include <sstream>

namespace vantari {

namespace {

constexpr size_t MaxJournalBytes = 4096;

const char *const StepNames[] = {"staging", "snapshot", "install", "committed"};

// A folder name the journal may name: one path segment, no hidden or parent names.
bool IsPlainName(const std::string &name) {
  return name.empty() || (name.find('/') == std::string::npos && name[0] != '.');
}

// What "consumed=" may name: nothing, or an archive file ("<id>.bck"); never a folder to remove.
bool IsArchiveName(const std::string &name) {
  const std::string suffix = ".bck";
  return name.empty() || (IsPlainName(name) && name.size() > suffix.size() &&
                          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0);
}

bool ParseStaged(const std::string &value, TStagedFiles &staged) {
  std::istringstream fields(value);
  return (fields >> staged.Count >> staged.Bytes) && fields.eof() && staged.Count >= 0 &&
         staged.Bytes >= 0;
}

} // namespace

std::string TRestoreJournal::NewToken() {
  std::random_device random;
  static const char digits[] = "0123456789abcdef";
  std::string token(32, '0');
  for (char &c : token)
    c = digits[random() % 16];
  return token;
}

std::string TRestoreJournal::PathIn(const std::string &backupFolder) {
  return backupFolder + "/restore.journal";
}

bool TRestoreJournal::Write(const std::string &backupFolder, const TRestoreJournal &journal,
                            const std::vector<std::string> &syncFirst) {
  std::ostringstream text;
  text << "step=" << StepNames[static_cast<int>(journal.Step)] << "\n"
       << "snapshot=" << journal.Snapshot << "\n"
       << "token=" << journal.Token << "\n"
       << "staged=" << journal.Staged.Count << " " << journal.Staged.Bytes << "\n";
  for (const std::string &folder : syncFirst)
    if (!SyncFolder(folder))
      return false;
  return static_cast<bool>(ReplaceFileDurably(PathIn(backupFolder), text.str(), 0600));
}

std::optional<TRestoreJournal> TRestoreJournal::Read(const std::string &backupFolder) {
  const std::string path = PathIn(backupFolder);
  std::string content;
  switch (ReadSmallFile(path, MaxJournalBytes, content)) {
  case TSmallRead::srRead:
    break;
  case TSmallRead::srMissing:
    return std::nullopt;
  default: // a link, a folder, a fifo, a huge or unreadable file
    throw EUntrustedJournal("Cannot read the restore journal " + path);
  }

  TRestoreJournal journal;
  bool hasStep = false;
  bool sound = true;
  std::istringstream lines(content);
  for (std::string line; std::getline(lines, line);) {
    const auto equals = line.find('=');
    const std::string key = line.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
    if (key == "step") {
      for (int step = 0; step < 4; ++step)
        if (value == StepNames[step]) {
          journal.Step = static_cast<TRestoreStep>(step);
          hasStep = true;
        }
    } else if (key == "snapshot") {
      journal.Snapshot = value;
    } else if (key == "token") {
      journal.Token = value;
    } else if (key == "staged") {
      sound = ParseStaged(value, journal.Staged) && sound;
    } else if (key == "consumed") {
      sound = IsArchiveName(value) && sound;
    }
  }
  if (!hasStep || !sound || !IsPlainName(journal.Snapshot))
    throw EUntrustedJournal("Cannot read the restore journal " + path);
  return journal;
}

bool TRestoreJournal::Remove(const std::string &backupFolder) {
  const std::string path = PathIn(backupFolder);
  if (!RemoveEntry(path))
    return false;
  return SyncFolder(backupFolder);
}

} // namespace vantari
