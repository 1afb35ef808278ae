#include "Unit1.h"

#include "Application.h"
#include "BackupFile.h"
#include "Cp949.h"
#include "FileSystem.h"
#include "HostUI.h"
#include "IdFTP.h"
#include "IdIcmpClient.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "UserRegistry.h"
#include "WindowLook.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QMouseEvent>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <sys/stat.h>

// The banner lives in the window library's resources, which a static link would drop.
static void InitWindowResources() {
  Q_INIT_RESOURCE(vantari);
}

namespace vantari {

namespace {

using std::chrono::milliseconds;

const char *const SettingsSection = "Server";
const char *const DatabaseKey = "Software\\Corvex\\LumoraBC\\Database";

// The accounting program's tables, packed in this order.
const char *const DataTables[] = {
    "AssemblyItem", "Bankbook",        "BusiPart",     "Chmod",        "CreditCard",
    "Employee",     "InOut",           "InOutAccount", "InvAdjust",    "InventoryTrack",
    "Item",         "ItemAsm",         "Note",         "Option",       "Payment",
    "Price",        "PriceSearchEach", "Purchase",     "PurchaseItem", "PurchaseType",
    "Quote",        "QuoteItem",       "QuoteRef",     "ReceivePay",   "ReceivePay2",
    "Sale",         "SaleItem",        "SaleType",     "StockValue",   "System01",
    "TaxBill",      "TransactLog",     "UserInfo"};

constexpr int32_t PingTimeout = 10000;
constexpr int32_t FloppyVolumeSize = 1400000;
constexpr milliseconds RepaintInterval{100};

const char *const TextNoDataFolder =
    "루모라재고 세금계산서관리 프로그램의 자료 폴더를 찾을 수 없습니다.";
const char *const TextAllDone = "모든 작업을 정상적으로 완료하였습니다.";
const char *const TextBackupFailed = "백업에 실패하였습니다.";
const char *const TextRestoreFailed = "복원에 실패하였습니다.";
const char *const TextUploadFailed = "파일 올리기를 실패하였습니다.";

std::string SettingsFile() {
  return ConfigFolder() + "FtpHost.ini";
}

// The registry value may end in a separator of either platform ("C:\Data\", "/srv/data/").
std::string WithoutTrailingSeparator(std::string folder) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
    folder.pop_back();
  return folder;
}

// "12.35 KB/s": two decimals, a point whatever the user's locale.
QString SpeedText(double speed) {
  char digits[32];
  const auto end =
      std::to_chars(digits, digits + sizeof digits, speed, std::chars_format::fixed, 2);
  return QString::fromLatin1(digits, static_cast<int>(end.ptr - digits)) + QStringLiteral(" KB/s");
}

// Runs its action when the scope ends, also when an exception passes.
template <class F> class TScopeExit {
public:
  explicit TScopeExit(F action) : FAction(std::move(action)) {}
  ~TScopeExit() { FAction(); }
  TScopeExit(const TScopeExit &) = delete;
  TScopeExit &operator=(const TScopeExit &) = delete;

private:
  F FAction;
};

void PlaceRule(QFrame &shape, const char *name, QRect geometry) {
  shape.setObjectName(QString::fromLatin1(name));
  shape.setGeometry(geometry);
  SetBackground(shape, Qt::black);
}

void PlacePanel(QFrame &panel, const char *name, QRect geometry, const QColor &colour) {
  panel.setObjectName(QString::fromLatin1(name));
  panel.setGeometry(geometry);
  panel.setFrameStyle(QFrame::NoFrame);
  SetBackground(panel, colour);
}

void PlaceButton(QToolButton &button, const char *name, QRect geometry, const QString &caption,
                 const QString &hint) {
  button.setObjectName(QString::fromLatin1(name));
  button.setGeometry(geometry);
  button.setText(caption);
  button.setToolTip(hint);
  button.setCursor(Qt::PointingHandCursor);
  button.setFocusPolicy(Qt::NoFocus);
  button.setAutoRaise(false);
}

void PlaceEdit(QLineEdit &edit, const char *name, QRect geometry) {
  edit.setObjectName(QString::fromLatin1(name));
  edit.setGeometry(geometry);
}

} // namespace

