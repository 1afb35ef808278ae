#pragma once

#include "IdComponent.h"
#include "TransferMeter.h"
#include "Unit2Win.h"
#include "WinLook.h"
#include "WorkflowConfig.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace vantari {
class TWorkflow;
}

namespace vantari::win {

// The main window on Windows: banner, the upload and download buttons, the user's ID and
// password, and the status bar that shows the progress of a workflow. The workflows run on
// this window's thread, as the Qt window runs them; their waits repaint the window through
// the host UI. Every control has its ID from ControlIds.h.
class TForm1 {
public:
  using TConfig = TWorkflowConfig;

  explicit TForm1(TConfig config = TConfig::BuiltIn());
  ~TForm1();
  TForm1(const TForm1 &) = delete;
  TForm1 &operator=(const TForm1 &) = delete;

  HWND Handle() const { return FHandle; }
  // The window is gone (closed by the person or the program).
  bool Closed() const { return FHandle == nullptr; }

  // Event handlers.
  void Image1Click();
  void btnBackupWizardClick();
  void btnRestoreWizardClick();
  void UndoDownloadClick();
  void RestoreFromHistoryClick();
  void IdFTP1WorkBegin(TIdComponent *Sender, TWorkMode AWorkMode, int32_t AWorkCountMax);
  void IdFTP1Work(TIdComponent *Sender, TWorkMode AWorkMode, int32_t AWorkCount);
  void IdFTP1WorkEnd(TIdComponent *Sender, TWorkMode AWorkMode);

  TForm2 &AboutDialog() { return *Form2; }
  TWorkflow &Workflow() { return *FWorkflow; }
  bool WorkflowRunning() const { return FWorkflowRunning; }
  // The text of the status bar's message panel.
  std::string StatusText() const;

private:
  class TWorkflowRun;

  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void BuildControls();
  void CreateComponents();
  void FormCreate();
  void Command(int id, int code);
  COLORREF TextColour(HWND control) const;
  LRESULT ControlColour(HDC dc, HWND control);
  bool SetCursorFor(HWND control);
  void ShowContextMenu(POINT at);
  void FormClose();
  void RunWorkflow(bool (TWorkflow::*workflow)());
  void SetStatus(const std::string &text);
  void ShowTransfer();
  std::string EditText(int id) const;

  HWND FHandle = nullptr;
  HWND Image1 = nullptr, Panel2 = nullptr, btnBackupWizard = nullptr, btnRestoreWizard = nullptr,
       Panel4 = nullptr, UserIDEdit = nullptr, PasswordEdit = nullptr, Label4 = nullptr,
       StatusBar = nullptr, ProgressBar = nullptr, FHints = nullptr,
       FLastFocus = nullptr; // the box that had the caret when the window was left
  TGdi<HFONT> FFont{CreateWindowFont(false)};
  TGdi<HFONT> FBoldFont{CreateWindowFont(true)};
  TGdi<HBRUSH> FWhite{::CreateSolidBrush(RGB(255, 255, 255))};
  TGdi<HBITMAP> FBanner;
  std::unique_ptr<TForm2> Form2;

  std::unique_ptr<TWorkflow> FWorkflow;
  TTransferMeter FTransfer;
  bool FWorkflowRunning = false;
  bool FCloseWhenDone = false; // closed during a run and the person chose to cancel
};

} // namespace vantari::win
