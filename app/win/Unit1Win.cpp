#include "Unit1Win.h"

#include "../WindowTexts.h"
#include "ControlIds.h"
#include "FailureTexts.h"
#include "Resources.h"
#include "WinHostUI.h"
#include "WinText.h"
#include "Workflow.h"

#include <commctrl.h>

#include <utility>

namespace vantari::win {

namespace {

constexpr UINT_PTR TransferShowTimer = 1;
constexpr COLORREF Black = RGB(0, 0, 0), Red = RGB(255, 0, 0);

void RegisterOnce(WNDPROC procedure) {
  static const bool registered = [procedure] {
    WNDCLASSW form{};
    form.lpfnWndProc = procedure;
    form.hInstance = ::GetModuleHandleW(nullptr);
    form.hIcon = ::LoadIconW(form.hInstance, MAKEINTRESOURCEW(IDI_VANTARI));
    form.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    form.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    form.lpszClassName = MainWindowClass;
    return ::RegisterClassW(&form) != 0;
  }();
  (void)registered;
}

// A two-line hint over a control; the tooltip breaks its lines where the text does.
void AddHint(HWND hints, HWND control, const std::string &text) {
  std::wstring wide = Widen(text);
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = ::GetParent(control);
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = wide.data();
  ::SendMessageW(hints, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

} // namespace

TForm1::TForm1(TConfig config) : FPresenter(*this, std::move(config)) {
  RegisterOnce(WndProc);
  FHandle = CreateFixedWindow(MainWindowClass, TextFormCaption, 275, 358, nullptr, this);
  BuildControls();
  Guard([this] { FPresenter.FormCreate(); });
  // The start's boxes come once the window stands.
  ::PostMessageW(FHandle, WM_COMMAND, idNightlyNotice, 0);
  Form2 = std::make_unique<TForm2>(FHandle);
}

TForm1::~TForm1() {
  if (FHandle)
    ::DestroyWindow(FHandle);
}

void TForm1::BuildControls() {
  HFONT font = FFont.Get();
  ::SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

  FBanner.Reset(LoadPngResource(IDR_BANNER));
  Image1 = PlaceControl(FHandle, L"STATIC", idImage1, {0, 0, 275, 169}, "",
                        SS_BITMAP | SS_NOTIFY | SS_REALSIZECONTROL, nullptr);
  ::SendMessageW(Image1, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(FBanner.Get()));
  ::MoveWindow(Image1, 0, 0, 275, 169, FALSE);

  Panel2 = PlacePanel(FHandle, idPanel2, {0, 169, 275, 60}, FWhite.Get());
  btnBackupWizard = PlaceControl(Panel2, L"BUTTON", idBtnBackupWizard, {20, 16, 109, 25},
                                 TextUploadCaption, BS_PUSHBUTTON | BS_FLAT, font);
  btnRestoreWizard = PlaceControl(Panel2, L"BUTTON", idBtnRestoreWizard, {144, 16, 109, 25},
                                  TextDownloadCaption, BS_PUSHBUTTON | BS_FLAT, font);
  PlaceControl(Panel2, L"STATIC", idShape1, {8, 52, 261, 1}, "", SS_BLACKRECT, nullptr);

  FHints = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                             WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, FHandle, nullptr,
                             ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(FHints, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ::SendMessageW(FHints, TTM_SETMAXTIPWIDTH, 0, 400); // lets the hints keep their two lines
  AddHint(FHints, btnBackupWizard, TextUploadHint);
  AddHint(FHints, btnRestoreWizard, TextDownloadHint);

  Panel4 = PlacePanel(FHandle, idPanel4, {0, 229, 275, 58}, FWhite.Get());
  PlaceControl(Panel4, L"STATIC", idLabel6, {35, 6, 83, 12}, TextUserIDLabel, SS_OWNERDRAW,
               FBoldFont.Get());
  PlaceControl(Panel4, L"STATIC", idLabel7, {35, 31, 52, 12}, TextPasswordLabel, SS_OWNERDRAW,
               FBoldFont.Get());
  UserIDEdit = PlaceControl(Panel4, L"EDIT", idUserIDEdit, {124, 1, 113, 20}, "",
                            WS_TABSTOP | ES_AUTOHSCROLL, font, WS_EX_CLIENTEDGE);
  PasswordEdit = PlaceControl(Panel4, L"EDIT", idPasswordEdit, {124, 26, 113, 20}, "",
                              WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, font, WS_EX_CLIENTEDGE);
  ::SendMessageW(PasswordEdit, EM_SETPASSWORDCHAR, L'*', 0);
  PlaceControl(Panel4, L"STATIC", idShape2, {8, 53, 261, 1}, "", SS_BLACKRECT, nullptr);

  Label4 = PlaceControl(FHandle, L"STATIC", idLabel4, {20, 292, 222, 36}, TextLoginNotice,
                        SS_OWNERDRAW, font);

  // Placed as the layout says rather than docked, so the panels keep their widths.
  StatusBar = PlaceControl(FHandle, STATUSCLASSNAMEW, idStatusBar, {0, 336, 275, 22}, "",
                           CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER, font);
  const int panelEdges[] = {102, -1}; // the message panel runs to the right edge
  ::SendMessageW(StatusBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(panelEdges));
  ProgressBar =
      PlaceControl(StatusBar, PROGRESS_CLASSW, idProgressBar, {2, 3, 100, 18}, "", 0, nullptr);
  ::SendMessageW(ProgressBar, PBM_SETRANGE32, 0, 100);
  ::SendMessageW(ProgressBar, PBM_SETPOS, 0, 0);

  ::SetFocus(UserIDEdit);
}

void TForm1::Image1Click() {
  Form2->ShowModal();
}

void TForm1::btnBackupWizardClick() {
  FPresenter.Upload();
}

void TForm1::btnRestoreWizardClick() {
  FPresenter.Download();
}

void TForm1::RestoreFromHistoryClick() {
  FPresenter.RestoreFromHistory();
}

void TForm1::UndoDownloadClick() {
  FPresenter.UndoDownload();
}

void TForm1::ShowStatus(const std::string &text) {
  if (StatusBar)
    ::SendMessageW(StatusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(Widen(text).c_str()));
}

void TForm1::ShowProgress(int32_t maximum) {
  SetProgressRange(maximum);
  ::ShowWindow(ProgressBar, SW_SHOW);
}

void TForm1::SetProgressRange(int32_t maximum) {
  ::SendMessageW(ProgressBar, PBM_SETRANGE32, 0, maximum);
}

void TForm1::SetProgressPosition(int32_t position) {
  ::SendMessageW(ProgressBar, PBM_SETPOS, position, 0);
}

void TForm1::HideProgress() {
  ::ShowWindow(ProgressBar, SW_HIDE);
}

void TForm1::StartRepaintTimer(std::chrono::milliseconds interval) {
  ::SetTimer(FHandle, TransferShowTimer, static_cast<UINT>(interval.count()), nullptr);
}

void TForm1::StopRepaintTimer() {
  ::KillTimer(FHandle, TransferShowTimer);
}

void TForm1::SetRunning(bool running) {
  if (!FHandle)
    return;
  ::EnableWindow(btnBackupWizard, !running);
  ::EnableWindow(btnRestoreWizard, !running);
  ::SendMessageW(UserIDEdit, EM_SETREADONLY, running, 0);
  ::SendMessageW(PasswordEdit, EM_SETREADONLY, running, 0);
}

std::string TForm1::UserIDText() const {
  return WindowText(UserIDEdit);
}

std::string TForm1::PasswordText() const {
  return WindowText(PasswordEdit);
}

void TForm1::ShowLogin(const std::string &userID) {
  ::SetWindowTextW(UserIDEdit, Widen(userID).c_str());
  ::SetWindowTextW(PasswordEdit, L"");
}

void TForm1::CloseNow() {
  if (FHandle)
    ::PostMessageW(FHandle, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK TForm1::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto *create = reinterpret_cast<CREATESTRUCTW *>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto *form = reinterpret_cast<TForm1 *>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  return form ? form->Dispatch(window, message, wParam, lParam)
              : ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TForm1::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_COMMAND:
    Command(LOWORD(wParam), HIWORD(wParam));
    return 0;
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLORBTN:
    return ControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
  case WM_DRAWITEM: {
    const auto &item = *reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
    if (item.CtlType != ODT_STATIC)
      break;
    DrawLabel(item, TextColour(item.hwndItem), FWhite.Get(), false);
    return TRUE;
  }
  case WM_SETCURSOR:
    if (SetCursorFor(reinterpret_cast<HWND>(wParam)))
      return TRUE;
    break;
  case WM_CONTEXTMENU:
    ShowContextMenu({static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
    return 0;
  case WM_TIMER:
    if (wParam == TransferShowTimer) {
      ::KillTimer(window, TransferShowTimer); // one-shot
      FPresenter.RepaintTimerElapsed();
    }
    return 0;
  case WM_ACTIVATE:
    // The box that had the caret gets it back when the window is active again.
    if (LOWORD(wParam) == WA_INACTIVE && ::IsChild(window, ::GetFocus()))
      FLastFocus = ::GetFocus();
    break; // activation gives the window the focus, which WM_SETFOCUS hands on
  case WM_SETFOCUS:
    ::SetFocus(FLastFocus && ::IsWindow(FLastFocus) ? FLastFocus : UserIDEdit);
    return 0;
  case WM_CLOSE:
    // Closing in the middle of a workflow asks whether to cancel it; the presenter closes the
    // window once the cancelled run has put things back.
    if (FPresenter.CloseQuery())
      ::DestroyWindow(window);
    return 0;
  case WM_DESTROY:
    ::KillTimer(window, TransferShowTimer);
    FHandle = nullptr;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    return 0;
  default:
    break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

void TForm1::Command(int id, int code) {
  if (id == idImage1 && code == STN_CLICKED)
    Guard([this] { Image1Click(); });
  else if (id == idBtnBackupWizard && code == BN_CLICKED)
    Guard([this] { btnBackupWizardClick(); });
  else if (id == idBtnRestoreWizard && code == BN_CLICKED)
    Guard([this] { btnRestoreWizardClick(); });
  else if (id == idUndoDownload)
    Guard([this] { UndoDownloadClick(); });
  else if (id == idCopySupportReport)
    CopyToClipboard(FHandle, FPresenter.SupportReportText());
  else if (id == idNightlyNotice)
    Guard([this] { FPresenter.ShowStartNotices(); });
  else if (id == idRestoreFromHistory)
    Guard([this] { RestoreFromHistoryClick(); });
}

// The notice in red, the rest in black.
COLORREF TForm1::TextColour(HWND control) const {
  return control == Label4 ? Red : Black;
}

// White behind every label and rule.
LRESULT TForm1::ControlColour(HDC dc, HWND control) {
  ::SetTextColor(dc, TextColour(control));
  ::SetBkColor(dc, RGB(255, 255, 255));
  return reinterpret_cast<LRESULT>(FWhite.Get());
}

// The banner and the buttons take the hand; a running workflow's cursor stands everywhere.
bool TForm1::SetCursorFor(HWND control) {
  if (HCURSOR busy = BusyCursor()) {
    ::SetCursor(busy);
    return true;
  }
  if (control == Image1 || control == btnBackupWizard || control == btnRestoreWizard) {
    ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
    return true;
  }
  return false;
}

// Reached by a right click anywhere on the window, so the layout stays as it is.
void TForm1::ShowContextMenu(POINT at) {
  HMENU menu = ::CreatePopupMenu();
  const std::wstring undo = Widen(TextUndoDownload);
  const UINT running = FPresenter.Running() ? MF_GRAYED : 0;
  ::AppendMenuW(menu, MF_STRING | running, idUndoDownload, undo.c_str());
  const std::wstring history = Widen(TextRestoreFromHistory);
  ::AppendMenuW(menu, MF_STRING | running, idRestoreFromHistory, history.c_str());
  const std::wstring report = Widen(TextCopySupportReport);
  ::AppendMenuW(menu, MF_STRING, idCopySupportReport, report.c_str());
  if (at.x == -1 && at.y == -1) { // from the keyboard: under the window's corner
    at = {0, 0};
    ::ClientToScreen(FHandle, &at);
  }
  ::TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, FHandle, nullptr);
  ::DestroyMenu(menu);
}

} // namespace vantari::win
