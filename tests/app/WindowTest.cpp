// The main window and the About dialog as the user sees them, on the offscreen platform.
#include "AppTestEnvironment.h"
#include "Application.h"
#include "FailureTexts.h"
#include "MainWindowLayout.h"
#include "ModalBox.h"
#include "QtHostUI.h"
#include "ScopeExit.h"
#include "StatusBar.h"
#include "SyncState.h"
#include "Unit1.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <ctime>

namespace vantari::test {
namespace {

class WindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    Application().SetTitle("Vantari");
    Application().OnException = [this](const std::string &text) { Errors.push_back(text); };
  }
  void TearDown() override { Application().OnException = nullptr; }

  template <class T> T &Child(QWidget &parent, const char *name) {
    T *child = parent.findChild<T *>(QString::fromLatin1(name));
    if (!child)
      throw std::runtime_error(std::string("no control ") + name);
    return *child;
  }

  TUserHome Home;
  std::vector<std::string> Errors;
};

struct TControl {
  const char *Name;
  QRect Geometry;
  const char *Text;
  bool Bold;
  QColor Colour;
};

const QColor Black(Qt::black), Red(Qt::red), Maroon(128, 0, 0);

void ExpectControl(QWidget &window, const TControl &want) {
  SCOPED_TRACE(want.Name);
  QWidget *control = window.findChild<QWidget *>(QString::fromLatin1(want.Name));
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(control->geometry(), want.Geometry);
  EXPECT_EQ(control->font().bold(), want.Bold);
  EXPECT_EQ(control->palette().color(QPalette::WindowText), want.Colour);
  if (auto *label = qobject_cast<QLabel *>(control)) {
    EXPECT_EQ(label->text().toStdString(), want.Text);
  } else if (auto *button = qobject_cast<QToolButton *>(control)) {
    EXPECT_EQ(button->text().toStdString(), want.Text);
  }
}

TEST_F(WindowTest, MainWindowControlsLookAsLaidOut) {
  TForm1 form;
  EXPECT_EQ(form.windowTitle().toStdString(), MainWindowCaption);
  EXPECT_EQ(form.size(), QSize(MainWindowWidth, MainWindowHeight));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_EQ(form.palette().color(QPalette::Window), QColor(Qt::white));
  for (const TLaidOutControl &c : MainWindowControls)
    ExpectControl(
        form, {c.Name, {c.Left, c.Top, c.Width, c.Height}, c.Text, c.Bold, QColor(QRgb(c.Colour))});
  EXPECT_EQ(Child<QWidget>(form, "Panel2").palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(Child<QLabel>(form, "Image1").pixmap().size(), QSize(275, 169));
  EXPECT_EQ(Child<QLabel>(form, "Image1").cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(Child<QWidget>(form, "Shape2").palette().color(QPalette::Window), Black);
  auto &upload = Child<QToolButton>(form, "btnBackupWizard");
  auto &download = Child<QToolButton>(form, "btnRestoreWizard");
  EXPECT_EQ(upload.toolTip().toStdString(), UploadHint);
  EXPECT_EQ(download.toolTip().toStdString(), DownloadHint);
  for (QToolButton *button : {&upload, &download}) {
    EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(button->isEnabled());
  }
  // The undo item is reached by a right click anywhere, so the layout stays as it is.
  auto &undo = Child<QAction>(form, "UndoDownloadAction");
  EXPECT_EQ(form.contextMenuPolicy(), Qt::ActionsContextMenu);
  EXPECT_TRUE(form.actions().contains(&undo));
  EXPECT_EQ(undo.text().toStdString(), "마지막 내려받기 이전 자료로 되돌리기");
}

// Texts that do not fit their label would be cut off on screen.
TEST_F(WindowTest, KoreanFaceHoldsEveryLabelsWholeText) {
  TForm1 form;
  const QFontInfo face(Child<QLabel>(form, "Label4").font());
  const std::string family = face.family().toStdString();
  std::cout << "window face: " << family << "\n";
  EXPECT_TRUE(family == "Gulim" || family == "Baekmuk Gulim" || family == "NanumGothic") << family;
  EXPECT_EQ(face.pixelSize(), 12);
  for (QWidget *window :
       {static_cast<QWidget *>(&form), static_cast<QWidget *>(&form.AboutDialog())})
    for (TLabel *label : window->findChildren<TLabel *>()) {
      SCOPED_TRACE(label->objectName().toStdString());
      const QStringList lines = label->Lines();
      for (const QString &line : lines)
        EXPECT_LE(label->fontMetrics().horizontalAdvance(line.trimmed()), label->width())
            << line.toStdString();
      EXPECT_LE(lines.size() * label->fontMetrics().height(), label->height());
    }
}

TEST_F(WindowTest, FirstStartShowsHostIdAnEmptyPasswordAndTheBarInPanelZero) {
  TForm1 form;
  form.show();
  QApplication::setActiveWindow(&form);
  auto &user = Child<QLineEdit>(form, "UserIDEdit");
  auto &password = Child<QLineEdit>(form, "PasswordEdit");
  EXPECT_EQ(user.text().toStdString(), "HOSTID");
  EXPECT_TRUE(password.text().isEmpty());
  EXPECT_EQ(form.focusWidget(), &user);

  auto &status = Child<TStatusBar>(form, "StatusBar");
  auto &bar = Child<QProgressBar>(form, "ProgressBar");
  EXPECT_EQ(bar.parentWidget(), &status);
  EXPECT_EQ(bar.geometry(), QRect(2, 3, 100, 18));
  EXPECT_TRUE(bar.isVisible());
  EXPECT_EQ(bar.minimum(), 0);
  EXPECT_EQ(bar.maximum(), 100);
  EXPECT_EQ(bar.value(), 0);
  EXPECT_TRUE(status.PanelRect(0).contains(bar.geometry()));
  EXPECT_EQ(status.PanelRect(1).right(), status.width() - 1);
  EXPECT_TRUE(status.PanelText(1).isEmpty());

  QTest::keyClicks(&password, "secret");
  EXPECT_EQ(password.displayText().toStdString(), "******");
  EXPECT_EQ(password.text().toStdString(), "secret");
  EXPECT_TRUE(Errors.empty());
}

// After a nightly upload that failed, the window, once it stands, says why and what to do; the
// right-click item copies a report for the support desk that never holds the password typed.
TEST_F(WindowTest, FailedNightlyRunIsToldAtStartAndTheReportCopiesWithoutThePassword) {
  TQtHostUI host;
  SetHostUI(&host);
  const TScopeExit restore([] { SetHostUI(nullptr); });
  TSyncState().SetLastNightly("HOSTID", std::time(nullptr), false, TFailureCause::fcWrongLogin,
                              CauseWrongLogin);
  std::string notice;
  TForm1 form;
  bool shown = false;
  WhenUp<QMessageBox>([&](QMessageBox &box) {
    notice = box.text().toStdString();
    shown = form.isVisible(); // the box comes once the window stands
    box.accept();
  });
  form.show();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !notice.empty(); }, 3000));
  EXPECT_TRUE(shown);
  EXPECT_EQ(notice, std::string(NoticeNightlyFailed) + CauseWrongLogin + "\n" + StepWrongLogin +
                        "\n" + NoticeUploadNow);

  QTest::keyClicks(&Child<QLineEdit>(form, "PasswordEdit"), "typed-s3cret");
  QGuiApplication::clipboard()->clear();
  Child<QAction>(form, "SupportReportAction").trigger();
  const std::string report = QGuiApplication::clipboard()->text().toStdString();
  EXPECT_EQ(report.rfind(ReportTitle, 0), 0u) << report;
  EXPECT_NE(report.find(std::string(ReportNightly)), std::string::npos);
  EXPECT_EQ(report.find("typed-s3cret"), std::string::npos);
  EXPECT_TRUE(Errors.empty());
}

