#pragma once

#include "Label.h"
#include "StatusBar.h"
#include "Unit2.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QToolButton>
#include <QWidget>
#include <memory>
#include <string>

namespace vantari {

// The main window: banner, the upload and download buttons, the user's ID and password,
// and the status bar that shows the progress of a workflow. Holds the settings store.
class TForm1 : public QWidget {
public:
  explicit TForm1(QWidget *parent = nullptr);

  // Settings store: section "Server" of FtpHost.ini in the per-user config folder.
  void WriteSetting(const std::string &value, const std::string &key);
  std::string ReadSetting(const std::string &key) const;
  // Reads the accounting program's data folder from the per-user registry.
  void ReadDataFolder();

  void Image1Click();
  void btnBackupWizardClick();
  void btnRestoreWizardClick();

  const std::string &DataFolder() const { return FDataFolder; }
  const std::string &BackupFolder() const { return FBackupFolder; }
  TForm2 &AboutDialog() { return *Form2; }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void showEvent(QShowEvent *event) override;

private:
  void BuildControls();
  void FormCreate();

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

  std::string FDataFolder;
  std::string FBackupFolder;
  bool FCentred = false;
};

} // namespace vantari
