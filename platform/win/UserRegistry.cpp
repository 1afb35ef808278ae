#include "UserRegistry.h"

#include "Exception.h"
#include "WinText.h"

namespace vantari {

namespace {

using win::Narrow;
using win::Widen;

// The value's type and size in bytes; false when the key or the value is missing.
bool QueryValue(const std::string &key, const std::string &name, DWORD &type, DWORD &size) {
  return ::RegGetValueW(HKEY_CURRENT_USER, Widen(key).c_str(), Widen(name).c_str(),
                        RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &size) == ERROR_SUCCESS;
}

} // namespace

// On Windows the real per-user registry (HKEY_CURRENT_USER) serves; the stand-in file and a
// Wine prefix play no part.
TUserRegistry::TUserRegistry() = default;

TUserRegistry::TUserRegistry(std::string fileName, std::string winePrefix)
    : FFileName(std::move(fileName)), FWinePrefix(std::move(winePrefix)) {}

bool TUserRegistry::OpenKey(const std::string &key, bool canCreate) {
  HKEY handle = nullptr;
  LSTATUS result = ::RegOpenKeyExW(HKEY_CURRENT_USER, Widen(key).c_str(), 0, KEY_READ, &handle);
  if (result != ERROR_SUCCESS && canCreate)
    result = ::RegCreateKeyExW(HKEY_CURRENT_USER, Widen(key).c_str(), 0, nullptr, 0, KEY_READ,
                               nullptr, &handle, nullptr);
  if (result != ERROR_SUCCESS)
    return false;
  ::RegCloseKey(handle);
  FCurrentKey = key;
  return true;
}

void TUserRegistry::CloseKey() {
  FCurrentKey.clear();
}

bool TUserRegistry::ValueExists(const std::string &name) const {
  DWORD type = 0, size = 0;
  return !FCurrentKey.empty() && QueryValue(FCurrentKey, name, type, size);
}

std::string TUserRegistry::ReadString(const std::string &name) const {
  DWORD type = 0, size = 0;
  if (FCurrentKey.empty() || !QueryValue(FCurrentKey, name, type, size))
    return std::string();
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    throw Exception(Format("Invalid data type for '%s'", name.c_str()));
  // Taken as stored: an expandable value is not expanded.
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_CURRENT_USER, Widen(FCurrentKey).c_str(), Widen(name).c_str(),
                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, text.data(),
                     &bytes) != ERROR_SUCCESS)
    return std::string();
  text.resize(bytes / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0')
    text.pop_back();
  return Narrow(text);
}

} // namespace vantari
