#pragma once

// Where the main window's controls stand and what they show, as the person sees them: one
// table that the Qt window's test and the Windows window's test both check against.

#include <cstdint>

namespace vantari::test {

struct TLaidOutControl {
  const char *Name;
  int Left, Top, Width, Height; // inside the control's parent (the window or its panel)
  const char *Text;
  bool Bold;
  uint32_t Colour; // 0xRRGGBB of the text
};

inline constexpr uint32_t LayoutBlack = 0x000000, LayoutRed = 0xff0000;

inline constexpr int MainWindowWidth = 275, MainWindowHeight = 358;
inline constexpr const char *MainWindowCaption = "반타리서비스 - 바코드용";
inline constexpr const char *UploadHint =
    "사무실 또는 집에서 작업한 최근자료를\n코르벡스반타리 서버에 올립니다.";
inline constexpr const char *DownloadHint =
    "사무실 또는 집에서 작업한 최근자료를\n코르벡스반타리 서버에서 내려받습니다.";

inline constexpr TLaidOutControl MainWindowControls[] = {
    {"Image1", 0, 0, 275, 169, "", false, LayoutBlack},
    {"Panel2", 0, 169, 275, 60, "", false, LayoutBlack},
    {"btnBackupWizard", 20, 16, 109, 25, "자료 올리기", false, LayoutBlack},
    {"btnRestoreWizard", 144, 16, 109, 25, "자료 내려받기", false, LayoutBlack},
    {"Shape1", 8, 52, 261, 1, "", false, LayoutBlack},
    {"Panel4", 0, 229, 275, 58, "", false, LayoutBlack},
    {"Label6", 35, 6, 83, 12, "사용자 아이디", true, LayoutBlack},
    {"Label7", 35, 31, 52, 12, "비밀번호", true, LayoutBlack},
    {"UserIDEdit", 124, 1, 113, 20, "", false, LayoutBlack},
    {"PasswordEdit", 124, 26, 113, 20, "", false, LayoutBlack},
    {"Shape2", 8, 53, 261, 1, "", false, LayoutBlack},
    {"Label4", 20, 292, 222, 36,
     "반타리의 이용자아이디와 비밀번호는\n인터넷 유지보수회원 아이디/비밀번호와 \n동일합니다.",
     false, LayoutRed},
    {"StatusBar", 0, 336, 275, 22, "", false, LayoutBlack},
};

} // namespace vantari::test
