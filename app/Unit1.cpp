#include "Unit1.h"

#include "Application.h"
#include "HostUI.h"
#include "IdWait.h"
#include "WindowLook.h"
#include "WindowTexts.h"
#include "Workflow.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <algorithm>
#include <ctime>
#include <exception>
#include <utility>

// The banner lives in the window library's resources, which a static link would drop.
static void InitWindowResources() {
  Q_INIT_RESOURCE(vantari);
}

namespace vantari {

// One workflow at a time: while it runs the buttons start nothing and the ID and password
// stay as they were read.
class TForm1::TWorkflowRun {
public:
  explicit TWorkflowRun(TForm1 &form) : FForm(form) {
    Lock(true);
    if (FForm.StatusBar.PanelText(1).startsWith(QString::fromUtf8(TextBackupAgePrefix)))
      FForm.SetStatus(QString()); // the age notice of the start
  }
  ~TWorkflowRun() {
    // Clicks that queued up while the steps only repainted land on disabled buttons.
    HostUI().ProcessMessages();
    Lock(false);
    // The close that cancelled the run goes through now that the run has put things back.
    if (std::exchange(FForm.FCloseWhenDone, false))
      FForm.close();
  }
  TWorkflowRun(const TWorkflowRun &) = delete;
  TWorkflowRun &operator=(const TWorkflowRun &) = delete;

private:
  void Lock(bool running) {
    FForm.FWorkflowRunning = running;
    FForm.btnBackupWizard.setEnabled(!running);
    FForm.btnRestoreWizard.setEnabled(!running);
    FForm.UndoDownloadAction.setEnabled(!running);
    FForm.RestoreFromHistoryAction.setEnabled(!running);
    FForm.UserIDEdit.setReadOnly(running);
    FForm.PasswordEdit.setReadOnly(running);
  }

  TForm1 &FForm;
};

TForm1::TForm1(TConfig config, QWidget *parent)
    : QWidget(parent), FWorkflow(std::make_unique<TWorkflow>(std::move(config))) {
  InitWindowResources();
  BuildControls();
  CreateComponents();
  Application().Guard([this] { FormCreate(); });
  Form2 = std::make_unique<TForm2>(this);
}

TForm1::~TForm1() = default;

void TForm1::BuildControls() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromUtf8(TextFormCaption));
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
  PlaceButton(btnBackupWizard, "btnBackupWizard", {20, 16, 109, 25},
              QString::fromUtf8(TextUploadCaption), QString::fromUtf8(TextUploadHint));
  PlaceButton(btnRestoreWizard, "btnRestoreWizard", {144, 16, 109, 25},
              QString::fromUtf8(TextDownloadCaption), QString::fromUtf8(TextDownloadHint));
  PlaceRule(Shape1, "Shape1", {8, 52, 261, 1});
  connect(&btnBackupWizard, &QToolButton::clicked, this,
          [this] { Application().Guard([this] { btnBackupWizardClick(); }); });
  connect(&btnRestoreWizard, &QToolButton::clicked, this,
          [this] { Application().Guard([this] { btnRestoreWizardClick(); }); });

  // Reached by a right click anywhere on the window, so the layout stays as it is.
  UndoDownloadAction.setObjectName(QStringLiteral("UndoDownloadAction"));
  UndoDownloadAction.setText(QString::fromUtf8(TextUndoDownload));
  addAction(&UndoDownloadAction);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  connect(&UndoDownloadAction, &QAction::triggered, this,
          [this] { Application().Guard([this] { UndoDownloadClick(); }); });
  RestoreFromHistoryAction.setObjectName(QStringLiteral("RestoreFromHistoryAction"));
  RestoreFromHistoryAction.setText(QString::fromUtf8(TextRestoreFromHistory));
  addAction(&RestoreFromHistoryAction);
  connect(&RestoreFromHistoryAction, &QAction::triggered, this,
          [this] { Application().Guard([this] { RestoreFromHistoryClick(); }); });

  PlacePanel(Panel4, "Panel4", {0, 229, 275, 58}, window);
  QFont bold = font();
  bold.setBold(true);
  Label6.Place("Label6", {35, 6, 83, 12}, QString::fromUtf8(TextUserIDLabel));
  Label6.setFont(bold);
  Label7.Place("Label7", {35, 31, 52, 12}, QString::fromUtf8(TextPasswordLabel));
  Label7.setFont(bold);
  PlaceEdit(UserIDEdit, "UserIDEdit", {124, 1, 113, 20});
  PlaceEdit(PasswordEdit, "PasswordEdit", {124, 26, 113, 20});
  PasswordEdit.setEchoMode(QLineEdit::Password);
  PasswordEdit.setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  setTabOrder(&UserIDEdit, &PasswordEdit);
  PlaceRule(Shape2, "Shape2", {8, 53, 261, 1});

  Label4.Place("Label4", {20, 292, 222, 36}, QString::fromUtf8(TextLoginNotice), Qt::red);

  StatusBar.setObjectName(QStringLiteral("StatusBar"));
  StatusBar.setGeometry(0, 336, 275, 22);
  ProgressBar.setObjectName(QStringLiteral("ProgressBar"));
  ProgressBar.setGeometry(0, 341, 101, 14);
  ProgressBar.setRange(0, 100);
  ProgressBar.setValue(0);
  ProgressBar.setTextVisible(false);

  UserIDEdit.setFocus();
}

