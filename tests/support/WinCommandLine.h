#pragma once

#include <string>

namespace vantari::test {

// One argument of a Windows command line, as the C runtime, CommandLineToArgvW (and Wine)
// split it again: left as it is when nothing in it needs quoting.
inline std::wstring QuotedArgument(const std::wstring &arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
    return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
    } else {
      out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
      backslashes = 0;
    }
    out += c;
  }
  return out.append(backslashes * 2, L'\\') + L"\"";
}

} // namespace vantari::test