// One workflow at a time: while it runs the buttons start nothing and the ID and password
// stay as they were read. On every exit, an exception's included, an FTP session left open
// is closed so that the next click can log in again.
class TForm1::TWorkflowRun {
public:
  explicit TWorkflowRun(TForm1 &form) : FForm(form) { Lock(true); }
  ~TWorkflowRun() {
    try {
      if (FForm.IdFTP1->IsConnected()) {
        FForm.IdFTP1->CloseSession();
        FForm.SetStatus(QStringLiteral("서버 단절"));
      }
    } catch (const std::exception &) {
      // The connection is gone either way; the step that failed has been reported.
    }
    // Clicks that queued up while the steps only repainted land on disabled buttons.
    HostUI().ProcessMessages();
    Lock(false);
  }
  TWorkflowRun(const TWorkflowRun &) = delete;
  TWorkflowRun &operator=(const TWorkflowRun &) = delete;

private:
  void Lock(bool running) {
    FForm.FWorkflowRunning = running;
    FForm.btnBackupWizard.setEnabled(!running);
    FForm.btnRestoreWizard.setEnabled(!running);
    FForm.UserIDEdit.setReadOnly(running);
    FForm.PasswordEdit.setReadOnly(running);
  }

  TForm1 &FForm;
};

TForm1::TConfig TForm1::TConfig::BuiltIn() {
  TConfig config;
  config.FtpHost = VANTARI_FTP_HOST;
  config.FtpPort = VANTARI_FTP_PORT;
  config.PingTarget = VANTARI_PING_TARGET;
  return config;
}

TForm1::TForm1(TConfig config, QWidget *parent) : QWidget(parent), FConfig(std::move(config)) {
  InitWindowResources();
  BuildControls();
  CreateComponents();
  Application().Guard([this] { FormCreate(); });
  Form2 = std::make_unique<TForm2>(this);
}

TForm1::~TForm1() = default;

void TForm1::BuildControls() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("반타리서비스 - 바코드용"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(275, 358);
  setFont(WindowFont());
  const QColor window = palette().color(QPalette::Base);
  SetBackground(*this, window);

  Image1.setObjectName(QStringLiteral("Image1"));
  Image1.setPixmap(QPixmap(QStringLiteral(":/vantari/banner.png")));
  Image1.setGeometry(0, 0, 275, 169);
  Image1.setCursor(Qt::PointingHandCursor);
  Image1.installEventFilter(this);

  PlacePanel(Panel2, "Panel2", {0, 169, 275, 60}, window);
  const QString hintFirstLine = QStringLiteral("사무실 또는 집에서 작업한 최근자료를\n");
  PlaceButton(btnBackupWizard, "btnBackupWizard", {20, 16, 109, 25}, QStringLiteral("자료 올리기"),
              hintFirstLine + QStringLiteral("코르벡스반타리 서버에 올립니다."));
  PlaceButton(btnRestoreWizard, "btnRestoreWizard", {144, 16, 109, 25},
              QStringLiteral("자료 내려받기"),
              hintFirstLine + QStringLiteral("코르벡스반타리 서버에서 내려받습니다."));
  PlaceRule(Shape1, "Shape1", {8, 52, 261, 1});
  connect(&btnBackupWizard, &QToolButton::clicked, this,
          [this] { Application().Guard([this] { btnBackupWizardClick(); }); });
  connect(&btnRestoreWizard, &QToolButton::clicked, this,
          [this] { Application().Guard([this] { btnRestoreWizardClick(); }); });

  PlacePanel(Panel4, "Panel4", {0, 229, 275, 58}, window);
  QFont bold = font();
  bold.setBold(true);
  Label6.Place("Label6", {35, 6, 83, 12}, QStringLiteral("사용자 아이디"));
  Label6.setFont(bold);
  Label7.Place("Label7", {35, 31, 52, 12}, QStringLiteral("비밀번호"));
  Label7.setFont(bold);
  PlaceEdit(UserIDEdit, "UserIDEdit", {124, 1, 113, 20});
  PlaceEdit(PasswordEdit, "PasswordEdit", {124, 26, 113, 20});
  PasswordEdit.setEchoMode(QLineEdit::Password);
  PasswordEdit.setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  setTabOrder(&UserIDEdit, &PasswordEdit);
  PlaceRule(Shape2, "Shape2", {8, 53, 261, 1});

  Label4.Place("Label4", {20, 292, 222, 36},
               QStringLiteral("반타리의 이용자아이디와 비밀번호는\n"
                              "인터넷 유지보수회원 아이디/비밀번호와 \n"
                              "동일합니다."),
               Qt::red);

  StatusBar.setObjectName(QStringLiteral("StatusBar"));
  StatusBar.setGeometry(0, 336, 275, 22);
  ProgressBar.setObjectName(QStringLiteral("ProgressBar"));
  ProgressBar.setGeometry(0, 341, 101, 14);
  ProgressBar.setRange(0, 100);
  ProgressBar.setValue(0);
  ProgressBar.setTextVisible(false);

  UserIDEdit.setFocus();
}

