#pragma once

// What a failure box says under its established first line: one sentence for what happened,
// one for what to do. Plain, polite Korean for the person at the desk.

namespace vantari {

inline constexpr const char *CauseWrongLogin = "아이디 또는 비밀번호가 맞지 않습니다.";
inline constexpr const char *StepWrongLogin =
    "아이디와 비밀번호를 확인하신 뒤 다시 입력해 주십시오.";
inline constexpr const char *CauseServerNotAnswering = "백업 서버가 응답하지 않습니다.";
inline constexpr const char *StepServerNotAnswering =
    "잠시 후 다시 시도해 주십시오. 계속 안 되면 고객센터에 문의해 주십시오.";
inline constexpr const char *CauseHostNotFound = "백업 서버의 주소를 찾을 수 없습니다.";
inline constexpr const char *StepHostNotFound =
    "인터넷 연결을 확인하신 뒤 다시 시도해 주십시오. 계속 안 되면 고객센터에 문의해 주십시오.";
inline constexpr const char *CauseNoInternet = "이 컴퓨터가 인터넷에 연결되어 있지 않습니다.";
inline constexpr const char *StepNoInternet =
    "랜선이나 무선 인터넷 연결을 확인하신 뒤 다시 시도해 주십시오.";
inline constexpr const char *CauseServerChanged =
    "서버의 보안 정보가 지난번과 달라 접속을 멈췄으며, 컴퓨터와 서버의 자료는 그대로 "
    "두었습니다.";
inline constexpr const char *StepServerChanged =
    "다른 인터넷 연결에서 다시 시도하시거나 고객센터에 문의해 주십시오.";
inline constexpr const char *CauseNoServerArchive = "서버에 아직 올려 둔 백업 자료가 없습니다.";
inline constexpr const char *StepNoServerArchive =
    "먼저 자료가 있는 다른 컴퓨터에서 '자료 올리기'를 해 주십시오.";
inline constexpr const char *CauseServerFull = "백업 서버의 저장 공간이 가득 찼습니다.";
inline constexpr const char *StepServerFull = "고객센터에 문의해 주십시오.";
inline constexpr const char *CauseDiskFull = "이 컴퓨터의 디스크 공간이 부족합니다.";
inline constexpr const char *StepDiskFull =
    "필요 없는 파일을 지워 디스크 공간을 늘리신 뒤 다시 시도해 주십시오.";
inline constexpr const char *CauseNoDataFolder = "자료 폴더(%s)가 없습니다.";
inline constexpr const char *CauseNoDataFolderUnset =
    "이 컴퓨터에 루모라재고 세금계산서관리 프로그램의 자료 폴더가 정해져 있지 않습니다.";
inline constexpr const char *StepNoDataFolder =
    "루모라재고 세금계산서관리 프로그램을 한 번 실행하신 뒤 다시 시도해 주십시오.";
inline constexpr const char *CauseTableInUse = "%s 프로그램이 자료 파일을 열어 두고 있습니다.";
inline constexpr const char *CauseTableInUseUnknown =
    "다른 프로그램이 자료 파일을 열어 두고 있습니다.";
inline constexpr const char *StepTableInUse = "그 프로그램을 종료하신 뒤 다시 시도해 주십시오.";
inline constexpr const char *CauseCancelled =
    "작업을 취소하여 이 컴퓨터와 서버의 자료는 바뀌지 않았습니다.";
inline constexpr const char *StepCancelled = "필요하시면 다시 시도해 주십시오.";
inline constexpr const char *HeadlineNewerKept = "자료를 올리지 않았습니다.";
inline constexpr const char *CauseNewerKept =
    "다른 컴퓨터에서 올린 더 최근 자료를 서버에 그대로 두어, 아무것도 올리지 않았습니다.";
inline constexpr const char *StepNewerKept =
    "그 자료를 이 컴퓨터로 가져오시려면 '자료 내려받기'를 눌러 주십시오.";
inline constexpr const char *CauseDataLooksDamaged =
    "자료 파일 여러 개가 손상되었거나 암호화된 것 같아, 서버의 백업을 바꾸지 않았습니다.";
inline constexpr const char *StepDataLooksDamaged =
    "회계 프로그램에서 자료가 제대로 열리는지 확인해 주십시오. 자료가 망가졌다면 오른쪽 버튼 "
    "메뉴의 '이전 백업에서 복원…'으로 예전 자료를 되살리고 고객센터에 문의해 주십시오.";
inline constexpr const char *CauseBadLogin =
    "아이디나 비밀번호에 줄바꿈처럼 서버에 보낼 수 없는 글자가 들어 있습니다.";
inline constexpr const char *StepBadLogin = "아이디와 비밀번호를 지우고 다시 입력해 주십시오.";
inline constexpr const char *CauseOtherInstance =
    "다른 반타리 창이나 자동 백업이 같은 자료 폴더로 작업하고 있습니다.";
inline constexpr const char *StepOtherInstance =
    "그 작업이 끝날 때까지 기다리신 뒤 다시 시도해 주십시오.";
inline constexpr const char *CauseRestoreUnfinished =
    "지난번에 중간에 끊긴 복원을 마무리하지 못해, 자료 폴더를 더 이상 건드리지 않았습니다.";
inline constexpr const char *CauseArchiveWithoutTables =
    "서버의 백업 자료에 회계 자료 파일이 하나도 없어, 이 컴퓨터의 자료를 그대로 두었습니다.";
inline constexpr const char *StepArchiveWithoutTables =
    "자료가 있는 컴퓨터에서 '자료 올리기'를 다시 하신 뒤 내려받아 주십시오. 예전 자료가 "
    "필요하시면 오른쪽 버튼 메뉴의 '이전 백업에서 복원…'을 눌러 주십시오.";
inline constexpr const char *CauseNameNotAllowed =
    "백업 자료에 이 컴퓨터에서 쓸 수 없는 이름의 파일이 있어, 이 컴퓨터의 자료를 그대로 "
    "두었습니다.";
inline constexpr const char *CauseServerArchiveDamaged =
    "서버의 백업 자료가 온전하지 않아 받지 않았으며, 이 컴퓨터의 자료는 그대로 두었습니다.";
inline constexpr const char *StepServerArchiveDamaged =
    "자료가 있는 컴퓨터에서 '자료 올리기'를 다시 해 주십시오. 계속 안 되면 고객센터에 문의해 "
    "주십시오.";
inline constexpr const char *CauseArchiveDamaged =
    "받은 백업 자료가 손상되어 복원하지 않았으며, 이 컴퓨터의 자료는 그대로 두었습니다.";
inline constexpr const char *CauseNothingToUndo =
    "자료 내려받기 전에 남겨 둔 이 컴퓨터의 예전 자료가 없습니다.";
inline constexpr const char *StepNothingToUndo =
    "서버에 남겨 둔 예전 백업이 필요하시면 오른쪽 버튼 메뉴의 '이전 백업에서 복원…'을 눌러 "
    "주십시오.";
inline constexpr const char *CauseNoArchiveOfDay =
    "서버에 남아 있는 가장 오래된 백업은 %s에 올린 것입니다.";
inline constexpr const char *StepNoArchiveOfDay =
    "그 날짜나 그 뒤의 날짜를 골라 다시 시도해 주십시오.";
inline constexpr const char *CauseStateNotSaved =
    "다음 작업 때 서버의 자료와 비교할 기록을 이 컴퓨터에 남기지 못했습니다.";
inline constexpr const char *StepStateNotSaved =
    "디스크 공간이 넉넉한지 확인해 주십시오. 계속 이러면 고객센터에 문의해 주십시오.";
inline constexpr const char *CauseNoNightlyPassword =
    "자동 백업에 쓸 비밀번호가 이 컴퓨터에 남아 있지 않습니다.";
inline constexpr const char *StepNoNightlyPassword =
    "반타리 창에서 아이디와 비밀번호를 넣고 '자료 올리기'를 한 번 해 주십시오. 그 비밀번호를 "
    "자동 백업도 쓰게 됩니다.";
inline constexpr const char *StepReportToSupport =
    "오른쪽 버튼 메뉴의 '문제 신고용 정보 복사'를 눌러 고객센터에 보내 주십시오.";
inline constexpr const char *StepCallSupport =
    "자료 폴더와 백업 폴더를 그대로 두시고, 오른쪽 버튼 메뉴의 '문제 신고용 정보 복사'를 눌러 "
    "고객센터에 보내 주십시오.";
inline constexpr const char *CauseUnknown = "예상하지 못한 문제로 작업을 마치지 못했습니다.";
inline constexpr const char *StepUnknown =
    "다시 시도해 주십시오. 계속 안 되면 오른쪽 버튼 메뉴의 '문제 신고용 정보 복사'를 눌러 "
    "고객센터에 보내 주십시오.";

// The technical part of a box, for the support desk.
inline constexpr const char *DetailServerReply = "서버 응답: ";
inline constexpr const char *DetailSystemError = "시스템 오류: ";
inline constexpr const char *DetailTime = "시각: ";
inline constexpr const char *DetailsButton = "자세한 정보";

// The window's notice at its next start after a nightly upload that did not happen.
// The desktop notification at the moment the nightly upload fails.
inline constexpr const char *NoticeNightlyTitle = "반타리 자동 백업을 하지 못했습니다";
inline constexpr const char *NoticeNightlyFailed = "지난밤 자동 백업을 하지 못했습니다: ";
inline constexpr const char *NoticeUploadNow = "지금 '자료 올리기'를 눌러 주세요.";

// The window's right-click item that copies the report, and the About box's version line.
inline constexpr const char *TextCopySupportReport = "문제 신고용 정보 복사";
inline constexpr const char *TextVersionLabel = "버전 ";

// The report the person copies for the support desk ("문제 신고용 정보 복사").
inline constexpr const char *ReportTitle = "반타리 문제 신고용 정보";
inline constexpr const char *ReportVersion = "프로그램 버전: ";
inline constexpr const char *ReportSystem = "운영체제: ";
inline constexpr const char *ReportDataFolder = "자료 폴더: ";
inline constexpr const char *ReportMissing = " (없음)";
inline constexpr const char *ReportConfigFolder = "설정 폴더: ";
inline constexpr const char *ReportServer = "서버: ";
inline constexpr const char *ReportUser = "사용자 아이디: ";
inline constexpr const char *ReportTls = "보안 연결(TLS): ";
inline constexpr const char *ReportTlsOffered = ", 이 서버가 TLS를 쓴 적 있음";
inline constexpr const char *ReportPin = "고정된 서버 인증서: ";
inline constexpr const char *ReportNone = "없음";
inline constexpr const char *ReportLastUpload = "마지막 자료 올리기: ";
inline constexpr const char *ReportLastDownload = "마지막 자료 내려받기: ";
inline constexpr const char *ReportServerArchive = "서버 자료(마지막 확인): ";
inline constexpr const char *ReportNightly = "마지막 자동 백업: ";
inline constexpr const char *ReportNightlyOk = "성공";
inline constexpr const char *ReportNightlyFailed = "실패 - ";
inline constexpr const char *ReportLog = "작업 기록(마지막 100줄):";

} // namespace vantari
