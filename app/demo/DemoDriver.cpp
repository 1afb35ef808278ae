// vantari-demo: the demo of the service without a person at the desktop. It opens the real
// window (TForm1) on the X display it is given (Xvfb), types the user ID and the password,
// presses "자료 올리기", changes the data folder, presses "자료 내려받기" and checks that the
// data folder is again what was uploaded. It prints what the window shows (status texts,
// messages) and the server's view of each session, saves a picture of the window, and exits 0
// only on success. Controls are found by their object names; boxes are answered through the
// host-UI interface, so nothing depends on timing or on where things are drawn.
#include "Application.h"
#include "DemoHostUI.h"
#include "StatusBar.h"
#include "Unit1.h"
#include "Workflow.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vantari;
namespace fs = std::filesystem;

namespace {

const char *const kAllDone = "모든 작업을 정상적으로 완료하였습니다.";
// A stuck step ends the demo as failed instead of hanging a script or CI.
constexpr unsigned kDemoLimitSeconds = 600;

struct TDemoOptions {
  bool PictureOnly = false;
  std::string Screenshot, User, Password, ServerHome, ServerLog;
};

using TFolder = std::map<std::string, std::string>;

std::string FileBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The plain files directly in the folder, by name: what the accounting program reads.
TFolder Snapshot(const fs::path &folder) {
  TFolder files;
  for (const auto &entry : fs::directory_iterator(folder))
    if (entry.is_regular_file())
      files[entry.path().filename().string()] = FileBytes(entry.path());
  return files;
}

void Say(const std::string &line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// The server's log from where it was last read: logins, transfers, logouts.
class TServerLog {
public:
  explicit TServerLog(std::string path, std::string home)
      : FPath(std::move(path)), FHome(std::move(home) + "/") {}

  void PrintNew() {
    std::ifstream in(FPath);
    in.seekg(FRead);
    std::string line;
    while (std::getline(in, line)) {
      if (in.eof())
        break; // a line still being written: read it whole next time
      FRead = in.tellg();
      const size_t tag = line.find("] ");
      if (tag != std::string::npos && line.find("-[") != std::string::npos)
        line.erase(0, tag + 2);
      for (size_t at = line.find(FHome); at != std::string::npos; at = line.find(FHome))
        line.erase(at, FHome.size());
      if (line.find("logged in") != std::string::npos ||
          line.find("completed=") != std::string::npos ||
          line.find("session closed") != std::string::npos)
        Say("  server: " + line);
    }
  }

private:
  std::string FPath;
  std::string FHome;
  std::streampos FRead = 0;
};

class TDemo {
public:
  TDemo(TDemoOptions options, TDemoHostUI &host)
      : FOptions(std::move(options)), FHost(host),
        FServer(FOptions.ServerLog, FOptions.ServerHome) {}

  int Run() {
    TForm1 form;
    FForm = &form;
    WatchStatus();
    FHost.BeforeBox = [this] { FServer.PrintNew(); };
    form.show();
    if (!QTest::qWaitForWindowExposed(&form, 30000))
      return Fail("the window did not open");
    if (FOptions.PictureOnly)
      return Picture();
    const fs::path data = form.Workflow().Settings().DataFolder();
    Say("Window open on " + qEnvironmentVariable("DISPLAY").toStdString() + "; data folder " +
        data.string() + " (" + std::to_string(Snapshot(data).size()) + " files)");
    const TFolder uploaded = Snapshot(data);

    Say("Typing user ID '" + FOptions.User + "' and its password");
    Type("UserIDEdit", FOptions.User);
    Type("PasswordEdit", FOptions.Password);

    Say("Pressing 자료 올리기 (upload)");
    if (!Press("btnBackupWizard"))
      return Fail("the upload did not succeed");
    const std::string archive = FOptions.User + ".bck";
    const fs::path remote = fs::path(FOptions.ServerHome) / archive;
    const fs::path local = fs::path(form.Workflow().Settings().BackupFolder()) / archive;
    if (!fs::exists(remote))
      return Fail("the server holds no " + archive);
    if (FileBytes(remote) != FileBytes(local))
      return Fail("the server's archive differs from the local one");
    Say("The server holds " + archive + ", " + std::to_string(fs::file_size(remote)) +
        " bytes, equal to the local archive");

    Say("Changing the data folder: one table deleted, one overwritten, one stray file");
    fs::remove(data / "Note.DB");
    std::ofstream(data / "Sale.DB", std::ios::trunc) << "changed after the upload\n";
    std::ofstream(data / "Stray.tmp") << "stray\n";

    Say("Pressing 자료 내려받기 (download)");
    if (!Press("btnRestoreWizard"))
      return Fail("the download did not succeed");
    const TFolder restored = Snapshot(data);
    if (restored != uploaded)
      return Fail("the data folder differs from the uploaded data");
    Say("The data folder equals the uploaded data (" + std::to_string(restored.size()) + " files)");

    if (!SaveScreenshot(FOptions.Screenshot))
      return Fail("no picture of the window could be saved");
    Say("Screenshot: " + FOptions.Screenshot);
    Say("Demo passed.");
    return 0;
  }

private:
  // The window as it opens, with a password typed so that the masked box shows.
  int Picture() {
    Type("PasswordEdit", FOptions.Password);
    QTest::qWait(300); // the caret and the fonts settle
    if (!SaveScreenshot(FOptions.Screenshot))
      return Fail("no picture of the window could be saved");
    Say("Screenshot: " + FOptions.Screenshot);
    return 0;
  }

  // Every text the status bar shows, as it shows it; the speed only when its whole number
  // changes, so that the trace stays readable.
  void WatchStatus() {
    auto *bar = FForm->findChild<TStatusBar *>(QStringLiteral("StatusBar"));
    QObject::connect(bar, &TStatusBar::PanelTextChanged, [this](int panel, const QString &text) {
      if (panel != 1 || text.isEmpty())
        return;
      const std::string line = text.toStdString();
      const std::string shown = line.substr(0, line.find('.'));
      if (line.find(" speed ") != std::string::npos && shown == FLastSpeed)
        return;
      FLastSpeed = line.find(" speed ") != std::string::npos ? shown : std::string();
      FServer.PrintNew();
      Say("  status: " + line);
    });
  }

  void Type(const char *name, const std::string &text) {
    auto *edit = FForm->findChild<QLineEdit *>(QString::fromLatin1(name));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, QString::fromStdString(text));
  }

  // Runs the button's whole workflow; true when it ended with the success message.
  bool Press(const char *name) {
    FHost.Messages.clear();
    FForm->findChild<QToolButton *>(QString::fromLatin1(name))->click();
    QApplication::processEvents();
    FServer.PrintNew();
    return !FHost.Messages.empty() && FHost.Messages.back() == kAllDone;
  }

  // The window as the X server shows it; Qt's own rendering when the screen cannot be read.
  bool SaveScreenshot(const std::string &path) {
    QApplication::processEvents();
    QPixmap picture;
    if (QScreen *screen = FForm->screen())
      picture = screen->grabWindow(FForm->winId());
    if (picture.isNull())
      picture = FForm->grab();
    return picture.save(QString::fromStdString(path), "PNG");
  }

  int Fail(const std::string &why) {
    FServer.PrintNew();
    std::fprintf(stderr, "FAILED: %s\n", why.c_str());
    if (FForm && !FOptions.Screenshot.empty()) {
      const std::string picture = fs::path(FOptions.Screenshot).replace_filename("failure.png");
      if (SaveScreenshot(picture))
        std::fprintf(stderr, "A picture of the window is in %s\n", picture.c_str());
    }
    return 1;
  }

  TDemoOptions FOptions;
  TDemoHostUI &FHost;
  TServerLog FServer;
  TForm1 *FForm = nullptr;
  std::string FLastSpeed;
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
  std::vector<std::string> args(argv + 1, argv + argc);
  TDemoOptions options;
  if (!args.empty() && args[0] == "--picture-only") {
    options.PictureOnly = true;
    args.erase(args.begin());
  }
  if (args.size() != 5)
    return Usage();
  options.Screenshot = args[0];
  options.User = args[1];
  options.Password = args[2];
  options.ServerHome = args[3];
  options.ServerLog = args[4];
  if (options.Password == "-")
    options.Password = qEnvironmentVariable("DEMO_PASSWORD").toStdString();
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
  TDemoHostUI host;
  SetHostUI(&host);
  int status = 1;
  QTimer::singleShot(0, [&] {
    status = TDemo(options, host).Run();
    QApplication::exit(status);
  });
  QApplication::exec();
  SetHostUI(nullptr);
  return status;
}
