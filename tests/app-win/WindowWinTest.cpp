// The Windows main window as the person sees it, read back through Win32: where each control
// stands inside its parent, what it says, its face, the hints of the two buttons, its boxes and
// right-click menu, and the nightly program's balloon.
#include "../WindowTexts.h"
#include "ControlIds.h"
#include "FailureCause.h"
#include "FailureTexts.h"
#include "MainWindowLayout.h"
#include "SettingsStore.h"
#include "SyncState.h"
#include "SystemInfo.h"
#include "TlsFtpServers.h"
#include "Unit1Win.h"
#include "WinHostUI.h"
#include "WinText.h"
#include "WorkflowTexts.h"

#include <commctrl.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>

namespace vantari::test {
namespace {

using namespace vantari::win;

const std::map<std::string, int> ControlIds = {
    {"Image1", idImage1},
    {"Panel2", idPanel2},
    {"btnBackupWizard", idBtnBackupWizard},
    {"btnRestoreWizard", idBtnRestoreWizard},
    {"Shape1", idShape1},
    {"Panel4", idPanel4},
    {"Label6", idLabel6},
    {"Label7", idLabel7},
    {"UserIDEdit", idUserIDEdit},
    {"PasswordEdit", idPasswordEdit},
    {"Shape2", idShape2},
    {"Label4", idLabel4},
    {"StatusBar", idStatusBar},
};

class WindowWinTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  }

  // A control anywhere in the window, by its ID.
  static HWND Find(HWND window, int id) {
    struct TSearch {
      int Id;
      HWND Found;
    } search{id, nullptr};
    ::EnumChildWindows(
        window,
        [](HWND child, LPARAM data) -> BOOL {
          auto *s = reinterpret_cast<TSearch *>(data);
          if (::GetDlgCtrlID(child) != s->Id)
            return TRUE;
          s->Found = child;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.Found;
  }

  static std::string ClassOf(HWND control) {
    wchar_t name[64] = {};
    ::GetClassNameW(control, name, 64);
    ::CharLowerW(name);
    return Narrow(name);
  }

  // The hint the tooltip of window shows over control.
  static std::string Hint(HWND window, HWND control) {
    struct TSearch {
      HWND Owner;
      HWND Found;
    } search{window, nullptr};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND w, LPARAM data) -> BOOL {
          auto *s = reinterpret_cast<TSearch *>(data);
          if (ClassOf(w) != "tooltips_class32" || ::GetWindow(w, GW_OWNER) != s->Owner)
            return TRUE;
          s->Found = w;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    HWND hints = search.Found;
    if (!hints)
      return "(no tooltip)";
    wchar_t text[512] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = ::GetParent(control);
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = text;
    ::SendMessageW(hints, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
    return Narrow(text);
  }
};

std::string FaceOf(HDC dc) {
  wchar_t face[LF_FACESIZE] = {};
  ::GetTextFaceW(dc, LF_FACESIZE, face);
  return Narrow(face);
}

TEST_F(WindowWinTest, MainWindowControlsLookAsLaidOut) {
  TForm1 form;
  HWND window = form.Handle();
  ASSERT_NE(window, nullptr);
  RECT client;
  ::GetClientRect(window, &client);
  EXPECT_EQ(client.right, MainWindowWidth);
  EXPECT_EQ(client.bottom, MainWindowHeight);
  EXPECT_EQ(WindowText(window), MainWindowCaption);
  const LONG style = ::GetWindowLongW(window, GWL_STYLE);
  EXPECT_FALSE(style & (WS_THICKFRAME | WS_MAXIMIZEBOX)) << "the size is fixed";

  HDC dc = ::GetDC(window);
  for (const TLaidOutControl &want : MainWindowControls) {
    SCOPED_TRACE(want.Name);
    HWND control = Find(window, ControlIds.at(want.Name));
    ASSERT_NE(control, nullptr);
    RECT at;
    ::GetWindowRect(control, &at);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT *>(&at), 2);
    EXPECT_EQ(at.left, want.Left);
    EXPECT_EQ(at.top, want.Top);
    EXPECT_EQ(at.right - at.left, want.Width);
    EXPECT_EQ(at.bottom - at.top, want.Height);
    const std::string kind = ClassOf(control);
    if (kind == "static" || kind == "button") {
      EXPECT_EQ(WindowText(control), want.Text);
    }
    if (kind != "static" || !*want.Text)
      continue;

    // A label: its face, weight and colour, and every line whole inside it.
    auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTW asked{};
    ::GetObjectW(font, sizeof(asked), &asked);
    EXPECT_EQ(asked.lfHeight, -12);
    HGDIOBJ old = ::SelectObject(dc, font);
    const std::string face = FaceOf(dc);
    EXPECT_TRUE(face == "Gulim" || face == "굴림" || face == "Baekmuk Gulim" ||
                face == "NanumGothic")
        << face;
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    EXPECT_EQ(metrics.tmWeight >= FW_BOLD, want.Bold) << metrics.tmWeight;
    ::SetTextCharacterExtra(dc, LetterSpacing()); // as the labels are drawn
    std::istringstream lines(want.Text);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
      const std::wstring wide = Widen(line.substr(0, line.find_last_not_of(' ') + 1));
      SIZE size{};
      ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
      EXPECT_LE(size.cx, want.Width) << line;
    }
    EXPECT_LE(count * metrics.tmHeight, want.Height);
    ::SelectObject(dc, old);
    ::SendMessageW(::GetParent(control), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(control));
    const COLORREF colour = ::GetTextColor(dc);
    EXPECT_EQ((GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour),
              want.Colour);
  }
  ::ReleaseDC(window, dc);

  HWND password = Find(window, idPasswordEdit);
  EXPECT_TRUE(::GetWindowLongW(password, GWL_STYLE) & ES_PASSWORD);
  EXPECT_EQ(::SendMessageW(password, EM_GETPASSWORDCHAR, 0, 0), L'*');
  EXPECT_EQ(Hint(window, Find(window, idBtnBackupWizard)), UploadHint);
  EXPECT_EQ(Hint(window, Find(window, idBtnRestoreWizard)), DownloadHint);
  // The progress bar stands inside the status bar's first panel.
  HWND bar = Find(window, idStatusBar);
  HWND progress = Find(window, idProgressBar);
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(::GetParent(progress), bar);
  RECT first, progressAt;
  ::SendMessageW(bar, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&first));
  ::GetWindowRect(progress, &progressAt);
  ::MapWindowPoints(nullptr, bar, reinterpret_cast<POINT *>(&progressAt), 2);
  EXPECT_GE(progressAt.left, first.left);
  EXPECT_LE(progressAt.right, first.right);
  EXPECT_EQ(::SendMessageW(bar, SB_GETPARTS, 0, 0), 2);
}

