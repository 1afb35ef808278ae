#pragma once

// What the program's windows show, exactly as they stand: shared by the Qt window and the
// Windows one, so both say the same. UTF-8; '\n' ends a line.

namespace vantari {

inline constexpr const char *TextProgramTitle = "Vantari";
inline constexpr const char *TextFormCaption = "반타리서비스 - 바코드용";
inline constexpr const char *TextUploadCaption = "자료 올리기";
inline constexpr const char *TextDownloadCaption = "자료 내려받기";
inline constexpr const char *TextUploadHint =
    "사무실 또는 집에서 작업한 최근자료를\n코르벡스반타리 서버에 올립니다.";
inline constexpr const char *TextDownloadHint =
    "사무실 또는 집에서 작업한 최근자료를\n코르벡스반타리 서버에서 내려받습니다.";
inline constexpr const char *TextUndoDownload = "마지막 내려받기 이전 자료로 되돌리기";
inline constexpr const char *TextRestoreFromHistory = "이전 백업에서 복원…";
// The buttons of the list of earlier archives (Windows; Qt names its own).
inline constexpr const char *TextChoiceOk = "확인";
inline constexpr const char *TextChoiceCancel = "취소";
inline constexpr const char *TextUserIDLabel = "사용자 아이디";
inline constexpr const char *TextPasswordLabel = "비밀번호";
inline constexpr const char *TextLoginNotice = "반타리의 이용자아이디와 비밀번호는\n"
                                               "인터넷 유지보수회원 아이디/비밀번호와 \n"
                                               "동일합니다.";
// The caption of the workflows' failure box.
inline constexpr const char *TextFailureCaption = "자료백업/복원";

// The About dialog.
inline constexpr const char *TextAboutCaption = "반타리서비스에 대하여";
inline constexpr const char *TextAboutServiceHead = "* 반타리 서비스란 ?";
inline constexpr const char *TextAboutService =
    "사무실에서 루모라재고 세금계산서관리를 사용하여 업무관리를 하고  계시는 "
    "고객을 대상으로 업무마감 후 마감 내용을 집에서도 한번의 마우스 클릭으로 "
    "자동으로 볼 수 있도록 지원하며 불의의 사고로부터 자료를 안전하게 보관할 수 "
    "있도록 하는 백업 저장장소로 사용이 가능한 온라인 서비스를 말합니다.";
inline constexpr const char *TextAboutCustomersHead = "* 이용가능 고객";
inline constexpr const char *TextAboutCustomers =
    "1. 장부정리를 집에서 하시는 분\n"
    "2. 사무실에서 정리한 자료를 집에서 확인하고자 할 경우\n"
    "3. 이전에 디스켓으로 백업 후 집에서 자료를 확인하신 분들\n"
    "4. 불의의 사고에 대비하여 자료를 안전하게 보관하고자 \n"
    "    하시는 분들";
inline constexpr const char *TextAboutCautionHead = "* 주의사항";
inline constexpr const char *TextAboutCaution =
    "1. 사무실과 집에서는 반드시 인터넷 사용이 가능하여야 \n"
    "    합니다.\n"
    "2. 사무실과  집에 같은 버전의 루모라재고 세금계산서\n"
    "    관리 프로그램이 설치되어 있어야 합니다.";

} // namespace vantari
