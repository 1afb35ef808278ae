// Times the download workflow after the transfer: the archive already lies in the Backup
// folder, and RestoreData previews it, unpacks it into the staging folder, flushes that,
// moves the old data into a snapshot and the new data in.
// Usage: restore_bench DATA_FOLDER ZIPCODE_ARCHIVE RUNS
// DATA_FOLDER/Backup/bench.bck must exist; the registry stand-in is written into a private
// config folder under DATA_FOLDER/.. so that the program finds the data folder.
#include "ArchivePreview.h"
#include "HostUI.h"
#include "RestoreTransaction.h"
#include "Workflow.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: restore_bench DATA_FOLDER ZIPCODE_ARCHIVE RUNS\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path data = fs::absolute(argv[1]);
  const fs::path config = data.parent_path() / "config";
  fs::create_directories(config / "vantari");
  std::ofstream(config / "vantari" / "user.reg")
      << "WINE REGISTRY Version 2\n\n[Software\\\\Corvex\\\\LumoraBC\\\\Database] 1\n"
      << "\"DefaultDatabase\"=\"" << data.string() << "\"\n";
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);

  vantari::TWorkflowConfig settings = vantari::TWorkflowConfig::BuiltIn();
  settings.SecondArchive = argv[2];
  vantari::TWorkflow workflow(settings);
  workflow.Settings().ReadDataFolder();
  workflow.SetLogin("bench", "");
  const std::string archive = workflow.LocalArchivePath();
  for (int run = 0, runs = std::atoi(argv[3]); run < runs; ++run) {
    auto start = std::chrono::steady_clock::now();
    const vantari::TArchivePreview preview = vantari::TArchivePreview::Read(archive);
    const double previewSeconds = Seconds(start);
    start = std::chrono::steady_clock::now();
    // Where the time goes: the moment each step of the transaction is first reached.
    std::string steps;
    std::string last;
    vantari::SetRestoreStopHook([&](const char *step) {
      if (last != step)
        steps += "  " + std::string(step) + "@" + std::to_string(Seconds(start)).substr(0, 5);
      last = step;
    });
    if (!workflow.RestoreData(archive)) {
      std::fprintf(stderr, "restore failed\n");
      return 1;
    }
    std::printf("preview %.3f s (%d members)  restore %.3f s\n", previewSeconds,
                preview.MemberCount, Seconds(start));
    std::printf("  steps:%s\n", steps.c_str());
  }
  return 0;
}
