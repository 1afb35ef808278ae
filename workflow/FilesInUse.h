#pragma once

#include <string>

namespace vantari {

// Whether a process other than this one holds a regular file directly in folder open (the
// accounting program under Wine runs as ordinary processes). Linux would let such a file be
// moved or deleted without a word, and what that program saves afterwards would be lost.
// Processes whose descriptors cannot be read (another user's) are not seen.
bool FilesInUse(const std::string &folder);

// Whether another run of this program (the window or the command line) is at work: it holds
// the lock of backupFolder (a restore or an undo under way) or a file of dataFolder open.
bool OtherVantariRuns(const std::string &dataFolder, const std::string &backupFolder);

} // namespace vantari
