#include "WinHostUI.h"

#include "../WindowTexts.h"
#include "FailureTexts.h"
#include "WinText.h"

#include <commctrl.h>
#include <cstring>
#include <exception>

namespace vantari::win {

namespace {

constexpr std::chrono::milliseconds PaintInterval{100};
HCURSOR busyCursor = nullptr;

int ShowBox(const std::string &caption, const std::string &text, UINT type) {
  return ::MessageBoxW(::GetActiveWindow(), Widen(text).c_str(), Widen(caption).c_str(),
                       type | MB_SETFOREGROUND);
}

// The person's clicks and keys; a click on a caption's close box is not among them, so that
// the window can still be closed while a workflow waits.
bool IsInput(const MSG &message) {
  const UINT m = message.message;
  if ((m == WM_NCLBUTTONDOWN || m == WM_NCLBUTTONUP) && message.wParam == HTCLOSE)
    return false;
  return (m >= WM_KEYFIRST && m <= WM_KEYLAST) || (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST) ||
         (m >= WM_NCMOUSEMOVE && m <= WM_NCMBUTTONDBLCLK) ||
         (m >= WM_NCXBUTTONDOWN && m <= WM_NCXBUTTONDBLCLK);
}

// Dispatches what is queued and what keep lets through; a quit stops the pump and stays queued
// for the main loop.
template <class Filter> void Pump(Filter keep) {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (!keep(message))
      continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

} // namespace

void TWinHostUI::ProcessMessages() {
  Pump([](const MSG &) { return true; });
}

void TWinHostUI::ProcessPaintEvents() {
  const auto now = std::chrono::steady_clock::now();
  if (now - FLastPaint < PaintInterval)
    return;
  FLastPaint = now;
  Pump([](const MSG &message) { return !IsInput(message); });
}

void TWinHostUI::ShowEngineError(const std::string &text) {
  ShowBox(TextProgramTitle, text, MB_OK | MB_ICONERROR);
}

bool TWinHostUI::ConfirmVolume(const std::string &text) {
  return ShowBox(TextProgramTitle, text, MB_OKCANCEL | MB_ICONINFORMATION) == IDOK;
}

void TWinHostUI::ShowMessage(const std::string &text) {
  ShowBox(TextProgramTitle, text, MB_OK);
}

void TWinHostUI::ShowFailure(const std::string &text) {
  ShowBox(TextFailureCaption, text, MB_OK | MB_ICONINFORMATION);
}

void TWinHostUI::ShowFailureReport(const TFailureReport &report) {
  const std::string caption = report.FailureBox ? "자료백업/복원" : TextProgramTitle;
  const std::wstring title = Widen(caption);
  const std::wstring text = Widen(report.Text());
  const std::wstring details = Widen(report.Details);
  const std::wstring more = Widen(DetailsButton);
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hwndParent = ::GetActiveWindow();
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  config.dwCommonButtons = TDCBF_OK_BUTTON;
  config.pszWindowTitle = title.c_str();
  config.pszMainIcon = report.FailureBox ? TD_INFORMATION_ICON : nullptr;
  config.pszContent = text.c_str();
  config.pszExpandedInformation = details.empty() ? nullptr : details.c_str();
  config.pszCollapsedControlText = more.c_str();
  if (FAILED(::TaskDialogIndirect(&config, nullptr, nullptr, nullptr)))
    // Without version 6 of the common controls: the plain box, details below the text.
    ShowBox(caption, report.Text() + "\n\n" + report.Details,
            MB_OK | (report.FailureBox ? MB_ICONINFORMATION : 0));
}

bool TWinHostUI::AskYesNo(const std::string &text) {
  return ShowBox(TextProgramTitle, text, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void TWinHostUI::SetCursor(TCursor cursor) {
  switch (cursor) {
  case TCursor::crAppStart:
    busyCursor = ::LoadCursorW(nullptr, IDC_APPSTARTING);
    break;
  case TCursor::crHourGlass:
    busyCursor = ::LoadCursorW(nullptr, IDC_WAIT);
    break;
  default:
    busyCursor = nullptr;
    break;
  }
  ::SetCursor(busyCursor ? busyCursor : ::LoadCursorW(nullptr, IDC_ARROW));
}

bool CopyToClipboard(HWND owner, const std::string &text) {
  const std::wstring wide = Widen(text);
  const size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (memory == nullptr)
    return false;
  std::memcpy(::GlobalLock(memory), wide.c_str(), bytes);
  ::GlobalUnlock(memory);
  if (!::OpenClipboard(owner)) {
    ::GlobalFree(memory);
    return false;
  }
  ::EmptyClipboard();
  const bool taken = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  ::CloseClipboard();
  if (!taken)
    ::GlobalFree(memory); // the clipboard owns it only once taken
  return taken;
}

HCURSOR BusyCursor() {
  return busyCursor;
}

std::function<void(const std::string &text)> &OnUncaught() {
  static std::function<void(const std::string &text)> handler;
  return handler;
}

void Guard(const std::function<void()> &handler) {
  try {
    handler();
  } catch (const std::exception &error) {
    if (OnUncaught())
      OnUncaught()(error.what());
    else
      ShowBox(TextProgramTitle, error.what(), MB_OK | MB_ICONERROR);
  }
}

} // namespace vantari::win
