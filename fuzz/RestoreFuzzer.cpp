// Feeds arbitrary bytes to Restore (":STREAM") and to the verification walk. The first
// byte picks the restore mode and the full-path switch; the rest is the archive. Every
// path the engine is about to write is checked to lie inside the destination folder.
#include "BackupFile.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace vantari;

namespace {

const std::string &Destination() {
  static const std::string dest = [] {
    const std::string dir = std::filesystem::current_path().string() + "/dest";
    std::filesystem::create_directories(dir);
    return dir;
  }();
  return dest;
}

void RequireInside(const std::string &path) {
  const std::string &dest = Destination();
  const bool inside = path.compare(0, dest.size() + 1, dest + "/") == 0 &&
                      path.find("/../") == std::string::npos &&
                      path.compare(path.size() - 3, 3, "/..") != 0;
  if (!inside) {
    std::fprintf(stderr, "write outside the destination: %s\n", path.c_str());
    std::abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1)
    return 0;
  TMemoryStream stream(std::vector<uint8_t>(data + 1, data + size));
  TBackupFile engine;
  engine.SetRestoreMode(static_cast<TRestoreMode>(data[0] % 5));
  engine.SetRestoreFullPath((data[0] & 8) != 0);
  engine.SetRestoreStream(&stream);
  engine.OnRestoreFile = [](TBackupFile &, std::string &file, int32_t, bool &) {
    RequireInside(file);
  };
  engine.OnFileRestored = [](TBackupFile &, std::string &file, std::unique_ptr<TStream> &) {
    RequireInside(file);
  };
  engine.Verify(":STREAM");
  try {
    engine.Restore(":STREAM", Destination());
  } catch (const Exception &) {
    // A damaged archive raises; that is an answer, not a fault.
  }
  std::error_code ignored;
  for (const auto &entry : std::filesystem::directory_iterator(Destination(), ignored))
    std::filesystem::remove_all(entry.path(), ignored);
  return 0;
}
