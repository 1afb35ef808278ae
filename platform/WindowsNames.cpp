#include "WindowsNames.h"

#include <cstdint>

namespace vantari {

namespace {

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsDeviceName(const std::string &name) {
  // The part before the first dot, blanks at its end ignored, is what Windows looks at.
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ')
    base.pop_back();
  for (char &c : base)
    c = UpperAscii(c);
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL")
    return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

} // namespace

bool IsUtf8(const std::string &text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<uint8_t>(text[i]);
    const size_t length = c < 0x80           ? 1
                          : (c >> 5) == 0x6  ? 2
                          : (c >> 4) == 0xE  ? 3
                          : (c >> 3) == 0x1E ? 4
                                             : 0;
    if (length == 0 || i + length > text.size())
      return false;
    uint32_t code = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80)
        return false;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return false;
    i += length;
  }
  return true;
}

TNameProblem WindowsNameProblem(const std::string &name) {
  if (!IsUtf8(name))
    return TNameProblem::npNotInCodePage;
  for (const char c : name)
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::string("<>:\"/\\|?*").find(c) != std::string::npos)
      return TNameProblem::npBadCharacter;
  if (!name.empty() && (name.back() == '.' || name.back() == ' '))
    return TNameProblem::npTrailingDotOrBlank;
  return IsDeviceName(name) ? TNameProblem::npDeviceName : TNameProblem::npNone;
}

const char *NameProblemText(TNameProblem problem) {
  switch (problem) {
  case TNameProblem::npNone:
    return "";
  case TNameProblem::npTrailingDotOrBlank:
    return "the name ends in a dot or a blank";
  case TNameProblem::npDeviceName:
    return "the name is a Windows device name";
  case TNameProblem::npBadCharacter:
    return "the name holds a character Windows does not allow";
  case TNameProblem::npNotInCodePage:
    return "the name cannot be read in the Korean code page";
  case TNameProblem::npCollides:
    return "another member has the same name on Windows";
  }
  return "";
}

TNameProblem TWindowsNameSet::Add(const std::string &name) {
  const TNameProblem problem = WindowsNameProblem(name);
  if (problem != TNameProblem::npNone)
    return problem;
  std::string folded = name;
  for (char &c : folded)
    c = UpperAscii(c);
  return FFolded.insert(folded).second ? TNameProblem::npNone : TNameProblem::npCollides;
}

} // namespace vantari
