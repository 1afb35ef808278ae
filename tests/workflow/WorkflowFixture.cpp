#include "WorkflowFixture.h"

#include <algorithm>
#include <cstdlib>

namespace vantari::test {

namespace fs = std::filesystem;

void TWorkflowRecorder::ShowMessage(const std::string &text) {
  Log.push_back("message: " + text);
  THostUIRecorder::ShowMessage(text);
}

void TWorkflowRecorder::ShowFailure(const std::string &text) {
  Log.push_back("failure: " + text);
  THostUIRecorder::ShowFailure(text);
}

void TWorkflowRecorder::ShowEngineError(const std::string &text) {
  Log.push_back("engine-error: " + text);
  THostUIRecorder::ShowEngineError(text);
}

void TWorkflowRecorder::ProcessPaintEvents() {
  THostUIRecorder::ProcessPaintEvents();
  if (OnPaint)
    OnPaint();
}

namespace {

// Bytes that do not compress, so that a transfer takes many reads.
std::string NoiseBytes(size_t count) {
  std::string bytes(count, '\0');
  uint32_t state = 12345;
  for (char &byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

} // namespace

WorkflowTest::WorkflowTest() {
  DataFolder = Home.Root() / "Lumora Data";
  fs::create_directories(DataFolder);
  // A few of the 33 tables, with and without extensions, one of them many blocks long.
  Sample = {{"AssemblyItem.DB", "assembly rows"},
            {"Item.dat", NoiseBytes(300000)},
            {"Item.idx", "index"},
            {"Sale.DB", "sale \x01\x02\x03 rows"},
            {"TaxBill", "no extension"},
            {"UserInfo.DB", "user info"}};
  for (const auto &[name, bytes] : Sample)
    WriteFile(DataFolder / name, bytes);
  Home.SetDataFolder(DataFolder.string() + "/");
}

void WorkflowTest::SetUp() {
  Server = std::make_unique<TFtpServer>();
  Config.FtpHost = Server->Host();
  Config.FtpPort = Server->Port();
  Config.PingTarget = "127.0.0.1";
  Config.SecondArchive = VANTARI_BINARY_DIR "/app/zipcode.bck";
}

void WorkflowTest::TearDown() {
  FPresenter.reset();
}

TMainWindowPresenter &WorkflowTest::Presenter() {
  if (!FPresenter) {
    FPresenter = std::make_unique<TMainWindowPresenter>(View, Config);
    View.Log = &Recorder.Log;
    Click(&TMainWindowPresenter::FormCreate);
    SetLogin(Server->User(), Server->Password());
  }
  return *FPresenter;
}

void WorkflowTest::SetLogin(const std::string &user, const std::string &password) {
  Presenter();
  View.UserID = user;
  View.Password = password;
}

void WorkflowTest::Click(void (TMainWindowPresenter::*button)()) {
  try {
    (Presenter().*button)();
  } catch (const std::exception &error) {
    Errors.push_back(error.what());
  }
}

std::vector<std::string> WorkflowTest::Boxes() const {
  std::vector<std::string> boxes;
  std::copy_if(Recorder.Log.begin(), Recorder.Log.end(), std::back_inserter(boxes),
               [](const std::string &entry) { return entry.rfind("status: ", 0) != 0; });
  return boxes;
}

bool WorkflowTest::Logged(const std::string &entry) const {
  return std::find(Recorder.Log.begin(), Recorder.Log.end(), entry) != Recorder.Log.end();
}

int WorkflowTest::VerifyWithTool(const std::string &archive) {
  const std::string command =
      std::string(VANTARI_BINARY_DIR "/tools/bcktool verify --quiet '") + archive + "' >/dev/null";
  return std::system(command.c_str());
}

} // namespace vantari::test
