#include "Cp949.h"

#include "WinText.h"

namespace vantari {

namespace {

constexpr UINT kCodePage949 = 949;

bool IsAscii(const std::string &text) {
  for (unsigned char c : text)
    if (c >= 0x80)
      return false;
  return true;
}

// The text in UTF-16, or false when a byte sequence is not valid in codePage.
bool ToWide(const std::string &text, UINT codePage, std::wstring &wide) {
  const int size = static_cast<int>(text.size());
  const int n =
      ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0)
    return false;
  wide.assign(static_cast<size_t>(n), L'\0');
  return ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n) ==
         n;
}

// UTF-16 in codePage, or false when a character has no exact counterpart there.
bool FromWide(const std::wstring &wide, UINT codePage, std::string &text) {
  const int size = static_cast<int>(wide.size());
  BOOL lossy = FALSE;
  BOOL *check = codePage == CP_UTF8 ? nullptr : &lossy; // UTF-8 takes no such check
  const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  const int n =
      ::WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, check);
  if (n <= 0 || lossy)
    return false;
  text.assign(static_cast<size_t>(n), '\0');
  return ::WideCharToMultiByte(codePage, flags, wide.data(), size, text.data(), n, nullptr,
                               check) == n &&
         !lossy;
}

std::string ConvertOrKeep(const std::string &text, UINT from, UINT to) {
  if (IsAscii(text))
    return text;
  std::wstring wide;
  std::string out;
  if (ToWide(text, from, wide) && FromWide(wide, to, out))
    return out;
  return text;
}

} // namespace

std::string Utf8ToCp949(const std::string &text) {
  return ConvertOrKeep(text, CP_UTF8, kCodePage949);
}

std::string Cp949ToUtf8(const std::string &text) {
  return ConvertOrKeep(text, kCodePage949, CP_UTF8);
}

} // namespace vantari
