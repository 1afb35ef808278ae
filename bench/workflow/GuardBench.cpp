// Measures what the upload guard weighs on a data folder (the demo's sample data or the bench
// corpus): each file's stored share as the engine packs it, and the verdict after changes of
// ordinary work and after damage. The thresholds in TGuardLimits come from these numbers.
// Usage: guard_bench FOLDER
#include "BackupFile.h"
#include "UploadGuard.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

using namespace vantari;
namespace fs = std::filesystem;

namespace {

std::string Bytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void Put(const fs::path &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<TTableStat> Pack(const fs::path &folder, const fs::path &archive) {
  TBackupFile engine;
  engine.SetCompressionLevel(clFastest); // as the upload packs
  if (!engine.Backup({(folder / "*.*").string()}, archive.string()))
    std::fprintf(stderr, "packing %s failed\n", folder.c_str());
  return TableStatsOf(engine.PackedMembers());
}

void Shares(const char *label, const std::vector<TTableStat> &tables) {
  std::vector<double> shares;
  for (const TTableStat &t : tables)
    if (t.Size >= TGuardLimits().SmallFile)
      shares.push_back(static_cast<double>(t.Packed) / static_cast<double>(t.Size));
  std::sort(shares.begin(), shares.end());
  if (shares.empty())
    return;
  std::printf("%-28s %3zu files >= 4 KiB, stored share min %.3f median %.3f max %.3f\n", label,
              shares.size(), shares.front(), shares[shares.size() / 2], shares.back());
}

using TChange = std::function<void(const fs::path &folder, std::mt19937 &random)>;

void ForEachFile(const fs::path &folder, const std::function<void(const fs::path &)> &change) {
  std::vector<fs::path> files;
  for (const auto &entry : fs::directory_iterator(folder))
    if (entry.is_regular_file())
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path &file : files)
    change(file);
}

std::string Noise(size_t size, std::mt19937 &random) {
  std::string bytes(size, '\0');
  for (char &c : bytes)
    c = static_cast<char>(random());
  return bytes;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: guard_bench FOLDER\n");
    return 2;
  }
  const fs::path source = argv[1];
  const fs::path work =
      fs::temp_directory_path() / ("guard-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(work);
  const std::vector<TTableStat> before = Pack(source, work / "before.bck");
  Shares("as it is", before);

  const std::pair<const char *, TChange> changes[] = {
      // A month of ordinary work: each table grows by a twelfth of rows like its own.
      {"a month of ordinary work",
       [](const fs::path &folder, std::mt19937 &) {
         ForEachFile(folder, [](const fs::path &f) {
           const std::string rows = Bytes(f);
           Put(f, rows + rows.substr(rows.size() / 3, rows.size() / 12));
         });
       }},
      {"three new tables",
       [](const fs::path &folder, std::mt19937 &) {
         int n = 0;
         ForEachFile(folder, [&](const fs::path &f) {
           if (n++ < 3)
             Put(folder / ("New" + std::to_string(n) + ".DB"), Bytes(f));
         });
       }},
      // The year closed: two thirds of every table's rows go, and the three smallest files.
      {"a year-end clean-up",
       [](const fs::path &folder, std::mt19937 &) {
         std::vector<std::pair<uintmax_t, fs::path>> sizes;
         ForEachFile(folder, [&](const fs::path &f) {
           sizes.emplace_back(fs::file_size(f), f);
           const std::string rows = Bytes(f);
           Put(f, rows.substr(rows.size() * 2 / 3));
         });
         std::sort(sizes.begin(), sizes.end());
         for (size_t i = 0; i < 3 && i < sizes.size(); ++i)
           fs::remove(sizes[i].second);
       }},
      {"random bytes over every file",
       [](const fs::path &folder, std::mt19937 &random) {
         ForEachFile(folder, [&](const fs::path &f) { Put(f, Noise(fs::file_size(f), random)); });
       }},
      {"random bytes over a third",
       [](const fs::path &folder, std::mt19937 &random) {
         int n = 0;
         ForEachFile(folder, [&](const fs::path &f) {
           if (n++ % 3 == 0)
             Put(f, Noise(fs::file_size(f), random));
         });
       }},
      {"encrypted, an extension added",
       [](const fs::path &folder, std::mt19937 &random) {
         ForEachFile(folder, [&](const fs::path &f) {
           Put(f.string() + ".locked", Noise(fs::file_size(f), random));
           fs::remove(f);
         });
       }},
  };
  for (const auto &[label, change] : changes) {
    const fs::path folder = work / "data";
    fs::remove_all(folder);
    fs::copy(source, folder);
    std::mt19937 random(2026);
    change(folder, random);
    const std::vector<TTableStat> after = Pack(folder, work / "after.bck");
    Shares(label, after);
    int64_t sizeBefore = 0, sizeAfter = 0;
    for (const TTableStat &t : before)
      sizeBefore += t.Size;
    for (const TTableStat &t : after)
      sizeAfter += t.Size;
    const TGuardVerdict verdict = WeighUpload(before, after);
    std::printf("%-28s size %.2f of before, %zu files look damaged or gone -> %s\n", label,
                static_cast<double>(sizeAfter) / static_cast<double>(sizeBefore),
                verdict.Tables.size(), verdict.Suspicious ? "QUESTION" : "passes");
  }
  fs::remove_all(work);
  return 0;
}
