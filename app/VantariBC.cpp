// Program entry: the main window and its About dialog, then the message loop.
#include "Application.h"
#include "QtHostUI.h"
#include "Unit1.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv) {
  using namespace vantari;
  // The program takes no arguments: Qt sees only the program's own name.
  int qtArgc = argc > 0 ? 1 : 0;
  QApplication app(qtArgc, argv);
  QApplication::setApplicationName(QStringLiteral("Vantari"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/vantari/vantari.png")));
  Application().SetTitle("Vantari");

  TQtHostUI host;
  SetHostUI(&host);
  int result = 0;
  {
    TForm1 Form1;
    Form1.show();
    result = QApplication::exec();
  }
  SetHostUI(nullptr);
  return result;
}
