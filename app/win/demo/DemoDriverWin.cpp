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
#include "Paths.h"
#include "Unit1Win.h"
#include "WinDemoHostUI.h"
#include "WinText.h"
#include "Workflow.h"
#include "WorkflowTexts.h"

#include <commctrl.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace vantari;
using namespace vantari::win;
namespace fs = std::filesystem;

namespace {

// A stuck step ends the demo as failed instead of hanging a script or CI.
constexpr std::chrono::seconds kDemoLimit{600};

struct TDemoOptions {
  bool PictureOnly = false;
  int Port = 0; // 0: the built-in service; else the demo service on 127.0.0.1
  std::string Screenshot, User, Password, ServerHome, ServerLog;
};

using TFolder = std::map<std::string, std::string>;

fs::path PathOf(const std::string &utf8) {
  return fs::path(Widen(utf8));
}

std::string FileBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The plain files directly in the folder, by name: what the accounting program reads.
TFolder Snapshot(const fs::path &folder) {
  TFolder files;
  for (const auto &entry : fs::directory_iterator(folder))
    if (entry.is_regular_file())
      files[Narrow(entry.path().filename().wstring())] = FileBytes(entry.path());
  return files;
}

void Say(const std::string &line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// The server's log from where it was last read: logins, transfers, logouts. The server runs
// beside Wine, so its paths are the Linux ones of the Z: drive.
class TServerLog {
public:
  TServerLog(const std::string &path, const std::string &home) : FPath(PathOf(path)) {
    FHome = home.size() > 2 && home[1] == ':' ? home.substr(2) : home;
    for (char &c : FHome)
      if (c == '\\')
        c = '/';
    FHome += "/";
  }

  void PrintNew() {
    std::ifstream in(FPath);
    in.seekg(FRead);
    std::string line;
    while (std::getline(in, line)) {
      if (in.eof())
        break; // a line still being written: read it whole next time
      FRead = in.tellg();
      const size_t tag = line.find("] ");
      if (tag != std::string::npos && line.find("-[") != std::string::npos)
        line.erase(0, tag + 2);
      for (size_t at = line.find(FHome); at != std::string::npos; at = line.find(FHome))
        line.erase(at, FHome.size());
      if (line.find("logged in") != std::string::npos ||
          line.find("completed=") != std::string::npos ||
          line.find("session closed") != std::string::npos)
        Say("  server: " + line);
    }
  }

private:
  fs::path FPath;
  std::string FHome;
  std::streampos FRead = 0;
};

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

class TDemo {
public:
  TDemo(TDemoOptions options, TWinDemoHostUI &host)
      : FOptions(std::move(options)), FHost(host),
        FServer(FOptions.ServerLog, FOptions.ServerHome) {}

  int Run(TWorkflowConfig config) {
    TForm1 form(std::move(config));
    FForm = &form;
    WatchStatus();
    FHost.BeforeBox = [this] { FServer.PrintNew(); };
    ::ShowWindow(form.Handle(), SW_SHOW);
    ::UpdateWindow(form.Handle());
    PumpMessages();
    if (!::IsWindowVisible(form.Handle()))
      return Fail("the window did not open");
    if (FOptions.PictureOnly)
      return Picture();
    const fs::path data = PathOf(form.Workflow().Settings().DataFolder());
    Say("Window open; data folder " + form.Workflow().Settings().DataFolder() + " (" +
        std::to_string(Snapshot(data).size()) + " files)");
    const TFolder uploaded = Snapshot(data);

    Say("Typing user ID '" + FOptions.User + "' and its password");
    Type(idUserIDEdit, FOptions.User);
    Type(idPasswordEdit, FOptions.Password);

    Say("Pressing 자료 올리기 (upload)");
    if (!Press(idBtnBackupWizard))
      return Fail("the upload did not succeed");
    const std::string archive = FOptions.User + ".bck";
    const fs::path remote = PathOf(FOptions.ServerHome) / PathOf(archive);
    const fs::path local = PathOf(form.Workflow().Settings().BackupFolder()) / PathOf(archive);
    if (!fs::exists(remote))
      return Fail("the server holds no " + archive);
    if (FileBytes(remote) != FileBytes(local))
      return Fail("the server's archive differs from the local one");
    Say("The server holds " + archive + ", " + std::to_string(fs::file_size(remote)) +
        " bytes, equal to the local archive");

    Say("Changing the data folder: one table deleted, one overwritten, one stray file");
    fs::remove(data / "Note.DB");
    std::ofstream(data / "Sale.DB", std::ios::trunc) << "changed after the upload\n";
    std::ofstream(data / "Stray.tmp") << "stray\n";

    Say("Pressing 자료 내려받기 (download)");
    if (!Press(idBtnRestoreWizard))
      return Fail("the download did not succeed");
    const TFolder restored = Snapshot(data);
    if (restored != uploaded)
      return Fail("the data folder differs from the uploaded data");
    Say("The data folder equals the uploaded data (" + std::to_string(restored.size()) + " files)");

    if (!SaveScreenshot(FOptions.Screenshot))
      return Fail("no picture of the window could be saved");
    Say("Screenshot: " + FOptions.Screenshot);
    Say("Demo passed.");
    return 0;
  }

private:
  // The window as it opens, with a password typed so that the masked box shows.
  int Picture() {
    Type(idPasswordEdit, FOptions.Password);
    if (!SaveScreenshot(FOptions.Screenshot))
      return Fail("no picture of the window could be saved");
    Say("Screenshot: " + FOptions.Screenshot);
    return 0;
  }

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

  // Every text the status bar's message panel shows, as it shows it; the speed only when its
  // whole number changes, so that the trace stays readable.
  static LRESULT CALLBACK StatusWatch(HWND bar, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR, DWORD_PTR self) {
    if (message == SB_SETTEXTW && LOBYTE(LOWORD(wParam)) == 1 && lParam)
      reinterpret_cast<TDemo *>(self)->StatusShown(
          Narrow(reinterpret_cast<const wchar_t *>(lParam)));
    return ::DefSubclassProc(bar, message, wParam, lParam);
  }

  void StatusShown(const std::string &line) {
    if (line.empty())
      return;
    const std::string shown = line.substr(0, line.find('.'));
    const bool speed = line.find(" speed ") != std::string::npos;
    if (speed && shown == FLastSpeed)
      return;
    FLastSpeed = speed ? shown : std::string();
    FServer.PrintNew();
    Say("  status: " + line);
  }

  void WatchStatus() {
    ::SetWindowSubclass(Control(idStatusBar), StatusWatch, 1, reinterpret_cast<DWORD_PTR>(this));
  }

  void Type(int id, const std::string &text) {
    ::SendMessageW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Widen(text).c_str()));
  }

