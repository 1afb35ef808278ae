#pragma once

#include "IdComponent.h"
#include "Label.h"
#include "StatusBar.h"
#include "TransferMeter.h"
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
#include <functional>
#include <memory>
#include <string>

namespace vantari {

class TWorkflow;

// The main window: banner, the upload and download buttons, the user's ID and password,
// and the status bar that shows the progress of a workflow. The workflows and the settings
// store live in the workflow layer; the window shows what they report.
class TForm1 : public QWidget {
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
  void IdFTP1WorkBegin(TIdComponent *Sender, TWorkMode AWorkMode, int32_t AWorkCountMax);
  void IdFTP1Work(TIdComponent *Sender, TWorkMode AWorkMode, int32_t AWorkCount);
  void IdFTP1WorkEnd(TIdComponent *Sender, TWorkMode AWorkMode);

  TForm2 &AboutDialog() { return *Form2; }
  TWorkflow &Workflow() { return *FWorkflow; }
  bool WorkflowRunning() const { return FWorkflowRunning; }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

private:
  class TWorkflowRun;

  void BuildControls();
  void CreateComponents();
  void FormCreate();
  void RunWorkflow(bool (TWorkflow::*workflow)());
  void SetStatus(const QString &text);
  void ShowTransfer();

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

  std::unique_ptr<TWorkflow> FWorkflow;
  TTransferMeter FTransfer;
  QTimer FTransferShowTimer;
  bool FWorkflowRunning = false;
  bool FCloseWhenDone = false; // closed during a run and the person chose to cancel
  bool FCentred = false;
};

} // namespace vantari
