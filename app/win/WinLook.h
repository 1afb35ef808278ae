#pragma once

#include <windows.h>

#include <string>

namespace vantari::win {

// How every window of the Windows program looks, and the small owners its GDI objects need.

// Owns one GDI object (font, brush, bitmap); deleted once.
template <class T> class TGdi {
public:
  explicit TGdi(T object = nullptr) : FObject(object) {}
  ~TGdi() {
    if (FObject)
      ::DeleteObject(FObject);
  }
  TGdi(const TGdi &) = delete;
  TGdi &operator=(const TGdi &) = delete;
  T Get() const { return FObject; }
  T Release() {
    T object = FObject;
    FObject = nullptr;
    return object;
  }
  void Reset(T object) {
    if (FObject)
      ::DeleteObject(FObject);
    FObject = object;
  }

private:
  T FObject;
};

// The Korean face of every window, 12 pixels high: Gulim when the system has it, else
// Baekmuk Gulim, else NanumGothic.
HFONT CreateWindowFont(bool bold);
// Baekmuk Gulim advances a pixel further per character than Gulim, which the labels' widths
// were measured with: the pixels between characters (-1 or 0) the labels are drawn with.
int LetterSpacing();
// A label (an owner-drawn static control): its text from the top left in the control's font
// and colour on background, with the face's letter spacing; wrap breaks lines between words.
void DrawLabel(const DRAWITEMSTRUCT &item, COLORREF colour, HBRUSH background, bool wrap);
// A control: a child window with a fixed ID, the window font and its text (UTF-8).
HWND PlaceControl(HWND parent, const wchar_t *className, int id, RECT geometry,
                  const std::string &text, DWORD style, HFONT font, DWORD exStyle = 0);
// A flat panel filled with brush; it hands its children's notifications to its own parent,
// so the window handles them as if the children stood on it.
HWND PlacePanel(HWND parent, int id, RECT geometry, HBRUSH brush, DWORD exStyle = 0);
// A PNG among the program's resources as a 32-bit bitmap; null when it cannot be read.
HBITMAP LoadPngResource(int id);
// A window whose client area is width x height, in the middle of the screen.
HWND CreateFixedWindow(const wchar_t *className, const std::string &caption, int width, int height,
                       HWND owner, void *creator);
std::string WindowText(HWND window);

} // namespace vantari::win