void TForm1::CreateComponents() {
  BackupFile = std::make_unique<TBackupFile>();
  BackupFile->SetVersion("5.10");
  BackupFile->SetBackupMode(bmAll);
  BackupFile->SetCompressionLevel(clFastest);
  BackupFile->SetRestoreMode(rmAll);
  BackupFile->SetMaxSize(0);
  BackupFile->SetSetArchiveFlag(false);
  BackupFile->SetRestoreFullPath(false);
  BackupFile->SetSaveFileID(false);
  BackupFile->OnProgress = [this](TBackupFile &sender, const std::string &name, TPercentage percent,
                                  bool &go) { BackupFileProgress(sender, name, percent, go); };

  IdFTP1 = std::make_unique<TIdFTP>();
  IdFTP1->SetMaxLineAction(maException);
  IdFTP1->SetReadTimeout(0);
  IdFTP1->SetRecvBufferSize(8192);
  IdFTP1->SetSendBufferSize(1024);
  IdFTP1->SetPort(FConfig.FtpPort);
  IdFTP1->SetPassive(false);
  IdFTP1->SetPassword("anonymous@");
  IdFTP1->OnWorkBegin = [this](TIdComponent *sender, TWorkMode mode, int32_t max) {
    IdFTP1WorkBegin(sender, mode, max);
  };
  IdFTP1->OnWork = [this](TIdComponent *sender, TWorkMode mode, int32_t count) {
    IdFTP1Work(sender, mode, count);
  };
  IdFTP1->OnWorkEnd = [this](TIdComponent *sender, TWorkMode mode) { IdFTP1WorkEnd(sender, mode); };

  Ping = std::make_unique<TIdIcmpClient>();
  Ping->SetWaitCeiling(FConfig.PingWaitCeiling);

  FTransferShowTimer.setSingleShot(true);
  connect(&FTransferShowTimer, &QTimer::timeout, this, [this] { ShowTransfer(); });
}

void TForm1::FormCreate() {
  UserIDEdit.setText(QString::fromStdString(ReadSetting("HOSTID")));
  PasswordEdit.clear();
  ProgressBar.setParent(&StatusBar);
  ProgressBar.setGeometry(2, 3, 100, 18);
  ProgressBar.show();
  ReadDataFolder();
}

void TForm1::WriteSetting(const std::string &value, const std::string &key) {
  WritePrivateProfileString(SettingsSection, key, value, SettingsFile());
}

std::string TForm1::ReadSetting(const std::string &key) const {
  return GetPrivateProfileString(SettingsSection, key, key, SettingsFile());
}

