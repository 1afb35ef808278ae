#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantari {

// The per-user folder for what the program keeps about its own runs (the log), ending in '/':
// $XDG_STATE_HOME/vantari/ (default ~/.local/state/vantari/) on Linux,
// %LOCALAPPDATA%\Vantari\ on Windows. Created (owner only) when missing.
std::string LocalStateFolder();

// The operating system's name and version for a support report, e.g. "Linux 6.1.0 x86_64" or
// "Windows 10.0.19045".
std::string OperatingSystemVersion();

// Bytes free for this user on the volume holding path (a folder or a file); -1 when the
// system cannot tell.
int64_t FreeDiskBytes(const std::string &path);

// Starts program (a full path) with arguments as given, no shell between, and waits at most
// about timeoutMs for its end; true when it ran and exited with status 0.
bool RunProgram(const std::string &program, const std::vector<std::string> &arguments,
                int timeoutMs);

} // namespace vantari
