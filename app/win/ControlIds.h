#pragma once

// Every control of the program's windows has a fixed ID, so that GetDlgItem finds it (from its
// parent: the window or the panel it stands on) for tests and the demo.

namespace vantari::win {

enum TControlId : int {
  // The main window.
  idImage1 = 101,
  idPanel2 = 102,
  idBtnBackupWizard = 103,
  idBtnRestoreWizard = 104,
  idShape1 = 105,
  idPanel4 = 106,
  idLabel6 = 107,
  idLabel7 = 108,
  idUserIDEdit = 109,
  idPasswordEdit = 110,
  idShape2 = 111,
  idLabel4 = 112,
  idStatusBar = 113,
  idProgressBar = 114,  // inside the status bar
  idUndoDownload = 115, // the right-click menu's items
  idCopySupportReport = 116,
  idNightlyNotice = 117, // posted at the start: the box about last night's upload
  idRestoreFromHistory = 118,
  // The About dialog.
  idAboutPanel2 = 201,
  idAboutPanel3 = 202,
  idAboutLabel1 = 203, // the labels stand on Panel3
  idAboutLabel5 = 204,
  idAboutLabel2 = 205,
  idAboutLabel10 = 206,
  idAboutLabel3 = 207,
  idAboutLabel8 = 208,
  idAboutVersion = 209,
};

// Window classes, so that tests and the demo can find the windows.
inline constexpr const wchar_t *MainWindowClass = L"VantariForm1";
inline constexpr const wchar_t *AboutWindowClass = L"VantariForm2";

} // namespace vantari::win
