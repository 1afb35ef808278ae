#pragma once

#include "WinLook.h"

#include <windows.h>

#include <map>

namespace vantari::win {

// The About dialog: what the service is, who it is for, what to mind. Shown modally over
// the main window by a click on the banner.
class TForm2 {
public:
  explicit TForm2(HWND owner);
  ~TForm2();
  TForm2(const TForm2 &) = delete;
  TForm2 &operator=(const TForm2 &) = delete;

  // Shows the dialog and returns when it is closed; the owner takes no input meanwhile.
  void ShowModal();
  // The dialog while it is shown, else null.
  HWND Handle() const { return FHandle; }

private:
  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void BuildControls();

  HWND FOwner;
  HWND FHandle = nullptr;
  TGdi<HFONT> FFont;
  TGdi<HBRUSH> FWhite{::CreateSolidBrush(RGB(255, 255, 255))};
  std::map<int, COLORREF> FTextColours; // by control ID
};

} // namespace vantari::win
