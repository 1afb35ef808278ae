#pragma once

#include "WinHandle.h"

#include <windows.h>

#include <string>

namespace vantari::win {

// The program keeps local paths and texts as UTF-8; Win32 takes UTF-16. Converted at the call.

inline std::wstring Widen(const std::string &text) {
  if (text.empty())
    return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

inline std::string Narrow(const std::wstring &text) {
  if (text.empty())
    return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

// A path for Win32: UTF-16 with '\' delimiters.
inline std::wstring WidePath(const std::string &path) {
  std::wstring wide = Widen(path);
  for (wchar_t &c : wide)
    if (c == L'/')
      c = L'\\';
  return wide;
}

// A path for Win32 in the "\\?\" form: absolute, taken as written, so that a name the
// system otherwise trims (a trailing dot or blank) or a path over MAX_PATH can be reached.
inline std::wstring LongPath(const std::string &path) {
  const std::wstring wide = WidePath(path);
  const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full(n, L'\0');
  const DWORD length = n == 0 ? 0 : ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (length == 0 || length >= n)
    return wide;
  full.resize(length);
  if (full.rfind(L"\\\\?\\", 0) == 0)
    return full;
  if (full.rfind(L"\\\\", 0) == 0) // \\server\share
    return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// A path from Win32 as the program writes it: UTF-8 with '/' delimiters.
inline std::string NarrowPath(const std::wstring &path) {
  std::string narrow = Narrow(path);
  for (char &c : narrow)
    if (c == '\\')
      c = '/';
  return narrow;
}

// The system's text for an error code, without the line end it comes with.
inline std::string SystemMessage(DWORD error) {
  wchar_t *text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", n);
  if (text != nullptr)
    ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r'))
    message.pop_back();
  return message.empty() ? "Error " + std::to_string(error) : Narrow(message);
}

// Owns one search handle from FindFirstFileW.
class TFind {
public:
  TFind(const std::wstring &pattern, WIN32_FIND_DATAW &data)
      : FHandle(::FindFirstFileW(pattern.c_str(), &data)) {}
  ~TFind() {
    if (Valid())
      ::FindClose(FHandle);
  }
  TFind(const TFind &) = delete;
  TFind &operator=(const TFind &) = delete;
  bool Valid() const { return FHandle != INVALID_HANDLE_VALUE; }
  bool Next(WIN32_FIND_DATAW &data) { return ::FindNextFileW(FHandle, &data) != 0; }

private:
  HANDLE FHandle;
};

} // namespace vantari::win
