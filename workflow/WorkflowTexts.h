#pragma once

// What the workflows say to the person: established texts, exactly as they stand.

namespace vantari {

inline constexpr const char *TextNoDataFolder =
    "루모라재고 세금계산서관리 프로그램의 자료 폴더를 찾을 수 없습니다.";
inline constexpr const char *TextAllDone = "모든 작업을 정상적으로 완료하였습니다.";
inline constexpr const char *TextBackupFailed = "백업에 실패하였습니다.";
inline constexpr const char *TextRestoreFailed = "복원에 실패하였습니다.";
inline constexpr const char *TextUploadFailed = "파일 올리기를 실패하였습니다.";
inline constexpr const char *TextDownloadFailed = "파일 받기에 실패하였습니다.";
inline constexpr const char *TextBadLogin =
    "사용자 아이디나 비밀번호에 쓸 수 없는 글자가 있습니다.";
inline constexpr const char *TextNewerOnServer =
    "다른 컴퓨터에서 더 최근에 올린 자료가 서버에 "
    "있습니다.\n그래도 이 컴퓨터의 자료로 바꾸시겠습니까?";
inline constexpr const char *TextNoInternet = "인터넷 연결이 되어있지 않습니다.";
inline constexpr const char *TextNoTables = "받은 백업파일에 회계 자료가 없어 복원하지 않았습니다.";
inline constexpr const char *TextLocalNewer =
    "이 컴퓨터에 서버의 백업보다 나중에 작업한 자료가 있습니다.\n"
    "그래도 서버의 자료로 바꾸시겠습니까?";
inline constexpr const char *TextInUse =
    "루모라재고 세금계산서관리 프로그램이 자료를 사용하고 있습니다.\n"
    "프로그램을 종료한 뒤 다시 시도하십시오.";
inline constexpr const char *TextRecoveryFailed =
    "지난번에 끝나지 못한 복원을 되돌리지 못했습니다.\n백업 폴더를 확인하십시오.";
inline constexpr const char *TextJournalUntrusted =
    "백업 폴더의 복원 기록 파일(%s)을 믿을 수 없어 자료를 그대로 두었습니다.\n"
    "데이터 폴더와 백업 폴더를 확인하십시오.";
inline constexpr const char *TextTablesLeave =
    "받은 백업파일에 없는 자료 %d개가 데이터 폴더에서 빠집니다.\n"
    "(이전 자료는 Backup 폴더에 보관됩니다.) 계속하시겠습니까?";
// A member the data folder cannot hold under its name (Windows): the member and the reason.
inline constexpr const char *TextNameNotHeld =
    "받은 백업파일의 \"%s\" 파일은 %s 이 컴퓨터에 복원할 수 없습니다.\n"
    "자료는 그대로 두었습니다.";
inline constexpr const char *TextNameEndsInDot = "이름이 점이나 빈칸으로 끝나서";
inline constexpr const char *TextNameIsDevice = "이름이 윈도우의 장치 이름이어서";
inline constexpr const char *TextNameBadCharacter = "이름에 윈도우가 쓰지 않는 글자가 있어서";
inline constexpr const char *TextNameNotInCodePage = "이름을 한글 코드로 읽을 수 없어서";
inline constexpr const char *TextNameCollides = "다른 파일과 이름이 겹쳐서";
inline constexpr const char *TextNothingToUndo = "되돌릴 이전 자료가 없습니다.";
inline constexpr const char *TextUndoFailed = "이전 자료로 되돌리지 못했습니다.";
inline constexpr const char *TextSyncStateNotSaved =
    "작업은 완료했지만 작업 기록 파일을 저장하지 못했습니다.";
inline constexpr const char *TextOtherInstance =
    "다른 반타리 프로그램이 실행 중입니다. 그 작업이 끝난 뒤 다시 시도하십시오.";
// A close during a run asks this; Yes cancels the run.
inline constexpr const char *TextCancelQuestion = "작업을 취소하시겠습니까?";
// The title of an archive begins with the minute it was made ("2026-12-08 14:05").
inline constexpr const char *TextArchiveTitle = "%s에 만든 백업파일";

// The status bar, step by step.
inline constexpr const char *StatusInternetOk = "인터넷 사용가능";
inline constexpr const char *StatusConnected = "서버 접속 완료";
inline constexpr const char *StatusBackupDone = "백업을 완료했습니다.";
inline constexpr const char *StatusUploading = "파일을 올리는 중...";
inline constexpr const char *StatusDownloading = "파일을 받는 중...";
inline constexpr const char *StatusTransferDone = "전송을 완료했습니다.";
inline constexpr const char *StatusRestoreDone = "복원을 완료했습니다.";
inline constexpr const char *StatusUndone = "되돌리기를 완료했습니다.";
inline constexpr const char *StatusDisconnected = "서버 단절";
// What the status bar keeps after a run that did not succeed.
inline constexpr const char *StatusCancelled = "작업을 취소했습니다.";
inline constexpr const char *StatusNotDone = "작업을 마치지 못했습니다.";

// The upload's guard against burying a good backup under damaged data.
inline constexpr const char *TextDataLooksDamaged =
    "자료 파일이 손상되었거나 암호화된 것 같습니다. 그래도 서버의 백업을 이 자료로 바꾸시겠습니까?";
inline constexpr const char *TextDamagedTables = "의심되는 자료 파일: %s";
inline constexpr const char *TextMoreTables = " 외 %d개";
inline constexpr const char *TextServerBackupKept =
    "서버의 백업을 바꾸지 않았습니다. 자료 파일을 확인하십시오.";

// The restore from the server's earlier archives.
inline constexpr const char *TextChooseHistory = "이전 백업에서 복원";
inline constexpr const char *TextHistoryLine = "%s    %s 바이트%s";
inline constexpr const char *TextHistoryCurrent = "  (지금 서버의 백업)";
inline constexpr const char *TextRestoreFromQuestion =
    "%s에 올린 백업으로 이 컴퓨터의 자료를 바꾸시겠습니까?\n"
    "(지금 자료는 Backup 폴더에 보관되어 되돌릴 수 있습니다.)";
inline constexpr const char *TextNoHistory = "서버에 복원할 수 있는 백업이 없습니다.";
inline constexpr const char *TextNoArchiveOfDay = "%s 또는 그 이전에 올린 백업이 서버에 없습니다.";

// The status bar's notice at the start when the last upload is more than a week old:
// "마지막 백업: N일 전".
inline constexpr const char *TextBackupAgeBefore = "마지막 백업: ";
inline constexpr const char *TextBackupAgeAfter = "일 전";

} // namespace vantari
