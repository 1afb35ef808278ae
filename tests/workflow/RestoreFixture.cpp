#include "RestoreFixture.h"

#include "BackupFile.h"

#include <chrono>

namespace vantari::test {

std::string Text(size_t bytes, const std::string &seed) {
  std::string text;
  while (text.size() < bytes)
    text += seed + " " + std::to_string(text.size()) + "\n";
  return text.substr(0, bytes);
}

std::string Noise(size_t bytes) {
  std::string out(bytes, '\0');
  uint32_t state = 99;
  for (char &byte : out) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return out;
}

void WriteFiles(const fs::path &folder, const TContents &files, time_t date) {
  fs::create_directories(folder);
  const auto stamp =
      fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(date));
  for (const auto &[name, bytes] : files) {
    WriteFile(folder / name, bytes);
    fs::last_write_time(folder / name, stamp);
  }
}

bool RunHere(const TStoppedRun &run) {
  TWorkflowConfig config;
  config.SecondArchive = run.SecondArchive;
  TWorkflow workflow(config);
  if (run.Run == TRun::Start)
    return workflow.Running();
  workflow.Settings().ReadDataFolder();
  workflow.SetLogin(run.User, run.Password);
  return run.Run == TRun::Restore ? workflow.RestoreData(run.Archive) : workflow.UndoDownload();
}

void RestoreTest::SetUp() {
  // A customer's folder on the desktop, in Hangul as Korean Windows names it.
  DataFolder = Home.Root() / U8Path("바탕 화면") / U8Path("루모라 자료");
  Old = {{"AssemblyItem.DB", Text(5000, "old assembly")},
         {"Sale.DB", Text(70000, "old sale")},
         {"TaxBill", "old tax bill"},
         {"notes.txt", "not a table, but a plain file of the folder"},
         {"ZipCode.DB", "old zip codes"}};
  New = {{"AssemblyItem.DB", Text(6000, "new assembly")},
         {"Item.dat", Text(90000, "new item")},
         {"Sale.DB", Text(80000, "new sale")},
         {"TaxBill", "new tax bill"},
         {"UserInfo.DB", "new user"}};
  WriteFiles(DataFolder, Old, Year2020);
  Home.SetDataFolder(DataFolder);
  Server = std::make_unique<TFtpServer>();
  Config.FtpHost = Server->Host();
  Config.FtpPort = Server->Port();
  Config.PingTarget = "127.0.0.1";
  Config.SecondArchive = U8(Home.Root() / "zipcode.bck");
  WriteFile(Config.SecondArchive, Archive({{"ZipCode.DB", "zip codes"}}, Year2024));
  After = New;
  After["ZipCode.DB"] = "zip codes";
}

TMainWindowPresenter &RestoreTest::Window() {
  if (!FWindow) {
    FWindow = std::make_unique<TMainWindowPresenter>(View, Config);
    FWindow->FormCreate();
    View.UserID = Server->User();
    View.Password = Server->Password();
    FWindow->Workflow().SetLogin(View.UserID, View.Password);
  }
  return *FWindow;
}

std::string RestoreTest::Archive(const TContents &files, time_t date) {
  const fs::path folder = Home.Root() / ("other-" + std::to_string(++FArchives));
  WriteFiles(folder, files, date);
  const fs::path archive = U8Path(U8(folder) + ".bck");
  TBackupFile engine;
  engine.SetBackupTitle("2024-01-01 10:00");
  EXPECT_TRUE(engine.Backup({U8(folder) + "/*.*"}, U8(archive)));
  return ReadFile(archive);
}

} // namespace vantari::test
