#include "Unit1.h"

#include "Application.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "UserRegistry.h"
#include "WindowFont.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

// The banner lives in the window library's resources, which a static link would drop.
static void InitWindowResources() {
  Q_INIT_RESOURCE(vantari);
}

namespace vantari {

namespace {

const char *const SettingsSection = "Server";
const char *const DatabaseKey = "Software\\Corvex\\LumoraBC\\Database";

std::string SettingsFile() {
  return ConfigFolder() + "FtpHost.ini";
}

// The registry value may end in a separator of either platform ("C:\Data\", "/srv/data/").
std::string WithoutTrailingSeparator(std::string folder) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
    folder.pop_back();
  return folder;
}

void PlaceLabel(TLabel &label, const char *name, QRect geometry, const QString &text) {
  label.setObjectName(QString::fromLatin1(name));
  label.setGeometry(geometry);
  label.setTextFormat(Qt::PlainText);
  label.setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label.setText(text);
}

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

TForm1::TForm1(QWidget *parent) : QWidget(parent) {
  InitWindowResources();
  BuildControls();
  Application().Guard([this] { FormCreate(); });
  Form2 = std::make_unique<TForm2>(this);
}

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
  PlaceLabel(Label6, "Label6", {35, 6, 83, 12}, QStringLiteral("사용자 아이디"));
  Label6.setFont(bold);
  PlaceLabel(Label7, "Label7", {35, 31, 52, 12}, QStringLiteral("비밀번호"));
  Label7.setFont(bold);
  PlaceEdit(UserIDEdit, "UserIDEdit", {124, 1, 113, 20});
  PlaceEdit(PasswordEdit, "PasswordEdit", {124, 26, 113, 20});
  PasswordEdit.setEchoMode(QLineEdit::Password);
  PasswordEdit.setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  setTabOrder(&UserIDEdit, &PasswordEdit);
  PlaceRule(Shape2, "Shape2", {8, 53, 261, 1});

  PlaceLabel(Label4, "Label4", {20, 292, 222, 36},
             QStringLiteral("반타리의 이용자아이디와 비밀번호는\n"
                            "인터넷 유지보수회원 아이디/비밀번호와 \n"
                            "동일합니다."));
  SetTextColor(Label4, Qt::red);

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

void TForm1::btnBackupWizardClick() {}

void TForm1::btnRestoreWizardClick() {}

bool TForm1::eventFilter(QObject *watched, QEvent *event) {
  if (watched == &Image1 && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
    Application().Guard([this] { Image1Click(); });
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::showEvent(QShowEvent *event) {
  if (!FCentred && screen()) {
    move(screen()->availableGeometry().center() - rect().center());
    FCentred = true;
  }
  QWidget::showEvent(event);
}

} // namespace vantari
