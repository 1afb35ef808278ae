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

// The list dialog, laid out in memory (dialog units): a list box over OK and Cancel.
constexpr WORD ChoiceListId = 100;

class TChoiceTemplate {
public:
  explicit TChoiceTemplate(const std::wstring &title) {
    Put(DWORD{DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU});
    Put(DWORD{0});
    Put(WORD{3}); // items
    Put(WORD{0}), Put(WORD{0}), Put(WORD{220}), Put(WORD{150});
    Put(WORD{0}), Put(WORD{0}); // no menu, the standard class
    Text(title);
    Put(WORD{9});
    Text(L"MS Shell Dlg");
    Item(LBS_NOTIFY | WS_VSCROLL | WS_BORDER | WS_TABSTOP, 7, 7, 206, 114, ChoiceListId, 0x0083);
    Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 106, 128, 50, 14, IDOK, 0x0080, Widen(TextChoiceOk));
    Item(BS_PUSHBUTTON | WS_TABSTOP, 163, 128, 50, 14, IDCANCEL, 0x0080, Widen(TextChoiceCancel));
  }
  const DLGTEMPLATE *Get() const { return reinterpret_cast<const DLGTEMPLATE *>(FWords.data()); }

private:
  void Put(WORD w) { FWords.push_back(w); }
  void Put(DWORD d) { Put(LOWORD(d)), Put(HIWORD(d)); }
  void Text(const std::wstring &text) {
    for (wchar_t c : text)
      Put(static_cast<WORD>(c));
    Put(WORD{0});
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom,
            const std::wstring &text = {}) {
    if (FWords.size() % 2)
      Put(WORD{0}); // items begin on a DWORD
    Put(DWORD{style | WS_CHILD | WS_VISIBLE});
    Put(DWORD{0});
    for (short v : {x, y, cx, cy})
      Put(static_cast<WORD>(v));
    Put(id);
    Put(WORD{0xFFFF}), Put(atom);
    Text(text);
    Put(WORD{0}); // no creation data
  }
  std::vector<WORD> FWords;
};

INT_PTR CALLBACK ChoiceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND list = ::GetDlgItem(dialog, ChoiceListId);
  switch (message) {
  case WM_INITDIALOG:
    for (const std::string &line : *reinterpret_cast<const std::vector<std::string> *>(lParam))
      ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(line).c_str()));
    ::SendMessageW(list, LB_SETCURSEL, 0, 0);
    return TRUE;
  case WM_COMMAND:
    if (LOWORD(wParam) == IDOK || (LOWORD(wParam) == ChoiceListId && HIWORD(wParam) == LBN_DBLCLK))
      ::EndDialog(dialog, ::SendMessageW(list, LB_GETCURSEL, 0, 0));
    else if (LOWORD(wParam) == IDCANCEL)
      ::EndDialog(dialog, -1);
    return TRUE;
  default:
    return FALSE;
  }
}

} // namespace

int TWinHostUI::ChooseOne(const std::string &title, const std::vector<std::string> &lines) {
  const TChoiceTemplate layout(Widen(title));
  const INT_PTR chosen =
      ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), layout.Get(), ::GetActiveWindow(),
                                ChoiceProc, reinterpret_cast<LPARAM>(&lines));
  return chosen < 0 || chosen >= static_cast<INT_PTR>(lines.size()) ? -1 : static_cast<int>(chosen);
}

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
  const std::string caption = report.FailureBox ? TextFailureCaption : TextProgramTitle;
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
