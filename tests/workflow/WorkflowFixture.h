#pragma once

#include "AppTestEnvironment.h"
#include "FtpServer.h"
#include "HostUIRecorder.h"
#include "Unit1.h"

#include <QToolButton>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vantari::test {

// Answers every box like the recorder and writes boxes and status texts into one log in
// the order the user saw them ("status: ...", "message: ...", "failure: ...").
class TWorkflowRecorder : public THostUIRecorder {
public:
  void ShowMessage(const std::string &text) override;
  void ShowFailure(const std::string &text) override;
  void ShowEngineError(const std::string &text) override;
  void ProcessMessages() override;
  void ProcessPaintEvents() override;

  std::vector<std::string> Log;
  // Runs at every repaint of a blocking wait (e.g. the program's own host UI's).
  std::function<void()> OnPaint;
  // Runs once at the next ProcessMessages (the engine calls it after every block).
  std::function<void()> DuringRun;
};

using TFolderContents = TContents;

// A window pointed at a real FTP server on loopback, pinging 127.0.0.1, with a data folder
// of sample table files in a private home.
class WorkflowTest : public ::testing::Test {
protected:
  WorkflowTest();
  void SetUp() override;
  void TearDown() override;

  // The window, made on first use so that a test can change its settings first.
  TForm1 &Form();
  void SetLogin(const std::string &user, const std::string &password);
  void Click(const char *button);
  void Upload() { Click("btnBackupWizard"); }
  void Download() { Click("btnRestoreWizard"); }
  std::vector<std::string> Boxes() const; // the log without status texts
  bool Logged(const std::string &entry) const;
  static int VerifyWithTool(const std::string &archive);

  TUserHome Home;
  std::filesystem::path DataFolder;
  std::unique_ptr<TFtpServer> Server;
  TForm1::TConfig Config;
  TWorkflowRecorder Recorder;
  std::vector<std::string> Errors; // default error box
  TFolderContents Sample;

private:
  std::unique_ptr<TForm1> FForm;
};

} // namespace vantari::test