// What a box or dialog of this thread showed when a timer found it, for the tests below.
struct TSeen {
  const wchar_t *Class = nullptr; // the window class looked for
  std::string Caption;
  RECT Client{};
  bool OwnerDisabled = false;
  std::function<void(HWND)> Answer;
} seen;

void CALLBACK AnswerWhenShown(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND found = nullptr;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND w, LPARAM data) -> BOOL {
        wchar_t name[64] = {};
        ::GetClassNameW(w, name, 64);
        if (wcscmp(name, seen.Class) != 0 || !::IsWindowVisible(w))
          return TRUE;
        *reinterpret_cast<HWND *>(data) = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  if (!found)
    return; // not up yet: the next tick looks again
  ::KillTimer(nullptr, timer);
  seen.Caption = WindowText(found);
  ::GetClientRect(found, &seen.Client);
  HWND owner = ::GetWindow(found, GW_OWNER);
  seen.OwnerDisabled = owner && !::IsWindowEnabled(owner);
  seen.Answer(found);
}

TEST_F(WindowWinTest, BannerClickOpensTheAboutDialogModally) {
  TForm1 form;
  ::ShowWindow(form.Handle(), SW_SHOW);
  seen = TSeen();
  seen.Class = AboutWindowClass;
  seen.Answer = [](HWND about) { ::PostMessageW(about, WM_CLOSE, 0, 0); };
  ::SetTimer(nullptr, 0, 20, AnswerWhenShown);
  HWND banner = Find(form.Handle(), idImage1);
  ::SendMessageW(banner, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 80));
  ::SendMessageW(banner, WM_LBUTTONUP, 0, MAKELPARAM(100, 80));
  EXPECT_EQ(seen.Caption, "반타리서비스에 대하여");
  EXPECT_EQ(seen.Client.right, 349);
  EXPECT_EQ(seen.Client.bottom, 282);
  EXPECT_TRUE(seen.OwnerDisabled) << "the About dialog is modal";
  EXPECT_EQ(form.AboutDialog().Handle(), nullptr) << "closed";
  EXPECT_TRUE(::IsWindowEnabled(form.Handle()));
}

