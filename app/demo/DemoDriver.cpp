// vantari-demo: the demo of the service without a person at the desktop. It opens the real
// window (TForm1) on the X display it is given (Xvfb), types the user ID and the password,
// presses "자료 올리기", changes the data folder, presses "자료 내려받기" and checks that the
// data folder is again what was uploaded. It prints what the window shows (status texts,
// messages) and the server's view of each session, saves a picture of the window, and exits 0
// only on success. Controls are found by their object names; boxes are answered through the
// host-UI interface, so nothing depends on timing or on where things are drawn.
#include "Application.h"
#include "DemoScenario.h"
#include "QtHostUI.h"
#include "StatusBar.h"
#include "Unit1.h"
#include "Workflow.h"

#include <QApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vantari;
using namespace vantari::demo;

namespace {

// A stuck step ends the demo as failed instead of hanging a script or CI.
constexpr unsigned kDemoLimitSeconds = 600;

using TDemoHostUI = TAnsweringHostUI<TQtHostUI>;

class TDemo : public TDemoScenario {
public:
  TDemo(const TDemoOptions &options, TDemoHostUI &host)
      : TDemoScenario(options, host.Messages, options.ServerHome), FHost(host) {}

  int Run() {
    TForm1 form;
    FForm = &form;
    WatchStatus();
    FHost.BeforeBox = [this] { Server().PrintNew(); };
    form.show();
    if (!QTest::qWaitForWindowExposed(&form, 30000))
      return Fail("the window did not open");
    if (Options().PictureOnly)
      return Picture();
    return Scenario(" on " + qEnvironmentVariable("DISPLAY").toStdString(),
                    form.Workflow().Settings().DataFolder(),
                    form.Workflow().Settings().BackupFolder());
  }

private:
  // Every text the status bar shows, as it shows it.
  void WatchStatus() {
    auto *bar = FForm->findChild<TStatusBar *>(QStringLiteral("StatusBar"));
    QObject::connect(bar, &TStatusBar::PanelTextChanged, [this](int panel, const QString &text) {
      if (panel == 1)
        StatusShown(text.toStdString());
    });
  }

  void Type(TBox box, const std::string &text) override {
    const char *name = box == TBox::UserID ? "UserIDEdit" : "PasswordEdit";
    auto *edit = FForm->findChild<QLineEdit *>(QString::fromLatin1(name));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, QString::fromStdString(text));
  }

  void Click(TButton button) override {
    const char *name = button == TButton::Upload ? "btnBackupWizard" : "btnRestoreWizard";
    FForm->findChild<QToolButton *>(QString::fromLatin1(name))->click();
    QApplication::processEvents();
  }

  void Settle() override { QTest::qWait(300); } // the caret and the fonts settle

  // The window as the X server shows it; Qt's own rendering when the screen cannot be read.
  bool SaveScreenshot(const std::string &path) override {
    QApplication::processEvents();
    QPixmap picture;
    if (QScreen *screen = FForm->screen())
      picture = screen->grabWindow(FForm->winId());
    if (picture.isNull())
      picture = FForm->grab();
    return picture.save(QString::fromStdString(path), "PNG");
  }

  bool HasWindow() const override { return FForm != nullptr; }

  TDemoHostUI &FHost;
  TForm1 *FForm = nullptr;
};

int Usage() {
  std::fprintf(stderr,
               "Usage: vantari-demo [--picture-only] PICTURE USER PASSWORD SERVER_HOME SERVER_LOG\n"
               "The password is read from the environment variable DEMO_PASSWORD when "
               "PASSWORD is '-'.\n");
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  const std::optional<TDemoOptions> options =
      ParseDemoOptions(std::vector<std::string>(argv + 1, argv + argc), false);
  if (!options)
    return Usage();
  alarm(kDemoLimitSeconds);

  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName(QStringLiteral("Vantari"));
  Application().SetTitle("Vantari");
  // An exception no step catches would open the default error box: print it instead.
  std::string uncaught;
  Application().OnException = [&uncaught](const std::string &message) {
    uncaught = message;
    std::printf("  message [Vantari]: %s\n", message.c_str());
    std::fflush(stdout);
  };
  TDemoHostUI host(Application().Title());
  SetHostUI(&host);
  int status = 1;
  QTimer::singleShot(0, [&] {
    status = TDemo(*options, host).Run();
    QApplication::exit(status);
  });
  QApplication::exec();
  SetHostUI(nullptr);
  return status;
}
