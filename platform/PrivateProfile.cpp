#include "PrivateProfile.h"

#include "SettingsFile.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>
#include <vector>

namespace vantari {

namespace {

constexpr size_t MaxValueCharacters = 2047;

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos)
    return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  return std::ranges::equal(
      a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// The name of a "[section]" line, or nothing when the line is no section header.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[')
    return std::nullopt;
  const auto close = line.find(']');
  if (close == std::string_view::npos)
    return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
  line = Trim(line);
  return !line.empty() && (line.front() == ';' || line.front() == '#');
}

// The key of a "key=value" line, or nothing.
std::optional<std::string_view> KeyName(std::string_view line) {
  const auto equals = line.find('=');
  if (IsComment(line) || equals == std::string_view::npos)
    return std::nullopt;
  return Trim(line.substr(0, equals));
}

std::vector<std::string> SplitLines(const std::string &content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    const auto end = content.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(content.substr(start));
      break;
    }
    lines.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Where a section's lines are: [header, end) with end the next header or the end of the file.
struct TSectionRange {
  size_t Header;
  size_t End;
};

std::optional<TSectionRange> FindSection(const std::vector<std::string> &lines,
                                         std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    const auto name = SectionName(lines[i]);
    if (!name || !SameName(*name, section))
      continue;
    size_t end = i + 1;
    while (end < lines.size() && !SectionName(lines[end]))
      ++end;
    return TSectionRange{i, end};
  }
  return std::nullopt;
}

std::optional<size_t> FindKey(const std::vector<std::string> &lines, TSectionRange range,
                              std::string_view key) {
  for (size_t i = range.Header + 1; i < range.End; ++i) {
    const auto name = KeyName(lines[i]);
    if (name && SameName(*name, key))
      return i;
  }
  return std::nullopt;
}

// Cuts text after count UTF-8 characters (never inside one).
std::string CutCharacters(std::string_view text, size_t count) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (starts && characters++ == count)
      return std::string(text.substr(0, i));
  }
  return std::string(text);
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

} // namespace

void WritePrivateProfileString(const std::string &section, const std::string &key,
                               const std::string &value, const std::string &path) {
  std::string content;
  ReadSettingsFile(path, content);
  const bool crlf = content.find("\r\n") != std::string::npos;
  std::vector<std::string> lines = SplitLines(content);
  const std::string eol = crlf ? "\r" : "";
  const std::string entry = key + "=" + value + eol;

  if (const auto range = FindSection(lines, section)) {
    if (const auto found = FindKey(lines, *range, key)) {
      lines[*found] = entry;
    } else {
      // After the section's last entry, so blank lines before the next section stay there.
      size_t at = range->End;
      while (at > range->Header + 1 && Trim(lines[at - 1]).empty())
        --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
    }
  } else {
    lines.push_back("[" + section + "]" + eol);
    lines.push_back(entry);
  }

  std::string text;
  for (const auto &line : lines)
    text += line + "\n";
  // It may hold a password: private after every write, whatever it was before.
  WriteSettingsFile(path, text, 0600);
}

std::string GetPrivateProfileString(const std::string &section, const std::string &key,
                                    const std::string &defaultValue, const std::string &path) {
  std::string content;
  if (!ReadSettingsFile(path, content))
    return defaultValue;
  const std::vector<std::string> lines = SplitLines(content);
  const auto range = FindSection(lines, section);
  const auto at = range ? FindKey(lines, *range, key) : std::nullopt;
  if (!at)
    return defaultValue;
  const std::string_view line = lines[*at];
  const auto value = Unquote(Trim(line.substr(line.find('=') + 1)));
  return CutCharacters(value, MaxValueCharacters);
}

} // namespace vantari
