#include "WinLook.h"

#include "WinText.h"

#include <wincodec.h>
#include <wrl/client.h>

namespace vantari::win {

namespace {

int CALLBACK FaceFound(const LOGFONTW *, const TEXTMETRICW *, DWORD, LPARAM found) {
  *reinterpret_cast<bool *>(found) = true;
  return 0;
}

bool HasFace(const wchar_t *face) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
  bool found = false;
  HDC screen = ::GetDC(nullptr);
  ::EnumFontFamiliesExW(screen, &wanted, FaceFound, reinterpret_cast<LPARAM>(&found), 0);
  ::ReleaseDC(nullptr, screen);
  return found;
}

const wchar_t *WindowFace() {
  static const wchar_t *const face = [] {
    for (const wchar_t *candidate : {L"Gulim", L"굴림", L"Baekmuk Gulim", L"NanumGothic"})
      if (HasFace(candidate))
        return candidate;
    return L"Gulim"; // the system picks its nearest
  }();
  return face;
}

LRESULT CALLBACK PanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_COMMAND:
  case WM_NOTIFY:
  case WM_DRAWITEM:
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLOREDIT:
  case WM_CTLCOLORBTN:
    return ::SendMessageW(::GetParent(panel), message, wParam, lParam);
  case WM_ERASEBKGND: {
    RECT client;
    ::GetClientRect(panel, &client);
    auto brush = reinterpret_cast<HBRUSH>(::GetWindowLongPtrW(panel, GWLP_USERDATA));
    ::FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
    return 1;
  }
  default:
    return ::DefWindowProcW(panel, message, wParam, lParam);
  }
}

const wchar_t *PanelClass() {
  static const wchar_t *const name = [] {
    WNDCLASSW panel{};
    panel.lpfnWndProc = PanelProc;
    panel.hInstance = ::GetModuleHandleW(nullptr);
    panel.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    panel.lpszClassName = L"VantariPanel";
    ::RegisterClassW(&panel);
    return panel.lpszClassName;
  }();
  return name;
}

} // namespace

HFONT CreateWindowFont(bool bold) {
  return ::CreateFontW(-12, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, WindowFace());
}

int LetterSpacing() {
  return wcscmp(WindowFace(), L"Baekmuk Gulim") == 0 ? -1 : 0;
}

void DrawLabel(const DRAWITEMSTRUCT &item, COLORREF colour, HBRUSH background, bool wrap) {
  const std::wstring text = Widen(WindowText(item.hwndItem));
  RECT area = item.rcItem;
  ::FillRect(item.hDC, &area, background);
  HGDIOBJ old = ::SelectObject(
      item.hDC, reinterpret_cast<HGDIOBJ>(::SendMessageW(item.hwndItem, WM_GETFONT, 0, 0)));
  ::SetTextColor(item.hDC, colour);
  ::SetBkMode(item.hDC, TRANSPARENT);
  ::SetTextCharacterExtra(item.hDC, LetterSpacing());
  ::DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &area,
              DT_LEFT | DT_TOP | DT_NOPREFIX | DT_EXPANDTABS | (wrap ? DT_WORDBREAK : 0));
  ::SelectObject(item.hDC, old);
}

HWND PlaceControl(HWND parent, const wchar_t *className, int id, RECT geometry,
                  const std::string &text, DWORD style, HFONT font, DWORD exStyle) {
  HWND control = ::CreateWindowExW(
      exStyle, className, Widen(text).c_str(), WS_CHILD | WS_VISIBLE | style, geometry.left,
      geometry.top, geometry.right, geometry.bottom, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
  if (control && font)
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

HWND PlacePanel(HWND parent, int id, RECT geometry, HBRUSH brush, DWORD exStyle) {
  HWND panel = PlaceControl(parent, PanelClass(), id, geometry, "", WS_CLIPCHILDREN, nullptr,
                            WS_EX_CONTROLPARENT | exStyle);
  ::SetWindowLongPtrW(panel, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(brush));
  return panel;
}

HBITMAP LoadPngResource(int id) {
  using Microsoft::WRL::ComPtr;
  HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10)); // RT_RCDATA
  HGLOBAL loaded = found ? ::LoadResource(nullptr, found) : nullptr;
  auto *bytes = static_cast<BYTE *>(loaded ? ::LockResource(loaded) : nullptr);
  if (!bytes)
    return nullptr;
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  UINT width = 0, height = 0;
  if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&factory))) ||
      FAILED(factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(bytes, ::SizeofResource(nullptr, found))) ||
      FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                              &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame)) || FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0,
                                   WICBitmapPaletteTypeCustom)) ||
      FAILED(converter->GetSize(&width, &height)))
    return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height); // top row first, as WIC gives it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void *bits = nullptr;
  TGdi<HBITMAP> bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap.Get() || FAILED(converter->CopyPixels(nullptr, width * 4, width * height * 4,
                                                    static_cast<BYTE *>(bits))))
    return nullptr;
  return bitmap.Release();
}

HWND CreateFixedWindow(const wchar_t *className, const std::string &caption, int width, int height,
                       HWND owner, void *creator) {
  const DWORD style =
      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | (owner ? 0 : WS_MINIMIZEBOX);
  const DWORD exStyle = owner ? WS_EX_DLGMODALFRAME : 0;
  RECT frame{0, 0, width, height};
  ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int outerWidth = frame.right - frame.left, outerHeight = frame.bottom - frame.top;
  RECT work{0, 0, 1024, 768};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return ::CreateWindowExW(exStyle, className, Widen(caption).c_str(), style,
                           work.left + (work.right - work.left - outerWidth) / 2,
                           work.top + (work.bottom - work.top - outerHeight) / 2, outerWidth,
                           outerHeight, owner, nullptr, ::GetModuleHandleW(nullptr), creator);
}

std::string WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return Narrow(text);
}

} // namespace vantari::win
