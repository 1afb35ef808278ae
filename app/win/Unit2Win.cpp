#include "Unit2Win.h"

#include "../WindowTexts.h"
#include "ControlIds.h"
#include "FailureTexts.h"
#include "SupportReport.h"

namespace vantari::win {

namespace {

constexpr COLORREF Maroon = RGB(128, 0, 0), Red = RGB(255, 0, 0), Black = RGB(0, 0, 0);

void RegisterOnce() {
  static const bool registered = [] {
    WNDCLASSW form{};
    form.lpfnWndProc = DefWindowProcW; // replaced per window once its object is known
    form.hInstance = ::GetModuleHandleW(nullptr);
    form.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    form.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    form.lpszClassName = AboutWindowClass;
    return ::RegisterClassW(&form) != 0;
  }();
  (void)registered;
}

} // namespace

TForm2::TForm2(HWND owner) : FOwner(owner), FFont(CreateWindowFont(false)) {
  RegisterOnce();
}

TForm2::~TForm2() {
  if (FHandle)
    ::DestroyWindow(FHandle);
}

void TForm2::ShowModal() {
  if (FHandle)
    return;
  FHandle = CreateFixedWindow(AboutWindowClass, TextAboutCaption, 349, 282, FOwner, nullptr);
  ::SetWindowLongPtrW(FHandle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::SetWindowLongPtrW(FHandle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WndProc));
  ::SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
  BuildControls();
  if (FOwner)
    ::EnableWindow(FOwner, FALSE);
  ::ShowWindow(FHandle, SW_SHOW);
  MSG message;
  bool quit = false;
  while (FHandle && !quit) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      quit = true; // the program is ending: hand the quit on to the main loop
      break;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (FOwner) {
    ::EnableWindow(FOwner, TRUE);
    ::SetActiveWindow(FOwner);
  }
  if (FHandle)
    ::DestroyWindow(FHandle);
  if (quit)
    ::PostQuitMessage(static_cast<int>(message.wParam));
}

void TForm2::BuildControls() {
  PlacePanel(FHandle, idAboutPanel2, {0, 0, 349, 6}, ::GetSysColorBrush(COLOR_BTNFACE));
  // Lowered outside, a white page inside.
  HWND page = PlacePanel(FHandle, idAboutPanel3, {0, 6, 349, 276}, FWhite.Get(), WS_EX_STATICEDGE);
  struct TLabelPlace {
    int Id;
    RECT Geometry;
    const char *Text;
    COLORREF Colour;
  };
  const TLabelPlace labels[] = {
      {idAboutLabel1, {8, 12, 108, 12}, TextAboutServiceHead, Maroon},
      {idAboutLabel5, {18, 28, 304, 72}, TextAboutService, Black},
      {idAboutLabel2, {8, 109, 86, 12}, TextAboutCustomersHead, Maroon},
      {idAboutLabel10, {18, 125, 318, 60}, TextAboutCustomers, Black},
      {idAboutLabel3, {8, 196, 58, 12}, TextAboutCautionHead, Red},
      {idAboutLabel8, {18, 213, 302, 48}, TextAboutCaution, Red},
  };
  for (const TLabelPlace &label : labels) {
    PlaceControl(page, L"STATIC", label.Id, label.Geometry, label.Text, SS_OWNERDRAW, FFont.Get());
    FTextColours[label.Id] = label.Colour;
  }
  const std::string version = std::string(TextVersionLabel) + ProgramVersion();
  PlaceControl(page, L"STATIC", idAboutVersion, {250, 262, 90, 12}, version.c_str(), SS_RIGHT,
               FFont.Get());
}

LRESULT CALLBACK TForm2::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto *form = reinterpret_cast<TForm2 *>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  return form ? form->Dispatch(window, message, wParam, lParam)
              : ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TForm2::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_CTLCOLORSTATIC: {
    auto dc = reinterpret_cast<HDC>(wParam);
    const auto colour = FTextColours.find(::GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
    ::SetTextColor(dc, colour != FTextColours.end() ? colour->second : Black);
    ::SetBkColor(dc, RGB(255, 255, 255));
    return reinterpret_cast<LRESULT>(FWhite.Get());
  }
  case WM_DRAWITEM: {
    const auto &item = *reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
    const auto colour = FTextColours.find(static_cast<int>(item.CtlID));
    DrawLabel(item, colour != FTextColours.end() ? colour->second : Black, FWhite.Get(),
              item.CtlID == idAboutLabel5); // the one paragraph that wraps
    return TRUE;
  }
  case WM_KEYDOWN:
    if (wParam == VK_ESCAPE)
      ::PostMessageW(FHandle, WM_CLOSE, 0, 0);
    return 0;
  case WM_CLOSE:
    if (FOwner)
      ::EnableWindow(FOwner, TRUE); // before the dialog goes, so the owner is activated
    ::DestroyWindow(FHandle);
    return 0;
  case WM_DESTROY:
    FHandle = nullptr;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    return 0;
  default:
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

} // namespace vantari::win
