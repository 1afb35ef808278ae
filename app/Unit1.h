#pragma once

#include "Label.h"
#include "MainWindowPresenter.h"
#include "StatusBar.h"
#include "Unit2.h"
#include "WorkflowConfig.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace vantari {

// The main window: banner, the upload and download buttons, the user's ID and password,
// and the status bar that shows the progress of a workflow. What the buttons do is the
// presenter's; the window draws what it is told and forwards what the person does.
class TForm1 : public QWidget, private TMainWindowView {
public:
  using TConfig = TWorkflowConfig;

  explicit TForm1(TConfig config = TConfig::BuiltIn(), QWidget *parent = nullptr);
  ~TForm1() override;

  // Event handlers.
  void Image1Click();
  void btnBackupWizardClick();
  void btnRestoreWizardClick();
  // The window's context menu: bring back the data as it was before the last download.
  void UndoDownloadClick();
  // ... and restore from one of the server's earlier archives, chosen by date.
  void RestoreFromHistoryClick();

  TForm2 &AboutDialog() { return *Form2; }
  TWorkflow &Workflow() { return FPresenter.Workflow(); }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

private:
  void BuildControls();
  void FormCreate();

  // The view the presenter draws on.
  void ShowStatus(const std::string &text) override;
  void ShowProgress(int32_t maximum) override;
  void SetProgressRange(int32_t maximum) override;
  void SetProgressPosition(int32_t position) override;
  void HideProgress() override;
  void StartRepaintTimer(std::chrono::milliseconds interval) override;
  void StopRepaintTimer() override;
  void SetRunning(bool running) override;
  std::string UserIDText() const override;
  std::string PasswordText() const override;
  void ShowLogin(const std::string &userID) override;
  void CloseNow() override;

  QLabel Image1{this};
  QFrame Panel2{this};
  QToolButton btnBackupWizard{&Panel2};
  QToolButton btnRestoreWizard{&Panel2};
  QFrame Shape1{&Panel2};
  QFrame Panel4{this};
  TLabel Label6{&Panel4};
  TLabel Label7{&Panel4};
  QLineEdit UserIDEdit{&Panel4};
  QLineEdit PasswordEdit{&Panel4};
  QFrame Shape2{&Panel4};
  TLabel Label4{this};
  TStatusBar StatusBar{{102, 50}, this};
  QProgressBar ProgressBar{this};
  std::unique_ptr<TForm2> Form2;
  QAction UndoDownloadAction{this};
  QAction RestoreFromHistoryAction{this};

  QTimer FTransferShowTimer;
  TMainWindowPresenter FPresenter;
  bool FCentred = false;
};

} // namespace vantari
