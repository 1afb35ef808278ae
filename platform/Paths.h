#pragma once

#include <string>
#include <sys/types.h>

namespace vantari {

// Folder of the running program's file (from /proc/self/exe), ending in '/'.
// The current directory plays no part.
std::string ProgramFolder();

// The user's home folder ($HOME, else the account's), ending in '/'.
std::string HomeFolder();

// The per-user configuration folder, $XDG_CONFIG_HOME/vantari/ (default ~/.config/vantari/),
// ending in '/'. Created (mode 0700, with its parents) when missing; a failed creation is not
// reported here: the first write into it fails instead.
std::string ConfigFolder();

// Whole content of a file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string &path, std::string &content);

// Replaces the file's content so that it is on disk when the call returns: a temporary file
// beside it is written, synced and renamed over it. An existing file keeps its mode; a new one
// gets newMode. Raises Exception("Unable to write to <path>") on any failure.
void WriteWholeFile(const std::string &path, const std::string &content, mode_t newMode);

} // namespace vantari
