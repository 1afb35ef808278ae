#include "FilesInUse.h"

#include "FolderOps.h"
#include "Paths.h"

#include <algorithm>
#include <cctype>

namespace vantari {

namespace {

// Whether program is this program or another of its front-ends ("vantari", "vantari-cli",
// "Vantari.exe"): by the name of its file, whatever folder it runs from.
bool IsVantari(const std::string &program, const std::string &self) {
  if (program.empty())
    return false;
  if (program == self)
    return true;
  std::string name = program.substr(program.find_last_of("/\\") + 1);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name.rfind("vantari", 0) == 0;
}

} // namespace

bool FilesInUse(const std::string &folder) {
  return AnyFileInUse(folder);
}

bool OtherVantariRuns(const std::string &dataFolder, const std::string &backupFolder) {
  if (FolderLockTaken(backupFolder))
    return true;
  const std::string self = ProgramFile();
  const std::vector<std::string> holders = ProgramsHoldingFiles(dataFolder);
  return std::any_of(holders.begin(), holders.end(),
                     [&self](const std::string &program) { return IsVantari(program, self); });
}

} // namespace vantari
