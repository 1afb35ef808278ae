#pragma once

#include <string>

namespace vantari {

// Whether a process other than this one holds a regular file directly in folder open (the
// accounting program under Wine runs as ordinary processes). Linux would let such a file be
// moved or deleted without a word, and what that program saves afterwards would be lost.
// Processes whose descriptors cannot be read (another user's) are not seen.
bool FilesInUse(const std::string &folder);

} // namespace vantari
