#include "Unit1.h"

#include "Application.h"
#include "FailureTexts.h"
#include "WindowLook.h"
#include "WindowTexts.h"
#include "Workflow.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QTimer>
#include <utility>

// The banner lives in the window library's resources, which a static link would drop.
static void InitWindowResources() {
  Q_INIT_RESOURCE(vantari);
}

namespace vantari {

TForm1::TForm1(TConfig config, QWidget *parent)
    : QWidget(parent), FPresenter(*this, std::move(config)) {
  InitWindowResources();
  BuildControls();
  FTransferShowTimer.setSingleShot(true);
  connect(&FTransferShowTimer, &QTimer::timeout, this,
          [this] { FPresenter.RepaintTimerElapsed(); });
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
  auto *report = new QAction(QString::fromUtf8(TextCopySupportReport), this);
  report->setObjectName(QStringLiteral("SupportReportAction"));
  addAction(report);
  connect(report, &QAction::triggered, this, [this] {
    QGuiApplication::clipboard()->setText(QString::fromStdString(FPresenter.SupportReportText()));
  });

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

void TForm1::FormCreate() {
  ProgressBar.setParent(&StatusBar);
  ProgressBar.setGeometry(2, 3, 100, 18);
  ProgressBar.show();
  FPresenter.FormCreate();
  QTimer::singleShot(0, this,
                     [this] { Application().Guard([this] { FPresenter.ShowStartNotices(); }); });
}

void TForm1::Image1Click() {
  Form2->exec();
}

void TForm1::btnBackupWizardClick() {
  FPresenter.Upload();
}

void TForm1::btnRestoreWizardClick() {
  FPresenter.Download();
}

void TForm1::RestoreFromHistoryClick() {
  FPresenter.RestoreFromHistory();
}

void TForm1::UndoDownloadClick() {
  FPresenter.UndoDownload();
}

void TForm1::ShowStatus(const std::string &text) {
  StatusBar.SetPanelText(1, QString::fromStdString(text));
}

void TForm1::ShowProgress(int32_t maximum) {
  ProgressBar.setRange(0, maximum);
  ProgressBar.show();
}

void TForm1::SetProgressRange(int32_t maximum) {
  ProgressBar.setRange(0, maximum);
}

void TForm1::SetProgressPosition(int32_t position) {
  ProgressBar.setValue(position);
}

void TForm1::HideProgress() {
  ProgressBar.hide();
}

void TForm1::StartRepaintTimer(std::chrono::milliseconds interval) {
  FTransferShowTimer.start(interval);
}

void TForm1::StopRepaintTimer() {
  FTransferShowTimer.stop();
}

void TForm1::SetRunning(bool running) {
  btnBackupWizard.setEnabled(!running);
  btnRestoreWizard.setEnabled(!running);
  UndoDownloadAction.setEnabled(!running);
  RestoreFromHistoryAction.setEnabled(!running);
  UserIDEdit.setReadOnly(running);
  PasswordEdit.setReadOnly(running);
}

std::string TForm1::UserIDText() const {
  return UserIDEdit.text().toStdString();
}

std::string TForm1::PasswordText() const {
  return PasswordEdit.text().toStdString();
}

void TForm1::ShowLogin(const std::string &userID) {
  UserIDEdit.setText(QString::fromStdString(userID));
  PasswordEdit.clear();
}

void TForm1::CloseNow() {
  close();
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

// Closing in the middle of a workflow asks whether to cancel it; the presenter closes the
// window once the cancelled run has put things back.
void TForm1::closeEvent(QCloseEvent *event) {
  if (FPresenter.CloseQuery())
    event->accept();
  else
    event->ignore();
}

} // namespace vantari
