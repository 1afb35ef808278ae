#include "NightlyCredential.h"

#include "DurableFile.h"
#include "FileSystem.h"
#include "FolderOps.h"
#include "Paths.h"

#include <algorithm>

namespace vantari {

namespace {

constexpr size_t kMaxCredentialFile = 4096;

std::string CredentialFile() {
  return ConfigFolder() + "password";
}

} // namespace

bool SaveNightlyCredential(const std::string &password) {
  return !password.empty() && password.find_first_of("\r\n") == std::string::npos &&
         ReplaceFileDurably(CredentialFile(), password + "\n", 0600);
}

std::optional<std::string> LoadNightlyCredential() {
  std::string text;
  if (ReadSmallFile(CredentialFile(), kMaxCredentialFile, text) != TSmallRead::srRead)
    return std::nullopt;
  text.erase(std::min(text.find_first_of("\r\n"), text.size()));
  return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

bool HasNightlyCredential() {
  return FileExists(CredentialFile());
}

bool RemoveNightlyCredential() {
  return static_cast<bool>(RemoveEntry(CredentialFile()));
}

void RefreshNightlyCredential(const std::string &password) {
  if (HasNightlyCredential() && LoadNightlyCredential() != password)
    SaveNightlyCredential(password);
}

} // namespace vantari
