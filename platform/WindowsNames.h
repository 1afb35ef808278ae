#pragma once

#include <set>
#include <string>

namespace vantari {

// Whether text is well-formed UTF-8 (no overlong forms, no surrogates): what converts to
// UTF-16, and so to a Windows name or command line, one to one.
bool IsUtf8(const std::string &text);

// The names a Windows folder cannot hold as one entry, written once for every system: Windows
// applies them before it writes a member, Linux tests them.
enum class TNameProblem {
  npNone,
  npTrailingDotOrBlank, // Windows drops it, so the file would get another name
  npDeviceName,         // CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension
  npBadCharacter,       // a control character or one of < > : " / \ | ? *
  npNotInCodePage,      // bytes the code page could not convert (not UTF-8 once converted)
  npCollides,           // another name of the same set is the same file on Windows
};

// Whether this system's folders take only the names Windows takes.
#ifdef _WIN32
constexpr bool kWindowsNames = true;
#else
constexpr bool kWindowsNames = false;
#endif

// Why Windows cannot hold name (one path segment, UTF-8) as a folder entry of its own.
TNameProblem WindowsNameProblem(const std::string &name);

// The reason in plain English words, for the command line ("the name ends in a dot...").
const char *NameProblemText(TNameProblem problem);

// The names of one folder, checked one by one and against each other: two that differ only in
// letter case are one file on Windows.
class TWindowsNameSet {
public:
  // The problem of name, npCollides when an earlier one of the set is the same file.
  TNameProblem Add(const std::string &name);

private:
  std::set<std::string> FFolded;
};

} // namespace vantari