// Enter on a question must never replace anybody's data: No is the default button.
TEST_F(WindowWinTest, QuestionAnswersNoUnlessYesIsChosen) {
  TWinHostUI host;
  seen = TSeen();
  seen.Class = L"#32770";
  seen.Answer = [](HWND box) { ::PostMessageW(box, WM_KEYDOWN, VK_RETURN, 0); };
  ::SetTimer(nullptr, 0, 20, AnswerWhenShown);
  EXPECT_FALSE(host.AskYesNo("그래도 서버의 자료로 바꾸시겠습니까?"));
  EXPECT_EQ(seen.Caption, "Vantari");
  seen.Answer = [](HWND box) { ::PostMessageW(box, WM_COMMAND, IDYES, 0); };
  ::SetTimer(nullptr, 0, 20, AnswerWhenShown);
  EXPECT_TRUE(host.AskYesNo("그래도 서버의 자료로 바꾸시겠습니까?"));
}

// %APPDATA% and %LOCALAPPDATA% in a folder of the test's own: the settings and the sync state
// the window reads are the test's.
class TPrivateHome {
public:
  TPrivateHome() {
    const std::wstring root = std::filesystem::absolute(FFolder.Path()).make_preferred().wstring();
    ::SetEnvironmentVariableW(L"APPDATA", root.c_str());
    ::SetEnvironmentVariableW(L"LOCALAPPDATA", root.c_str());
  }
  ~TPrivateHome() {
    ::SetEnvironmentVariableW(L"APPDATA", nullptr);
    ::SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
  }

private:
  TTempFolder FFolder;
};

// Runs this thread's messages until done says so, for at most ten seconds.
void PumpUntil(const std::function<bool()> &done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done() && std::chrono::steady_clock::now() < until) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
      ::DispatchMessageW(&message);
  }
}