  // Runs the button's whole workflow; true when it ended with the success message.
  bool Press(int id) {
    FHost.Messages.clear();
    ::SendMessageW(Control(id), BM_CLICK, 0, 0);
    PumpMessages();
    FServer.PrintNew();
    return !FHost.Messages.empty() && FHost.Messages.back() == TextAllDone;
  }

  // The window's client area as the X server shows it, read back from the screen (under Xvfb
  // no window manager draws a frame around it).
  bool SaveScreenshot(const std::string &path) {
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

  int Fail(const std::string &why) {
    FServer.PrintNew();
    std::fprintf(stderr, "FAILED: %s\n", why.c_str());
    if (FForm && FForm->Handle() && !FOptions.Screenshot.empty()) {
      std::string picture = FOptions.Screenshot;
      picture.replace(picture.find_last_of("\\/") + 1, std::string::npos, "failure.png");
      if (SaveScreenshot(picture))
        std::fprintf(stderr, "A picture of the window is in %s\n", picture.c_str());
    }
    return 1;
  }

  TDemoOptions FOptions;
  TWinDemoHostUI &FHost;
  TServerLog FServer;
  TForm1 *FForm = nullptr;
  std::string FLastSpeed;
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
  TDemoOptions options;
  while (!args.empty() && args[0].starts_with("--")) {
    if (args[0] == "--picture-only") {
      options.PictureOnly = true;
    } else if (args[0] == "--port" && args.size() > 1) {
      options.Port = std::atoi(args[1].c_str());
      args.erase(args.begin());
    } else {
      return Usage();
    }
    args.erase(args.begin());
  }
  if (args.size() != 5)
    return Usage();
  options.Screenshot = args[0];
  options.User = args[1];
  options.Password = args[2];
  options.ServerHome = args[3];
  options.ServerLog = args[4];
  if (options.Password == "-") {
    const char *password = std::getenv("DEMO_PASSWORD");
    options.Password = password ? password : "";
  }
  std::thread([] {
    std::this_thread::sleep_for(kDemoLimit);
    std::fprintf(stderr, "FAILED: the demo did not end within %lld seconds\n",
                 static_cast<long long>(kDemoLimit.count()));
    std::fflush(stderr);
    std::_Exit(1);
  }).detach();

  TWorkflowConfig config = TWorkflowConfig::BuiltIn();
  if (options.Port) {
    config.FtpHost = "127.0.0.1";
    config.FtpPort = options.Port;
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
  TWinDemoHostUI host;
  SetHostUI(&host);
  const int status = TDemo(options, host).Run(std::move(config));
  SetHostUI(nullptr);
  if (com)
    ::CoUninitialize();
  return status;
}
