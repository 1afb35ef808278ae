#pragma once

#include "AppTestEnvironment.h"
#include "FtpServer.h"
#include "HostUIRecorder.h"
#include "MainWindowPresenter.h"
#include "WorkflowView.h"

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
  void ProcessPaintEvents() override;

  std::vector<std::string> Log;
  // Runs at every repaint of a blocking wait (e.g. the program's own host UI's).
  std::function<void()> OnPaint;
};

using TFolderContents = TContents;

// The main window's presenter, drawing on a recording view, pointed at a real FTP server on
// loopback, pinging 127.0.0.1, with a data folder of sample table files in a private home.
class WorkflowTest : public ::testing::Test {
protected:
  WorkflowTest();
  void SetUp() override;
  void TearDown() override;

  // The presenter, made and started on first use so that a test can change its settings
  // first.
  TMainWindowPresenter &Presenter();
  void SetLogin(const std::string &user, const std::string &password);
  // What a button does; what escapes it goes into Errors, as the window's error box shows it.
  void Click(void (TMainWindowPresenter::*button)());
  void Upload() { Click(&TMainWindowPresenter::Upload); }
  void Download() { Click(&TMainWindowPresenter::Download); }
  std::vector<std::string> Boxes() const; // the log without status texts
  bool Logged(const std::string &entry) const;
  static int VerifyWithTool(const std::string &archive);

  TUserHome Home;
  std::filesystem::path DataFolder;
  std::unique_ptr<TFtpServer> Server;
  TWorkflowConfig Config;
  TWorkflowRecorder Recorder;
  TWorkflowView View;
  std::vector<std::string> Errors; // default error box
  TFolderContents Sample;

private:
  std::unique_ptr<TMainWindowPresenter> FPresenter;
};

} // namespace vantari::test