void TForm1::ReadDataFolder() {
  TUserRegistry registry;
  std::string folder;
  if (registry.OpenKey(DatabaseKey, true)) {
    folder = registry.ReadString("DefaultDatabase");
    registry.CloseKey();
  }
  FDataFolder = WithoutTrailingSeparator(folder);
  FBackupFolder = FDataFolder + "/Backup";
}

void TForm1::Image1Click() {
  Form2->exec();
}

void TForm1::btnBackupWizardClick() {
  if (FWorkflowRunning)
    return;
  TWorkflowRun run(*this);
  UploadWorkflow();
}

void TForm1::btnRestoreWizardClick() {
  if (FWorkflowRunning)
    return;
  TWorkflowRun run(*this);
  DownloadWorkflow();
}

void TForm1::UploadWorkflow() {
  if (!HasDataFolder()) {
    HostUI().ShowMessage(TextNoDataFolder);
    return;
  }
  if (!CheckInternet() || !ConnectServer())
    return;
  if (!BackupData(LocalArchivePath())) {
    DisconnectServer();
    return;
  }
  if (UploadArchive())
    HostUI().ShowMessage(TextAllDone);
  DisconnectServer();
}

void TForm1::DownloadWorkflow() {
  if (!HasDataFolder()) {
    HostUI().ShowMessage(TextNoDataFolder);
    return;
  }
  if (!CheckInternet() || !ConnectServer())
    return;
  const bool downloaded = DownloadArchive();
  const bool restored = downloaded && RestoreData(LocalArchivePath());
  DisconnectServer();
  if (downloaded && restored)
    HostUI().ShowMessage(TextAllDone);
}

bool TForm1::CheckInternet() {
  Ping->SetReceiveTimeout(PingTimeout);
  Ping->SetHost(FConfig.PingTarget);
  bool reachable = true;
  for (int echo = 0; echo < 3; ++echo) {
    Ping->SendPing(std::string(), 0);
    if (Ping->LastEcho().SenderAddress == "0.0.0.0")
      reachable = false;
  }
  if (!reachable) {
    HostUI().ShowMessage("인터넷 연결이 되어있지 않습니다.");
    return false;
  }
  SetStatus(QStringLiteral("인터넷 사용가능"));
  FFtpHost = FConfig.FtpHost;
  return true;
}

bool TForm1::ConnectServer() {
  try {
    const std::string user = UserID();
    const std::string password = PasswordEdit.text().toStdString();
    IdFTP1->SetUsername(user);
    IdFTP1->SetPassword(password);
    IdFTP1->SetHost(FFtpHost);
    IdFTP1->OpenSession(true, -1);
    SetStatus(QStringLiteral("서버 접속 완료"));
    WriteSetting(FFtpHost, "FTPHOST");
    WriteSetting(user, "HOSTID");
    WriteSetting(password, "HOSTPASS");
    return true;
  } catch (const std::exception &) {
    HostUI().ShowMessage("서버 접속에 실패하였습니다.");
    return false;
  }
}

bool TForm1::BackupData(const std::string &archivePath) {
  std::vector<std::string> masks;
  for (const char *table : DataTables)
    masks.push_back(FDataFolder + "/" + table + ".*");
  const std::string folder = ExtractFileDir(archivePath);
  if (!DirectoryExists(folder))
    mkdir(folder.c_str(), 0777); // a failure shows as the engine's write error

  const bool floppy = !archivePath.empty() && std::toupper(archivePath[0]) == 'A';
  BackupFile->SetMaxSize(floppy ? FloppyVolumeSize : 0);
  const QString made = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm"));
  BackupFile->SetBackupTitle(Utf8ToCp949(made.toStdString() + "에 만든 백업파일"));
  BackupFile->SetBackupMode(bmAll);
  BackupFile->SetCompressionLevel(clFastest);
  BackupFile->SetSaveFileID(false);

  HostUI().SetCursor(TCursor::crAppStart);
  ProgressBar.setRange(0, 100);
  ProgressBar.show();
  bool result = false;
  {
    TScopeExit done([this] {
      ProgressBar.hide();
      SetStatus(QStringLiteral("백업을 완료했습니다."));
      HostUI().SetCursor(TCursor::crDefault);
    });
    result = BackupFile->Backup(masks, archivePath);
    // An archive without a single data file would replace the good copy on the server,
    // and the next download would restore it over good data.
    if (BackupFile->FilesProcessed() == 0)
      result = false;
  }
  if (!result)
    HostUI().ShowFailure(TextBackupFailed);
  return result;
}

