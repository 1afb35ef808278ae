#pragma once

#include "BackupFile.h"

#include <string>
#include <vector>

namespace vantari {

// A command line that cannot be carried out as given (exit status 2).
class EUsageError : public Exception {
  using Exception::Exception;
};

struct TBcktoolOptions {
  std::string Command; // create, list, verify, extract, help, version
  std::vector<std::string> Operands;
  std::string Title;
  TCompressionLevel Level = clFastest;
  int32_t VolumeSize = 0;
  bool FileIds = false;
  bool Incremental = false;
  bool ClearArchive = false;
  TRestoreMode Mode = rmAll;
  bool FullPath = false;
  bool Quiet = false;
};

// Parses argv (without the program name); raises EUsageError with the reason.
TBcktoolOptions ParseBcktoolOptions(const std::vector<std::string> &args);
const char *BcktoolUsage();

} // namespace vantari
