#include "ArchiveFormat.h"

#include "Cp949.h"
#include "FileSystem.h"

#include <algorithm>
#include <cstring>

namespace vantari::archive {

std::string MemberName(const std::string &localPath) {
#ifdef _WIN32
  // A Windows path names its drive itself.
  const bool hasDrive = localPath.size() >= 2 && localPath[1] == ':';
  std::string name = hasDrive ? localPath : "z:" + localPath;
#else
  std::string name = "z:" + localPath;
#endif
  std::replace(name.begin(), name.end(), '/', '\\');
  return Utf8ToCp949(name);
}

std::string VolumeDigits(unsigned volume) {
  const std::string text = "00" + std::to_string(volume);
  return text.substr(text.size() - 3);
}

bool MagicIsValid(const uint8_t *bytes) {
  const void *zero = std::memchr(bytes, 0, 4);
  const size_t length = zero ? static_cast<size_t>(static_cast<const uint8_t *>(zero) - bytes) : 4;
  return length == 3 && std::memcmp(bytes, kMagic, 3) == 0;
}

bool IsContinuation(const std::string &name) {
  return name.compare(0, kNextDiskLength, kNextDisk) == 0;
}

std::string ContinuationDigits(const std::string &name) {
  const std::string digits = name.substr(kNextDiskLength);
  const bool wellFormed =
      digits.size() == 3 &&
      std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
  return wellFormed ? digits : std::string();
}

std::string VolumePath(const std::string &path, const std::string &digits) {
  return ChangeFileExt(path, "." + digits);
}

} // namespace vantari::archive
