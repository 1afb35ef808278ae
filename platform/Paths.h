#pragma once

#include <string>
#include <vector>

namespace vantari {

// Folder of the running program's file (from /proc/self/exe), ending in '/'.
// The current directory plays no part.
std::string ProgramFolder();

// The running program's own file, as ProgramsHoldingFiles names programs; "" when unknown.
std::string ProgramFile();

// The user's home folder ($HOME, else the account's), ending in '/'.
std::string HomeFolder();

// The per-user configuration folder, $XDG_CONFIG_HOME/vantari/ (default ~/.config/vantari/),
// ending in '/'. Created (mode 0700, with its parents) when missing; a failed creation is not
// reported here: the first write into it fails instead.
std::string ConfigFolder();

// The per-user folder of what this computer alone knows (what it last saw on the server, the
// log): $XDG_STATE_HOME/vantari/ (default ~/.local/state/vantari/) on Linux,
// %LOCALAPPDATA%\Vantari\ on Windows, never the roaming profile, so that another computer
// sharing the settings never takes it for its own. Ends in '/'; created as ConfigFolder is.
std::string StateFolder();

// The program's arguments after its name, as UTF-8: on Windows from the wide command line,
// since argv there is in the ANSI code page.
std::vector<std::string> CommandLineArguments(int argc, char **argv);

} // namespace vantari