bool TForm1::UploadArchive() {
  if (!IdFTP1->IsConnected())
    return false;
  ProgressBar.show();
  SetStatus(QStringLiteral("파일을 올리는 중..."));
  HostUI().ProcessMessages();
  try {
    IdFTP1->SetTransferType(ftBinary);
    const std::string local = LocalArchivePath();
    IdFTP1->UploadFile(local, RemoteArchiveName(), false);
    // A dropped connection looks like a finished one: what the server holds must be whole.
    const int32_t stored = IdFTP1->RemoteFileSize(RemoteArchiveName());
    if (stored >= 0 && stored != FileSize(local)) {
      HostUI().ShowMessage(TextUploadFailed);
      return false;
    }
    return true;
  } catch (const std::exception &) {
    HostUI().ShowMessage(TextUploadFailed);
    return false;
  }
}

bool TForm1::DownloadArchive() {
  if (!IdFTP1->IsConnected())
    return false;
  try {
    ProgressBar.show();
    SetStatus(QStringLiteral("파일을 받는 중..."));
    HostUI().ProcessMessages();
    IdFTP1->SetTransferType(ftBinary);
    FRemoteSize = IdFTP1->RemoteFileSize(RemoteArchiveName());
    IdFTP1->DownloadFile(RemoteArchiveName(), LocalArchivePath(), true, false);
    return true;
  } catch (const std::exception &) {
    HostUI().ShowMessage("파일 받기에 실패하였습니다.");
    return false;
  }
}

bool TForm1::RestoreData(const std::string &archivePath) {
  HostUI().SetCursor(TCursor::crHourGlass);
  ProgressBar.setRange(0, 100);
  ProgressBar.show();
  bool ok = true;
  const std::string second = SecondArchivePath();
  BackupFile->SetRestoreMode(rmAll);
  BackupFile->SetRestoreFullPath(false);
  {
    TScopeExit done([this] {
      SetStatus(QStringLiteral("복원을 완료했습니다."));
      HostUI().SetCursor(TCursor::crDefault);
    });
    // The data files go before the archive is unpacked, so a download that arrived cut
    // short or damaged must be found out first.
    ok = BackupFile->Verify(archivePath);
    if (ok)
      ok = DeleteDataFiles();
    if (ok)
      ok = BackupFile->Restore(archivePath, FDataFolder);
    if (ok)
      ok = BackupFile->Restore(second, FDataFolder);
  }
  if (!ok)
    HostUI().ShowFailure(TextRestoreFailed);
  return ok;
}

bool TForm1::DeleteDataFiles() {
  if (!HasDataFolder())
    return false; // never anywhere but in a real data folder
  for (const TSearchRec &entry : FindFiles(FDataFolder + "/*.*", 0))
    if (!DeleteFile(FDataFolder + "/" + entry.Name))
      return false;
  return true;
}

void TForm1::DisconnectServer() {
  IdFTP1->CloseSession();
  SetStatus(QStringLiteral("서버 단절"));
}

void TForm1::BackupFileProgress(TBackupFile &, const std::string &, uint8_t Percent, bool &) {
  if (!ProgressBar.isHidden())
    ProgressBar.setValue(Percent);
}

