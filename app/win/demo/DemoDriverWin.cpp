// vantari-demo.exe: the demo of the service on Windows without a person at the desktop. It
// opens the real window (TForm1), types the user ID and the password into the boxes
// (WM_SETTEXT), presses "자료 올리기" (BM_CLICK), changes the data folder, presses
// "자료 내려받기" and checks that the data folder is again what was uploaded. It prints what the
// window shows (status texts, messages) and the server's view of each session, saves a
// picture of the window, and exits 0 only on success. Controls are found by their IDs; boxes
// are answered through the host-UI interface, so nothing depends on timing or on where things
// are drawn.
#include "../../WindowTexts.h"
#include "ControlIds.h"
#include "DemoScenario.h"
#include "Paths.h"
#include "Unit1Win.h"
#include "WinHostUI.h"
#include "WinText.h"
#include "Workflow.h"

#include <commctrl.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace vantari;
using namespace vantari::demo;
using namespace vantari::win;

namespace {

// A stuck step ends the demo as failed instead of hanging a script or CI.
constexpr std::chrono::seconds kDemoLimit{600};

using TWinDemoHostUI = TAnsweringHostUI<TWinHostUI>;

// The server runs beside Wine, so the paths in its log are the Linux ones of the Z: drive.
std::string LogHome(const std::string &home) {
  std::string path = home.size() > 2 && home[1] == ':' ? home.substr(2) : home;
  for (char &c : path)
    if (c == '\\')
      c = '/';
  return path;
}

// Writes the window's picture as a PNG through the imaging component.
bool SavePng(HBITMAP bitmap, int width, int height, const std::string &path) {
  using Microsoft::WRL::ComPtr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<BYTE> pixels(static_cast<size_t>(width) * height * 4);
  HDC screen = ::GetDC(nullptr);
  const int rows = ::GetDIBits(screen, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, screen);
  if (rows != height)
    return false;
  for (size_t i = 3; i < pixels.size(); i += 4)
    pixels[i] = 0xff; // GDI leaves the alpha byte empty: the picture is opaque
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  return SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_PPV_ARGS(&factory))) &&
         SUCCEEDED(factory->CreateStream(&stream)) &&
         SUCCEEDED(stream->InitializeFromFilename(Widen(path).c_str(), GENERIC_WRITE)) &&
         SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
         SUCCEEDED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) &&
         SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) &&
         SUCCEEDED(frame->Initialize(nullptr)) &&
         SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))) &&
         SUCCEEDED(frame->SetPixelFormat(&format)) && format == GUID_WICPixelFormat32bppBGRA &&
         SUCCEEDED(frame->WritePixels(static_cast<UINT>(height), static_cast<UINT>(width) * 4,
                                      static_cast<UINT>(pixels.size()), pixels.data())) &&
         SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

void PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

class TDemo : public TDemoScenario {
public:
  TDemo(const TDemoOptions &options, TWinDemoHostUI &host)
      : TDemoScenario(options, host.Messages, LogHome(options.ServerHome)), FHost(host) {}

  int Run(TWorkflowConfig config) {
    TForm1 form(std::move(config));
    FForm = &form;
    WatchStatus();
    FHost.BeforeBox = [this] { Server().PrintNew(); };
    ::ShowWindow(form.Handle(), SW_SHOW);
    ::UpdateWindow(form.Handle());
    PumpMessages();
    if (!::IsWindowVisible(form.Handle()))
      return Fail("the window did not open");
    if (Options().PictureOnly)
      return Picture();
    return Scenario("", form.Workflow().Settings().DataFolder(),
                    form.Workflow().Settings().BackupFolder());
  }

private:
  HWND Control(int id) const {
    HWND form = FForm->Handle();
    for (int panel : {0, static_cast<int>(idPanel2), static_cast<int>(idPanel4),
                      static_cast<int>(idStatusBar)}) {
      HWND parent = panel ? ::GetDlgItem(form, panel) : form;
      if (HWND control = ::GetDlgItem(parent, id))
        return control;
    }
    return nullptr;
  }

  // Every text the status bar's message panel shows, as it shows it.
  static LRESULT CALLBACK StatusWatch(HWND bar, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR, DWORD_PTR self) {
    if (message == SB_SETTEXTW && LOBYTE(LOWORD(wParam)) == 1 && lParam)
      reinterpret_cast<TDemo *>(self)->StatusShown(
          Narrow(reinterpret_cast<const wchar_t *>(lParam)));
    return ::DefSubclassProc(bar, message, wParam, lParam);
  }

  void WatchStatus() {
    ::SetWindowSubclass(Control(idStatusBar), StatusWatch, 1, reinterpret_cast<DWORD_PTR>(this));
  }

  void Type(TBox box, const std::string &text) override {
    const int id = box == TBox::UserID ? idUserIDEdit : idPasswordEdit;
    ::SendMessageW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Widen(text).c_str()));
  }

  void Click(TButton button) override {
    const int id = button == TButton::Upload ? idBtnBackupWizard : idBtnRestoreWizard;
    ::SendMessageW(Control(id), BM_CLICK, 0, 0);
    PumpMessages();
  }

  // The window's client area as the X server shows it, read back from the screen (under Xvfb
  // no window manager draws a frame around it).
  bool SaveScreenshot(const std::string &path) override {
    HWND window = FForm->Handle();
    ::RedrawWindow(window, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
    PumpMessages();
    ::GdiFlush();
    RECT client;
    ::GetClientRect(window, &client);
    POINT origin{0, 0};
    ::ClientToScreen(window, &origin);
    const int width = client.right, height = client.bottom;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    TGdi<HBITMAP> picture(::CreateCompatibleBitmap(screen, width, height));
    HGDIOBJ old = ::SelectObject(memory, picture.Get());
    const bool copied =
        ::BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY) != 0;
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return copied && SavePng(picture.Get(), width, height, path);
  }

  bool HasWindow() const override { return FForm && FForm->Handle(); }

  TWinDemoHostUI &FHost;
  TForm1 *FForm = nullptr;
};

int Usage() {
  std::fprintf(stderr,
               "Usage: vantari-demo [--picture-only] [--port PORT] PICTURE USER PASSWORD "
               "SERVER_HOME SERVER_LOG\n"
               "The password is read from the environment variable DEMO_PASSWORD when "
               "PASSWORD is '-'. With --port the demo service on 127.0.0.1:PORT is used.\n");
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args = CommandLineArguments(argc, argv);
  const std::optional<TDemoOptions> options = ParseDemoOptions(std::move(args), true);
  if (!options)
    return Usage();
  std::thread([] {
    std::this_thread::sleep_for(kDemoLimit);
    std::fprintf(stderr, "FAILED: the demo did not end within %lld seconds\n",
                 static_cast<long long>(kDemoLimit.count()));
    std::fflush(stderr);
    std::_Exit(1);
  }).detach();

  TWorkflowConfig config = TWorkflowConfig::BuiltIn();
  if (options->Port) {
    config.FtpHost = "127.0.0.1";
    config.FtpPort = options->Port;
    config.PingTarget = "127.0.0.1";
  }
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  const bool com = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  // An exception no step catches would open the error box: print it instead.
  OnUncaught() = [](const std::string &message) {
    std::printf("  message [%s]: %s\n", TextProgramTitle, message.c_str());
    std::fflush(stdout);
  };
  TWinDemoHostUI host(TextProgramTitle);
  SetHostUI(&host);
  const int status = TDemo(*options, host).Run(std::move(config));
  SetHostUI(nullptr);
  if (com)
    ::CoUninitialize();
  return status;
}