// The failure box: the caption and icon its headline always had, the headline, cause and next
// step in that order, the details only once "자세한 정보" is pressed, and OK ends it.
TEST_F(WindowWinTest, FailureReportShowsItsDetailsOnlyWhenAskedFor) {
  TWinHostUI host;
  for (const bool failureBox : {true, false}) {
    SCOPED_TRACE(failureBox ? "failure box" : "plain box");
    const TFailureReport report{TextDownloadFailed, CauseWrongLogin, StepWrongLogin,
                                std::string(DetailServerReply) + "530 Login incorrect.\n" +
                                    DetailTime + "2026-12-09 02:00:00",
                                failureBox};
    std::string content;
    bool icon = false, detailsHidden = false, detailsShown = false;
    seen = TSeen();
    seen.Class = L"#32770";
    seen.Answer = [&](HWND box) {
      HWND more = nullptr, details = nullptr;
      for (HWND child = ::GetWindow(box, GW_CHILD); child;
           child = ::GetWindow(child, GW_HWNDNEXT)) {
        const std::string kind = ClassOf(child), text = WindowText(child);
        if (kind == "static" && (::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
          icon = true;
        else if (text.find(report.Headline) != std::string::npos)
          content = text;
        else if (text == report.Details)
          details = child;
        else if (kind == "button" && text == DetailsButton)
          more = child;
      }
      if (more && details) {
        detailsHidden = !::IsWindowVisible(details);
        ::SendMessageW(more, BM_CLICK, 0, 0);
        detailsShown = ::IsWindowVisible(details);
      }
      HWND ok = ::GetDlgItem(box, IDOK);
      ok ? (void)::SendMessageW(ok, BM_CLICK, 0, 0) : (void)::PostMessageW(box, WM_CLOSE, 0, 0);
    };
    ::SetTimer(nullptr, 0, 20, AnswerWhenShown);
    host.ShowFailureReport(report); // returns once OK is pressed
    EXPECT_EQ(seen.Caption, failureBox ? TextFailureCaption : TextProgramTitle);
    EXPECT_EQ(icon, failureBox);
    const size_t cause = content.find(report.Cause);
    EXPECT_EQ(content.find(report.Headline), 0u) << content;
    EXPECT_NE(cause, std::string::npos) << content;
    EXPECT_LT(cause, content.find(report.NextStep)) << content;
    EXPECT_EQ(content.find(DetailServerReply), std::string::npos) << "the details wait";
    EXPECT_TRUE(detailsHidden);
    EXPECT_TRUE(detailsShown);
  }
}

// "문제 신고용 정보 복사" chosen from the window's right-click menu: the report for the ID as
// typed is on the clipboard, and the password typed beside it is not.
TEST_F(WindowWinTest, ReportCopiedFromTheMenuLeavesThePasswordOut) {
  TPrivateHome home;
  TForm1 form;
  ::ShowWindow(form.Handle(), SW_SHOW);
  ::SetWindowTextW(Find(form.Handle(), idUserIDEdit), L"clerk01");
  ::SetWindowTextW(Find(form.Handle(), idPasswordEdit), L"typed-s3cret");
  if (::OpenClipboard(nullptr)) {
    ::EmptyClipboard();
    ::CloseClipboard();
  }
  seen = TSeen();
  seen.Class = L"#32768"; // a popup menu
  seen.Answer = [](HWND menuWindow) {
    auto menu = reinterpret_cast<HMENU>(::SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
    int item = ::GetMenuItemCount(menu) - 1;
    for (; item >= 0; --item) {
      wchar_t text[64] = {};
      ::GetMenuStringW(menu, item, text, 64, MF_BYPOSITION);
      if (Narrow(text) == TextCopySupportReport)
        break;
    }
    for (int down = 0; down <= item; ++down) // none when the item is missing: Escape closes
      ::PostMessageW(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
    ::PostMessageW(menuWindow, WM_KEYDOWN, item < 0 ? VK_ESCAPE : VK_RETURN, 0);
  };
  ::SetTimer(nullptr, 0, 20, AnswerWhenShown);
  ::SendMessageW(form.Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(form.Handle()),
                 MAKELPARAM(60, 60));
  std::string report;
  PumpUntil([&] {
    if (!::IsClipboardFormatAvailable(CF_UNICODETEXT) || !::OpenClipboard(nullptr))
      return false;
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
      report = Narrow(static_cast<const wchar_t *>(::GlobalLock(data)));
      ::GlobalUnlock(data);
    }
    ::CloseClipboard();
    return true;
  });
  EXPECT_EQ(report.rfind(std::string(ReportTitle) + "\n", 0), 0u) << report;
  EXPECT_NE(report.find(std::string(ReportUser) + "clerk01"), std::string::npos) << report;
  EXPECT_EQ(report.find("typed-s3cret"), std::string::npos);
}

// A nightly upload that did not happen is told, with its cause, in a box once the window stands
// (never from inside its making, before it shows).
TEST_F(WindowWinTest, FailedNightlyUploadIsToldOnceTheWindowStands) {
  TPrivateHome home;
  TSettingsStore().WriteSetting("clerk01", "HOSTID");
  TSyncState().SetLastNightly("clerk01", std::time(nullptr), false, TFailureCause::fcWrongLogin,
                              CauseWrongLogin);
  TWinHostUI host;
  SetHostUI(&host);
  HWND window = nullptr;
  std::string text;
  bool windowStands = false;
  seen = TSeen();
  seen.Class = L"#32770";
  seen.Answer = [&](HWND box) {
    text = WindowText(::GetDlgItem(box, 0xFFFF)); // a message box's text
    windowStands = window && ::IsWindowVisible(window);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  };
  ::SetTimer(nullptr, 0, 20, AnswerWhenShown);
  TForm1 form;
  window = form.Handle();
  ::ShowWindow(window, SW_SHOW);
  PumpUntil([] { return !seen.Caption.empty(); });
  SetHostUI(nullptr);
  EXPECT_EQ(seen.Caption, TextProgramTitle);
  EXPECT_EQ(text.rfind(NoticeNightlyFailed + std::string(CauseWrongLogin), 0), 0u) << text;
  EXPECT_NE(text.find(StepWrongLogin), std::string::npos) << text;
  EXPECT_TRUE(windowStands);
}

// The nightly program's balloon: Wine's desktop has a notification area that takes it, and the
// call returns once the balloon has stood its time.
TEST(DesktopNoticeWinTest, BalloonIsTakenAndStandsItsTime) {
  const auto begun = std::chrono::steady_clock::now();
  EXPECT_TRUE(
      ShowDesktopNotice(NoticeNightlyTitle, CauseWrongLogin, std::chrono::milliseconds(300)));
  EXPECT_GE(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(300));
}

} // namespace
} // namespace vantari::test
