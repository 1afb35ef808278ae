#include "IdRFCReply.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace vantari {

std::string TrimBlanks(const std::string &text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
    ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
    --last;
  return text.substr(first, last - first);
}

bool ParseInt32(const std::string &text, int32_t &value) {
  const char *begin = text.data();
  const char *end = begin + text.size();
  if (begin != end && *begin == '+')
    ++begin;
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  return begin != end && ec == std::errc() && ptr == end;
}

void TIdRFCReply::SetTextCode(const std::string &value) {
  FTextCode = value;
  if (!value.empty())
    FNumericCode = ParseInt32(value, FNumericCode) ? FNumericCode : 0;
}

void TIdRFCReply::Clear() {
  FNumericCode = 0;
  FTextCode.clear();
  FText.clear();
}

void TIdRFCReply::ParseLines(const std::vector<std::string> &lines) {
  Clear();
  if (lines.empty())
    return;
  // A code is exactly three digits at the start of the line, then nothing, a blank or the
  // hyphen of a multi-line reply: "+230", " 230" or "2300" are no replies at all.
  const std::string &first = lines.front();
  const bool digits = first.size() >= 3 && std::all_of(first.begin(), first.begin() + 3,
                                                       [](char c) { return c >= '0' && c <= '9'; });
  if (digits && (first.size() == 3 || first[3] == ' ' || first[3] == '-'))
    SetTextCode(first.substr(0, 3));
  for (const std::string &line : lines)
    FText.push_back(line.size() > 4 ? line.substr(4) : std::string());
}

std::string TIdRFCReply::MultiLineTerminator(const std::string &firstLine) {
  if (firstLine.size() > 3 && firstLine[3] == '-')
    return firstLine.substr(0, 3) + ' ';
  return std::string();
}

bool TIdRFCReply::EndsMultiLineReply(const std::string &line, const std::string &terminator) {
  if (line.size() < 4)
    return true;
  for (size_t i = 0; i < 4; ++i) {
    if (std::toupper(static_cast<unsigned char>(line[i])) !=
        std::toupper(static_cast<unsigned char>(terminator[i])))
      return false;
  }
  return true;
}

} // namespace vantari
