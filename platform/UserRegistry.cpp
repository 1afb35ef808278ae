#include "UserRegistry.h"

#include "Exception.h"
#include "Paths.h"
#include "SettingsFile.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string_view>

namespace vantari {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view FileSignature = "WINE REGISTRY Version 2";
// A Wine prefix's own hive grows with what is installed there; still, not without bound.
constexpr size_t MaxWineHiveBytes = 64 * 1024 * 1024;
enum TValueType { REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4 };

struct TValue {
  int Type = 0;
  std::string Text; // decoded, UTF-8; only for the two string types
};

bool SameName(std::string_view a, std::string_view b) {
  return std::ranges::equal(
      a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

void AppendUtf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Collects UTF-16 code units from escapes, pairing surrogates, into UTF-8.
class TUtf16Sink {
public:
  explicit TUtf16Sink(std::string &out) : FOut(out) {}
  ~TUtf16Sink() { Flush(); }
  void Unit(char32_t unit) {
    if (FHigh != 0 && unit >= 0xDC00 && unit <= 0xDFFF) {
      AppendUtf8(FOut, 0x10000 + ((FHigh - 0xD800) << 10) + (unit - 0xDC00));
      FHigh = 0;
      return;
    }
    Flush();
    if (unit >= 0xD800 && unit <= 0xDBFF)
      FHigh = unit;
    else
      AppendUtf8(FOut, unit);
  }
  void Byte(char c) {
    Flush();
    FOut += c;
  }

private:
  void Flush() {
    if (FHigh != 0)
      AppendUtf8(FOut, 0xFFFD);
    FHigh = 0;
  }
  std::string &FOut;
  char32_t FHigh = 0;
};

// Reads digits of base from text at pos, at most maxDigits of them.
char32_t TakeNumber(std::string_view text, size_t &pos, int base, int maxDigits) {
  char32_t value = 0;
  for (int n = 0; n < maxDigits && pos < text.size(); ++n, ++pos) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[pos])));
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 99;
    if (digit >= base)
      break;
    value = value * base + static_cast<char32_t>(digit);
  }
  return value;
}

// Decodes the escaped text at pos up to the unescaped terminator, leaving pos after it.
// The format's escapes: \\ \" \a \b \e \f \n \r \t \v, \xHHHH (UTF-16 units), \ooo octal.
std::string Unescape(std::string_view text, size_t &pos, char terminator) {
  std::string out;
  TUtf16Sink sink(out);
  while (pos < text.size() && text[pos] != terminator) {
    const char c = text[pos++];
    if (c != '\\' || pos >= text.size()) {
      sink.Byte(c);
      continue;
    }
    const char e = text[pos++];
    constexpr std::string_view Letters = "abefnrtv", Codes = "\a\b\x1b\f\n\r\t\v";
    if (const auto at = Letters.find(e); at != std::string_view::npos)
      sink.Unit(static_cast<unsigned char>(Codes[at]));
    else if (e == 'x')
      sink.Unit(TakeNumber(text, pos, 16, 4));
    else if (e >= '0' && e <= '7')
      sink.Unit(TakeNumber(text, --pos, 8, 3));
    else
      sink.Byte(e);
  }
  if (pos < text.size())
    ++pos;
  return out;
}

std::string Escape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"')
      out += '\\';
    out += c;
  }
  return out;
}

std::string NormalKey(std::string_view key) {
  while (!key.empty() && key.front() == '\\')
    key.remove_prefix(1);
  while (!key.empty() && key.back() == '\\')
    key.remove_suffix(1);
  return std::string(key);
}

// hex(n): data, UTF-16LE for the string types.
std::string DecodeHexString(std::string_view data) {
  std::string bytes;
  for (size_t pos = 0; pos < data.size();) {
    if (!std::isxdigit(static_cast<unsigned char>(data[pos]))) {
      ++pos;
      continue;
    }
    bytes += static_cast<char>(TakeNumber(data, pos, 16, 2));
  }
  std::string out;
  {
    TUtf16Sink sink(out);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const char32_t unit = static_cast<unsigned char>(bytes[i]) |
                            (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
      if (unit == 0)
        break;
      sink.Unit(unit);
    }
  }
  return out;
}

// The right-hand side of a value line: "text", str(n):"text", dword:..., hex:..., hex(n):...
TValue ParseValue(std::string_view data) {
  TValue value;
  size_t pos = 0;
  if (data.starts_with('"')) {
    value.Type = REG_SZ;
  } else if (data.starts_with("str(") || data.starts_with("hex(")) {
    pos = 4;
    value.Type = static_cast<int>(TakeNumber(data, pos, 16, 8));
    pos = data.find(':', pos);
    if (pos == std::string_view::npos)
      return {};
    if (data.starts_with("hex(")) {
      if (value.Type == REG_SZ || value.Type == REG_EXPAND_SZ)
        value.Text = DecodeHexString(data.substr(pos + 1));
      return value;
    }
    ++pos;
  } else {
    value.Type = data.starts_with("dword:") ? REG_DWORD : REG_BINARY;
    return value;
  }
  if (pos < data.size() && data[pos] == '"') {
    ++pos;
    value.Text = Unescape(data, pos, '"');
  }
  return value;
}

struct TLine {
  std::string_view Text;
  size_t Next; // offset of the following line
};

// One logical line from pos; a hex value continues over lines that end in a backslash.
TLine LineAt(std::string_view content, size_t pos) {
  size_t end = content.find('\n', pos);
  while (end != std::string_view::npos && end > pos && content[end - 1] == '\\' &&
         content.substr(pos, end - pos).find("=hex") != std::string_view::npos)
    end = content.find('\n', end + 1);
  if (end == std::string_view::npos)
    end = content.size();
  std::string_view text = content.substr(pos, end - pos);
  while (!text.empty() && (text.back() == '\r' || text.back() == ' '))
    text.remove_suffix(1);
  return {text, std::min(end + 1, content.size())};
}