// The workflow layer's reports drive the status bar and the progress bar.
void TForm1::CreateComponents() {
  TWorkflow &workflow = *FWorkflow;
  workflow.OnStatus = [this](const std::string &text) { SetStatus(QString::fromStdString(text)); };
  workflow.OnProgressShow = [this](int32_t maximum) {
    ProgressBar.setRange(0, std::max(maximum, 0));
    ProgressBar.show();
  };
  workflow.OnProgressPosition = [this](int32_t position) {
    if (!ProgressBar.isHidden())
      ProgressBar.setValue(position);
  };
  workflow.OnProgressHide = [this] { ProgressBar.hide(); };
  workflow.OnWorkBegin = [this](TWorkMode mode, int32_t maximum) {
    IdFTP1WorkBegin(nullptr, mode, maximum);
  };
  workflow.OnWork = [this](TWorkMode mode, int32_t count) { IdFTP1Work(nullptr, mode, count); };
  workflow.OnWorkEnd = [this](TWorkMode mode) { IdFTP1WorkEnd(nullptr, mode); };

  FTransferShowTimer.setSingleShot(true);
  connect(&FTransferShowTimer, &QTimer::timeout, this, [this] { ShowTransfer(); });
}

void TForm1::FormCreate() {
  // An FtpHost.ini that cannot be read (a link, a folder, no permission) does not stop the
  // start: the window starts as on a first start and says what is wrong once it is complete.
  std::exception_ptr unreadable;
  try {
    UserIDEdit.setText(QString::fromStdString(FWorkflow->Settings().ReadSetting("HOSTID")));
  } catch (const Exception &) {
    unreadable = std::current_exception();
    UserIDEdit.setText(QStringLiteral("HOSTID"));
  }
  PasswordEdit.clear();
  ProgressBar.setParent(&StatusBar);
  ProgressBar.setGeometry(2, 3, 100, 18);
  ProgressBar.show();
  FWorkflow->Settings().ReadDataFolder();
  // A backup that nobody made for a week is worth a word until the next workflow.
  const std::string notice =
      FWorkflow->SyncState().BackupAgeNotice(UserIDEdit.text().toStdString(), std::time(nullptr));
  if (!notice.empty())
    SetStatus(QString::fromStdString(notice));
  if (unreadable)
    std::rethrow_exception(unreadable);
}

void TForm1::Image1Click() {
  Form2->exec();
}

void TForm1::btnBackupWizardClick() {
  RunWorkflow(&TWorkflow::Upload);
}

void TForm1::btnRestoreWizardClick() {
  RunWorkflow(&TWorkflow::Download);
}

void TForm1::UndoDownloadClick() {
  RunWorkflow(&TWorkflow::UndoDownload);
}

void TForm1::RestoreFromHistoryClick() {
  RunWorkflow(&TWorkflow::DownloadFromHistory);
}

// One workflow at a time, with the ID and password as they stand in the window.
void TForm1::RunWorkflow(bool (TWorkflow::*workflow)()) {
  if (FWorkflowRunning)
    return;
  TWorkflowRun run(*this);
  FWorkflow->SetLogin(UserIDEdit.text().toStdString(), PasswordEdit.text().toStdString());
  ((*FWorkflow).*workflow)();
}

void TForm1::IdFTP1WorkBegin(TIdComponent *, TWorkMode, int32_t AWorkCountMax) {
  FTransferShowTimer.stop();
  FTransfer.Begin(FWorkflow->Config().Now());
  ProgressBar.setRange(0, std::max(AWorkCountMax, 0));
}

void TForm1::IdFTP1Work(TIdComponent *, TWorkMode AWorkMode, int32_t AWorkCount) {
  if (!FTransfer.Update(AWorkMode, AWorkCount, FWorkflow->Config().Now())) {
    // The last count of a burst is shown once the interval is over, even when the next
    // piece is slow to come.
    if (!FTransferShowTimer.isActive())
      FTransferShowTimer.start(TTransferMeter::RepaintInterval);
    return;
  }
  ShowTransfer();
  HostUI().ProcessPaintEvents();
}

void TForm1::ShowTransfer() {
  FTransferShowTimer.stop();
  FTransfer.Shown(FWorkflow->Config().Now());
  SetStatus(QString::fromStdString(FTransfer.StatusText()));
  ProgressBar.setValue(FTransfer.Count());
}

void TForm1::IdFTP1WorkEnd(TIdComponent *, TWorkMode) {
  FTransferShowTimer.stop();
}

void TForm1::SetStatus(const QString &text) {
  StatusBar.SetPanelText(1, text);
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

// Closing in the middle of a workflow asks whether to cancel it; Yes ends the step in
// progress, the workflow puts things back as they were and reports its failure, and then the
// window closes.
void TForm1::closeEvent(QCloseEvent *event) {
  if (!FWorkflowRunning) {
    event->accept();
    return;
  }
  event->ignore();
  if (HostUI().AskYesNo(TextCancelQuestion)) {
    FCloseWhenDone = true;
    IdRequestCancel();
  }
}

} // namespace vantari
