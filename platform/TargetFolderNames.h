#pragma once

// The naming both implementations of TargetFolder share: the temporary files' names and the
// letter-case-blind comparison of entry names.

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

namespace vantari::targetfolder {

constexpr const char *kTempPrefix = ".vantari-";
constexpr const char *kTempSuffix = ".tmp";
constexpr size_t kSuffixLength = 8;

inline bool EqualIgnoringCase(const std::string &a, const std::string &b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z')
      x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z')
      y = static_cast<char>(y - 'A' + 'a');
    if (x != y)
      return false;
  }
  return true;
}

inline bool IsTempName(const std::string &name) {
  const size_t prefix = std::strlen(kTempPrefix);
  const size_t suffix = std::strlen(kTempSuffix);
  if (name.size() != prefix + kSuffixLength + suffix || name.compare(0, prefix, kTempPrefix) != 0 ||
      name.compare(prefix + kSuffixLength, suffix, kTempSuffix) != 0)
    return false;
  for (size_t i = prefix; i < prefix + kSuffixLength; ++i)
    if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'z')))
      return false;
  return true;
}

// A fresh temporary name; the process id keeps two runs started together apart.
inline std::string TempName(uint64_t processId) {
  static std::mt19937_64 generator(std::random_device{}() ^ processId);
  static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string text(kSuffixLength, '0');
  for (auto &c : text)
    c = digits[generator() % 36];
  return kTempPrefix + text + kTempSuffix;
}

} // namespace vantari::targetfolder
