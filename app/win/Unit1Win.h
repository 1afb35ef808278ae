#pragma once

#include "MainWindowPresenter.h"
#include "Unit2Win.h"
#include "WinLook.h"
#include "WorkflowConfig.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace vantari::win {

// The main window on Windows: banner, the upload and download buttons, the user's ID and
// password, and the status bar that shows the progress of a workflow. What the buttons do is
// the presenter's, as for the Qt window; the workflows run on this window's thread and their
// waits repaint the window through the host UI. Every control has its ID from ControlIds.h.
class TForm1 : private TMainWindowView {
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

  TForm2 &AboutDialog() { return *Form2; }
  TWorkflow &Workflow() { return FPresenter.Workflow(); }

private:
  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void BuildControls();
  void Command(int id, int code);
  COLORREF TextColour(HWND control) const;
  LRESULT ControlColour(HDC dc, HWND control);
  bool SetCursorFor(HWND control);
  void ShowContextMenu(POINT at);

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

  TMainWindowPresenter FPresenter;
};

} // namespace vantari::win
