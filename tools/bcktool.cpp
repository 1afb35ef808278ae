// bcktool: create, list, verify and extract Vantari backup archives from a shell.
#include "ArchiveFormat.h"
#include "ArchiveWalk.h"
#include "BackupFile.h"
#include "BcktoolOptions.h"
#include "Cp949.h"
#include "FileSystem.h"
#include "TargetFolder.h"
#include "TerminalHostUI.h"
#include "WindowsNames.h"

#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <vector>

using namespace vantari;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
const char *const kProgram = "bcktool";

void Complain(const std::string &text) {
  std::cerr << kProgram << ": " << text << std::endl;
}

std::string FormatFileDate(int32_t date) {
  const auto bits = static_cast<uint32_t>(date);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", (bits >> 25) + 1980,
                (bits >> 21) & 0x0F, (bits >> 16) & 0x1F, (bits >> 11) & 0x1F, (bits >> 5) & 0x3F,
                (bits & 0x1F) * 2);
  return text;
}

// Shared by create and extract: progress on a terminal, volume prompts.
class TRun {
public:
  TRun(TBackupFile &engine, TTerminalHostUI &host, const TBcktoolOptions &options,
       const std::string &archive)
      : FHost(host), FArchive(archive) {
    if (!options.Quiet && TTerminalHostUI::OutputIsTerminal())
      engine.OnProgress = [this](TBackupFile &, const std::string &file, TPercentage percent,
                                 bool &) { FHost.ShowProgress(file, percent); };
  }

  // Extract: ask on a terminal, otherwise go on only when the volume is there.
  void AskForVolumes(TBackupFile &engine) {
    engine.OnNeedDisk = [this](TBackupFile &, uint16_t disk, bool &go) {
      const std::string path = archive::VolumePath(FArchive, archive::VolumeDigits(disk));
      FHost.EndProgress();
      if (TTerminalHostUI::InputIsTerminal())
        go = TTerminalHostUI::AskOk("Insert volume " + std::to_string(disk) + " (" + path + ")");
      else if (!(go = FileExists(path)))
        FMissing = path;
    };
  }

  // Create: a terminal user may change media between volumes; otherwise go on.
  void ConfirmVolumes(TBackupFile &engine) {
    engine.OnNeedDisk = [this](TBackupFile &, uint16_t disk, bool &go) {
      FHost.EndProgress();
      go = !TTerminalHostUI::InputIsTerminal() ||
           TTerminalHostUI::AskOk("Ready to write volume " + std::to_string(disk) + " (" +
                                  archive::VolumePath(FArchive, archive::VolumeDigits(disk)) + ")");
    };
  }

  // Exit status of a run that returned ok; explains a failure without an error code.
  int Finish(TBackupFile &engine, bool ok) {
    FHost.EndProgress();
    if (ok)
      return kExitOk;
    if (engine.ErrorCode() == 0)
      Complain(FMissing.empty() ? std::string("cancelled") : "volume " + FMissing + " not found");
    return kExitFailure;
  }

private:
  TTerminalHostUI &FHost;
  std::string FArchive;
  std::string FMissing;
};

int Create(const TBcktoolOptions &o, TTerminalHostUI &host) {
  TBackupFile engine;
  engine.SetBackupTitle(Utf8ToCp949(o.Title));
  engine.SetCompressionLevel(o.Level);
  engine.SetMaxSize(o.VolumeSize);
  engine.SetSaveFileID(o.FileIds);
  if (o.Incremental)
    engine.SetBackupMode(bmIncremental);
  engine.SetSetArchiveFlag(o.ClearArchive);
  const std::string archive = o.Operands[0];
  TRun run(engine, host, o, archive);
  run.ConfirmVolumes(engine);
  const std::vector<std::string> masks(o.Operands.begin() + 1, o.Operands.end());
  const bool ok = engine.Backup(masks, archive);
  return run.Finish(engine, ok);
}

int List(const TBcktoolOptions &o) {
  TArchiveWalk walk;
  int64_t total = 0;
  int members = 0;
  walk.OnMember = [&](const TArchiveMember &m) {
    std::printf("%s %12lld  %s\n", FormatFileDate(m.FileDate).c_str(),
                static_cast<long long>(m.Size), Cp949ToUtf8(m.Name).c_str());
    total += m.Size;
    ++members;
  };
  const bool sound = walk.Run(o.Operands[0]);
  std::printf("%d members, %lld bytes\n", members, static_cast<long long>(total));
  if (sound)
    return kExitOk;
  Complain(o.Operands[0] + ": " + walk.Failure());
  return kExitFailure;
}

