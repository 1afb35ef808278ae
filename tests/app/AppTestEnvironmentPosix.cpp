// The private home on Linux: environment variables into a temporary folder.
#include "AppTestEnvironment.h"

#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace vantari::test {

namespace fs = std::filesystem;

TUserHome::TUserHome() {
  std::string pattern = (fs::temp_directory_path() / "vantari-home-XXXXXX").string();
  if (!mkdtemp(pattern.data()))
    throw std::runtime_error("cannot create a temporary folder");
  FRoot = pattern;
  setenv("XDG_CONFIG_HOME", (FRoot / "config").c_str(), 1);
  setenv("XDG_STATE_HOME", (FRoot / "state").c_str(), 1);
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

} // namespace vantari::test
