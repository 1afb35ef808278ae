#include "RestoreJournal.h"

#include "Exception.h"
#include "FileDescriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vantari {

namespace {

constexpr off_t MaxJournalBytes = 4096;

const char *const StepNames[] = {"staging", "snapshot", "install", "committed"};

// A folder name the journal may name: one path segment, no hidden or parent names.
bool IsPlainName(const std::string &name) {
  return name.empty() || (name.find('/') == std::string::npos && name[0] != '.');
}

} // namespace

std::string TRestoreJournal::PathIn(const std::string &backupFolder) {
  return backupFolder + "/restore.journal";
}

bool TRestoreJournal::Write(const std::string &backupFolder, const TRestoreJournal &journal,
                            const std::vector<std::string> &syncFirst) {
  const std::string path = PathIn(backupFolder);
  const std::string temporary = path + ".new";
  std::ostringstream text;
  text << "step=" << StepNames[static_cast<int>(journal.Step)] << "\n"
       << "snapshot=" << journal.Snapshot << "\n"
       << "consumed=" << journal.Consumed << "\n";
  ::unlink(temporary.c_str()); // a leftover of a killed write
  TFileDescriptor fd(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.Valid())
    return false;
  bool synced = WriteAll(fd.Get(), text.str()) && ::fsync(fd.Get()) == 0;
  for (const std::string &folder : syncFirst)
    synced = synced && SyncFolder(folder);
  if (!synced || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return SyncFolder(backupFolder);
}

std::optional<TRestoreJournal> TRestoreJournal::Read(const std::string &backupFolder) {
  const std::string path = PathIn(backupFolder);
  TFileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) {
    if (errno == ENOENT)
      return std::nullopt;
    throw EUntrustedJournal("Cannot read the restore journal " + path);
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > MaxJournalBytes)
    throw EUntrustedJournal("Cannot read the restore journal " + path);
  std::string content(static_cast<size_t>(st.st_size), '\0');
  if (::read(fd.Get(), content.data(), content.size()) != st.st_size)
    throw EUntrustedJournal("Cannot read the restore journal " + path);

  TRestoreJournal journal;
  bool hasStep = false;
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
    } else if (key == "consumed") {
      journal.Consumed = value;
    }
  }
  if (!hasStep || !IsPlainName(journal.Snapshot) || !IsPlainName(journal.Consumed))
    throw EUntrustedJournal("Cannot read the restore journal " + path);
  return journal;
}

bool TRestoreJournal::Remove(const std::string &backupFolder) {
  const std::string path = PathIn(backupFolder);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    return false;
  return SyncFolder(backupFolder);
}

} // namespace vantari
