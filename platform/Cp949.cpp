#include "Cp949.h"

#include <cerrno>
#include <iconv.h>

namespace vantari {

namespace {

bool IsAscii(const std::string &text) {
  for (unsigned char c : text)
    if (c >= 0x80)
      return false;
  return true;
}

class TIconv {
public:
  TIconv(const char *to, const char *from) : FHandle(iconv_open(to, from)) {}
  ~TIconv() {
    if (Valid())
      iconv_close(FHandle);
  }
  TIconv(const TIconv &) = delete;
  TIconv &operator=(const TIconv &) = delete;
  bool Valid() const { return FHandle != reinterpret_cast<iconv_t>(-1); }

  // Whole-text conversion; false when any byte sequence cannot be converted.
  bool Convert(const std::string &in, std::string &out) {
    out.assign(in.size() * 2 + 8, '\0');
    char *src = const_cast<char *>(in.data());
    size_t srcLeft = in.size();
    char *dst = out.data();
    size_t dstLeft = out.size();
    if (iconv(FHandle, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1))
      return false;
    if (iconv(FHandle, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1))
      return false;
    out.resize(out.size() - dstLeft);
    return true;
  }

private:
  iconv_t FHandle;
};

std::string ConvertOrKeep(const std::string &text, const char *to, const char *from) {
  if (IsAscii(text))
    return text;
  TIconv conv(to, from);
  std::string out;
  if (conv.Valid() && conv.Convert(text, out))
    return out;
  return text;
}

} // namespace

std::string Utf8ToCp949(const std::string &text) {
  return ConvertOrKeep(text, "CP949", "UTF-8");
}

std::string Cp949ToUtf8(const std::string &text) {
  return ConvertOrKeep(text, "UTF-8", "CP949");
}

} // namespace vantari