void TForm1::IdFTP1WorkBegin(TIdComponent *, TWorkMode, int32_t AWorkCountMax) {
  FTransferStart = Now();
  FShownSinceBegin = false;
  FTransferShowTimer.stop();
  // A download of unknown length (no size from the server) shows a busy bar.
  const int32_t maximum = AWorkCountMax > 0 ? AWorkCountMax : FRemoteSize;
  ProgressBar.setRange(0, std::max(maximum, 0));
  FTransferSpeed = 0;
}

void TForm1::IdFTP1Work(TIdComponent *, TWorkMode AWorkMode, int32_t AWorkCount) {
  const auto now = Now();
  const double seconds =
      std::chrono::duration_cast<milliseconds>(now - FTransferStart).count() / 1000.0;
  if (seconds > 0)
    FTransferSpeed = AWorkCount / 1024.0 / seconds;
  // Every piece is counted; the window is redrawn at most every 100 ms, so that a status
  // text for each 1024-byte send does not cost the transfer its speed.
  FWorkMode = AWorkMode;
  FWorkCount = AWorkCount;
  if (FShownSinceBegin && now - FLastShown < RepaintInterval) {
    // The last count of a burst is shown once the interval is over, even when the next
    // piece is slow to come.
    if (!FTransferShowTimer.isActive())
      FTransferShowTimer.start(RepaintInterval);
    return;
  }
  ShowTransfer();
  HostUI().ProcessPaintEvents();
}

void TForm1::ShowTransfer() {
  FTransferShowTimer.stop();
  FShownSinceBegin = true;
  FLastShown = Now();
  const QString label =
      FWorkMode == wmRead ? QStringLiteral("Download speed ") : QStringLiteral("Uploade speed ");
  SetStatus(label + SpeedText(FTransferSpeed));
  ProgressBar.setValue(FWorkCount);
}

void TForm1::IdFTP1WorkEnd(TIdComponent *, TWorkMode) {
  FTransferShowTimer.stop();
  SetStatus(QStringLiteral("전송을 완료했습니다."));
  FRemoteSize = 0;
  ProgressBar.setValue(0);
  FTransferSpeed = 0;
  ProgressBar.hide();
}

bool TForm1::HasDataFolder() const {
  return !FDataFolder.empty() && FDataFolder.front() == '/' && DirectoryExists(FDataFolder);
}

void TForm1::SetStatus(const QString &text) {
  StatusBar.SetPanelText(1, text);
}

std::string TForm1::UserID() const {
  return UserIDEdit.text().toStdString();
}

// The user ID names a file, never a folder: an ID such as "../x" would put the archive into
// the data folder, where the download's deletion would remove it before it is unpacked.
std::string TForm1::LocalArchivePath() const {
  std::string name = RemoteArchiveName();
  std::replace(name.begin(), name.end(), '/', '_');
  return FBackupFolder + "/" + name;
}

std::string TForm1::RemoteArchiveName() const {
  return UserID() + ".bck";
}

std::string TForm1::SecondArchivePath() const {
  if (!FConfig.SecondArchive.empty())
    return FConfig.SecondArchive;
  const std::string beside = ProgramFolder() + "zipcode.bck";
  if (FileExists(beside))
    return beside;
  return ExpandFileName(ProgramFolder() + "../share/vantari/zipcode.bck");
}

std::chrono::steady_clock::time_point TForm1::Now() const {
  return FConfig.Clock ? FConfig.Clock() : std::chrono::steady_clock::now();
}

bool TForm1::eventFilter(QObject *watched, QEvent *event) {
  if (watched == &Image1 && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
    Application().Guard([this] { Image1Click(); });
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::showEvent(QShowEvent *event) {
  if (!FCentred) {
    CentreOnScreen(*this);
    FCentred = true;
  }
  QWidget::showEvent(event);
}

// Closing in the middle of a workflow would leave a half-restored data folder behind.
void TForm1::closeEvent(QCloseEvent *event) {
  if (FWorkflowRunning)
    event->ignore();
  else
    event->accept();
}

} // namespace vantari
