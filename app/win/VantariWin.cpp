// Program entry on Windows: the main window, then the message loop.
#include "Unit1Win.h"
#include "WinHostUI.h"

#include <commctrl.h>
#include <objbase.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  using namespace vantari;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  // The banner is decoded by the imaging component.
  const bool com = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  win::TWinHostUI host;
  SetHostUI(&host);
  int result = 0;
  {
    win::TForm1 Form1;
    ::ShowWindow(Form1.Handle(), show);
    MSG message;
    message.wParam = 0;
    // The program ends with its window.
    while (!Form1.Closed() && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
      // Tab moves between the ID and the password as in a dialog.
      if (::IsDialogMessageW(Form1.Handle(), &message))
        continue;
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    result = static_cast<int>(message.wParam);
  }
  SetHostUI(nullptr);
  if (com)
    ::CoUninitialize();
  return result;
}
