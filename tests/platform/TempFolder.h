#pragma once

#include "FolderOps.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace vantari::test {

// A fresh folder under the temporary directory, removed with everything in it.
class TTempFolder {
public:
  TTempFolder() {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && FPath.empty(); ++attempt) {
      const auto candidate = base / ("vantari-" + std::to_string(random() % 1000000000u));
      if (std::filesystem::create_directory(candidate)) // false when it exists: never shared
        FPath = candidate.generic_string();
    }
  }
  // The program's own removal: bounded, and able to remove names Windows trims.
  ~TTempFolder() { (void)RemoveTree(FPath); }
  TTempFolder(const TTempFolder &) = delete;
  TTempFolder &operator=(const TTempFolder &) = delete;

  std::string operator/(const std::string &name) const { return FPath + "/" + name; }
  const std::string &Path() const { return FPath; }

private:
  std::string FPath;
};

inline void WriteText(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const std::string &path) {
  std::ostringstream out;
  out << std::ifstream(path, std::ios::binary).rdbuf();
  return out.str();
}

} // namespace vantari::test