TEST_F(WindowTest, BannerClickOpensTheAboutDialogModally) {
  TForm1 form;
  form.show();
  bool sawModal = false;
  QTimer::singleShot(0, [&] {
    QWidget *modal = QApplication::activeModalWidget();
    sawModal = modal == &form.AboutDialog() && form.AboutDialog().isVisible();
    form.AboutDialog().close();
  });
  QTest::mouseClick(&Child<QLabel>(form, "Image1"), Qt::LeftButton, {}, QPoint(100, 80));
  EXPECT_TRUE(sawModal);
  EXPECT_FALSE(form.AboutDialog().isVisible());
  EXPECT_TRUE(Errors.empty());
}

TEST_F(WindowTest, AboutDialogTextsKeepTheirBlanksAndLines) {
  TForm1 form;
  TForm2 &about = form.AboutDialog();
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(about.windowTitle().toStdString(), "반타리서비스에 대하여");
  EXPECT_EQ(about.size(), QSize(349, 282));
  EXPECT_EQ(about.palette().color(QPalette::Window), about.palette().color(QPalette::Button));
  EXPECT_EQ(Child<QWidget>(about, "Panel2").geometry(), QRect(0, 0, 349, 6));
  EXPECT_EQ(Child<QWidget>(about, "Panel3").geometry(), QRect(0, 6, 349, 276));
  EXPECT_EQ(Child<QWidget>(about, "Panel3").palette().color(QPalette::Window), QColor(Qt::white));
  const TControl labels[] = {
      {"Label1", {8, 12, 108, 12}, "* 반타리 서비스란 ?", false, Maroon},
      {"Label5",
       {18, 28, 304, 72},
       "사무실에서 루모라재고 세금계산서관리를 사용하여 업무관리를 하고  계시는 고객을 대상으로 "
       "업무마감 후 마감 내용을 집에서도 한번의 마우스 클릭으로 자동으로 볼 수 있도록 지원하며 "
       "불의의 사고로부터 자료를 안전하게 보관할 수 있도록 하는 백업 저장장소로 사용이 가능한 "
       "온라인 서비스를 말합니다.",
       false,
       Black},
      {"Label2", {8, 109, 86, 12}, "* 이용가능 고객", false, Maroon},
      {"Label10",
       {18, 125, 318, 60},
       "1. 장부정리를 집에서 하시는 분\n2. 사무실에서 정리한 자료를 집에서 확인하고자 할 경우\n"
       "3. 이전에 디스켓으로 백업 후 집에서 자료를 확인하신 분들\n"
       "4. 불의의 사고에 대비하여 자료를 안전하게 보관하고자 \n    하시는 분들",
       false,
       Black},
      {"Label3", {8, 196, 58, 12}, "* 주의사항", false, Red},
      {"Label8",
       {18, 213, 302, 48},
       "1. 사무실과 집에서는 반드시 인터넷 사용이 가능하여야 \n    합니다.\n"
       "2. 사무실과  집에 같은 버전의 루모라재고 세금계산서\n"
       "    관리 프로그램이 설치되어 있어야 합니다.",
       false,
       Red},
  };
  for (const TControl &label : labels)
    ExpectControl(about, label);
  EXPECT_TRUE(Child<QLabel>(about, "Label5").wordWrap());
}

} // namespace
} // namespace vantari::test
