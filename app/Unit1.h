#pragma once

#include "IdComponent.h"
#include "Label.h"
#include "StatusBar.h"
#include "Unit2.h"

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

class TBackupFile;
class TIdFTP;
class TIdIcmpClient;

// The main window: banner, the upload and download buttons, the user's ID and password,
// and the status bar that shows the progress of a workflow. Runs both workflows and
// holds the settings store.
class TForm1 : public QWidget {
public:
  using TClock = std::function<std::chrono::steady_clock::time_point()>;

  // Fixed values of the program, chosen at build time (BuiltIn). Tests point the window at
  // their own server and clock; the program never does.
  struct TConfig {
    std::string FtpHost;
    int32_t FtpPort = 21;
    std::string PingTarget;
    int32_t PingWaitCeiling = 0; // longest single echo wait in ms; 0: the full 10 seconds
    std::string SecondArchive;   // empty: zipcode.bck beside the program or in its data folder
    TClock Clock;                // empty: the steady clock
    static TConfig BuiltIn();
  };

  explicit TForm1(TConfig config = TConfig::BuiltIn(), QWidget *parent = nullptr);
  ~TForm1() override;

  // Settings store: section "Server" of FtpHost.ini in the per-user config folder.
  void WriteSetting(const std::string &value, const std::string &key);
  std::string ReadSetting(const std::string &key) const;
  // Reads the accounting program's data folder from the per-user registry.
  void ReadDataFolder();

  // Event handlers.
  void Image1Click();
  void btnBackupWizardClick();
  void btnRestoreWizardClick();
  void BackupFileProgress(TBackupFile &Sender, const std::string &Filename, uint8_t Percent,
                          bool &Continue);
  void IdFTP1WorkBegin(TIdComponent *Sender, TWorkMode AWorkMode, int32_t AWorkCountMax);
  void IdFTP1Work(TIdComponent *Sender, TWorkMode AWorkMode, int32_t AWorkCount);
  void IdFTP1WorkEnd(TIdComponent *Sender, TWorkMode AWorkMode);

  // Workflow steps; each blocks until done.
  bool CheckInternet();
  bool ConnectServer();
  bool BackupData(const std::string &archivePath);
  bool UploadArchive();
  bool DownloadArchive();
  bool RestoreData(const std::string &archivePath);
  bool DeleteDataFiles();
  void DisconnectServer();

  const std::string &DataFolder() const { return FDataFolder; }
  const std::string &BackupFolder() const { return FBackupFolder; }
  TForm2 &AboutDialog() { return *Form2; }
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
  void UploadWorkflow();
  void DownloadWorkflow();
  bool HasDataFolder() const;
  void SetStatus(const QString &text);
  void ShowTransfer();
  std::string UserID() const;
  std::string LocalArchivePath() const;
  std::string RemoteArchiveName() const;
  std::string SecondArchivePath() const;
  std::chrono::steady_clock::time_point Now() const;

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

  std::unique_ptr<TBackupFile> BackupFile;
  std::unique_ptr<TIdFTP> IdFTP1;
  std::unique_ptr<TIdIcmpClient> Ping;

  TConfig FConfig;
  std::string FDataFolder;
  std::string FBackupFolder;
  std::string FFtpHost;
  int32_t FRemoteSize = 0;
  std::chrono::steady_clock::time_point FTransferStart{};
  std::chrono::steady_clock::time_point FLastShown{};
  bool FShownSinceBegin = false;
  TWorkMode FWorkMode = wmRead;
  int32_t FWorkCount = 0;
  QTimer FTransferShowTimer;
  double FTransferSpeed = 0;
  bool FWorkflowRunning = false;
  bool FCentred = false;
};

} // namespace vantari
