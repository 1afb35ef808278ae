#include "WinHostUI.h"

#include "../WindowTexts.h"
#include "WinText.h"

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