std::optional<std::string> KeyOfHeader(std::string_view line) {
  if (!line.starts_with('['))
    return std::nullopt;
  size_t pos = 1;
  return Unescape(line, pos, ']');
}

bool HasKey(std::string_view content, std::string_view key) {
  for (size_t pos = 0; pos < content.size();) {
    const TLine line = LineAt(content, pos);
    if (const auto name = KeyOfHeader(line.Text); name && SameName(NormalKey(*name), key))
      return true;
    pos = line.Next;
  }
  return false;
}

// The value name under key in a hive's content, if it is there.
std::optional<TValue> FindValue(std::string_view content, std::string_view key,
                                std::string_view name) {
  bool inKey = false;
  for (size_t pos = 0; pos < content.size();) {
    const TLine line = LineAt(content, pos);
    pos = line.Next;
    if (const auto header = KeyOfHeader(line.Text)) {
      inKey = SameName(NormalKey(*header), key);
      continue;
    }
    if (!inKey)
      continue;
    size_t at = 0;
    std::string valueName;
    if (line.Text.starts_with("@=")) {
      at = 1;
    } else if (line.Text.starts_with('"')) {
      at = 1;
      valueName = Unescape(line.Text, at, '"');
    } else {
      continue;
    }
    if (at < line.Text.size() && line.Text[at] == '=' && SameName(valueName, name))
      return ParseValue(line.Text.substr(at + 1));
  }
  return std::nullopt;
}

std::string TextOf(const TValue &value, const std::string &name) {
  if (value.Type != REG_SZ && value.Type != REG_EXPAND_SZ)
    throw Exception(Format("Invalid data type for '%s'", name.c_str()));
  return value.Text;
}

// A file name in folder matching name without regard to case, as Windows would find it.
std::string MatchCase(const fs::path &folder, const std::string &name) {
  std::error_code error;
  if (fs::exists(folder / name, error))
    return name;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string candidate = it->path().filename().string();
    if (SameName(candidate, name))
      return candidate;
  }
  return name;
}

bool IsDrivePath(const std::string &value) {
  return value.size() >= 2 && std::isalpha(static_cast<unsigned char>(value[0])) && value[1] == ':';
}

// "X:\dir\sub\" as a Linux path through the prefix's dosdevices link of drive X; the trailing
// separator is kept. Empty when the drive is not mapped.
std::string MapDrivePath(const std::string &prefix, const std::string &value) {
  const std::string drive(1, static_cast<char>(std::tolower(static_cast<unsigned char>(value[0]))));
  std::error_code error;
  fs::path path = fs::canonical(fs::path(prefix) / "dosdevices" / (drive + ":"), error);
  if (error)
    return {};
  std::string rest = value.substr(2);
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('\\', start);
    if (end == std::string::npos)
      end = rest.size();
    if (const std::string part = rest.substr(start, end - start); !part.empty())
      path /= MatchCase(path, part);
    start = end + 1;
  }
  std::string mapped = path.string();
  if (rest.ends_with('\\') && !mapped.ends_with('/'))
    mapped += '/';
  return mapped;
}

std::string DefaultWinePrefix() {
  if (const char *prefix = std::getenv("WINEPREFIX"); prefix != nullptr && prefix[0] != '\0')
    return prefix;
  return HomeFolder() + ".wine";
}

} // namespace

TUserRegistry::TUserRegistry() : TUserRegistry(ConfigFolder() + "user.reg", DefaultWinePrefix()) {}

TUserRegistry::TUserRegistry(std::string fileName, std::string winePrefix)
    : FFileName(std::move(fileName)), FWinePrefix(std::move(winePrefix)) {}

bool TUserRegistry::OpenKey(const std::string &key, bool canCreate) {
  CloseKey();
  const std::string wanted = NormalKey(key);
  std::string content;
  const bool exists = ReadSettingsFile(FFileName, content);
  if (!HasKey(content, wanted)) {
    if (!canCreate)
      return false;
    // Opening is a read: an existing file is never rewritten for it, and a key without values
    // reads the same whether it is written down or not. Only a first start makes the file; when
    // it cannot (a folder the program may not write), the key opens all the same, so that its
    // values are still read from the Wine prefix.
    if (!exists)
      CreateSettingsFile(FFileName,
                         std::string(FileSignature) +
                             "\n;; All keys relative to the current user\n\n[" + Escape(wanted) +
                             "] " + std::to_string(std::time(nullptr)) + "\n",
                         0600);
  }
  FCurrentKey = wanted;
  return true;
}

void TUserRegistry::CloseKey() {
  FCurrentKey.clear();
}

bool TUserRegistry::ValueExists(const std::string &name) const {
  std::string content;
  return !FCurrentKey.empty() && ReadSettingsFile(FFileName, content) &&
         FindValue(content, FCurrentKey, name).has_value();
}

std::string TUserRegistry::ReadString(const std::string &name) const {
  if (FCurrentKey.empty())
    return {};
  std::string content;
  if (ReadSettingsFile(FFileName, content))
    if (const auto value = FindValue(content, FCurrentKey, name))
      return TextOf(*value, name);
  // Not set here: what the accounting program stored in its Wine prefix, if it runs under Wine.
  if (FWinePrefix.empty() ||
      !ReadSettingsFile(FWinePrefix + "/user.reg", content, MaxWineHiveBytes))
    return {};
  const auto value = FindValue(content, FCurrentKey, name);
  if (!value)
    return {};
  const std::string text = TextOf(*value, name);
  return IsDrivePath(text) ? MapDrivePath(FWinePrefix, text) : text;
}

} // namespace vantari
