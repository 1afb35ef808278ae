// Feeds arbitrary bytes to Restore, to the verification walk and to the member listing.
// The first byte picks the restore mode (bits 0-2), the full-path switch (8), symbolic
// links standing in the destination (16) and volume files (32); the rest is the
// archive, cut into volumes 1, 2, 3, ... at every "VOL>" when volume files are chosen
// (otherwise it is read through ":STREAM"). Every path the engine is about to write must
// lie inside the destination folder, and whatever stands outside it (the targets the
// links point to) must be unchanged after every run.
#include "BackupFile.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

using namespace vantari;
namespace fs = std::filesystem;

namespace {

const std::string &Work() {
  static const std::string work = fs::current_path().string();
  return work;
}

const std::string &Destination() {
  static const std::string dest = [] {
    const std::string dir = Work() + "/dest";
    fs::create_directories(dir);
    fs::create_directories(Work() + "/outside/dir");
    fs::create_directories(Work() + "/vol");
    std::ofstream(Work() + "/outside/file") << "sentinel";
    return dir;
  }();
  return dest;
}

[[noreturn]] void Fault(const std::string &what) {
  std::fprintf(stderr, "write outside the destination: %s\n", what.c_str());
  std::abort();
}

void RequireInside(const std::string &path) {
  const std::string &dest = Destination();
  const bool inside = path.compare(0, dest.size() + 1, dest + "/") == 0 &&
                      path.find("/../") == std::string::npos &&
                      path.compare(path.size() - 3, 3, "/..") != 0;
  if (!inside)
    Fault(path);
}

// Links a hostile destination may hold where members go: to a file, to a folder, and
// to nothing, all outside; and a folder whose name differs only in case.
void PlantLinks() {
  const std::string &dest = Destination();
  fs::create_symlink("../outside/file", dest + "/a");
  fs::create_symlink("../outside/dir", dest + "/d");
  fs::create_symlink("../outside/nothing", dest + "/n");
  fs::create_directory_symlink("../outside/dir", dest + "/Sub");
}

void CheckOutside() {
  std::ifstream in(Work() + "/outside/file", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (text.str() != "sentinel" || fs::is_symlink(Work() + "/outside/file"))
    Fault("outside/file changed");
  if (!fs::is_empty(Work() + "/outside/dir"))
    Fault("outside/dir gained entries");
  std::error_code ignored;
  if (fs::exists(fs::symlink_status(Work() + "/outside/nothing", ignored)))
    Fault("outside/nothing was created");
  for (const auto &entry : fs::directory_iterator(Work())) {
    const std::string name = entry.path().filename().string();
    if (name != "dest" && name != "outside" && name != "vol" && name != "corpus" &&
        name != "fuzz.log" && name.rfind("crash-", 0) != 0 && name.rfind("leak-", 0) != 0 &&
        name.rfind("timeout-", 0) != 0 && name.rfind("oom-", 0) != 0)
      Fault("stray entry " + name);
  }
}

// Writes the volumes; returns the path of the first.
std::string WriteVolumes(const std::string &bytes) {
  std::error_code ignored;
  for (const auto &entry : fs::directory_iterator(Work() + "/vol", ignored))
    fs::remove(entry.path(), ignored);
  size_t start = 0;
  for (int volume = 1; volume < 1000; ++volume) {
    const size_t cut = bytes.find("VOL>", start);
    char name[32];
    std::snprintf(name, sizeof name, volume == 1 ? "/vol/a.bck" : "/vol/a.%03d", volume);
    std::ofstream(Work() + name, std::ios::binary)
        << bytes.substr(start, cut == std::string::npos ? std::string::npos : cut - start);
    if (cut == std::string::npos)
      break;
    start = cut + 4;
  }
  return Work() + "/vol/a.bck";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1)
    return 0;
  const std::string &dest = Destination();
  const uint8_t options = data[0];
  const std::string bytes(reinterpret_cast<const char *>(data + 1), size - 1);
  if (options & 16)
    PlantLinks();
  TMemoryStream stream(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  std::string archive = ":STREAM";
  if (options & 32)
    archive = WriteVolumes(bytes);
  TBackupFile engine;
  engine.SetRestoreMode(static_cast<TRestoreMode>((options & 7) % 5));
  engine.SetRestoreFullPath((options & 8) != 0);
  engine.SetRestoreStream(&stream);
  engine.OnRestoreFile = [](TBackupFile &, std::string &file, int32_t, bool &) {
    RequireInside(file);
  };
  engine.OnFileRestored = [](TBackupFile &, std::string &file, std::unique_ptr<TStream> &) {
    RequireInside(file);
  };
  // Volumes that are there are taken; a missing one stops the run.
  engine.OnNeedDisk = [&](TBackupFile &, uint16_t disk, bool &go) {
    char name[32];
    std::snprintf(name, sizeof name, "/vol/a.%03u", disk % 1000u);
    go = fs::exists(Work() + name);
  };
  engine.Verify(archive);
  TArchiveContents contents;
  engine.ListMembers(archive, contents);
  try {
    engine.Restore(archive, dest);
  } catch (const Exception &) {
    // A damaged archive raises; that is an answer, not a fault.
  }
  CheckOutside();
  std::error_code ignored;
  for (const auto &entry : fs::directory_iterator(dest, ignored))
    fs::remove_all(entry.path(), ignored);
  return 0;
}
