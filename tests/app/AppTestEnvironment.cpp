#include "AppTestEnvironment.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace vantari::test {

namespace fs = std::filesystem;

TUserHome::TUserHome() {
  std::string pattern = (fs::temp_directory_path() / "vantari-home-XXXXXX").string();
  if (!mkdtemp(pattern.data()))
    throw std::runtime_error("cannot create a temporary folder");
  FRoot = pattern;
  setenv("XDG_CONFIG_HOME", (FRoot / "config").c_str(), 1);
  setenv("WINEPREFIX", (FRoot / "no-wine").c_str(), 1);
}

TUserHome::~TUserHome() {
  std::error_code ignored;
  fs::remove_all(FRoot, ignored);
}

void TUserHome::WriteRegistry(const std::string &valueLine) const {
  fs::create_directories(ConfigFolder());
  WriteFile(ConfigFolder() / "user.reg",
            "WINE REGISTRY Version 2\n\n"
            "[Software\\\\Corvex\\\\LumoraBC\\\\Database] 1700000000\n" +
                valueLine + "\n");
}

void TUserHome::SetDataFolder(const fs::path &folder) const {
  WriteRegistry("\"DefaultDatabase\"=\"" + folder.string() + "\"");
}

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

} // namespace vantari::test
