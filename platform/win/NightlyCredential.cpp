#include "NightlyCredential.h"

#include "DurableFile.h"
#include "FileSystem.h"
#include "FolderOps.h"
#include "Paths.h"

#include "WinText.h"
#include <algorithm>

#include <wincrypt.h>

namespace vantari {

namespace {

constexpr size_t kMaxCredentialFile = 4096;
const wchar_t *const kDescription = L"Vantari nightly backup";

std::string ProtectedFile() {
  return ConfigFolder() + "nightly.dat";
}

// The plain-text file of earlier versions.
std::string PlainFile() {
  return ConfigFolder() + "password";
}

// Owns what CryptProtectData and CryptUnprotectData hand out; wiped before it is freed.
class TCryptBlob {
public:
  TCryptBlob() = default;
  ~TCryptBlob() {
    if (Blob.pbData != nullptr) {
      ::SecureZeroMemory(Blob.pbData, Blob.cbData);
      ::LocalFree(Blob.pbData);
    }
  }
  TCryptBlob(const TCryptBlob &) = delete;
  TCryptBlob &operator=(const TCryptBlob &) = delete;
  std::string Bytes() const {
    return std::string(reinterpret_cast<const char *>(Blob.pbData), Blob.cbData);
  }
  DATA_BLOB Blob{};
};

DATA_BLOB View(const std::string &bytes) {
  return DATA_BLOB{static_cast<DWORD>(bytes.size()),
                   reinterpret_cast<BYTE *>(const_cast<char *>(bytes.data()))};
}

std::string FirstLine(std::string text) {
  text.erase(std::min(text.find_first_of("\r\n"), text.size()));
  return text;
}

} // namespace

bool SaveNightlyCredential(const std::string &password) {
  if (password.empty() || password.find_first_of("\r\n") != std::string::npos)
    return false;
  DATA_BLOB in = View(password);
  TCryptBlob out;
  // User scope: only this user's logon can unprotect it; no prompt, the task runs unattended.
  if (!::CryptProtectData(&in, kDescription, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &out.Blob))
    return false;
  if (!ReplaceFileDurably(ProtectedFile(), out.Bytes(), 0600))
    return false;
  RemoveEntry(PlainFile()); // the protected copy is the one from now on
  return true;
}

std::optional<std::string> LoadNightlyCredential() {
  std::string bytes;
  if (ReadSmallFile(ProtectedFile(), kMaxCredentialFile, bytes) == TSmallRead::srRead) {
    DATA_BLOB in = View(bytes);
    TCryptBlob out;
    if (!::CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                              &out.Blob))
      return std::nullopt;
    return out.Bytes();
  }
  // Taken over once from the plain file: protected, then the plain one removed.
  if (ReadSmallFile(PlainFile(), kMaxCredentialFile, bytes) != TSmallRead::srRead)
    return std::nullopt;
  const std::string password = FirstLine(bytes);
  ::SecureZeroMemory(bytes.data(), bytes.size());
  if (password.empty())
    return std::nullopt;
  SaveNightlyCredential(password);
  return password;
}

bool HasNightlyCredential() {
  return FileExists(ProtectedFile()) || FileExists(PlainFile());
}

bool RemoveNightlyCredential() {
  const bool plain = static_cast<bool>(RemoveEntry(PlainFile()));
  return RemoveEntry(ProtectedFile()) && plain;
}

void RefreshNightlyCredential(const std::string &password) {
  if (HasNightlyCredential() && LoadNightlyCredential() != password)
    SaveNightlyCredential(password);
}

} // namespace vantari