int Verify(const TBcktoolOptions &o) {
  TArchiveWalk walk;
  int members = 0;
  walk.OnMember = [&](const TArchiveMember &) { ++members; };
  if (!walk.Run(o.Operands[0])) {
    Complain(o.Operands[0] + ": damaged: " + walk.Failure());
    return kExitFailure;
  }
  if (!o.Quiet)
    std::printf("%s: sound, %d members in %d volume(s)\n", o.Operands[0].c_str(), members,
                walk.Volumes());
  return kExitOk;
}

int Extract(const TBcktoolOptions &o, TTerminalHostUI &host) {
  const std::string archive = o.Operands[0];
  if (!FileExists(archive)) {
    Complain(archive + ": no such archive");
    return kExitFailure;
  }
  TBackupFile engine;
  engine.SetRestoreMode(o.Mode);
  engine.SetRestoreFullPath(o.FullPath);
  TRun run(engine, host, o, archive);
  run.AskForVolumes(engine);
  // The engine steps over a member whose folder cannot be made without a word; a member
  // chosen for restoring and never reported restored is named here.
  std::string pending;
  std::vector<std::string> missed;
  const auto settle = [&] {
    if (!pending.empty())
      missed.push_back(pending);
    pending.clear();
  };
  // A run killed before (Ctrl+C, a shutdown) left its member half written under a hidden
  // temporary name; this run removes those of the folders it writes into.
  std::set<std::string> folders = {o.Operands[1]};
  const auto removeAbandoned = [&] {
    for (const auto &folder : folders)
      TReplacementFile::RemoveAbandoned(TTargetFolder::Open(folder, false));
  };
  // Where the folder takes only the names Windows takes, a member it cannot hold under its
  // own name is never written (Windows would write it under another, or never let it go).
  std::map<std::string, TWindowsNameSet> namesByFolder;
  std::vector<std::pair<std::string, TNameProblem>> refused;
  engine.OnRestoreFile = [&](TBackupFile &, std::string &file, int32_t, bool &restore) {
    settle();
    const TNameProblem problem = namesByFolder[ExtractFileDir(file)].Add(ExtractFileName(file));
    if (restore && kWindowsNames && problem != TNameProblem::npNone) {
      refused.emplace_back(file, problem);
      restore = false;
    }
    if (restore)
      pending = file;
    folders.insert(ExtractFileDir(file));
  };
  engine.OnFileRestored = [&](TBackupFile &, std::string &, std::unique_ptr<TStream> &) {
    pending.clear();
  };
  bool ok = false;
  try {
    ok = engine.Restore(archive, o.Operands[1]);
  } catch (const Exception &e) {
    removeAbandoned();
    host.EndProgress();
    Complain(archive + ": " + e.Message() + " (the archive is damaged or incomplete)");
    return kExitFailure;
  }
  removeAbandoned();
  int status = run.Finish(engine, ok);
  // A run that stopped has said why; the member it stopped in is not a folder problem.
  if (ok)
    settle();
  for (const auto &file : missed) {
    Complain("not extracted (cannot create it or its folder): " + file);
    status = kExitFailure;
  }
  for (const auto &[file, problem] : refused) {
    Complain(std::string("not extracted (") + NameProblemText(problem) + "): " + file);
    status = kExitFailure;
  }
  for (const auto &name : engine.ClashingNames()) {
    Complain("not extracted (another member has its file name): " + name);
    status = kExitFailure;
  }
  for (const auto &name : engine.UnsafeNames()) {
    Complain("not extracted (the name would leave " + o.Operands[1] + "): " + name);
    status = kExitFailure;
  }
  return status;
}

int Run(const TBcktoolOptions &o, TTerminalHostUI &host) {
  if (o.Command == "help") {
    std::cout << BcktoolUsage();
    return kExitOk;
  }
  if (o.Command == "version") {
    std::cout << kProgram << " " << TBackupFile().Version() << std::endl;
    return kExitOk;
  }
  if (o.Command == "create")
    return Create(o, host);
  if (o.Command == "list")
    return List(o);
  if (o.Command == "verify")
    return Verify(o);
  return Extract(o, host);
}

} // namespace

int main(int argc, char **argv) {
  TTerminalHostUI host(kProgram);
  SetHostUI(&host);
  int status = kExitFailure;
  try {
    const auto options = ParseBcktoolOptions(TTerminalHostUI::Arguments(argc, argv));
    status = Run(options, host);
  } catch (const EUsageError &e) {
    Complain(e.Message());
    std::cerr << "Try 'bcktool --help' for more information." << std::endl;
    status = kExitUsage;
  } catch (const Exception &e) {
    host.EndProgress();
    Complain(e.Message());
    status = kExitFailure;
  }
  SetHostUI(nullptr);
  return status;
}
